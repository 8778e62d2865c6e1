// kav-run-update [--trace] PATH: runs RunDatabaseUpdate(PATH) without
// windows.  Message boxes are answered OK (Yes for a Yes/No box) and printed
// as MSGBOX<TAB>style<TAB>title<TAB>text; with --trace every engine call the
// update makes is printed too, one per line, as the test harness formats it.

#include <clocale>
#include <cstdio>
#include <string>

#include "platform/dao/observer.h"
#include "platform/text.h"
#include "platform/ui/scripted_message_boxes.h"
#include "update/update.h"

namespace {

class PrintingObserver : public dao::CallObserver {
 public:
  void OnCall(const dao::Call& call) override { std::printf("%s\n", dao::TraceLine(call).c_str()); }
  void OnError(const dao::Call&, const kav::Error& error) override {
    std::printf("ERR\t%ld\n", error.number());
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  bool trace = false;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--trace") {
      trace = true;
    } else if (path.empty()) {
      path = arg;
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: kav-run-update [--trace] PATH\n");
    return 2;
  }
  ui::ScriptedMessageBoxes boxes;
  boxes.after_show = [](const ui::ShownBox& box) {
    std::printf("MSGBOX\t%d\t%s\t%s\n", box.style, box.title.c_str(),
                kav::EscapeLineBreaks(box.prompt).c_str());
    std::fflush(stdout);
  };
  PrintingObserver observer;
  if (trace) dao::SetCallObserver(&observer);
  RunDatabaseUpdate(path);
  dao::SetCallObserver(nullptr);
  return 0;
}
