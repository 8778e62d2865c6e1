// The windows as a person uses them: the real Qt widgets on the offscreen
// platform, driven with key and mouse events.

#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/frm_import.h"
#include "app/frm_start.h"
#include "app/kav_main.h"
#include "platform/ui/qt/qt_message_boxes.h"
#include "platform/ui/scripted_message_boxes.h"
#include "tests/support/harness.h"
#include "tests/support/offscreen_app.h"
#include "tests/support/runs.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

const char* const kSelectionCaption = "KAV Update - Manual Selection";
const char* const kStartCaption = "KAV Version 4.0 Database Update ";

struct Key {
  Qt::Key key;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

// Sends each key to the widget that has the focus, as a keyboard does.
void Press(const std::vector<Key>& keys) {
  for (const Key& k : keys) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QTest::keyClick(target, k.key, k.modifiers);
  }
}

// Presses Alt+S, the access key of cmdSelect, and waits for the button's
// animated press to end.
void PressAltS(frmImport& form) {
  Press({{Qt::Key_S, Qt::AltModifier}});
  auto* button = static_cast<QAbstractButton*>(form.cmdSelect.widget());
  EXPECT_TRUE(QTest::qWaitFor([button] { return !button->isDown(); }));
}

// Tabs from the control that has the focus until `target` has it.
void TabTo(const ui::Control& target) {
  for (int i = 0; i < 10 && QApplication::focusWidget() != target.widget(); ++i) {
    Press({{Qt::Key_Tab}});
  }
  ASSERT_EQ(QApplication::focusWidget(), target.widget());
}

QListWidget* ListOf(const ui::Control& control) {
  return static_cast<QListWidget*>(control.widget());
}

// The rows the user sees highlighted.
std::vector<int> Highlighted(const ui::Control& control) {
  QListWidget* list = ListOf(control);
  std::vector<int> rows;
  for (QListWidgetItem* item : list->selectedItems()) rows.push_back(list->row(item));
  return rows;
}

void DoubleClickRow(const ui::Control& control, int row) {
  QListWidget* list = ListOf(control);
  ASSERT_GE(row, 0);
  QPoint at = list->visualItemRect(list->item(row)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// The text a tooltip shows: Qt draws a tooltip that looks like markup as
// rich text.
std::string ShownToolTip(const ui::Control& control) {
  QString tip = control.widget()->toolTip();
  if (!Qt::mightBeRichText(tip)) return tip.toStdString();
  QTextDocument document;
  document.setHtml(tip);
  return document.toPlainText().toStdString();
}

// The directory list's entries, each with the folder icon it is drawn with:
// "open" or "closed" for the style's own folder icons, "none" or "other".
std::vector<std::pair<std::string, std::string>> FolderIcons(const ui::DirListBox& dirs) {
  QListWidget* list = ListOf(dirs);
  auto image = [](const QIcon& icon) { return icon.pixmap(QSize(16, 16)).toImage(); };
  const QImage open = image(list->style()->standardIcon(QStyle::SP_DirOpenIcon, nullptr, list));
  const QImage closed = image(list->style()->standardIcon(QStyle::SP_DirClosedIcon, nullptr, list));
  EXPECT_NE(open, closed) << "the style draws both folders alike";
  std::vector<std::pair<std::string, std::string>> icons;
  for (int row = 0; row < list->count(); ++row) {
    const QImage shown = image(list->item(row)->icon());
    icons.emplace_back(dirs.Entries().at(row), shown.isNull()    ? "none"
                                               : shown == open   ? "open"
                                               : shown == closed ? "closed"
                                                                 : "other");
  }
  return icons;
}

// A list as it is drawn now: its entries, without the frame around them.
QImage Drawn(QListWidget* list) {
  QImage image(list->viewport()->size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  list->viewport()->render(&image);
  return image;
}

// The smallest rectangle that holds every pixel in which `a` and `b`
// differ; empty when they are alike.
QRect Differences(const QImage& a, const QImage& b) {
  QRect differ;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) differ |= QRect(x, y, 1, 1);
    }
  }
  return differ;
}

// How many pixels of the line from (x, y) to (x + width - 1, y) in `a`
// differ from `b` as plainly as a dotted frame does: by half the range of a
// colour channel, at least.
int PlainlyDifferent(const QImage& a, const QImage& b, int x, int y, int width) {
  int count = 0;
  for (int i = x; i < x + width; ++i) {
    const QColor p = a.pixelColor(i, y), q = b.pixelColor(i, y);
    if (std::max({std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                  std::abs(p.blue() - q.blue())}) >= 128) {
      ++count;
    }
  }
  return count;
}

// The button of `window` whose caption is `caption`, nullptr if none.
QPushButton* ButtonOf(QWidget* window, const QString& caption) {
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (button->text() == caption) return button;
  }
  return nullptr;
}

// Each test runs in a folder of its own, the current directory, in which
// the selection window opens.
class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::current_path(folder.path()); }
  void TearDown() override { fs::current_path(cwd); }

  // Runs `action` on the modal window titled `title` once it is up and
  // active (inside the event loop of its exec), then closes it unless the
  // action did.  Until that window is up, the check is made again at each
  // turn of the event loop; a check still waiting when the test ends is
  // dropped with it.
  void WhenModal(const std::string& title, std::function<void(QWidget*)> action, int turns = 1000) {
    QTimer::singleShot(0, &checks, [=, this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal->windowTitle().toStdString() != title) {
        if (turns > 0) WhenModal(title, action, turns - 1);
        return;
      }
      EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
      action(modal);
      if (modal->isVisible()) modal->close();
    });
  }

  // Shows `form` modally and runs `action` once it is up.
  void Show(ui::Form& form, std::function<void(QWidget*)> action) {
    WhenModal(form.Caption(), std::move(action));
    form.ShowModal();
  }

  // Registers Access 2003 in a Wine prefix of the test's own.
  void RegisterAccess() {
    setenv("WINEPREFIX", prefix.path().c_str(), 1);
    std::ofstream(prefix.File("system.reg"))
        << "WINE REGISTRY Version 2\n\n"
        << "[Software\\\\Classes\\\\Access.Application.11\\\\shell\\\\open\\\\command] 1\n"
        << "@=\"\\\"C:\\\\O\\\\MSACCESS.EXE\\\"\"\n";
  }

  void Files(std::initializer_list<const char*> names) {
    for (const char* name : names) std::ofstream(folder.File(name)) << "x";
  }

  QApplication& app = App();
  QObject checks;  // owns the pending checks of WhenModal
  fs::path cwd = fs::current_path();
  TempDir folder;
  TempDir prefix;
  ui::ScriptedMessageBoxes boxes;
};

TEST_F(WindowsTest, OnlyTheFileTheUserHighlightsIsUpdated) {
  // Two databases; the one that sorts first must not be touched.
  MakeSample(folder);
  fs::copy_file(folder.File("KAV.MDB"), folder.File("AKAV.MDB"));
  fs::copy_file(folder.File("KAV.mdw"), folder.File("AKAV.mdw"));
  frmImport form;
  ASSERT_THAT(form.filFiles.List(0), "AKAV.MDB");
  Show(form, [&](QWidget*) {
    // The focus in the file list highlights nothing, so Select does nothing.
    TabTo(form.filFiles);
    EXPECT_EQ(form.filFiles.ListIndex(), -1);
    EXPECT_TRUE(Highlighted(form.filFiles).empty());
    PressAltS(form);
    EXPECT_TRUE(boxes.boxes().empty());
    // A double-click on a file updates that file, once.
    DoubleClickRow(form.filFiles, 1);
  });
  EXPECT_THAT(Prompts(boxes.boxes()), ElementsAre(kCompleted));
  EXPECT_EQ(Version(folder.File("KAV.MDB")), "v5.0");
  EXPECT_EQ(Version(folder.File("AKAV.MDB")), "v4.0");
}

TEST_F(WindowsTest, KeysInTheFileListHighlightAnEntryAndRaiseClick) {
  Files({"AKAV.MDB", "KAV.MDB", "notes.mdb", "other.mdb", "readme.txt"});
  struct Case {
    const char* name;
    std::vector<Key> keys;
    std::vector<int> clicks;  // the highlighted row at each Click
  };
  const std::vector<Case> cases = {
      {"Down highlights the first entry", {{Qt::Key_Down}}, {0}},
      {"Up highlights the first entry", {{Qt::Key_Up}}, {0}},
      {"Down twice", {{Qt::Key_Down}, {Qt::Key_Down}}, {0, 1}},
      {"Home", {{Qt::Key_Home}}, {0}},
      {"End", {{Qt::Key_End}}, {3}},
      {"End then Up", {{Qt::Key_End}, {Qt::Key_Up}}, {3, 2}},
      {"typing a name's first letter", {{Qt::Key_O}}, {3}},
      {"typing another", {{Qt::Key_N}}, {2}},
  };
  const std::vector<std::string> names = {"AKAV.MDB", "KAV.MDB", "notes.mdb", "other.mdb"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frmImport form;
    std::vector<int> clicks;
    ui::Event handler = form.filFiles.Click;
    form.filFiles.Click = [&, handler] {
      clicks.push_back(form.filFiles.ListIndex());
      handler();
    };
    Show(form, [&](QWidget*) {
      TabTo(form.filFiles);
      Press(c.keys);
      EXPECT_EQ(clicks, c.clicks);
      const int row = c.clicks.back();
      EXPECT_THAT(Highlighted(form.filFiles), ElementsAre(row));
      EXPECT_EQ(form.filFiles.FileName(), names[row]);
      EXPECT_EQ(form.filFiles.ToolTipText(), folder.File(names[row]));
      EXPECT_TRUE(form.cmdSelect.Enabled());
    });
  }
}

TEST_F(WindowsTest, KeysInTheDirectoryListMoveTheHighlightAndOnlyEnterOpens) {
  fs::create_directory(folder.File("alpha"));
  fs::create_directory(folder.File("beta"));
  const std::string parent = fs::path(folder.path()).parent_path().string();
  const std::string alpha = folder.File("alpha");
  const std::string beta = folder.File("beta");
  struct Case {
    const char* name;
    std::vector<Key> keys;
    int clicks;
    std::string highlighted;  // the entry highlighted afterwards, "" for none
    std::string path;         // the open directory afterwards
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"Down highlights a subdirectory", {{Qt::Key_Down}}, 1, alpha, folder.path()},
      {"Up highlights the parent", {{Qt::Key_Up}}, 1, parent, folder.path()},
      {"End highlights the last subdirectory", {{Qt::Key_End}}, 1, beta, folder.path()},
      {"typing a name highlights its entry", {{Qt::Key_B}}, 1, beta, folder.path()},
      {"Down then Enter opens it", {{Qt::Key_Down}, {Qt::Key_Return}}, 1, alpha, alpha},
      {"Up then Enter opens the parent", {{Qt::Key_Up}, {Qt::Key_Return}}, 1, parent, parent},
      {"Enter opens nothing once the highlight is taken off",
       {{Qt::Key_Down}, {Qt::Key_Space, Qt::ControlModifier}, {Qt::Key_Return}}, 2, "",
       folder.path()},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frmImport form;
    int clicks = 0;
    ui::Event handler = form.dirDirectories.Click;
    form.dirDirectories.Click = [&, handler] {
      ++clicks;
      handler();
    };
    Show(form, [&](QWidget*) {
      TabTo(form.dirDirectories);
      Press(c.keys);
      EXPECT_EQ(clicks, c.clicks);
      std::vector<std::string> highlighted;
      for (int row : Highlighted(form.dirDirectories)) {
        highlighted.push_back(form.dirDirectories.Entries()[row]);
      }
      EXPECT_EQ(highlighted, c.highlighted.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{c.highlighted});
      EXPECT_EQ(form.dirDirectories.Path(), c.path);
      EXPECT_EQ(form.filFiles.Path(), c.path);
    });
  }
}

TEST_F(WindowsTest, FocusOpensOnTheLowestTabIndexAndTabFollowsTheIndexes) {
  Files({"KAV.MDB"});
  struct Case {
    const char* name;
    std::vector<Key> keys;
    const char* control;
  };
  const std::vector<Case> cases = {
      {"at open", {}, "cmdSelect"},
      {"Tab", {{Qt::Key_Tab}}, "cmdCancel"},
      {"Tab twice", {{Qt::Key_Tab}, {Qt::Key_Tab}}, "drvDrives"},
      {"Tab three times", {{Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}}, "filFiles"},
      {"Tab four times",
       {{Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}},
       "dirDirectories"},
      {"Tab five times",
       {{Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}},
       "cmdSelect"},
      {"Shift+Tab", {{Qt::Key_Backtab, Qt::ShiftModifier}}, "dirDirectories"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frmImport form;
    const std::vector<std::pair<std::string, QWidget*>> controls = {
        {"cmdSelect", form.cmdSelect.widget()},
        {"cmdCancel", form.cmdCancel.widget()},
        {"drvDrives", form.drvDrives.widget()},
        {"filFiles", form.filFiles.widget()},
        {"dirDirectories", form.dirDirectories.widget()}};
    Show(form, [&](QWidget*) {
      Press(c.keys);
      std::string focused = "(none)";
      for (const auto& [name, widget] : controls) {
        if (QApplication::focusWidget() == widget) focused = name;
      }
      EXPECT_EQ(focused, c.control);
      // The focus passing through the lists changes nothing.
      EXPECT_EQ(form.dirDirectories.Path(), folder.path());
      EXPECT_EQ(form.filFiles.ListIndex(), -1);
    });
  }
  frmStart start;
  Show(start, [&](QWidget*) {
    EXPECT_EQ(QApplication::focusWidget(), start.Command2.widget());
    Press({{Qt::Key_Tab}});
    EXPECT_EQ(QApplication::focusWidget(), start.Command2.widget());
  });
}

// The list that Tab reaches shows it: its current entry is framed, plainly
// on the highlight as off it, and only while the list has the focus; the
// highlight stays as it is.  A list with no current entry frames the place
// of its first entry, where the arrow keys begin.
TEST_F(WindowsTest, TheFocusedListFramesItsCurrentEntry) {
  Files({"AKAV.MDB", "KAV.MDB", "other.mdb"});
  fs::create_directory(folder.File("alpha"));
  auto dirs = [](frmImport& f) -> const ui::Control& { return f.dirDirectories; };
  auto files = [](frmImport& f) -> const ui::Control& { return f.filFiles; };
  struct Case {
    const char* name;
    std::function<const ui::Control&(frmImport&)> list;
    std::string pattern;    // of the file list
    std::vector<Key> keys;  // pressed once the list has the focus
    int framed;             // the row framed; -1: the open directory's
  };
  const std::vector<Case> cases = {
      {"the directory list on the open directory", dirs, "*.mdb", {}, -1},
      {"the directory list after Down", dirs, "*.mdb", {{Qt::Key_Down}}, -2},
      {"the directory list with the highlight taken off",
       dirs,
       "*.mdb",
       {{Qt::Key_Space, Qt::ControlModifier}},
       -1},
      {"the file list with nothing highlighted", files, "*.mdb", {}, 0},
      {"the file list after End", files, "*.mdb", {{Qt::Key_End}}, 2},
      {"the file list after Down, Down", files, "*.mdb", {{Qt::Key_Down}, {Qt::Key_Down}}, 1},
      {"an empty file list", files, "*.none", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frmImport form;
    form.filFiles.SetPattern(c.pattern);
    QListWidget* list = ListOf(c.list(form));
    const int open_row = list->currentRow();
    const int row_framed = c.framed == -1 ? open_row : c.framed == -2 ? open_row + 1 : c.framed;
    Show(form, [&](QWidget*) {
      const QImage unfocused = Drawn(list);
      TabTo(c.list(form));
      Press(c.keys);
      const std::vector<int> highlighted = Highlighted(c.list(form));
      const QImage focused = Drawn(list);
      // The place of the framed entry: an empty list's first line.
      const QRect row = list->count() > 0
                            ? list->visualItemRect(list->item(row_framed))
                            : QRect(0, 0, list->viewport()->width(), list->fontMetrics().height());
      Press({{Qt::Key_Tab}});
      ASSERT_NE(QApplication::focusWidget(), list);
      const QImage away = Drawn(list);
      EXPECT_EQ(Highlighted(c.list(form)), highlighted);
      const QRect frame = Differences(focused, away);
      EXPECT_TRUE(row.contains(frame)) << "drawn outside the entry";
      // A frame all round the entry: its top and bottom lines (dotted: every
      // other pixel) and the ends of the lines between.
      EXPECT_GE(PlainlyDifferent(focused, away, row.left(), row.top(), row.width()),
                row.width() / 3);
      EXPECT_GE(PlainlyDifferent(focused, away, row.left(), row.bottom(), row.width()),
                row.width() / 3);
      if (c.keys.empty()) {
        EXPECT_EQ(away, unfocused) << "the focus changed more than the frame";
      }
    });
  }
}

TEST_F(WindowsTest, EnterAndSpacePressTheFocusedButtonAndEscapeDoesNothing) {
  Files({"KAV.MDB"});
  struct Case {
    const char* name;
    std::vector<Key> keys;
    bool open;  // the selection window afterwards
  };
  const std::vector<Case> cases = {
      {"Enter on Cancel", {{Qt::Key_Tab}, {Qt::Key_Return}}, false},
      {"keypad Enter on Cancel", {{Qt::Key_Tab}, {Qt::Key_Enter, Qt::KeypadModifier}}, false},
      {"Space on Cancel", {{Qt::Key_Tab}, {Qt::Key_Space}}, false},
      {"Escape", {{Qt::Key_Escape}}, true},
      {"Escape in the file list",
       {{Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Tab}, {Qt::Key_Escape}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    frmImport form;
    bool open = false;
    Show(form, [&](QWidget* window) {
      Press(c.keys);
      open = window->isVisible();
    });
    EXPECT_EQ(open, c.open);
    EXPECT_TRUE(boxes.boxes().empty());
  }
}

TEST_F(WindowsTest, KeysOnTheStartWindow) {
  RegisterAccess();
  struct Case {
    const char* name;
    Key key;
    bool selection;  // the selection window opens
  };
  const std::vector<Case> cases = {
      {"Enter", {Qt::Key_Return}, true},
      {"keypad Enter", {Qt::Key_Enter, Qt::KeypadModifier}, true},
      {"Escape", {Qt::Key_Escape}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.Clear();
    std::vector<std::string> seen;
    bool start_open = false;
    WhenModal(kStartCaption, [&](QWidget* start) {
      if (c.selection) {
        WhenModal(kSelectionCaption, [&](QWidget*) { seen.push_back(kSelectionCaption); });
      }
      Press({c.key});
      start_open = start->isVisible();
    });
    Main();  // answers Yes to the start-up question
    EXPECT_TRUE(start_open);
    EXPECT_EQ(seen.size(), c.selection ? 1u : 0u);
    EXPECT_EQ(boxes.boxes().size(), 1u);
  }
  unsetenv("WINEPREFIX");
}

TEST_F(WindowsTest, TheOpenPathIsDrawnWithOpenFoldersAndTheFoldersBelowItClosed) {
  fs::create_directories(folder.File("alpha/inner"));
  fs::create_directory(folder.File("beta"));
  Files({"KAV.MDB"});
  const std::string alpha = folder.File("alpha");
  using Icons = std::vector<std::pair<std::string, std::string>>;
  Icons open_path;  // the root down to the test's folder, all open
  for (fs::path p = folder.path();; p = p.parent_path()) {
    open_path.insert(open_path.begin(), {p.string(), "open"});
    if (p == p.root_path()) break;
  }
  auto then = [](Icons icons, const Icons& more) {
    icons.insert(icons.end(), more.begin(), more.end());
    return icons;
  };
  frmImport form;
  Show(form, [&](QWidget*) {
    EXPECT_EQ(FolderIcons(form.dirDirectories),
              then(open_path, {{alpha, "closed"}, {folder.File("beta"), "closed"}}));
    // One click highlights alpha without opening it: it stays closed, and
    // the file list still shows the folder above with its KAV.MDB.
    const int row = static_cast<int>(open_path.size());
    QListWidget* list = ListOf(form.dirDirectories);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
    EXPECT_THAT(Highlighted(form.dirDirectories), ElementsAre(row));
    EXPECT_EQ(FolderIcons(form.dirDirectories),
              then(open_path, {{alpha, "closed"}, {folder.File("beta"), "closed"}}));
    EXPECT_EQ(form.filFiles.Path(), folder.path());
    EXPECT_EQ(form.filFiles.List(0), "KAV.MDB");
    // Opened, alpha is drawn open and its own subfolder closed.
    DoubleClickRow(form.dirDirectories, row);
    EXPECT_EQ(form.dirDirectories.Path(), alpha);
    EXPECT_EQ(form.filFiles.Path(), alpha);
    EXPECT_EQ(FolderIcons(form.dirDirectories),
              then(open_path, {{alpha, "open"}, {folder.File("alpha/inner"), "closed"}}));
    // Going back up with the keys draws alpha closed again.
    ASSERT_EQ(QApplication::focusWidget(), list);
    Press({{Qt::Key_Up}, {Qt::Key_Return}});
    EXPECT_EQ(form.dirDirectories.Path(), folder.path());
    EXPECT_EQ(FolderIcons(form.dirDirectories),
              then(open_path, {{alpha, "closed"}, {folder.File("beta"), "closed"}}));
  });
}

TEST_F(WindowsTest, AMinimisedSelectionWindowComesBackAndTheStartWindowAnswersAfterwards) {
  RegisterAccess();
  int selections = 0;
  bool start_open = false;
  WhenModal(kStartCaption, [&](QWidget* start) {
    EXPECT_FALSE(start->windowFlags() & Qt::WindowMinimizeButtonHint);
    WhenModal(kSelectionCaption, [&](QWidget* selection) {
      ++selections;
      const Qt::WindowFlags flags = selection->windowFlags();
      EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
      EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
      EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
      // The window system minimises it anyway: it comes back, still the
      // modal window, and takes clicks.
      selection->setWindowState(Qt::WindowMinimized);
      EXPECT_TRUE(QTest::qWaitFor([selection] { return !selection->isMinimized(); }, 2000));
      EXPECT_TRUE(selection->isVisible());
      EXPECT_EQ(QApplication::activeModalWidget(), selection);
      QPushButton* cancel = ButtonOf(selection, "&Cancel and Return to Main Menu");
      ASSERT_NE(cancel, nullptr);
      QTest::mouseClick(cancel, Qt::LeftButton);
    });
    QPushButton* update = ButtonOf(start, "UPDATE");
    ASSERT_NE(update, nullptr);
    QTest::mouseClick(update, Qt::LeftButton);
    // Back on the start window, which answers its button again.
    EXPECT_EQ(QApplication::activeModalWidget(), start);
    WhenModal(kSelectionCaption, [&](QWidget*) { ++selections; });
    QTest::mouseClick(update, Qt::LeftButton);
    start_open = start->isVisible();
  });
  Main();  // answers Yes to the start-up question
  unsetenv("WINEPREFIX");
  EXPECT_EQ(selections, 2);
  EXPECT_TRUE(start_open);
  EXPECT_EQ(Prompts(boxes.boxes()).size(), 1u);  // the start-up question alone
}

TEST_F(WindowsTest, BoxTextsAreShownAsPlainText) {
  ui::QtMessageBoxes real_boxes;
  for (const std::string text :
       {" 3022  :  <i>bad</i>    here", "The database reads <b>v3.9</b> &amp; not v4.0."}) {
    SCOPED_TRACE(text);
    QLabel* label = nullptr;
    std::string shown;
    Qt::TextFormat format = Qt::AutoText;
    WhenModal("KAV", [&](QWidget* box) {
      label = box->findChild<QLabel*>("qt_msgbox_label");
      ASSERT_NE(label, nullptr);
      shown = label->text().toStdString();
      format = label->textFormat();
    });
    ui::MsgBox(text, ui::vbOKOnly, "KAV");
    EXPECT_EQ(shown, text);
    EXPECT_EQ(format, Qt::PlainText);
  }
}

// Escape and the close button answer a box as on Windows: a Yes/No box
// (the start-up question) with No, a box with OK alone with OK.  A Yes/No
// box opens with the focus on Yes, which Enter presses.
TEST_F(WindowsTest, EscapeAndTheCloseButtonAnswerNoOnAYesNoBoxAndOkOnAnOkBox) {
  ui::QtMessageBoxes real_boxes;
  const std::function<void(QWidget*)> escape = [](QWidget*) { Press({{Qt::Key_Escape}}); };
  const std::function<void(QWidget*)> enter = [](QWidget* box) {
    EXPECT_EQ(QApplication::focusWidget(),
              static_cast<QMessageBox*>(box)->button(QMessageBox::Yes));
    Press({{Qt::Key_Return}});
  };
  const std::function<void(QWidget*)> close = [](QWidget* box) { box->windowHandle()->close(); };
  struct Case {
    const char* name;
    int style;
    std::function<void(QWidget*)> action;
    int answer;
  };
  const std::vector<Case> cases = {
      {"Escape on a Yes/No box", ui::vbYesNo, escape, ui::vbNo},
      {"close button on a Yes/No box", ui::vbYesNo, close, ui::vbNo},
      {"Enter on a Yes/No box", ui::vbYesNo, enter, ui::vbYes},
      {"Escape on an OK box", ui::vbOKOnly, escape, ui::vbOK},
      {"close button on an OK box", ui::vbOKOnly, close, ui::vbOK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool answered = false;
    WhenModal("KAV", [&](QWidget* box) {
      c.action(box);
      answered = QTest::qWaitFor([box] { return !box->isVisible(); });
    });
    EXPECT_EQ(ui::MsgBox("Do you wish to continue with the update?", c.style, "KAV"), c.answer);
    EXPECT_TRUE(answered) << "the box stayed up";
  }
}

TEST_F(WindowsTest, CaptionsAndToolTipsAreShownAsPlainText) {
  const std::string odd = folder.File("<b>kav  two");
  fs::create_directory(odd);
  WriteSampleDatabase(odd, {});
  fs::current_path(odd);
  frmImport form;
  Show(form, [&](QWidget*) {
    auto* label = static_cast<QLabel*>(form.lblFilePath.widget());
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text().toStdString(), odd);
    EXPECT_EQ(ShownToolTip(form.lblFilePath), odd);
    TabTo(form.filFiles);
    Press({{Qt::Key_Down}});
    // The program reads the file list's tooltip back as the path to update.
    EXPECT_EQ(form.filFiles.ToolTipText(), odd + "/KAV.MDB");
    EXPECT_EQ(ShownToolTip(form.filFiles), odd + "/KAV.MDB");
    PressAltS(form);
  });
  EXPECT_THAT(Prompts(boxes.boxes()), ElementsAre(kCompleted));
  EXPECT_EQ(Version(odd + "/KAV.MDB"), "v5.0");
}

TEST_F(WindowsTest, AFolderNameThatIsNotUtf8OpensAndUpdates) {
  const std::string latin1 = folder.File("caf\xe9");
  fs::create_directory(latin1);
  WriteSampleDatabase(latin1, {});
  frmImport form;
  Show(form, [&](QWidget*) {
    const std::vector<std::string> entries = form.dirDirectories.Entries();
    auto entry = std::find(entries.begin(), entries.end(), latin1);
    ASSERT_NE(entry, entries.end());
    DoubleClickRow(form.dirDirectories, static_cast<int>(entry - entries.begin()));
    EXPECT_EQ(form.dirDirectories.Path(), latin1);
    EXPECT_EQ(form.lblFilePath.ToolTipText(), latin1);
    ASSERT_EQ(form.filFiles.ListCount(), 1);
    TabTo(form.filFiles);
    Press({{Qt::Key_Down}});
    EXPECT_EQ(form.filFiles.ToolTipText(), latin1 + "/KAV.MDB");
    PressAltS(form);
  });
  EXPECT_THAT(Prompts(boxes.boxes()), ElementsAre(kCompleted));
  EXPECT_EQ(Version(latin1 + "/KAV.MDB"), "v5.0");
}

}  // namespace
}  // namespace kav::testing
