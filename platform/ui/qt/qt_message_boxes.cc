#include "platform/ui/qt/qt_message_boxes.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {

QtMessageBoxes::QtMessageBoxes() : previous_(SetMessageBoxes(this)) {}

QtMessageBoxes::~QtMessageBoxes() {
  SetMousePointer(vbDefault);
  SetMessageBoxes(previous_);
}

int QtMessageBoxes::Show(const std::string& prompt, int style, const std::string& title) {
  QMessageBox box;
  // A box without a title of its own shows the application's name.
  box.setWindowTitle(title.empty() ? QApplication::applicationName()
                                   : QString::fromStdString(title));
  // The text is shown as it is, even where it looks like markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(prompt));
  switch (style & 0xF0) {
    case vbCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case vbInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  const bool yes_no = (style & 7) == vbYesNo;
  if (yes_no) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  int pressed = box.exec();
  if (!yes_no) return vbOK;
  return pressed == QMessageBox::Yes ? vbYes : vbNo;
}

void QtMessageBoxes::SetMousePointer(int pointer) {
  if (pointer == vbHourglass && !waiting_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waiting_ = true;
  } else if (pointer != vbHourglass && waiting_) {
    QApplication::restoreOverrideCursor();
    waiting_ = false;
  }
}

}  // namespace ui
