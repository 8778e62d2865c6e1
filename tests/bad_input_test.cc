// Files the update must refuse, and a path it must take as it is: each
// shows the boxes of the driver's rules, never crashes, never reports a
// completed update it did not make, and leaves a refused file untouched.

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dao/workgroup.h"
#include "platform/ui/scripted_message_boxes.h"
#include "tests/dao_fixture.h"
#include "tests/support/dump.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "update/update.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::SizeIs;
using ::testing::StartsWith;

// The persons of this suite's samples: few, so that its many runs are quick.
const int kPersons = 2;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A plain SQLite database of some other program.
void WriteForeignSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "CREATE TABLE notes (id INTEGER PRIMARY KEY, text TEXT);"
               "INSERT INTO notes (text) VALUES ('groceries'), ('tbl_kav_version_info');",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void Change(const std::string& mdb, const std::function<void(dao::Database&)>& change) {
  dao::Database db = OpenForCheck(mdb);
  change(db);
  db.Close();
}

struct Expected {
  // The boxes' prompts: the first exactly; the second, when there is one,
  // begins with `second` (the number and separator; the engine words the
  // description).
  std::string first;
  std::string second;
};

struct Case {
  const char* name;
  // Prepares `dir` and returns the path to update.
  std::function<std::string(const TempDir& dir)> prepare;
  Expected boxes;
  bool completes = false;
};

TEST(BadInputTest, RefusedWithTheDriversBoxesAndLeftUntouched) {
  const Case cases[] = {
      {"not a database",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         WriteFile(mdb, "Minutes of the crew meeting, 3 March 2006.\n");
         return mdb;
       },
       {kUpdateFailedText, " 3343  :  "}},
      {"empty file",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         WriteFile(mdb, "");
         return mdb;
       },
       {kUpdateFailedText, " 3343  :  "}},
      {"SQLite file of another program",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         fs::remove(mdb);
         WriteForeignSqlite(mdb);
         return mdb;
       },
       {kUpdateFailedText, " 3343  :  "}},
      {"workgroup file of another workgroup",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         TempDir other;
         MakeSample(other, Persons(kPersons));
         fs::copy_file(other.File("KAV.mdw"), dir.File("KAV.mdw"),
                       fs::copy_options::overwrite_existing);
         return mdb;
       },
       {kUpdateFailedText, " 3033  :  "}},
      {"workgroup file without KAVOwner",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         fs::remove(dir.File("KAV.mdw"));
         dao::CreateWorkgroupFile(dir.File("KAV.mdw"), {{"Admin", "TelvoRm"}},
                                  dao::PasswordCost::kMinimum);
         return mdb;
       },
       {kUpdateFailedText, " 3029  :  "}},
      {"workgroup file cut short by its last byte",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         fs::resize_file(dir.File("KAV.mdw"), fs::file_size(dir.File("KAV.mdw")) - 1);
         return mdb;
       },
       {kUpdateFailedText, " 3028  :  The workgroup information file '"}},
      {"workgroup file in WAL mode with another program's log of changes beside it",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         sqlite3* db = nullptr;
         sqlite3_open(dir.File("KAV.mdw").c_str(), &db);
         sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
         sqlite3_exec(db,
                      "PRAGMA journal_mode=WAL; INSERT INTO daosys_accounts VALUES ('Late', 'x');",
                      nullptr, nullptr, nullptr);
         sqlite3_close(db);
         return mdb;
       },
       {kUpdateFailedText, " 3028  :  The workgroup information file '"}},
      {"no tbl_kav_courses",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         Change(mdb, [](dao::Database& db) { db.TableDefs().Delete("tbl_kav_courses"); });
         return mdb;
       },
       {kUpdateFailedText, " 3265  :  "}},
      {"no tbl_kav_version_info",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         Change(mdb, [](dao::Database& db) { db.TableDefs().Delete("tbl_kav_version_info"); });
         return mdb;
       },
       {kUpdateFailedText, " 3078  :  "}},
      {"empty version table",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         Change(mdb, [](dao::Database& db) {
           db.Execute(
               "DELETE FROM tbl_kav_version_info WHERE "
               "tbl_kav_version_info.kav_database_version = 'v4.0';");
         });
         return mdb;
       },
       {kUpdateFailedText, " 3021  :  "}},
      {"currency table rebuilt with a conflict clause, without its unique index",
       [](const TempDir& dir) {
         const std::string mdb = MakeSample(dir, Persons(kPersons));
         dao_test::Sqlite(
             mdb,
             "CREATE TABLE rebuilt (jc_risk_type TEXT, jc_job_code TEXT, "
             "jc_c_risk_type TEXT, jc_c_job_code TEXT, jc_standard TEXT, "
             "UNIQUE (jc_risk_type, jc_job_code, jc_c_risk_type, jc_c_job_code) "
             "ON CONFLICT REPLACE);"
             "INSERT INTO rebuilt SELECT * FROM tbl_kav_jobs_currency;"
             "DROP TABLE tbl_kav_jobs_currency;"
             "ALTER TABLE rebuilt RENAME TO tbl_kav_jobs_currency;"
             "INSERT INTO tbl_kav_jobs_currency VALUES ('WF', 'ABRO', 'WF', 'RADO', 'LOCAL');");
         return mdb;
       },
       {kUpdateFailedText, " 3343  :  "}},
      {"blanks, quotes and non-ASCII letters in the path",
       [](const TempDir& dir) {
         const std::string sub = dir.File("Équipe d'été \"Nord\" – Zürich 2006");
         fs::create_directory(sub);
         WriteSampleDatabase(sub, Persons(kPersons));
         return sub + "/KAV.MDB";
       },
       {kCompleted, ""},
       true},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string mdb;
    ASSERT_NO_THROW(mdb = c.prepare(dir));
    const std::map<std::string, std::string> files_before = Files(dir.path());
    std::vector<std::string> content_before;
    try {
      content_before = DumpDatabase(mdb);
    } catch (const kav::Error&) {
      // Not a database this tool can open: its bytes are compared below.
    }

    std::vector<ui::ShownBox> shown;
    {
      ui::ScriptedMessageBoxes boxes;
      RunDatabaseUpdate(mdb);
      shown = boxes.boxes();
    }
    // The failure path leaves the database open, as the running tool does;
    // close it so that the files on disk are all there is to compare.
    CloseDriverDatabase();

    ASSERT_THAT(shown, SizeIs(c.boxes.second.empty() ? 1u : 2u));
    EXPECT_EQ(shown[0].prompt, c.boxes.first);
    if (!c.boxes.second.empty()) {
      EXPECT_EQ(shown[0],
                (ui::ShownBox{kUpdateFailedText, ui::vbCritical, "KAV Update", ui::vbDefault}));
      EXPECT_THAT(shown[1].prompt, StartsWith(c.boxes.second));
      EXPECT_GT(shown[1].prompt.size(), c.boxes.second.size()) << "no description";
    }
    EXPECT_EQ(ui::MousePointer(), ui::vbDefault);

    if (c.completes) {
      dao::Database db = OpenForCheck(mdb);
      EXPECT_THAT(Rows(db,
                       "Select tbl_kav_version_info.kav_database_version from "
                       "tbl_kav_version_info;"),
                  ElementsAre("v5.0"));
      db.Close();
      continue;
    }
    EXPECT_TRUE(Files(dir.path()) == files_before) << "the files changed";
    if (!content_before.empty()) {
      EXPECT_EQ(DumpDifference(content_before, DumpDatabase(mdb)), "");
    }
  }
}

// Makes the folders under `parent` whose path, with "/" and `file`, is
// `length` bytes long; returns the folder's path.
std::string FolderForPathOfLength(const std::string& parent, size_t length,
                                  const std::string& file) {
  std::string folder = parent;
  while (folder.size() + 1 + file.size() < length) {
    const size_t left = length - folder.size() - 1 - file.size();
    // Each name at most 200 bytes, and none but the last shorter than 2.
    const size_t name = left <= 201 ? left - 1 : std::min<size_t>(200, left - 3);
    folder += "/" + std::string(name, 'd');
  }
  fs::create_directories(folder);
  return folder;
}

// A database whose path, or whose workgroup file's path, is too long for
// the engine to open (the full path and "-journal" past SQLite's longest
// file name) is refused with a box that says so, and nothing is written;
// one byte shorter, the update completes.
TEST(BadInputTest, PathTooLongForTheEngineIsRefusedWithNothingWritten) {
  struct PathCase {
    const char* name;
    size_t length;         // of the database's path, in bytes
    bool workgroup_above;  // the database under a folder "x.mdb", the workgroup file "x.mdw"
    const char* box;       // the second box begins with it and the file's path
  };
  const PathCase cases[] = {
      {"database and workgroup file at 505 bytes", 505, false,
       " 3028  :  The workgroup information file '"},
      {"database and workgroup file at 600 bytes", 600, false,
       " 3028  :  The workgroup information file '"},
      {"database at 505 bytes, its workgroup file above", 505, true, " 3051  :  The file '"},
      {"database and workgroup file at 504 bytes", 504, false, nullptr},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    TempDir made;
    MakeSample(made, Persons(kPersons));
    const std::string base = c.workgroup_above ? root.File("x.mdb") : root.path();
    const std::string folder = FolderForPathOfLength(base, c.length, "KAV.MDB");
    fs::copy_file(made.File("KAV.MDB"), folder + "/KAV.MDB");
    const std::string mdw = c.workgroup_above ? root.File("x.mdw") : folder + "/KAV.mdw";
    fs::copy_file(made.File("KAV.mdw"), mdw);
    const std::string mdb = folder + "/KAV.MDB";
    ASSERT_EQ(mdb.size(), c.length);
    const std::map<std::string, std::string> files_before = Files(root.path());

    std::vector<ui::ShownBox> shown;
    {
      ui::ScriptedMessageBoxes boxes;
      RunDatabaseUpdate(mdb);
      shown = boxes.boxes();
    }
    CloseDriverDatabase();

    if (c.box == nullptr) {
      ASSERT_THAT(shown, SizeIs(1u));
      EXPECT_EQ(shown[0].prompt, kCompleted);
      EXPECT_THAT(Files(root.path()), SizeIs(2u));
      continue;
    }
    ASSERT_THAT(shown, SizeIs(2u));
    EXPECT_EQ(shown[0].prompt, kUpdateFailedText);
    const std::string named = std::string(c.box).find("workgroup") != std::string::npos ? mdw : mdb;
    EXPECT_THAT(shown[1].prompt,
                StartsWith(c.box + named + "' cannot be opened: its path is too long ("));
    EXPECT_TRUE(Files(root.path()) == files_before) << "the files changed";
  }
}

// A rule of the user's own on the currency table refuses a row of the
// stage: the stage shows the refusal in its box and the update fails, and
// nothing of the refused row stays in the file.
TEST(BadInputTest, UserTriggerThatRefusesAStageRowFailsTheStage) {
  struct TriggerCase {
    const char* name;
    const char* trigger;
    const char* refused_row;
    const char* box;
  };
  const TriggerCase cases[] = {
      {"FAIL after the insert",
       "CREATE TRIGGER rule AFTER INSERT ON tbl_kav_jobs_currency "
       "WHEN NEW.jc_job_code = 'ACDR' BEGIN SELECT RAISE(FAIL, 'ACDR is closed'); END;",
       "WF|ACDR|WF|ICT1|NATIONAL", " 3000  :  Database engine error: ACDR is closed"},
      {"ABORT with the engine's tag inside its message",
       "CREATE TRIGGER rule BEFORE INSERT ON tbl_kav_jobs_currency "
       "WHEN NEW.jc_job_code = 'ABRO' BEGIN "
       "SELECT RAISE(ABORT, 'audit rule daosys:3022:x'); END;",
       "WF|ABRO|WF|RADO|NATIONAL", " 3000  :  Database engine error: audit rule daosys:3022:x"},
  };
  for (const TriggerCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(kPersons));
    dao_test::Sqlite(mdb, c.trigger);
    std::vector<std::string> prompts;
    {
      ui::ScriptedMessageBoxes boxes;
      RunDatabaseUpdate(mdb);
      for (const ui::ShownBox& box : boxes.boxes()) prompts.push_back(box.prompt);
      ASSERT_FALSE(boxes.boxes().empty());
      EXPECT_EQ(boxes.boxes()[0].title, "UpdateMDB_Jobs_Currency");
    }
    CloseDriverDatabase();
    EXPECT_THAT(prompts, ElementsAre(c.box, kUpdateFailedText, " 0  :  "));
    dao::Database db = OpenForCheck(mdb);
    const std::string job = std::string(c.refused_row).substr(3, 4);
    EXPECT_THAT(Rows(db,
                     "SELECT tbl_kav_jobs_currency.jc_risk_type, "
                     "tbl_kav_jobs_currency.jc_job_code, tbl_kav_jobs_currency.jc_c_risk_type, "
                     "tbl_kav_jobs_currency.jc_c_job_code, tbl_kav_jobs_currency.jc_standard "
                     "FROM tbl_kav_jobs_currency WHERE tbl_kav_jobs_currency.jc_job_code = '" +
                         job + "';"),
                ::testing::Not(::testing::Contains(c.refused_row)));
    EXPECT_THAT(Rows(db,
                     "Select tbl_kav_version_info.kav_database_version from "
                     "tbl_kav_version_info;"),
                ElementsAre("v4.0"));
    db.Close();
  }
}

}  // namespace
}  // namespace kav::testing
