// An UPDATE whose rows the engine writes with one set-based statement leaves
// exactly what writing them one by one leaves: every row of every table,
// RecordsAffected and the error raised.  Each case runs on two fresh copies
// of one small database, once with set-based writes turned off, and names
// the way the engine takes when they are on: set-based, tried and fallen
// back to row by row because a row would be refused, or row by row at once.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/internal/set_based_update.h"
#include "tests/dao_fixture.h"
#include "tests/support/dump.h"

namespace dao_test {
namespace {

using Strings = std::vector<std::string>;
using dao::internal::SetBasedStatementWrites;

enum class Way { kSetBased, kFellBack, kRowByRow };

struct Case {
  const char* name;
  std::string other_program;  // run on the file first; {rel} is the relation's id
  const char* sql;
  int options;
  Way way;
  long affected;
  long error;
};

struct Outcome {
  Strings file;
  long affected = 0;
  long error = 0;
  std::string description;
  Way way = Way::kRowByRow;
};

class SetBasedUpdateTest : public DaoTest {
 protected:
  void TearDown() override { SetBasedStatementWrites() = {}; }

  // persons with a key and a required n, the qualifications they hold (related to them,
  // enforced, no cascades), then `sql` of another program, which may use
  // the table audit of its own.
  void FreshDatabase(std::string sql) {
    if (!db.IsNothing()) db.Close();
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(mdb + suffix);
    db = ws.CreateDatabase(mdb);
    Table("persons", {{"id", dao::dbLong},
                      {"port", dao::dbText, 3},
                      {"new_port", dao::dbText, 5},
                      {"n", dao::dbLong},
                      {"old_n", dao::dbLong}});
    Key("persons", "PrimaryKey", {"id"});
    db.TableDefs().Item("persons").Fields().Item("n").SetRequired(true);
    Table("quals", {{"person", dao::dbLong},
                    {"code", dao::dbText, 4},
                    {"expires", dao::dbDate},
                    {"comment", dao::dbText, 12}});
    Key("quals", "PrimaryKey", {"person", "code"});
    Relate("personsquals", "persons", "quals", {{"id", "person"}});
    Insert("persons", {int32_t{1}, "SEA", "SFO", int32_t{1}, int32_t{10}});
    Insert("persons", {int32_t{2}, "LAX", "PORTL", int32_t{2}, int32_t{20}});
    Insert("persons", {int32_t{3}, "BOS", "JFK", int32_t{3}, dao::Value()});
    Insert("quals", {int32_t{1}, "EMTB", "1/1/2005", "a"});
    Insert("quals", {int32_t{1}, "HEMG", dao::Value(), "b"});
    Insert("quals", {int32_t{2}, "EMTB", dao::Value(), dao::Value()});
    Insert("quals", {int32_t{3}, "EMTB", "2/2/2005", "a"});
    Insert("quals", {int32_t{3}, "IRIN", dao::Value(), "c"});
    db.Close();
    const std::string rel = Query(mdb, "SELECT id FROM daosys_relations").at(0);
    for (size_t at; (at = sql.find("{rel}")) != std::string::npos;) sql.replace(at, 5, rel);
    Sqlite(mdb, "CREATE TABLE audit (what TEXT);" + sql);
  }

  Outcome Run(const Case& c, bool set_based) {
    FreshDatabase(c.other_program);
    SetBasedStatementWrites() = {};
    SetBasedStatementWrites().allowed = set_based;
    Outcome out;
    try {
      db = ws.OpenDatabase(mdb);
      db.Execute(c.sql, c.options);
    } catch (const kav::Error& e) {
      out.error = e.number();
      out.description = e.description();
    }
    out.affected = db.RecordsAffected();
    out.way = SetBasedStatementWrites().statements > 0  ? Way::kSetBased
              : SetBasedStatementWrites().fell_back > 0 ? Way::kFellBack
                                                        : Way::kRowByRow;
    SetBasedStatementWrites() = {};
    db.Close();
    out.file = FileState(mdb);
    EXPECT_EQ(Query(mdb, "PRAGMA integrity_check"), Strings{"ok"});
    return out;
  }
};

const char* const kExpire =
    "UPDATE quals SET quals.expires = '3/1/2006', quals.comment = 'Expired' "
    "WHERE quals.code = 'EMTB';";
// Another program's index on an expression that overflows for a long
// comment of person 1 alone: SQLite refuses that row's write, which no rule
// of the engine foresees.
const char* const kOverflowsForPerson1 =
    "CREATE INDEX rule ON quals (abs(-9223372036854775807 - (person = 1 AND "
    "length(comment) > 5)));";
const char* const kSkipsPerson3 =
    "CREATE TRIGGER rule BEFORE UPDATE ON quals WHEN NEW.person = 3 BEGIN "
    "SELECT RAISE(IGNORE); END;";
const char* const kDeletesTheNextPersons =
    "CREATE TRIGGER rule AFTER UPDATE ON quals BEGIN DELETE FROM quals "
    "WHERE person = NEW.person + 1 AND code = NEW.code; END;";
const char* const kTooLong =
    "UPDATE quals SET quals.comment = 'far too long a text' WHERE quals.code = 'EMTB';";

TEST_F(SetBasedUpdateTest, LeavesWhatRowByRowLeaves) {
  const int fail = dao::dbFailOnError;
  const std::vector<Case> cases = {
      {"literals on several rows", "", kExpire, 0, Way::kSetBased, 3, 0},
      {"literals on several rows, dbFailOnError", "", kExpire, fail, Way::kSetBased, 3, 0},
      {"literals, an IN list and AND", "",
       "UPDATE quals SET quals.comment = 'x' WHERE quals.code in ('HEMG','IRIN') and "
       "quals.person = 1;",
       0, Way::kSetBased, 1, 0},
      {"a WHERE on the assigned column", "",
       "UPDATE quals SET quals.comment = 'b' WHERE quals.comment = 'A';", 0, Way::kSetBased, 2, 0},
      {"an empty text that stands for Null", "",
       "UPDATE quals SET quals.expires = '' WHERE quals.code = 'EMTB';", fail, Way::kSetBased, 3,
       0},
      {"no row matches", "", "UPDATE quals SET quals.comment = 'x' WHERE quals.code = 'NONE';",
       fail, Way::kSetBased, 0, 0},
      {"a literal too long, rows match", "", kTooLong, 0, Way::kRowByRow, 0, 0},
      {"a literal too long, rows match, dbFailOnError", "", kTooLong, fail, Way::kRowByRow, 0,
       dao::kErrFieldTooSmall},
      {"a literal too long, no row matches, dbFailOnError", "",
       "UPDATE quals SET quals.comment = 'far too long a text' WHERE quals.code = 'NONE';", fail,
       Way::kRowByRow, 0, 0},
      {"a literal a key cannot hold, dbFailOnError", "",
       "UPDATE quals SET quals.person = '' WHERE quals.code = 'IRIN';", fail, Way::kRowByRow, 0,
       3058},
      {"a copy every row passes", "", "UPDATE [persons] SET [new_port]=[port]", fail,
       Way::kSetBased, 3, 0},
      {"a copy one row of which is too long", "", "UPDATE [persons] SET [port]=[new_port]", 0,
       Way::kFellBack, 2, 0},
      {"a copy one row of which is too long, dbFailOnError", "",
       "UPDATE [persons] SET [port]=[new_port]", fail, Way::kFellBack, 0, dao::kErrFieldTooSmall},
      {"a copy of Null into a required field", "", "UPDATE [persons] SET [n]=[old_n]", 0,
       Way::kFellBack, 2, 0},
      {"a copy of Null into a required field, dbFailOnError", "",
       "UPDATE [persons] SET [n]=[old_n]", fail, Way::kFellBack, 0, dao::kErrFieldRequired},
      {"a copy that changes how the value is stored", "", "UPDATE [persons] SET [port]=[n]", fail,
       Way::kFellBack, 3, 0},
      {"a copy that changes how the value is written", "", "UPDATE [quals] SET [comment]=[expires]",
       fail, Way::kFellBack, 5, 0},
      {"a copy beside a literal", "", "UPDATE [persons] SET [new_port]=[port], [port]='ABC'", 0,
       Way::kSetBased, 3, 0},
      {"a copy beside a literal too long, dbFailOnError", "",
       "UPDATE [persons] SET [new_port]=[port], [port]='ABCD'", fail, Way::kRowByRow, 0,
       dao::kErrFieldTooSmall},
      {"a copy into a key that relations hold", "", "UPDATE [persons] SET [id]=[n]", fail,
       Way::kRowByRow, 3, 0},
      {"a key collision on one of several rows", "",
       "UPDATE quals SET quals.code = 'HEMG' WHERE quals.code = 'EMTB';", 0, Way::kRowByRow, 2, 0},
      {"a key collision on one of several rows, dbFailOnError", "",
       "UPDATE quals SET quals.code = 'HEMG' WHERE quals.code = 'EMTB';", fail, Way::kRowByRow, 0,
       dao::kErrDuplicateKey},
      {"a relation refuses the foreign key, dbFailOnError", "",
       "UPDATE quals SET quals.person = 9 WHERE quals.code = 'IRIN';", fail, Way::kRowByRow, 0,
       dao::kErrRelatedRecordRequired},
      {"a relation refuses the primary key", "",
       "UPDATE persons SET persons.id = 7 WHERE persons.id = 2;", 0, Way::kRowByRow, 0, 0},
      {"another program's index refuses one row", kOverflowsForPerson1, kExpire, 0, Way::kFellBack,
       2, 0},
      {"another program's index refuses one row, dbFailOnError", kOverflowsForPerson1, kExpire,
       fail, Way::kFellBack, 0, 3000},
      {"another program's unique index on an assigned column",
       "CREATE UNIQUE INDEX rule ON quals (expires);", kExpire, 0, Way::kRowByRow, 1, 0},
      // SQLite would visit the rows by the index on n, the last one first;
      // row by row the first row's new port meets the second row's old one.
      {"another program's unique index on a copied column",
       "CREATE UNIQUE INDEX rule ON persons (port); CREATE INDEX by_n ON persons (n); "
       "UPDATE persons SET n = 4 - id, new_port = CASE id WHEN 1 THEN 'LAX' WHEN 2 THEN 'XXX' "
       "ELSE 'JFK' END;",
       "UPDATE [persons] SET [port]=[new_port] WHERE [persons].[n] in (1, 2, 3)", 0, Way::kRowByRow,
       2, 0},
      {"another program's trigger on the table",
       "CREATE TRIGGER rule AFTER UPDATE ON quals BEGIN INSERT INTO audit "
       "VALUES (NEW.person || NEW.code); END;",
       kExpire, 0, Way::kRowByRow, 3, 0},
      {"another program's trigger on another table",
       "CREATE TRIGGER rule AFTER UPDATE ON persons BEGIN INSERT INTO audit VALUES (NEW.id); "
       "END;",
       kExpire, 0, Way::kRowByRow, 3, 0},
      {"another program's trigger skips a row", kSkipsPerson3, kExpire, 0, Way::kRowByRow, 2, 0},
      {"another program's trigger skips a row, dbFailOnError", kSkipsPerson3, kExpire, fail,
       Way::kRowByRow, 0, 3000},
      {"another program's trigger deletes a row still to come", kDeletesTheNextPersons, kExpire, 0,
       Way::kRowByRow, 2, 0},
      {"another program's trigger deletes a row still to come, dbFailOnError",
       kDeletesTheNextPersons, kExpire, fail, Way::kRowByRow, 0, 3167},
      // The relation is not enforced as its catalog says: the file is
      // refused as damaged when it opens.
      {"another program's trigger under the name of the engine's",
       "DROP TRIGGER daosys_rel_{rel}_fu; CREATE TRIGGER daosys_rel_{rel}_fu AFTER UPDATE ON "
       "quals BEGIN INSERT INTO audit VALUES (NEW.code); END;",
       kExpire, 0, Way::kRowByRow, 0, dao::kErrUnrecognizedFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome row_by_row = Run(c, false);
    const Outcome engine = Run(c, true);
    EXPECT_EQ(kav::testing::DumpDifference(row_by_row.file, engine.file), "");
    EXPECT_EQ(engine.affected, row_by_row.affected);
    EXPECT_EQ(engine.error, row_by_row.error);
    EXPECT_EQ(engine.description, row_by_row.description);
    EXPECT_EQ(row_by_row.way, Way::kRowByRow);
    EXPECT_EQ(engine.way, c.way);
    EXPECT_EQ(row_by_row.affected, c.affected);
    EXPECT_EQ(row_by_row.error, c.error) << row_by_row.description;
  }
}

// What the engine has found out about the file's schema holds only until
// the schema changes, by the engine itself or by another program while
// the database is open.
TEST_F(SetBasedUpdateTest, SeesEveryChangeOfTheSchemaAtOnce) {
  FreshDatabase("");
  db = ws.OpenDatabase(mdb);
  const auto statements = [] { return SetBasedStatementWrites().statements; };
  db.Execute("UPDATE quals SET quals.expires = '4/4/2004' WHERE quals.code = 'IRIN';");
  EXPECT_EQ(statements(), 1);
  // A unique index of the engine's on the assigned column.
  Key("quals", "ByExpiry", {"expires"}, false, true);
  db.Execute("UPDATE quals SET quals.expires = '5/5/2005' WHERE quals.code = 'IRIN';");
  EXPECT_EQ(statements(), 1);
  EXPECT_EQ(db.RecordsAffected(), 1);
  // Another program's trigger that skips the rows of person 3.
  Sqlite(mdb, kSkipsPerson3);
  db.Execute("UPDATE quals SET quals.comment = 'y' WHERE quals.code = 'EMTB';");
  EXPECT_EQ(statements(), 1);
  EXPECT_EQ(db.RecordsAffected(), 2);
  EXPECT_EQ(Query(mdb, "SELECT comment FROM quals WHERE code = 'EMTB' ORDER BY person"),
            (Strings{"y", "y", "a"}));
}

}  // namespace
}  // namespace dao_test
