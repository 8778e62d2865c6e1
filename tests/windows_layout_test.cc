// What the two windows show as they are designed: each window's caption and
// size, and every control's caption, place and tab index, read from the
// real Qt widgets on the offscreen platform.

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/frm_import.h"
#include "app/frm_start.h"
#include "platform/ui/scripted_message_boxes.h"
#include "tests/support/harness.h"
#include "tests/support/offscreen_app.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kNoTabIndex = -1;  // a label whose tab index is not fixed

struct ControlLayout {
  const char* name;
  const ui::Control* control;
  int left, top, width, height;  // twips
  int tab_index;
  // The caption at design time; none for a list.
  std::optional<std::string> caption;
};

struct WindowLayout {
  ui::Form* form;
  std::string caption;
  int width, height;  // the client area, twips
  std::vector<ControlLayout> controls;
};

// A label's or a button's caption as the widget holds it.
std::optional<std::string> CaptionOf(const ui::Control& control) {
  if (auto* label = qobject_cast<QLabel*>(control.widget())) return label->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(control.widget())) {
    return button->text().toStdString();
  }
  return std::nullopt;
}

class WindowsLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::current_path(folder.path()); }
  void TearDown() override { fs::current_path(cwd); }

  QApplication& app = App();
  fs::path cwd = fs::current_path();
  TempDir folder;
  ui::ScriptedMessageBoxes boxes;  // FindAccess at the start window's load
};

TEST_F(WindowsLayoutTest, EachWindowShowsItsCaptionSizeAndControlsAsDesigned) {
  frmStart start;
  frmImport import;
  // clang-format off
  const std::vector<WindowLayout> windows = {
      {&start, "KAV Version 4.0 Database Update ", 5730, 3975, {
          {"Label1", &start.Label1, 480, 720, 4455, 855, kNoTabIndex,
           "Press  UPDATE to START MANUAL DATABASE UPDATE.  You will be prompted for the path "
           "to the KAV.mdb file you want to update.  Close the window to exit."},
          {"Command2", &start.Command2, 1320, 1920, 2415, 615, 0, "UPDATE"}}},
      {&import, "KAV Update - Manual Selection", 6315, 5100, {
          {"drvDrives", &import.drvDrives, 15, 0, 2820, 315, 2, std::nullopt},
          {"dirDirectories", &import.dirDirectories, 0, 495, 2820, 2565, 4, std::nullopt},
          {"filFiles", &import.filFiles, 3045, 510, 3105, 2625, 3, std::nullopt},
          {"lblFilePath", &import.lblFilePath, 3150, 45, 4500, 255, 5, ""},
          {"cmdSelect", &import.cmdSelect, 120, 3480, 2925, 360, 0,
           "&Select KAV.MDB and Begin Update"},
          {"cmdCancel", &import.cmdCancel, 3255, 3480, 2895, 360, 1,
           "&Cancel and Return to Main Menu"},
          {"lblCounter", &import.lblCounter, 1800, 4200, 2655, 375, 6, ""}}},
  };
  // clang-format on
  for (const WindowLayout& window : windows) {
    SCOPED_TRACE(window.caption);
    // The captions as designed, before the load writes any.
    for (const ControlLayout& c : window.controls) {
      EXPECT_EQ(CaptionOf(*c.control), c.caption) << c.name;
    }
    bool checked = false;
    QTimer::singleShot(0, [&] {
      QWidget* shown = QApplication::activeModalWidget();
      ASSERT_EQ(shown, window.form->widget());
      checked = true;
      EXPECT_TRUE(QTest::qWaitForWindowActive(shown));
      EXPECT_EQ(shown->windowTitle().toStdString(), window.caption);
      EXPECT_EQ(shown->width() * ui::kTwipsPerPixel, window.width);
      EXPECT_EQ(shown->height() * ui::kTwipsPerPixel, window.height);
      // The table holds every control of the window.
      EXPECT_EQ(shown->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(),
                static_cast<qsizetype>(window.controls.size()));
      for (const ControlLayout& c : window.controls) {
        SCOPED_TRACE(c.name);
        const QRect at = c.control->widget()->geometry();
        EXPECT_EQ(c.control->widget()->parentWidget(), shown);
        EXPECT_TRUE(c.control->widget()->isVisible());
        EXPECT_EQ(at.x() * ui::kTwipsPerPixel, c.left);
        EXPECT_EQ(at.y() * ui::kTwipsPerPixel, c.top);
        EXPECT_EQ(at.width() * ui::kTwipsPerPixel, c.width);
        EXPECT_EQ(at.height() * ui::kTwipsPerPixel, c.height);
        if (c.tab_index != kNoTabIndex) {
          EXPECT_EQ(c.control->TabIndex(), c.tab_index);
        }
        // The window opens with the focus on its control of tab index 0.
        EXPECT_EQ(QApplication::focusWidget() == c.control->widget(), c.tab_index == 0);
      }
      shown->close();
    });
    window.form->ShowModal();
    EXPECT_TRUE(checked);
  }
  // The selection window's other design-time properties.
  EXPECT_EQ(import.filFiles.Pattern(), "*.mdb");
  const QFont font = import.lblFilePath.widget()->font();
  EXPECT_EQ(font.family().toStdString(), "MS Sans Serif");
  EXPECT_DOUBLE_EQ(font.pointSizeF(), 8.25);
  EXPECT_TRUE(font.bold());
}

}  // namespace
}  // namespace kav::testing
