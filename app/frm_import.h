// The selection window: drive, directory and file lists, and the button
// that runs the update on the chosen KAV.MDB.

#ifndef KAV_APP_FRM_IMPORT_H_
#define KAV_APP_FRM_IMPORT_H_

#include <string>

#include "platform/ui/qt/forms.h"

class frmImport : public ui::Form {
 public:
  frmImport();

  ui::DriveListBox drvDrives;
  ui::DirListBox dirDirectories;
  ui::FileListBox filFiles;
  ui::Label lblFilePath;
  ui::CommandButton cmdSelect;
  ui::CommandButton cmdCancel;
  ui::Label lblCounter;

  void drvDrives_Change();
  void drvDrives_GotFocus();
  void dirDirectories_Change();
  void dirDirectories_Click();
  void filFiles_Click();
  void filFiles_DblClick();
  void filFiles_PathChange();
  void filFiles_PatternChange();
  void cmdSelect_Click();
  void cmdCancel_Click();

 protected:
  void Form_Load() override;

 private:
  std::string msFullPath;
  std::string msFileName;
};

#endif  // KAV_APP_FRM_IMPORT_H_
