// The windows while an update runs, on the real Qt widgets (offscreen
// platform): the update keeps the one thread, but the selection window goes
// on painting and handling the window system's events, and the clicks, keys
// and close requests that come in meanwhile do nothing.

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/frm_import.h"
#include "app/frm_start.h"
#include "platform/dao/observer.h"
#include "platform/ui/message_box.h"
#include "platform/ui/scripted_message_boxes.h"
#include "tests/support/harness.h"
#include "tests/support/offscreen_app.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// Large enough that the update takes a good part of a second, in which the
// windows get many chances to paint.
constexpr int kPersons = 20000;

// Set while the update runs after the test's actions, up to its last box:
// a click through the window, as QTest makes it, has Qt handle the events
// that wait, so only what the update itself handles afterwards counts.
bool g_watching = false;

// Runs `action` once, at the first engine call of the update.
class AtFirstCall : public dao::CallObserver {
 public:
  explicit AtFirstCall(std::function<void()> action)
      : action_(std::move(action)), previous_(dao::SetCallObserver(this)) {}
  ~AtFirstCall() override { dao::SetCallObserver(previous_); }
  void OnCall(const dao::Call&) override {
    if (!action_) return;
    std::function<void()> action = std::move(action_);
    action_ = nullptr;
    action();
  }

 private:
  std::function<void()> action_;
  dao::CallObserver* previous_;
};

// Counts the paint events of one window's widgets while the update runs,
// after the test's actions.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
  ~PaintCounter() override { qApp->removeEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == window_ && g_watching) {
      ++paints;
    }
    return false;
  }

 private:
  QWidget* window_;
};

// Stands for the window system's requests other than input (a ping of the
// window manager, an expose): notes whether its event came while the update
// still ran.
class Receiver : public QObject {
 public:
  bool received = false;
  bool received_while_running = false;

 protected:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::User) return QObject::event(event);
    received = true;
    received_while_running = g_watching;
    return true;
  }
};

void PostClick(QWidget* widget) {
  const QPointF at = QRectF(widget->rect()).center();
  const QPointF global = widget->mapToGlobal(at);
  QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                      Qt::LeftButton, Qt::LeftButton, {}));
  QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                      Qt::LeftButton, Qt::NoButton, {}));
}

void PostKey(QWidget* widget, Qt::Key key) {
  QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
  QCoreApplication::postEvent(widget, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
}

// A click through the window, as the window system hands it to Qt.
void ClickThroughWindow(QWidget* widget) {
  QWindow* window = widget->window()->windowHandle();
  QTest::mouseClick(window, Qt::LeftButton, {},
                    widget->mapTo(widget->window(), widget->rect().center()));
}

class WindowsPaintingTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::current_path(folder.path()); }
  void TearDown() override { fs::current_path(cwd); }

  // Shows `form` modally, runs `action` once it is up and active, then
  // closes it unless the action did.
  void Show(ui::Form& form, std::function<void()> action) {
    std::function<void()> check;
    check = [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal != form.widget()) {
        QTimer::singleShot(0, &checks, check);
        return;
      }
      EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
      action();
      if (modal->isVisible()) modal->close();
    };
    QTimer::singleShot(0, &checks, check);
    form.ShowModal();
  }

  QApplication& app = App();
  QObject checks;  // owns the pending checks of Show
  fs::path cwd = fs::current_path();
  TempDir folder;
  ui::ScriptedMessageBoxes boxes;
};

TEST_F(WindowsPaintingTest, TheWindowPaintsWhileTheUpdateRunsAndTakesNoInput) {
  const std::string mdb = MakeSample(folder, Persons(kPersons));
  // A second file after KAV.MDB, for a key in the file list to move to.
  std::ofstream(folder.File("ZZZ.mdb")) << "x";
  // The start window under the selection window, as the tool shows them.
  frmStart start;
  start.widget()->show();
  frmImport form;
  ASSERT_EQ(form.filFiles.List(0), "KAV.MDB");
  QWidget* window = form.widget();
  QListWidget* files = static_cast<QListWidget*>(form.filFiles.widget());
  Receiver receiver;
  PaintCounter counter(window);

  Show(form, [&] {
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                      files->visualItemRect(files->item(0)).center());
    ASSERT_EQ(form.filFiles.ListIndex(), 0);
    ASSERT_TRUE(form.cmdSelect.Enabled());
    bool acted = false;
    boxes.on_show = [](const ui::ShownBox&) { g_watching = false; };
    AtFirstCall during([&] {
      acted = ui::MousePointer() == ui::vbHourglass;
      // What the user and the window manager do while the update runs:
      // clicks and keys straight on the controls and through the window,
      // posted input, and a close request.
      QTest::mouseClick(form.cmdCancel.widget(), Qt::LeftButton);
      ClickThroughWindow(form.cmdSelect.widget());
      QTest::keyClick(form.cmdSelect.widget(), Qt::Key_S, Qt::AltModifier);
      QTest::keyClick(form.cmdSelect.widget(), Qt::Key_Return);
      QTest::keyClick(files, Qt::Key_End);
      PostClick(form.cmdCancel.widget());
      PostKey(form.cmdSelect.widget(), Qt::Key_Space);
      PostKey(files, Qt::Key_End);
      QCoreApplication::postEvent(window->windowHandle(), new QCloseEvent);
      QCoreApplication::postEvent(start.widget()->windowHandle(), new QCloseEvent);
      QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
      // Something to paint.
      window->update();
      g_watching = true;
    });
    // Alt+S and Alt+C press Select and Cancel, which Qt shows pressed for
    // 100 ms before it clicks them; a double-click on the file starts the
    // update first, and their clicks come while it runs.
    QTest::keyClick(files, Qt::Key_S, Qt::AltModifier);
    QTest::keyClick(files, Qt::Key_C, Qt::AltModifier);
    const QPoint row = files->visualItemRect(files->item(0)).center();
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, row);
    g_watching = false;
    EXPECT_TRUE(acted);
    // Whatever is still waiting is handled now, after the update.
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    QTest::qWait(150);

    EXPECT_GT(counter.paints, 0) << "the window did not paint while the update ran";
    EXPECT_TRUE(receiver.received_while_running)
        << (receiver.received ? "the event came only after the update" : "the event never came");
    // One update, to its usual end; the window open as the update left it.
    std::string shown;
    for (const ui::ShownBox& box : boxes.boxes()) shown += box.prompt + "\n";
    EXPECT_THAT(boxes.boxes(), ElementsAre(ui::ShownBox{kCompleted, 0, "", ui::vbDefault}))
        << shown;
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(start.widget()->isVisible());
    EXPECT_EQ(form.filFiles.ListIndex(), 0);
    EXPECT_TRUE(form.cmdSelect.Enabled());
    EXPECT_TRUE(fs::equivalent(form.filFiles.ToolTipText(), mdb));
  });
  dao::Database db = OpenForCheck(mdb);
  EXPECT_THAT(Rows(db, "SELECT kav_database_version FROM tbl_kav_version_info"),
              ElementsAre("v5.0"));
}

}  // namespace
}  // namespace kav::testing
