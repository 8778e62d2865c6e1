// The database is KAV.MDB alone, also in the windowed tool: while the box
// that reports the update as completed is up, and after OK while the
// selection window stays open, a copy of KAV.MDB with its KAV.mdw (and no
// file that lies beside them) is the whole updated database.

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/frm_import.h"
#include "platform/ui/qt/qt_message_boxes.h"
#include "tests/support/dump.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/offscreen_app.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;

const char* const kSelectionCaption = "KAV Update - Manual Selection";

// The dump of a fresh sample that the headless runner has updated in a
// process of its own, which has ended.
std::vector<std::string> HeadlessCleanRun() {
  TempDir dir;
  const std::string mdb = MakeSample(dir);
  const std::string run = std::string("'") + KAV_RUN_UPDATE + "' '" + mdb + "' >/dev/null";
  if (std::system(run.c_str()) != 0) ADD_FAILURE() << "the headless run failed";
  return DumpDatabase(mdb);
}

// Copies KAV.MDB and KAV.mdw of `folder`, and nothing beside them, into a
// new folder, and checks that the copy is the updated database `expected`.
void CheckCopyAlone(const TempDir& folder, const std::vector<std::string>& expected) {
  TempDir copy;
  const std::string alone = CopyFileAlone(folder.File("KAV.MDB"), copy);
  EXPECT_EQ(Version(alone), "v5.0");
  EXPECT_EQ(DumpDifference(expected, DumpDatabase(alone)), "");
}

// Watches, at each turn of the event loop, for a message box that is up and
// active; runs `on_box` with its text, then presses its first button with
// the mouse, as a user reads and closes it.
class BoxWatcher {
 public:
  explicit BoxWatcher(std::function<void(const std::string&)> on_box) : on_box_(std::move(on_box)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box == handled_) return;
    handled_ = box;
    EXPECT_TRUE(QTest::qWaitForWindowActive(box));
    on_box_(box->text().toStdString());
    QAbstractButton* button = box->button(QMessageBox::Ok);
    if (button == nullptr) button = box->buttons().value(0);
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
  }

  std::function<void(const std::string&)> on_box_;
  QTimer timer_;
  QMessageBox* handled_ = nullptr;
};

TEST(WindowsDurabilityTest, ACopyOfTheFileAloneIsTheUpdatedDatabaseWhileTheToolSitsIdle) {
  App();
  const std::vector<std::string> expected = HeadlessCleanRun();
  ASSERT_FALSE(expected.empty());

  TempDir folder;
  const std::string mdb = MakeSample(folder);
  const fs::path cwd = fs::current_path();
  fs::current_path(folder.path());  // the selection window opens there
  ui::QtMessageBoxes real_boxes;
  frmImport form;

  std::vector<std::string> shown;
  bool selection_open_after_ok = false;
  bool checked = false;
  QObject checks;
  std::function<void()> when_selection_up = [&] {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr || window->windowTitle().toStdString() != kSelectionCaption) {
      QTimer::singleShot(10, &checks, when_selection_up);
      return;
    }
    checked = true;
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QListWidget* files = form.filFiles.list();
    auto items = files->findItems("KAV.MDB", Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                      files->visualItemRect(items.front()).center());
    ASSERT_TRUE(form.cmdSelect.Enabled());
    {
      BoxWatcher watcher([&](const std::string& text) {
        shown.push_back(text);
        if (text != kCompleted) return;
        SCOPED_TRACE("copied while the completed box is up");
        CheckCopyAlone(folder, expected);
      });
      // The update runs inside the press, and the box's loop inside it.
      QTest::mouseClick(form.cmdSelect.widget(), Qt::LeftButton);
    }
    selection_open_after_ok = window->isVisible();
    {
      SCOPED_TRACE("copied after OK, the selection window still open");
      CheckCopyAlone(folder, expected);
    }
    QTest::mouseClick(form.cmdCancel.widget(), Qt::LeftButton);
  };
  QTimer::singleShot(0, &checks, when_selection_up);
  form.ShowModal();
  fs::current_path(cwd);

  EXPECT_TRUE(checked);
  EXPECT_EQ(shown, std::vector<std::string>{kCompleted});
  EXPECT_TRUE(selection_open_after_ok);
  EXPECT_EQ(DumpDifference(expected, DumpDatabase(mdb)), "");
}

}  // namespace
}  // namespace kav::testing
