// kav-run-update [--trace] PATH: runs RunDatabaseUpdate(PATH) without
// windows.  Message boxes are answered OK (Yes for a Yes/No box) and printed
// as MSGBOX<TAB>style<TAB>title<TAB>text; with --trace every engine call the
// update makes is printed too, one per line, as the test harness formats it.
// The exit status tells an update that ended in its failure box from every
// other end, for scripts that run it.

#include <clocale>
#include <cstdio>
#include <string>

#include "platform/dao/observer.h"
#include "platform/text.h"
#include "platform/ui/scripted_message_boxes.h"
#include "update/update.h"

namespace {

// The exit statuses the usage text lists.
enum ExitStatus {
  kEnded = 0,         // the update ended without its failure box
  kFailureBox = 1,    // it ended in its failure box
  kWrongCommand = 2,  // the command line was not understood
};

const char kUsage[] =
    "usage: kav-run-update [--trace] PATH\n"
    "       kav-run-update --help\n"
    "\n"
    "Updates the database file PATH (with its workgroup file beside it) from\n"
    "v4.0 to v5.0 without windows, as the tool does once a file is chosen in\n"
    "its selection window: there is no start-up question and no check of the\n"
    "database program's registration, so no Wine prefix is needed.  Every\n"
    "message box is answered OK (Yes for a Yes/No box) and printed as\n"
    "MSGBOX<TAB>style<TAB>title<TAB>text.\n"
    "\n"
    "  --trace  print every engine call the update makes too, one per line\n"
    "  --help   print this text and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the update ended without its failure box: it completed, the file was\n"
    "     refused as not a v4.0 database, or its workgroup file is missing\n"
    "  1  the update ended in its failure box (\"This update failed. ...\")\n"
    "  2  the command line was not understood\n";

class PrintingObserver : public dao::CallObserver {
 public:
  void OnCall(const dao::Call& call) override { std::printf("%s\n", dao::TraceLine(call).c_str()); }
  void OnError(const dao::Call&, const kav::Error& error) override {
    std::printf("ERR\t%ld\n", error.number());
  }
};

// The update's failure box is its only critical box, titled "KAV Update";
// the error box that follows it is an ordinary one.
bool IsFailureBox(const ui::ShownBox& box) {
  return (box.style & 0xF0) == ui::vbCritical && box.title == "KAV Update";
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  bool trace = false;
  std::string path;
  bool understood = true;
  for (int i = 1; i < argc && understood; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return kEnded;
    }
    if (arg == "--trace") {
      trace = true;
    } else if (arg.starts_with("-") || !path.empty()) {
      understood = false;  // an unknown option, or a second path
    } else {
      path = arg;
    }
  }
  if (!understood || path.empty()) {
    std::fputs(kUsage, stderr);
    return kWrongCommand;
  }
  ui::ScriptedMessageBoxes boxes;
  bool failure_box = false;
  boxes.after_show = [&failure_box](const ui::ShownBox& box) {
    std::printf("MSGBOX\t%d\t%s\t%s\n", box.style, box.title.c_str(),
                kav::EscapeLineBreaks(box.prompt).c_str());
    std::fflush(stdout);
    if (IsFailureBox(box)) failure_box = true;
  };
  PrintingObserver observer;
  if (trace) dao::SetCallObserver(&observer);
  RunDatabaseUpdate(path);
  dao::SetCallObserver(nullptr);
  return failure_box ? kFailureBox : kEnded;
}
