// The start window: the prerequisite check and the button "UPDATE" that
// opens the selection window.

#ifndef KAV_APP_FRM_START_H_
#define KAV_APP_FRM_START_H_

#include <memory>

#include "app/frm_import.h"
#include "platform/ui/qt/forms.h"

class frmStart : public ui::Form {
 public:
  frmStart();

  ui::Label Label1;
  ui::CommandButton Command2;

  // The selection window while it exists.
  frmImport* import_window() const { return import_.get(); }

 protected:
  void Form_Load() override;

 private:
  void Command2_Click();
  std::unique_ptr<frmImport> import_;
};

#endif  // KAV_APP_FRM_START_H_
