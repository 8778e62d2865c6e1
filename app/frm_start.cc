#include "app/frm_start.h"

#include "app/access_check.h"
#include "platform/ui/message_box.h"

frmStart::frmStart()
    : Label1(*this, 480, 720, 4455, 855, 1), Command2(*this, 1320, 1920, 2415, 615, 0) {
  SetCaption("KAV Version 4.0 Database Update ");
  SetClientSize(5730, 3975);
  Label1.SetCaption(
      "Press  UPDATE to START MANUAL DATABASE UPDATE.  You will be prompted for "
      "the path to the KAV.mdb file you want to update.  Close the window to exit.");
  Command2.SetCaption("UPDATE");
  Command2.Click = [this] { Command2_Click(); };
}

void frmStart::Form_Load() {
  if (gsAccessPath.empty()) FindAccess();
}

void frmStart::Command2_Click() {
  // The registry is read afresh at every press.
  FindAccess();
  if (gsAccessPath.empty()) {
    ui::MsgBox(
        "ERROR: The path for MS Access 2000 or greater cannot be found. Exit the "
        "update program and make sure you have MS Access 2000 or greater on your PC.");
    return;
  }
  if (!import_) import_ = std::make_unique<frmImport>();
  import_->ShowModal();
  // Unloaded: the next press creates the window afresh.
  import_.reset();
}
