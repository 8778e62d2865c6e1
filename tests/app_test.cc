// The tool's windows, driven offscreen with scripted message boxes.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/access_check.h"
#include "app/frm_import.h"
#include "app/frm_start.h"
#include "app/kav_main.h"
#include "platform/error.h"
#include "platform/registry/registry.h"
#include "platform/ui/qt/qt_message_boxes.h"
#include "platform/ui/scripted_message_boxes.h"
#include "tests/support/child_process.h"
#include "tests/support/harness.h"
#include "tests/support/offscreen_app.h"

namespace kav::testing {
namespace {

using ::testing::ElementsAre;

// Runs `action` once the next modal window is up (the event loop of its
// exec), then closes that window unless the action did.
void WhenModal(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    action(modal);
    if (modal->isVisible()) modal->close();
  });
}

const char* const kCommand11 =
    "Software\\\\Classes\\\\Access.Application.11\\\\shell\\\\open\\\\command";
const char* const kCommand10 =
    "Software\\\\Classes\\\\Access.Application.10\\\\shell\\\\open\\\\command";
const char* const kCommand9 =
    "Software\\\\Classes\\\\Access.Application.9\\\\shell\\\\open\\\\command";

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    setenv("WINEPREFIX", prefix.path().c_str(), 1);
    gsAccessPath.clear();
  }
  void TearDown() override { unsetenv("WINEPREFIX"); }

  // Writes the machine hive with `keys`: each a key path (as the hive writes
  // it) and the line of its default value ("" for a key without one).
  void Hive(const std::vector<std::pair<std::string, std::string>>& keys) {
    std::ofstream out(prefix.File("system.reg"));
    out << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";
    for (const auto& [key, value] : keys) {
      out << "[" << key << "] 1134567890\n";
      if (!value.empty()) out << value << "\n";
      out << "\n";
    }
  }

  QApplication& app = App();  // before any window of a fixture is made
  TempDir prefix;
  ui::ScriptedMessageBoxes boxes;
};

const char* const kStartQuestion =
    "This program will update KAV databases (KAV.MDB) from version 4.0. to 5.0  "
    "Make sure you have backed up any KAV.MDB and KAV.MDW files you are using.\n\n"
    "Do you wish to continue with the update?";
const char* const kAccessMissing =
    "ERROR: The path for MS Access 2000 or greater cannot be found. Exit the update "
    "program and make sure you have MS Access 2000 or greater on your PC.";

TEST_F(WindowsTest, NoEndsWithoutTheStartWindow) {
  boxes.Answer(ui::vbNo);
  bool shown = false;
  WhenModal([&](QWidget*) { shown = true; });
  Main();
  QApplication::processEvents();
  EXPECT_THAT(boxes.boxes(), ElementsAre(ui::ShownBox{kStartQuestion, ui::vbYesNo, "KAV"}));
  EXPECT_FALSE(shown);
}

TEST_F(WindowsTest, YesShowsTheStartWindow) {
  std::string caption;
  WhenModal([&](QWidget* w) { caption = w->windowTitle().toStdString(); });
  Main();
  EXPECT_EQ(caption, "KAV Version 4.0 Database Update ");
  EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(WindowsTest, AnErrorInMainShowsItsDescriptionAloneAndEnds) {
  struct Case {
    const char* name;
    std::function<void()> raise;  // the failure of the start-up question's box
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"an error with number and description",
       [] { throw kav::Error(5, "Cannot show a message box: no window system", "KAV"); },
       "Cannot show a message box: no window system"},
      {"the memory runs out", [] { throw std::bad_alloc(); }, std::bad_alloc().what()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.Clear();
    bool failed = false;
    boxes.on_show = [&](const ui::ShownBox&) {
      if (!failed) {
        failed = true;
        c.raise();
      }
    };
    bool shown = false;
    WhenModal([&](QWidget*) { shown = true; });
    EXPECT_NO_THROW(Main());
    QApplication::processEvents();
    // The handler's box: the description as its whole text, OK only, no
    // icon, no title; then Main ends without the start window.
    EXPECT_THAT(boxes.boxes(), ElementsAre(ui::ShownBox{c.shown, ui::vbOKOnly, ""}));
    EXPECT_FALSE(shown);
  }
  boxes.on_show = nullptr;
}

struct RegistrationCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> keys;
  std::string path;  // gsAccessPath afterwards
  std::vector<std::string> boxes;
};

TEST_F(WindowsTest, FindAccessReadsTheRegistrationsInOrder) {
  const std::string quoted11 = R"(@="\"C:\\Office11\\MSACCESS.EXE\" /NOSTARTUP \"%1\"")";
  const std::string quoted9 = R"(@="\"C:\\Office9\\MSACCESS.EXE\" \"%1\"")";
  const std::vector<RegistrationCase> cases = {
      {"2003 before 2000",
       {{kCommand11, quoted11}, {kCommand9, quoted9}},
       "C:\\Office11\\MSACCESS.EXE",
       {}},
      {"key without default value falls through",
       {{kCommand11, ""}, {kCommand10, R"(@="\"D:\\Off10\\MSACCESS.EXE\"")"}},
       "D:\\Off10\\MSACCESS.EXE",
       {}},
      {"unquoted command loses its first character",
       {{kCommand9, R"(@="C:\\Office9\\MSACCESS.EXE /x")"}},
       ":\\Office9\\MSACCESS.EXE",
       {}},
      {"lower-case name",
       {{kCommand9, R"(@="\"c:\\o\\msaccess.exe\"")"}},
       "c:\\o\\msaccess.exe",
       {}},
      {"another program's command counts", {{kCommand9, R"(@="notepad.exe %1")"}}, "otepad.exe", {}},
      {"empty value counts as not found", {{kCommand9, R"(@="")"}}, "", {}},
      {"value longer than the buffer",
       {{kCommand9, "@=\"" + std::string(1100, 'x') + "\""}},
       "",
       {}},
      {"value filling the buffer without a NUL",
       {{kCommand11,
         [] {
           std::string bytes = "@=hex(1):";
           for (int i = 0; i < 1024; ++i) bytes += i ? ",41" : "41";
           return bytes;
         }()},
        {kCommand9, quoted9}},
       "",
       {"Following error occurred: Invalid procedure call or argument\nIf error "
        "persists call your KAV support person for help. "}},
      {"no registration", {}, "", {}},
  };
  for (const RegistrationCase& c : cases) {
    SCOPED_TRACE(c.name);
    Hive(c.keys);
    boxes.Clear();
    gsAccessPath = "stale";
    FindAccess();
    if (c.boxes.empty()) {
      EXPECT_EQ(gsAccessPath, c.path);
    }
    std::vector<std::string> prompts;
    for (const ui::ShownBox& b : boxes.boxes()) prompts.push_back(b.prompt);
    EXPECT_EQ(prompts, c.boxes);
  }
}

TEST_F(WindowsTest, HiveTheUserMayNotWriteRegistersNothing) {
  Hive({{kCommand11, R"(@="\"C:\\O\\MSACCESS.EXE\"")"}});
  ASSERT_EQ(::chmod(prefix.File("system.reg").c_str(), 0444), 0);
  FindAccess();
  EXPECT_EQ(gsAccessPath, "");
}

TEST_F(WindowsTest, UpdateButtonChecksTheRegistrationAtEveryPress) {
  Hive({{kCommand11, R"(@="\"C:\\O\\MSACCESS.EXE\"")"}});
  frmStart start;
  std::vector<std::string> seen;
  WhenModal([&](QWidget* w) {
    seen.push_back(w->windowTitle().toStdString());
    // Found at load.
    EXPECT_EQ(gsAccessPath, "C:\\O\\MSACCESS.EXE");
    // Removed between load and press: the message, and the window stays.
    Hive({});
    QTest::mouseClick(start.Command2.widget(), Qt::LeftButton);
    EXPECT_TRUE(w->isVisible());
    // Registered again: the selection window opens over it.
    Hive({{kCommand9, R"(@="\"C:\\O9\\MSACCESS.EXE\"")"}});
    WhenModal([&](QWidget* import) { seen.push_back(import->windowTitle().toStdString()); });
    QTest::mouseClick(start.Command2.widget(), Qt::LeftButton);
  });
  start.ShowModal();
  EXPECT_THAT(seen,
              ElementsAre("KAV Version 4.0 Database Update ", "KAV Update - Manual Selection"));
  std::vector<std::string> prompts;
  for (const ui::ShownBox& b : boxes.boxes()) prompts.push_back(b.prompt);
  EXPECT_THAT(prompts, ElementsAre(kAccessMissing));
}

// Machine hives that the tool must read past, each with or without the
// registration of Access 2003 that the start window looks for.
struct HiveCase {
  const char* name;
  std::function<void(const std::string& hive)> make;
  bool registered;
};

const char* const kRegistration = R"(@="\"C:\\O\\MSACCESS.EXE\"")";

// The registration, and a key before it with the value `data` that cannot
// be read.
std::function<void(const std::string&)> MalformedBeforeTheRegistration(const std::string& data) {
  return [data](const std::string& hive) {
    std::ofstream(hive) << "WINE REGISTRY Version 2\n\n"
                        << "[Software\\\\Classes\\\\Other] 1134567890\n"
                        << "\"Bad\"=" << data << "\n\n"
                        << "[" << kCommand11 << "] 1134567890\n"
                        << kRegistration << "\n";
  };
}

std::vector<HiveCase> HiveCases() {
  return {
      {"dword:zz in another key", MalformedBeforeTheRegistration("dword:zz"), true},
      {"a dword of 24 digits in another key",
       MalformedBeforeTheRegistration("dword:" + std::string(24, '1')), true},
      {"hex(zz) in another key", MalformedBeforeTheRegistration("hex(zz):00"), true},
      {"a hex run of 17 digits in another key",
       MalformedBeforeTheRegistration("hex:" + std::string(17, 'a')), true},
      {"a FIFO", [](const std::string& hive) { ASSERT_EQ(::mkfifo(hive.c_str(), 0644), 0); },
       false},
      {"an endless file",
       [](const std::string& hive) { ASSERT_EQ(::symlink("/dev/zero", hive.c_str()), 0); }, false},
      {"a directory", [](const std::string& hive) { ASSERT_EQ(::mkdir(hive.c_str(), 0755), 0); },
       false},
      {"a registration in a file larger than any hive",
       [](const std::string& hive) {
         MalformedBeforeTheRegistration("dword:0000002a")(hive);
         std::filesystem::resize_file(hive, registry::kMaxHiveBytes + 1);
       },
       false},
      {"a hive as Wine writes it",
       [](const std::string& hive) {
         std::ofstream out(hive, std::ios::binary);
         for (const std::string& line : {
                  std::string("WINE REGISTRY Version 2"),
                  std::string(";; All keys relative to \\\\Machine"),
                  std::string("#arch=win32"),
                  std::string(""),
                  std::string("[Software\\\\Classes\\\\Other] 1700000000"),
                  std::string("#time=1da1b2c3d4e5f60"),
                  std::string("\"Multi\"=str(7):\"one\\0two\\0\""),
                  std::string("\"Odd\"=hex(ffff0007):41,42,\\"),
                  std::string("  43"),
                  std::string(""),
                  "[" + std::string(kCommand11) + "] 1700000000",
                  std::string("#time=1da1b2c3d4e5f61"),
                  std::string(kRegistration),
              }) {
           out << line << "\r\n";
         }
       },
       true},
  };
}

// The prompts of the boxes shown, one a line.
std::string PromptLines(const ui::ScriptedMessageBoxes& boxes) {
  std::string lines;
  for (const ui::ShownBox& b : boxes.boxes()) lines += b.prompt + "\n";
  return lines;
}

// The hive of `c` as the machine's registry, in the prefix `wine`.
void InstallHive(const HiveCase& c, const TempDir& wine) {
  setenv("WINEPREFIX", wine.path().c_str(), 1);
  c.make(wine.File("system.reg"));
}

// Each look-up runs in a child process, so that a hive that blocks or never
// ends fails its case instead of stopping the test run.
TEST_F(WindowsTest, FindAccessReadsWhatItCanOfAnyHiveAtOnce) {
  for (const HiveCase& c : HiveCases()) {
    SCOPED_TRACE(c.name);
    const TempDir wine;
    InstallHive(c, wine);
    ChildOutcome outcome = RunInChild(
        [&] {
          boxes.Clear();
          gsAccessPath = "stale";
          FindAccess();
          return gsAccessPath + "\n" + PromptLines(boxes);
        },
        10);
    EXPECT_TRUE(outcome.finished) << outcome.output;
    EXPECT_EQ(outcome.output, c.registered ? "C:\\O\\MSACCESS.EXE\n" : "\n");
  }
}

TEST_F(WindowsTest, TheStartWindowOpensOnAnyHiveAndUpdateFindsWhatItHolds) {
  const std::string start_caption = "KAV Version 4.0 Database Update ";
  const std::string selection_caption = "KAV Update - Manual Selection";
  for (const HiveCase& c : HiveCases()) {
    SCOPED_TRACE(c.name);
    const TempDir wine;
    InstallHive(c, wine);
    ChildOutcome outcome = RunInChild(
        [&] {
          boxes.Clear();
          std::string seen;
          frmStart start;
          WhenModal([&](QWidget* window) {
            seen += window->windowTitle().toStdString() + "\n";
            WhenModal([&](QWidget* above) {
              if (above != window) seen += above->windowTitle().toStdString() + "\n";
            });
            QTest::mouseClick(start.Command2.widget(), Qt::LeftButton);
          });
          start.ShowModal();
          return seen + PromptLines(boxes);
        },
        10);
    EXPECT_TRUE(outcome.finished) << outcome.output;
    EXPECT_EQ(outcome.output, c.registered ? start_caption + "\n" + selection_caption + "\n"
                                           : start_caption + "\n" + kAccessMissing + "\n");
  }
}

class SelectionTest : public WindowsTest {
 protected:
  void SetUp() override {
    WindowsTest::SetUp();
    for (const char* name : {"KAV.MDB", "kav.mdb", "OldKAV.MDB", "other.mdb", "notes.txt"}) {
      std::ofstream(files.File(name)) << "x";
    }
    std::filesystem::create_directory(files.File("sub"));
    form.dirDirectories.SetPath(files.path());
  }

  // Chooses the entry `name` of the file list as a mouse click does.
  void Choose(const std::string& name) {
    QListWidget* list = form.filFiles.list();
    auto items = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << name;
    QRect rect = list->visualItemRect(items.front());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void DoubleClick(const std::string& name) {
    QListWidget* list = form.filFiles.list();
    auto items = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << name;
    QRect rect = list->visualItemRect(items.front());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }

  TempDir files;
  frmImport form;
};

TEST_F(SelectionTest, ListsMdbFilesIgnoringCase) {
  std::vector<std::string> listed;
  for (int i = 0; i < form.filFiles.ListCount(); ++i) listed.push_back(form.filFiles.List(i));
  EXPECT_THAT(listed,
              ::testing::UnorderedElementsAre("KAV.MDB", "kav.mdb", "OldKAV.MDB", "other.mdb"));
  EXPECT_EQ(form.filFiles.ToolTipText(), "No file(s) selected");
  EXPECT_FALSE(form.cmdSelect.Enabled());
}

TEST_F(SelectionTest, SelectWithNothingChosenDoesNothing) {
  form.cmdSelect.SetEnabled(true);
  form.cmdSelect_Click();
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SelectionTest, ChoosingAFileEnablesSelectAndHoldsTheFullPath) {
  Choose("kav.mdb");
  EXPECT_TRUE(form.cmdSelect.Enabled());
  EXPECT_EQ(form.filFiles.ToolTipText(), files.path() + "/kav.mdb");
  // A directory change disables the button and resets the tooltip.
  form.dirDirectories.SetPath(files.File("sub"));
  EXPECT_FALSE(form.cmdSelect.Enabled());
  EXPECT_EQ(form.filFiles.ToolTipText(), "No file(s) selected");
  EXPECT_EQ(form.lblFilePath.Caption(), files.path() + "/sub");
}

TEST_F(SelectionTest, RootDirectoryGetsOneSeparator) {
  // The fixture folder's four .mdb files, until the root opens.
  ASSERT_EQ(form.filFiles.ListCount(), 4);
  form.dirDirectories.SetPath("/");
  ASSERT_EQ(form.filFiles.Path(), "/");
  form.filFiles.SetPattern("*");
  if (form.filFiles.ListCount() == 0) GTEST_SKIP() << "no file in the root directory";
  Choose(form.filFiles.List(0));
  EXPECT_EQ(form.filFiles.ToolTipText(), "/" + form.filFiles.List(0));
}

TEST_F(SelectionTest, WrongNameShowsTheWrongFileBoxOnce) {
  DoubleClick("other.mdb");
  EXPECT_THAT(boxes.boxes(),
              ElementsAre(ui::ShownBox{"This is not the KAV Access database. Either choose "
                                       "the correct database or press the Cancel button.",
                                       ui::vbOKOnly | ui::vbInformation, "KAV"}));
}

TEST_F(SelectionTest, NamesEndingInKavMdbRunTheUpdate) {
  // Without a workgroup file beside them, the update says so: proof that it ran.
  const std::string missing =
      "The MDB you selected is missing it's MDW file. Please copy it to the same "
      "directory then try again.";
  for (const char* name : {"kav.mdb", "OldKAV.MDB"}) {
    boxes.Clear();
    Choose(name);
    form.cmdSelect_Click();
    ASSERT_EQ(boxes.boxes().size(), 1u) << name;
    EXPECT_EQ(boxes.boxes()[0].prompt, missing);
    // The window keeps the same file selected, and a second press runs it again.
    EXPECT_EQ(form.filFiles.FileName(), name);
    EXPECT_TRUE(form.cmdSelect.Enabled());
    form.cmdSelect_Click();
    EXPECT_EQ(boxes.boxes().size(), 2u);
  }
}

TEST_F(SelectionTest, AClickOnTheOpenDirectoryReadsItsFilesAgain) {
  std::ofstream(files.File("NEWKAV.MDB")) << "x";
  ASSERT_EQ(form.filFiles.ListCount(), 4);
  auto* list = static_cast<QListWidget*>(form.dirDirectories.widget());
  ASSERT_EQ(list->selectedItems().size(), 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->selectedItems().front()).center());
  EXPECT_EQ(form.filFiles.ListCount(), 5);
  EXPECT_EQ(form.dirDirectories.Path(), files.path());
}

// The network branch of drvDrives_GotFocus cannot be reached here: the
// directory list normalises a path that starts with "//" (on this platform
// the same directory as with one "/"), so its path never starts with two
// separators.
TEST_F(SelectionTest, DriveFocusKeepsTheDirectoryAndChoosingADriveOpensItsRoot) {
  form.dirDirectories.SetPath("//" + files.path());
  EXPECT_EQ(form.dirDirectories.Path(), files.path());
  form.drvDrives_GotFocus();
  EXPECT_EQ(form.dirDirectories.Path(), files.path());
  form.drvDrives.SetDrive("/");
  EXPECT_EQ(form.dirDirectories.Path(), "/");
  EXPECT_EQ(form.drvDrives.ToolTipText(), "/");
}

TEST_F(WindowsTest, FullRunThroughTheWindowsOnTheSample) {
  TempDir data;
  std::string mdb = MakeSample(data);
  Hive({{kCommand11, R"(@="\"C:\\O\\MSACCESS.EXE\"")"}});
  frmImport form;
  form.dirDirectories.SetPath(data.path());
  QListWidget* list = form.filFiles.list();
  auto items = list->findItems("KAV.MDB", Qt::MatchExactly);
  ASSERT_EQ(items.size(), 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(items.front()).center());
  QTest::mouseClick(form.cmdSelect.widget(), Qt::LeftButton);
  ASSERT_FALSE(boxes.boxes().empty());
  EXPECT_EQ(boxes.boxes().back().prompt, kCompleted);
}

// The set-up scripts/run makes for a first run: the sample that
// kav-make-sample writes, its Wine prefix as WINEPREFIX, its folder as the
// starting directory, and no registration in the home folder.
TEST_F(WindowsTest, AFirstRunOnTheSampleOpensTheSelectionWindowOnIt) {
  TempDir home;
  const std::string sample = prefix.File("sample");
  const std::string make = std::string(KAV_MAKE_SAMPLE) + " '" + sample + "' >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const char* saved_home = std::getenv("HOME");
  const std::string home_before = saved_home != nullptr ? saved_home : "";
  const std::filesystem::path cwd = std::filesystem::current_path();
  setenv("HOME", home.path().c_str(), 1);
  setenv("WINEPREFIX", (sample + "/wine").c_str(), 1);
  std::filesystem::current_path(sample);
  ui::QtMessageBoxes real_boxes;
  std::vector<std::string> listed;
  std::string folder_shown;
  WhenModal([&](QWidget* question) {
    WhenModal([&](QWidget* start) {
      ASSERT_EQ(start->windowTitle().toStdString(), "KAV Version 4.0 Database Update ");
      WhenModal([&](QWidget* selection) {
        ASSERT_EQ(selection->windowTitle().toStdString(), "KAV Update - Manual Selection");
        auto* files_list = selection->findChildren<QListWidget*>().value(1);
        ASSERT_NE(files_list, nullptr);
        for (int i = 0; i < files_list->count(); ++i) {
          listed.push_back(files_list->item(i)->text().toStdString());
        }
        for (QLabel* label : selection->findChildren<QLabel*>()) {
          if (!label->text().isEmpty()) folder_shown = label->text().toStdString();
        }
      });
      QTest::mouseClick(start->findChild<QPushButton*>(), Qt::LeftButton);
    });
    static_cast<QMessageBox*>(question)->button(QMessageBox::Yes)->click();
  });
  Main();
  std::filesystem::current_path(cwd);
  if (saved_home != nullptr) {
    setenv("HOME", home_before.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
  EXPECT_THAT(listed, ElementsAre("KAV.MDB"));
  EXPECT_EQ(folder_shown, sample);
  EXPECT_TRUE(boxes.boxes().empty());
}

// The README's pictures are drawn offscreen, as they are in docs/, with or
// without a desktop session and whatever platform the environment names.
TEST(ScreenshotsTest, ThePicturesAreDrawnWithoutADesktopSession) {
  TempDir out;
  for (const char* environment : {"", "QT_QPA_PLATFORM=xcb", "DISPLAY=:7999 QT_QPA_PLATFORM=xcb"}) {
    SCOPED_TRACE(environment);
    for (const char* name : {"startup-question.png", "start-window.png", "selection-window.png"}) {
      std::filesystem::remove(out.File(name));
    }
    const std::string command =
        std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + environment + " '" +
        KAV_SCREENSHOTS + "' '" + out.path() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    for (const char* name : {"startup-question.png", "start-window.png", "selection-window.png"}) {
      EXPECT_GT(QImage(QString::fromStdString(out.File(name))).width(), 0) << name;
    }
  }
}

}  // namespace
}  // namespace kav::testing
