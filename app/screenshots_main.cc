// kav-screenshots DIR [FOLDER]: draws the start-up question, the start
// window and the selection window (opened in FOLDER) offscreen and writes
// them to DIR as PNG files, for the README.  Drawn on Qt's offscreen
// platform whatever the environment names, the pictures need no desktop
// session and do not take on the look of the one it runs in.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/frm_import.h"
#include "app/frm_start.h"

namespace {

void Save(QWidget* widget, const QString& file) {
  widget->show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  widget->grab().save(file);
  widget->hide();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: kav-screenshots DIR [FOLDER]\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName("KAV");
  QDir dir(QDir(argv[1]).absolutePath());
  QMessageBox question;
  question.setWindowTitle("KAV");
  question.setTextFormat(Qt::PlainText);
  question.setText(
      "This program will update KAV databases (KAV.MDB) from version 4.0. to 5.0  Make "
      "sure you have backed up any KAV.MDB and KAV.MDW files you are using.\n\nDo you "
      "wish to continue with the update?");
  question.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  Save(&question, dir.filePath("startup-question.png"));
  frmStart start;
  start.Load();
  Save(start.widget(), dir.filePath("start-window.png"));
  // The selection window as it opens in a folder that holds a database.
  if (argc == 3) QDir::setCurrent(argv[2]);
  frmImport import;
  import.Load();
  Save(import.widget(), dir.filePath("selection-window.png"));
  return 0;
}
