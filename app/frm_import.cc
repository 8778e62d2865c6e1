#include "app/frm_import.h"

#include <QString>

#include "platform/dao/progress.h"
#include "platform/text.h"
#include "platform/ui/message_box.h"
#include "platform/ui/qt/busy_windows.h"
#include "update/update.h"

namespace {

// One update run from the window, for as long as it exists, however the
// update ends: the engine's progress hook lets the windows paint and answer
// the window system, the windows take no input and do not close, and no
// other update starts.
class UpdateUnderWay {
 public:
  UpdateUnderWay() {
    dao::SetProgressHook([this] { busy_.KeepAlive(); });
  }
  ~UpdateUnderWay() { dao::SetProgressHook(nullptr); }
  UpdateUnderWay(const UpdateUnderWay&) = delete;
  UpdateUnderWay& operator=(const UpdateUnderWay&) = delete;

  static bool Running() { return running_; }

 private:
  // Set first and cleared last, so that it stands while the windows drop
  // the input that came in meanwhile.
  struct RunningFlag {
    RunningFlag() { running_ = true; }
    ~RunningFlag() { running_ = false; }
  };
  static inline bool running_ = false;
  RunningFlag running_flag_;
  ui::BusyWindows busy_;
};

}  // namespace

// Paths use "/" as their separator here: where a directory gets a separator
// before a file name, it is "/".

frmImport::frmImport()
    : drvDrives(*this, 15, 0, 2820, 315, 2),
      dirDirectories(*this, 0, 495, 2820, 2565, 4),
      filFiles(*this, 3045, 510, 3105, 2625, 3),
      lblFilePath(*this, 3150, 45, 4500, 255, 5),
      cmdSelect(*this, 120, 3480, 2925, 360, 0),
      cmdCancel(*this, 3255, 3480, 2895, 360, 1),
      lblCounter(*this, 1800, 4200, 2655, 375, 6) {
  SetCaption("KAV Update - Manual Selection");
  SetClientSize(6315, 5100);
  lblFilePath.SetFont("MS Sans Serif", 8.25, true);
  cmdSelect.SetCaption("&Select KAV.MDB and Begin Update");
  cmdCancel.SetCaption("&Cancel and Return to Main Menu");

  // The lists start in the process's current directory; the pattern is set
  // as the window is designed, before any handler is listening.
  filFiles.SetPath(dirDirectories.Path());
  filFiles.SetPattern("*.mdb");

  drvDrives.Change = [this] { drvDrives_Change(); };
  drvDrives.GotFocus = [this] { drvDrives_GotFocus(); };
  dirDirectories.Change = [this] { dirDirectories_Change(); };
  dirDirectories.Click = [this] { dirDirectories_Click(); };
  filFiles.Click = [this] { filFiles_Click(); };
  filFiles.DblClick = [this] { filFiles_DblClick(); };
  filFiles.PathChange = [this] { filFiles_PathChange(); };
  filFiles.PatternChange = [this] { filFiles_PatternChange(); };
  cmdSelect.Click = [this] { cmdSelect_Click(); };
  cmdCancel.Click = [this] { cmdCancel_Click(); };
}

void frmImport::Form_Load() {
  lblFilePath.SetCaption(filFiles.Path());
  lblFilePath.SetToolTipText(filFiles.Path());
}

void frmImport::drvDrives_Change() {
  dirDirectories.SetPath(drvDrives.Drive());
  drvDrives.SetToolTipText(drvDrives.Drive());
}

// When the drive list gets the focus while the directory list shows a
// network path ("//server/share"), the directory list goes back to the
// chosen drive.  The branch never runs here: the directory list drops
// repeated separators (on Linux "//server/share" is the folder
// "/server/share"), so its path never starts with "//".  It stays so that
// the procedure reads as the records system has it.
void frmImport::drvDrives_GotFocus() {
  if (dirDirectories.Path().substr(0, 2) == "//") drvDrives_Change();
}

void frmImport::dirDirectories_Change() {
  filFiles.SetPath(dirDirectories.Path());
  dirDirectories.SetToolTipText(dirDirectories.Path());
  filFiles.SetToolTipText("No file(s) selected");
}

void frmImport::dirDirectories_Click() { filFiles.Refresh(); }

void frmImport::filFiles_Click() {
  if (filFiles.ListIndex() < 0) {
    cmdSelect.SetEnabled(false);
    filFiles.SetToolTipText("No file(s) selected");
    return;
  }
  cmdSelect.SetEnabled(true);
  const std::string path = filFiles.Path();
  filFiles.SetToolTipText(path + (!path.empty() && path.back() == '/' ? "" : "/") +
                          filFiles.FileName());
}

void frmImport::filFiles_DblClick() { cmdSelect_Click(); }

void frmImport::filFiles_PathChange() {
  lblFilePath.SetCaption(filFiles.Path());
  lblFilePath.SetToolTipText(filFiles.Path());
  cmdSelect.SetEnabled(false);
}

void frmImport::filFiles_PatternChange() {
  if (filFiles.ListIndex() < 0) {
    cmdSelect.SetEnabled(false);
    filFiles.SetToolTipText("No file(s) selected");
  }
}

void frmImport::cmdSelect_Click() {
  // The windows take no input while an update runs, but a press begun
  // before it may still end in a click: an access key's press shows the
  // button down for a moment before it clicks.  Such a click does nothing.
  if (UpdateUnderWay::Running()) return;
  if (filFiles.ListIndex() < 0) return;
  msFullPath = filFiles.ToolTipText();
  msFileName = filFiles.FileName();
  if (QString::fromStdString(msFileName).trimmed().isEmpty()) return;
  // The name test compares exactly, after folding the letter case of the
  // name (ASCII letters only, as every comparison of the tool).
  if (!kav::FoldCase(msFileName).ends_with("kav.mdb")) {
    ui::MsgBox(
        "This is not the KAV Access database. Either choose the correct database or "
        "press the Cancel button.",
        ui::vbOKOnly | ui::vbInformation, "KAV");
    return;
  }
  // The update keeps the one thread until it ends; meanwhile the windows
  // paint and answer the window system, take no input and do not close.
  UpdateUnderWay update;
  RunDatabaseUpdate(msFullPath);
}

void frmImport::cmdCancel_Click() {
  // As for Select: an access key's press begun before the update may end
  // in a click while it runs, and the window stays until the update ends.
  if (UpdateUnderWay::Running()) return;
  Unload();
}
