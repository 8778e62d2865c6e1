#include "app/kav_main.h"

#include <exception>

#include "app/frm_start.h"
#include "platform/error.h"
#include "platform/ui/message_box.h"

void Main() {
  try {
    int answer = ui::MsgBox(
        std::string("This program will update KAV databases (KAV.MDB) from version 4.0. to 5.0  ") +
            "Make sure you have backed up any KAV.MDB and KAV.MDW " + "files you are using." +
            "\n\n" + "Do you wish to continue with the update?",
        ui::vbYesNo, "KAV");
    if (answer == ui::vbNo) return;
    frmStart start;
    start.ShowModal();
  } catch (const kav::Error& error) {
    ui::MsgBox(error.description());
  } catch (const std::exception& error) {
    ui::MsgBox(error.what());
  }
}
