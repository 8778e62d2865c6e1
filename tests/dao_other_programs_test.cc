// A database file that another SQLite program has changed: a table rebuilt
// with a conflict clause, triggers of the user's own, an index or a trigger
// of the engine gone.  The engine keeps its promises all the same: a write
// it refuses leaves the file exactly as it was, an error number comes only
// from the engine's own rules, and a file whose catalog names what is not
// there is refused at open.

#include <sqlite3.h>
#include <stdio.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "tests/dao_fixture.h"
#include "tests/support/dump.h"
#include "tests/support/open_hook.h"

namespace dao_test {
namespace {

using Strings = std::vector<std::string>;
using ::testing::HasSubstr;

// Replaces {ix} with the physical name of the primary key of jobs and {rel}
// with the id of the relation portspeople.
std::string WithNames(std::string sql, const std::string& path) {
  const std::string ix =
      "daosys_ix_" + Query(path,
                           "SELECT x.id FROM daosys_indexes x JOIN daosys_tables t "
                           "ON t.id = x.table_id WHERE t.name = 'jobs' AND "
                           "x.name = 'PrimaryKey'")
                         .at(0);
  const std::string rel = Query(path, "SELECT id FROM daosys_relations").at(0);
  for (const auto& [from, to] : {std::pair{std::string("{ix}"), ix}, {"{rel}", rel}}) {
    for (size_t at; (at = sql.find(from)) != std::string::npos;) sql.replace(at, from.size(), to);
  }
  return sql;
}

// jobs rebuilt the way a database browser does it, with `constraint` added;
// its unique index is made again only when `index_again`.
std::string Rebuilt(const std::string& constraint, bool index_again) {
  return "CREATE TABLE jobs_new (code TEXT, title TEXT, n INTEGER, " + constraint +
         ");"
         "INSERT INTO jobs_new (rowid, code, title, n) SELECT rowid, code, title, n FROM jobs;"
         "DROP TABLE jobs; ALTER TABLE jobs_new RENAME TO jobs;" +
         (index_again ? "CREATE UNIQUE INDEX {ix} ON jobs (code COLLATE NOCASE);" : "");
}

class OtherProgramTest : public DaoTest {
 protected:
  // A new database: jobs with a unique key, and ports with the people who
  // live there (relation portspeople, cascading), and a table "audit" that
  // is not the engine's; then `sql` of another program runs on the file.
  void FreshDatabase(const std::string& sql) {
    if (!db.IsNothing()) db.Close();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(mdb + suffix);
    db = ws.CreateDatabase(mdb);
    Table("jobs", {{"code", dao::dbText, 4}, {"title", dao::dbText, 20}, {"n", dao::dbLong}});
    Key("jobs", "PrimaryKey", {"code"});
    Table("ports", {{"abbrev", dao::dbText, 3}});
    Key("ports", "PrimaryKey", {"abbrev"});
    Table("people", {{"id", dao::dbLong}, {"port", dao::dbText, 3}});
    Relate("portspeople", "ports", "people", {{"abbrev", "port"}},
           dao::dbRelationUpdateCascade | dao::dbRelationDeleteCascade);
    Insert("jobs", {"ABRO", "Old", int32_t{1}});
    Insert("jobs", {"CRWB", "Crew", int32_t{2}});
    Insert("ports", {"SEA"});
    Insert("people", {int32_t{1}, "SEA"});
    Insert("people", {int32_t{2}, "SEA"});
    db.Close();
    Sqlite(mdb, "CREATE TABLE audit (code TEXT);");
    Sqlite(mdb, WithNames(sql, mdb));
  }

  Strings State() { return FileState(mdb); }

  void AddJob() {
    dao::Recordset rs = db.OpenRecordset("jobs", dao::dbOpenTable);
    rs.AddNew();
    rs.Fields(0).SetValue("NEW1");
    rs.Fields(1).SetValue("Old");
    rs.Update();
  }

  void EditJob() {
    dao::Recordset rs = db.OpenRecordset("jobs", dao::dbOpenTable);
    rs.MoveNext();
    rs.Edit();
    rs.Fields(1).SetValue("Old");
    rs.Update();
  }

  std::function<void()> Execute(const char* sql, int options) {
    return [this, sql, options] { db.Execute(sql, options); };
  }

  // `write` in a workspace transaction that has added a job of its own
  // first; when `write` fails, the transaction is rolled back.
  std::function<void()> InTransaction(std::function<void()> write) {
    return [this, write] {
      ws.BeginTrans();
      AddJob();
      try {
        write();
      } catch (const kav::Error&) {
        ErrorOf([&] { ws.Rollback(); });
        throw;
      }
      ws.CommitTrans();
    };
  }
};

const char* const kRetitle = "UPDATE jobs SET jobs.title = 'Old' WHERE jobs.code = 'CRWB';";
const char* const kRenumberAll = "UPDATE jobs SET jobs.n = 7;";
const char* const kDeleteAll = "DELETE FROM jobs WHERE jobs.n IN (1, 2);";

TEST_F(OtherProgramTest, RefusedWriteLeavesTheFileAsItWas) {
  struct Case {
    const char* name;
    std::string sql;
    std::function<void()> write;
    long error;  // 0: the statement runs without dbFailOnError and raises none
    const char* description = "";
  };
  const auto trigger = [](const char* when, const char* row, const char* raise) {
    return std::string("CREATE TRIGGER rule ") + when +
           " ON jobs BEGIN INSERT INTO audit "
           "VALUES (" +
           row + ".code); SELECT RAISE(" + raise + "); END;";
  };
  // A trigger that ends SQLite's whole transaction when ABRO, the first of
  // the rows, is changed or deleted.
  const auto rollback = [](const char* when) {
    return std::string("CREATE TRIGGER rule ") + when +
           " ON jobs WHEN OLD.code = 'ABRO' BEGIN INSERT INTO audit VALUES (OLD.code); "
           "SELECT RAISE(ROLLBACK, 'refused by rule'); END;";
  };
  const std::vector<Case> cases = {
      // A conflict clause of the table neither replaces the stored row nor
      // drops the written one: the write meets the duplicate key.
      {"REPLACE on insert", Rebuilt("UNIQUE (title) ON CONFLICT REPLACE", true),
       [this] { AddJob(); }, dao::kErrDuplicateKey},
      {"IGNORE on insert", Rebuilt("UNIQUE (title) ON CONFLICT IGNORE", true), [this] { AddJob(); },
       dao::kErrDuplicateKey},
      {"REPLACE on edit", Rebuilt("UNIQUE (title) ON CONFLICT REPLACE", true),
       [this] { EditJob(); }, dao::kErrDuplicateKey},
      {"IGNORE on edit", Rebuilt("UNIQUE (title) ON CONFLICT IGNORE", true), [this] { EditJob(); },
       dao::kErrDuplicateKey},
      {"REPLACE on a statement", Rebuilt("UNIQUE (title) ON CONFLICT REPLACE", true),
       Execute(kRetitle, dao::dbFailOnError), dao::kErrDuplicateKey},
      {"REPLACE on a statement without dbFailOnError",
       Rebuilt("UNIQUE (title) ON CONFLICT REPLACE", true), Execute(kRetitle, 0), 0},
      {"IGNORE on a statement", Rebuilt("UNIQUE (title) ON CONFLICT IGNORE", true),
       Execute(kRetitle, dao::dbFailOnError), dao::kErrDuplicateKey},
      // A trigger that refuses the row after a change of its own: nothing
      // of it stays, whether it fails, aborts or skips the row.
      {"FAIL before insert", trigger("BEFORE INSERT", "NEW", "FAIL, 'refused by rule'"),
       [this] { AddJob(); }, 3000, "refused by rule"},
      {"FAIL after insert", trigger("AFTER INSERT", "NEW", "FAIL, 'refused by rule'"),
       [this] { AddJob(); }, 3000, "refused by rule"},
      {"IGNORE before insert", trigger("BEFORE INSERT", "NEW", "IGNORE"), [this] { AddJob(); },
       3000},
      {"FAIL before edit", trigger("BEFORE UPDATE", "NEW", "FAIL, 'refused by rule'"),
       [this] { EditJob(); }, 3000},
      {"FAIL after edit", trigger("AFTER UPDATE", "NEW", "FAIL, 'refused by rule'"),
       [this] { EditJob(); }, 3000},
      // The row is there: skipped, not deleted.
      {"IGNORE before edit", trigger("BEFORE UPDATE", "NEW", "IGNORE"), [this] { EditJob(); }, 3000,
       "skipped"},
      {"FAIL after a statement's update", trigger("AFTER UPDATE", "NEW", "FAIL, 'refused by rule'"),
       Execute(kRetitle, 0), 0},
      {"IGNORE before a statement's update", trigger("BEFORE UPDATE", "NEW", "IGNORE"),
       Execute(kRetitle, dao::dbFailOnError), 3000},
      {"FAIL after a statement's delete", trigger("AFTER DELETE", "OLD", "FAIL, 'refused by rule'"),
       Execute("DELETE FROM jobs WHERE jobs.code = 'CRWB';", 0), 0},
      {"IGNORE before a statement's delete", trigger("BEFORE DELETE", "OLD", "IGNORE"),
       Execute("DELETE FROM jobs WHERE jobs.code = 'CRWB';", dao::dbFailOnError), 3000},
      {"FAIL in the middle of a cascade",
       "CREATE TRIGGER rule BEFORE DELETE ON people WHEN OLD.id = 2 BEGIN "
       "SELECT RAISE(FAIL, 'refused by rule'); END;",
       Execute("DELETE FROM ports WHERE ports.abbrev = 'SEA';", 0), 0},
      // A trigger that rolls back SQLite's whole transaction: the write
      // stops at once, whatever the rows still to come, and raises the
      // row's error; nothing after it is written, not even on its own.
      {"ROLLBACK before insert", trigger("BEFORE INSERT", "NEW", "ROLLBACK, 'refused by rule'"),
       [this] { AddJob(); }, 3000, "refused by rule"},
      {"ROLLBACK before edit", trigger("BEFORE UPDATE", "NEW", "ROLLBACK, 'refused by rule'"),
       [this] { EditJob(); }, 3000, "refused by rule"},
      {"ROLLBACK on a statement's first row", rollback("BEFORE UPDATE"), Execute(kRenumberAll, 0),
       3000, "refused by rule"},
      {"ROLLBACK on a statement's first row, dbFailOnError", rollback("BEFORE UPDATE"),
       Execute(kRenumberAll, dao::dbFailOnError), 3000, "refused by rule"},
      {"ROLLBACK on a statement's first delete", rollback("BEFORE DELETE"), Execute(kDeleteAll, 0),
       3000, "refused by rule"},
      {"ROLLBACK on a statement's first row in a transaction", rollback("BEFORE UPDATE"),
       InTransaction(Execute(kRenumberAll, 0)), 3000, "refused by rule"},
      {"ROLLBACK on a recordset's insert in a transaction",
       "CREATE TRIGGER rule BEFORE INSERT ON jobs WHEN NEW.code = 'NEW2' BEGIN "
       "SELECT RAISE(ROLLBACK, 'refused by rule'); END;",
       InTransaction([this] {
         Insert("jobs", {"NEW2", "New", int32_t{3}});
       }),
       3000, "refused by rule"},
      // The engine's tag in a message of the user's own is only text.
      {"ABORT before insert, the tag inside",
       trigger("BEFORE INSERT", "NEW", "ABORT, 'audit rule daosys:3022:x'"), [this] { AddJob(); },
       3000, "audit rule daosys:3022:x"},
      {"ABORT after insert, the tag in front",
       trigger("AFTER INSERT", "NEW", "ABORT, 'daosys:3022:x'"), [this] { AddJob(); }, 3000,
       "daosys:3022:x"},
      {"ABORT after a statement's update, the tag inside",
       trigger("AFTER UPDATE", "NEW", "ABORT, 'audit rule daosys:3022:x'"),
       Execute(kRetitle, dao::dbFailOnError), 3000, "audit rule daosys:3022:x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshDatabase(c.sql);
    db = ws.OpenDatabase(mdb);
    const Strings before = State();
    try {
      c.write();
      EXPECT_EQ(c.error, 0) << "the write was not refused";
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), c.error) << e.description();
      EXPECT_THAT(e.description(), HasSubstr(c.description));
    }
    EXPECT_EQ(kav::testing::DumpDifference(before, State()), "");
    EXPECT_EQ(Query(mdb, "PRAGMA integrity_check"), Strings{"ok"});
  }
}

// A trigger's RAISE(ROLLBACK) takes a schema change of the transaction
// with it, and the engine sees the catalog as the file has it again.
TEST_F(OtherProgramTest, TransactionEndedByATriggerTakesItsSchemaChangeWith) {
  FreshDatabase(
      "CREATE TRIGGER rule BEFORE UPDATE ON jobs BEGIN SELECT RAISE(ROLLBACK, 'refused'); END;");
  db = ws.OpenDatabase(mdb);
  ws.BeginTrans();
  dao::TableDef jobs = db.TableDefs().Item("jobs");
  jobs.Fields().Append(jobs.CreateField("extra", dao::dbLong));
  EXPECT_EQ(ErrorOf(Execute(kRenumberAll, 0)), 3000);
  EXPECT_EQ(FieldNames("jobs"), (Strings{"code", "title", "n"}));
  EXPECT_EQ(ErrorOf(Execute("DELETE FROM jobs WHERE jobs.extra = 1;", 0)),
            dao::kErrTooFewParameters);
  ErrorOf([&] { ws.Rollback(); });
}

TEST_F(OtherProgramTest, EngineRulesKeepTheirNumbers) {
  FreshDatabase("");
  db = ws.OpenDatabase(mdb);
  EXPECT_EQ(ErrorOf([&] {
              Insert("people", {int32_t{3}, "LAX"});
            }),
            dao::kErrRelatedRecordRequired);
  EXPECT_THAT(dao::DBEngine::Instance().Errors().at(0).description(),
              ::testing::StartsWith("You cannot add or change a record"));
  // A copy of the engine's message word for word can raise no more than
  // the relation error; it never passes for a skippable duplicate.
  db.Close();
  Sqlite(mdb,
         "CREATE TRIGGER rule BEFORE INSERT ON jobs BEGIN SELECT RAISE(ABORT, "
         "'daosys:3201:Forged.'); END;");
  db = ws.OpenDatabase(mdb);
  EXPECT_EQ(ErrorOf([&] { AddJob(); }), dao::kErrRelatedRecordRequired);
}

// A double-quoted word of another program's view or trigger is a name on
// the engine's connections, never text: where it names nothing, the
// engine's operation fails with SQLite's "no such column" and leaves the
// file as it was, where SQLite's fallback would have gone on with the word
// as a value.
TEST_F(OtherProgramTest, DoubleQuotedNameThatDoesNotResolveIsAnError) {
  struct Case {
    const char* name;
    std::string sql;
    std::function<void()> before;  // through the engine, before the state is taken
    std::function<void()> write;
  };
  const std::vector<Case> cases = {
      // The fallback would write the text 'nosuch' into audit.
      {"a trigger's value",
       "CREATE TRIGGER rule AFTER INSERT ON jobs BEGIN INSERT INTO audit VALUES (\"nosuch\"); "
       "END;",
       [] {}, [this] { AddJob(); }},
      // Renaming n rewrites the view to "m"; the fallback would let m go
      // and the view return the text 'm' for every job.
      {"a view's column renamed, then deleted", "CREATE VIEW numbers AS SELECT code, n FROM jobs;",
       [this] { db.TableDefs().Item("jobs").Fields().Item("n").SetName("m"); },
       [this] { db.TableDefs().Item("jobs").Fields().Delete("m"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshDatabase(c.sql);
    db = ws.OpenDatabase(mdb);
    c.before();
    const Strings before = State();
    try {
      c.write();
      ADD_FAILURE() << "the name was taken for text";
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), 3000);
      EXPECT_THAT(e.description(), HasSubstr("no such column"));
    }
    EXPECT_EQ(kav::testing::DumpDifference(before, State()), "");
  }
}

TEST_F(OtherProgramTest, FileWhoseCatalogNamesWhatIsNotThereIsRefusedAtOpen) {
  struct Case {
    const char* name;
    std::string sql;
  };
  const std::vector<Case> cases = {
      {"unique index dropped", "DROP INDEX {ix};"},
      {"table rebuilt with a conflict clause, its index gone",
       Rebuilt("UNIQUE (code) ON CONFLICT REPLACE", false)},
      {"index made again without uniqueness",
       "DROP INDEX {ix}; CREATE INDEX {ix} ON jobs (code COLLATE NOCASE);"},
      {"index made again without its collation",
       "DROP INDEX {ix}; CREATE UNIQUE INDEX {ix} ON jobs (code);"},
      {"index made again on another column",
       "DROP INDEX {ix}; CREATE UNIQUE INDEX {ix} ON jobs (title COLLATE NOCASE);"},
      {"index made again descending",
       "DROP INDEX {ix}; CREATE UNIQUE INDEX {ix} ON jobs (code COLLATE NOCASE DESC);"},
      {"index made again with a second column",
       "DROP INDEX {ix}; CREATE UNIQUE INDEX {ix} ON jobs (code COLLATE NOCASE, n);"},
      {"index made again for some rows only",
       "DROP INDEX {ix}; CREATE UNIQUE INDEX {ix} ON jobs (code COLLATE NOCASE) WHERE n > 1;"},
      {"relation trigger on the foreign table dropped", "DROP TRIGGER daosys_rel_{rel}_fi;"},
      {"relation trigger on the primary table dropped", "DROP TRIGGER daosys_rel_{rel}_pd;"},
      {"relation trigger made again doing nothing",
       "DROP TRIGGER daosys_rel_{rel}_fi; CREATE TRIGGER daosys_rel_{rel}_fi BEFORE INSERT ON "
       "people BEGIN SELECT 1; END;"},
      {"relation trigger made again on another table",
       "DROP TRIGGER daosys_rel_{rel}_pd; CREATE TRIGGER daosys_rel_{rel}_pd AFTER DELETE ON "
       "jobs BEGIN DELETE FROM people WHERE people.port = OLD.code; END;"},
      {"field's column dropped", "ALTER TABLE jobs DROP COLUMN n;"},
      {"table dropped", "DROP TABLE jobs;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshDatabase(c.sql);
    const std::string bytes = FileBytes(mdb);
    try {
      db = ws.OpenDatabase(mdb);
      ADD_FAILURE() << "opened";
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), 3343);
      EXPECT_THAT(e.description(), HasSubstr("is damaged"));
    }
    EXPECT_EQ(FileBytes(mdb), bytes);
    EXPECT_FALSE(std::filesystem::exists(mdb + "-wal"));
  }
  // What the user adds beside the engine's own is no damage.
  FreshDatabase(Rebuilt("CHECK (n > 0)", true) +
                "CREATE TRIGGER rule AFTER INSERT ON jobs BEGIN INSERT INTO audit "
                "VALUES (NEW.code); END; CREATE INDEX by_title ON jobs (title);");
  db = ws.OpenDatabase(mdb);
  AddJob();
  EXPECT_EQ(RowsOf("jobs").size(), 3u);
}

// While it lives, SQLite's default file system puts the file at `from` in
// the place of the database file `to` just before it opens it once, as
// another program that swaps files would between the checks at open and
// SQLite's own open.
class SwapBeforeOpen {
 public:
  SwapBeforeOpen(std::string from, std::string to)
      : hook_(
            [from = std::move(from), to = std::move(to), swapped = false](const std::string& name,
                                                                          int flags) mutable {
              if ((flags & SQLITE_OPEN_MAIN_DB) != 0 && name == to && !swapped) {
                rename(from.c_str(), to.c_str());
                swapped = true;
              }
              return SQLITE_OK;
            },
            nullptr) {}

 private:
  kav::testing::OpenHook hook_;
};

// A file put in the place of the database after the checks at open looked
// at it, and before SQLite opened it, is not the file that was judged: it
// is refused, and left as it is.
TEST_F(OtherProgramTest, FileSwappedInAfterTheChecksIsRefused) {
  FreshDatabase("");
  db.Close();
  const std::string other = dir.File("U.mdb");
  {
    dao::Database u = ws.CreateDatabase(other);
    u.Close();
  }
  const std::string bytes = FileBytes(other);
  {
    SwapBeforeOpen swap(other, std::filesystem::canonical(mdb).string());
    try {
      db = ws.OpenDatabase(mdb);
      ADD_FAILURE() << "the swapped file was opened";
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), 3051);
      EXPECT_THAT(e.description(), HasSubstr("replaced"));
    }
  }
  EXPECT_EQ(FileBytes(mdb), bytes);
  // Opened again, the file now in place is the one judged, and opens.
  EXPECT_NO_THROW(db = ws.OpenDatabase(mdb));
}

}  // namespace
}  // namespace dao_test
