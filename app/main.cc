// kav-update: the upgrade tool.

#include <QApplication>

#include <clocale>

#include "app/kav_main.h"
#include "platform/ui/qt/qt_message_boxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("KAV");
  // The update note's date follows the user's regional settings.
  std::setlocale(LC_TIME, "");
  ui::QtMessageBoxes boxes;
  Main();
  return 0;
}
