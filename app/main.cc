// kav-update: the upgrade tool.

#include <QApplication>

#include <clocale>

#include "app/kav_main.h"
#include "platform/ui/qt/ending_signals.h"
#include "platform/ui/qt/qt_message_boxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("KAV");
  // The update note's date follows the user's regional settings.
  std::setlocale(LC_TIME, "");
  ui::QtMessageBoxes boxes;
  // Every window's event loop returns, and every window opened after
  // returns at once: Main ends as when the user closes its windows.
  ui::EndingSignals ending([] { QCoreApplication::exit(0); });
  Main();
  return 0;
}
