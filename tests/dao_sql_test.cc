// Execute and forward-only SELECTs in the update's SQL dialect, on small
// tables: every form, rows the engine cannot change, and statement faults.

#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using Strings = std::vector<std::string>;

class SqlTest : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("jobs", {{"job_code", dao::dbText, 4},
                   {"job_risk_type", dao::dbText, 2},
                   {"job_cert_period", dao::dbInteger},
                   {"job_inactive_date", dao::dbDate},
                   {"job_title", dao::dbText, 10}});
    Key("jobs", "PrimaryKey", {"job_code", "job_risk_type"});
    Fill();
  }
  void Fill() {
    db.Execute("DELETE FROM jobs WHERE jobs.job_risk_type IN ('RX', 'WF');");
    Insert("jobs", {"FUMA", "RX", int16_t{1}, dao::Value(), "Fuel"});
    Insert("jobs", {"FUM1", "WF", int16_t{2}, dao::Value(), "One"});
    Insert("jobs", {"IOF1", "RX", int16_t{3}, "1/1/2006", "Info"});
    Insert("jobs", {"IOF2", "RX", int16_t{4}, dao::Value(), "Info"});
  }
  Strings Jobs() { return RowsOf("jobs"); }
};

TEST_F(SqlTest, UpdateForms) {
  struct Case {
    const char* sql;
    long affected;
    Strings rows;
  };
  const std::vector<Case> cases = {
      {"UPDATE jobs SET jobs.job_title  = 'New', jobs.job_cert_period = 9 "
       "WHERE jobs.job_code = 'iof1' and jobs.job_risk_type = 'RX';",
       1,
       {"FUMA|RX|1||Fuel", "FUM1|WF|2||One", "IOF1|RX|9|1/1/2006|New", "IOF2|RX|4||Info"}},
      {"update [jobs] set [job_title]='T' where [jobs].[job_code] IN ('IOF1','IOF2', 'FUMA')",
       3,
       {"FUMA|RX|1||T", "FUM1|WF|2||One", "IOF1|RX|3|1/1/2006|T", "IOF2|RX|4||T"}},
      {"UPDATE jobs SET jobs.job_inactive_date = '' WHERE jobs.job_cert_period = 3;",
       1,
       {"FUMA|RX|1||Fuel", "FUM1|WF|2||One", "IOF1|RX|3||Info", "IOF2|RX|4||Info"}},
      {"UPDATE jobs SET jobs.job_cert_period = '7' WHERE jobs.job_inactive_date = '1/1/2006';",
       1,
       {"FUMA|RX|1||Fuel", "FUM1|WF|2||One", "IOF1|RX|7|1/1/2006|Info", "IOF2|RX|4||Info"}},
      {"UPDATE jobs SET jobs.job_title = 'x' WHERE jobs.job_code = 'NONE';",
       0,
       {"FUMA|RX|1||Fuel", "FUM1|WF|2||One", "IOF1|RX|3|1/1/2006|Info", "IOF2|RX|4||Info"}},
      {"UPDATE [jobs] SET [job_title]=[job_cert_period]",
       4,
       {"FUMA|RX|1||1", "FUM1|WF|2||2", "IOF1|RX|3|1/1/2006|3", "IOF2|RX|4||4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Fill();
    db.Execute(c.sql);
    EXPECT_EQ(db.RecordsAffected(), c.affected);
    EXPECT_EQ(Jobs(), c.rows);
  }
}

TEST_F(SqlTest, NowIsTheTimeOfTheStatement) {
  const dao::DateTime before = dao::DateTime::Now();
  db.Execute("UPDATE jobs SET jobs.job_inactive_date = now() WHERE jobs.job_risk_type = 'RX';");
  const dao::DateTime after = dao::DateTime::Now();
  dao::Recordset rs =
      db.OpenRecordset("Select jobs.job_inactive_date from jobs WHERE jobs.job_risk_type = 'RX';",
                       dao::dbOpenForwardOnly);
  std::vector<dao::DateTime> seen;
  for (; !rs.IsEOF(); rs.MoveNext()) seen.push_back(rs.Fields(0).GetValue().AsDate());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_LE(before, seen[0]);
  EXPECT_LE(seen[0], after);
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_EQ(seen[2], seen[0]);
}

TEST_F(SqlTest, RowsThatCannotChangeStayAsTheyWere) {
  // Recoding every RX position to FUM1 collides for all but the first row;
  // the WHERE sees the rows as they were before the statement.
  const char* recode =
      "UPDATE jobs SET jobs.job_code = 'FUM1', jobs.job_risk_type = 'WF' "
      "WHERE jobs.job_risk_type = 'RX';";
  const Strings before = Jobs();
  EXPECT_EQ(ErrorOf([&] { db.Execute(recode, dao::dbFailOnError); }), dao::kErrDuplicateKey);
  EXPECT_EQ(Jobs(), before);
  EXPECT_EQ(dao::DBEngine::Instance().Errors().at(0).number(), dao::kErrDuplicateKey);
  db.Execute("UPDATE jobs SET jobs.job_code = 'fum1' WHERE jobs.job_risk_type = 'RX';");
  EXPECT_EQ(db.RecordsAffected(), 1);
  EXPECT_EQ(Jobs(), (Strings{"fum1|RX|1||Fuel", "FUM1|WF|2||One", "IOF1|RX|3|1/1/2006|Info",
                             "IOF2|RX|4||Info"}));
  // Values a column refuses, row by row.
  struct Case {
    const char* sql;
    long error;
  };
  const std::vector<Case> cases = {
      {"UPDATE jobs SET jobs.job_title = 'much too long' WHERE jobs.job_code = 'IOF1';",
       dao::kErrFieldTooSmall},
      {"UPDATE jobs SET jobs.job_cert_period = 'abc' WHERE jobs.job_code = 'IOF1';",
       dao::kErrConversion},
      {"UPDATE jobs SET jobs.job_title = '' WHERE jobs.job_code = 'IOF1';", dao::kErrZeroLength},
      {"UPDATE jobs SET jobs.job_code = '' WHERE jobs.job_code = 'IOF1';", dao::kErrZeroLength},
      {"UPDATE [jobs] SET [job_risk_type]=[job_title]", dao::kErrFieldTooSmall},
  };
  const Strings now = Jobs();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    db.Execute(c.sql);
    EXPECT_EQ(Jobs(), now);
    EXPECT_EQ(ErrorOf([&] { db.Execute(c.sql, dao::dbFailOnError); }), c.error);
    EXPECT_EQ(Jobs(), now);
  }
}

TEST_F(SqlTest, ColumnToColumnCopyConvertsEachRow) {
  db.TableDefs().Item("jobs").Fields().Append(
      db.TableDefs().Item("jobs").CreateField("period_text", dao::dbText, 3));
  db.Execute("UPDATE [jobs] SET [period_text]=[job_cert_period]", dao::dbFailOnError);
  db.Execute("UPDATE [jobs] SET [job_cert_period]=[period_text]", dao::dbFailOnError);
  EXPECT_EQ(Jobs()[2], "IOF1|RX|3|1/1/2006|Info|3");
}

TEST_F(SqlTest, DeleteForms) {
  db.Execute(
      "DELETE from jobs WHERE jobs.job_code in ('FUMA','IOF1')and jobs.job_risk_type = 'rx';");
  EXPECT_EQ(db.RecordsAffected(), 2);
  EXPECT_EQ(Jobs(), (Strings{"FUM1|WF|2||One", "IOF2|RX|4||Info"}));
  db.Execute("delete FROM [jobs] WHERE [jobs].[job_cert_period] = 4");
  EXPECT_EQ(Jobs(), Strings{"FUM1|WF|2||One"});
}

TEST_F(SqlTest, StatementFaultsAlwaysRaise) {
  Table("other", {{"x", dao::dbText, 5}});
  struct Case {
    const char* sql;
    long error;
  };
  const std::vector<Case> cases = {
      {"UPDATE nojobs SET nojobs.a = 'x';", dao::kErrTableNotFound},
      {"UPDATE jobs SET jobs.nothing = 'x';", dao::kErrTooFewParameters},
      {"UPDATE jobs SET jobs.job_title = 'x' WHERE jobs.nothing = 'x';", dao::kErrTooFewParameters},
      {"UPDATE jobs SET other.x = 'x';", dao::kErrTooFewParameters},
      {"DELETE FROM jobs WHERE other.x = 'a';", dao::kErrTooFewParameters},
      {"UPDATE jobs SET jobs.job_title = 'x' WHERE jobs.job_cert_period = 'abc';", 3464},
      {"DELETE FROM jobs WHERE jobs.job_inactive_date = 'soon';", 3464},
      {"DROP TABLE jobs;", 3129},
      {"SELECT jobs.job_code FROM jobs;", 3065},
  };
  const Strings before = Jobs();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(ErrorOf([&] { db.Execute(c.sql); }), c.error);
    EXPECT_EQ(ErrorOf([&] { db.Execute(c.sql, dao::dbFailOnError); }), c.error);
  }
  EXPECT_EQ(Jobs(), before);
  EXPECT_EQ(
      ErrorOf([&] { db.OpenRecordset("SELECT jobs.nope FROM jobs;", dao::dbOpenForwardOnly); }),
      dao::kErrTooFewParameters);
  EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("SELECT x.a FROM x;", dao::dbOpenForwardOnly); }),
            dao::kErrTableNotFound);
}

// 3464 names the literal as the statement writes it, whatever its kind.
TEST_F(SqlTest, CriteriaMismatchNamesTheLiteral) {
  struct Case {
    const char* sql;
    const char* description;
  };
  const std::vector<Case> cases = {
      {"UPDATE jobs SET jobs.job_title = 'x' WHERE jobs.job_cert_period = 70000;",
       "Data type mismatch in criteria expression: '70000' for column 'job_cert_period'."},
      {"DELETE FROM jobs WHERE jobs.job_cert_period IN (1, 99999);",
       "Data type mismatch in criteria expression: '99999' for column 'job_cert_period'."},
      {"DELETE FROM jobs WHERE jobs.job_cert_period = now();",
       "Data type mismatch in criteria expression: 'now()' for column 'job_cert_period'."},
      {"DELETE FROM jobs WHERE jobs.job_inactive_date = 'soon';",
       "Data type mismatch in criteria expression: 'soon' for column 'job_inactive_date'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::string description;
    try {
      db.Execute(c.sql);
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), 3464);
      description = e.description();
    }
    EXPECT_EQ(description, c.description);
  }
}

TEST_F(SqlTest, RequiredFieldsAreKeptRowByRow) {
  db.TableDefs().Item("jobs").Fields().Item("job_title").SetRequired(true);
  db.Execute("UPDATE jobs SET jobs.job_title = '' WHERE jobs.job_code = 'FUMA';");
  EXPECT_EQ(Jobs()[0], "FUMA|RX|1||Fuel");
  db.TableDefs().Item("jobs").Fields().Item("job_inactive_date").SetRequired(true);
  EXPECT_EQ(ErrorOf([&] {
              db.Execute(
                  "UPDATE jobs SET jobs.job_inactive_date = '' WHERE jobs.job_code = "
                  "'IOF1';",
                  dao::dbFailOnError);
            }),
            dao::kErrFieldRequired);
  // Rows that already hold Null elsewhere are not refused for it.
  db.Execute("UPDATE jobs SET jobs.job_cert_period = 5;", dao::dbFailOnError);
  EXPECT_EQ(db.RecordsAffected(), 4);
}

TEST_F(SqlTest, AStatementRefusedBeforeItRunsAffectsNoRecord) {
  struct Case {
    const char* sql;
    long error;
  };
  const std::vector<Case> cases = {
      {"UPDATE nope SET nope.a = 'x';", dao::kErrTableNotFound},
      {"UPDATE jobs SET jobs.job_title = 'x' WHERE jobs.job_cert_period = 'abc';", 3464},
      {"UPDATE jobs SET jobs.nope = 'x';", dao::kErrTooFewParameters},
      {"UPDATE jobs SET jobs.job_title = 'x' WHERE", 3075},
      {"DELETE FROM jobs WHERE jobs.nope = 'x';", dao::kErrTooFewParameters},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    db.Execute("UPDATE jobs SET jobs.job_title = 'T';");
    ASSERT_EQ(db.RecordsAffected(), 4);
    EXPECT_EQ(ErrorOf([&] { db.Execute(c.sql); }), c.error);
    EXPECT_EQ(db.RecordsAffected(), 0);
  }
}

// SQLite that cannot have the memory a statement needs: the engine's
// out-of-memory error, never a generic engine error, and the database works
// again once memory is there.
TEST_F(SqlTest, StatementWithoutMemoryIsOutOfMemory) {
  const sqlite3_int64 limit = sqlite3_hard_heap_limit64(-1);
  sqlite3_hard_heap_limit64(sqlite3_memory_used() + 1);
  long number = 0;
  try {
    db.Execute("UPDATE jobs SET jobs.job_title = 'Short' WHERE jobs.job_risk_type = 'RX';");
  } catch (const kav::Error& error) {
    number = error.number();
  }
  sqlite3_hard_heap_limit64(limit);
  EXPECT_EQ(number, dao::kErrOutOfMemory);
  EXPECT_EQ(Jobs(), (Strings{"FUMA|RX|1||Fuel", "FUM1|WF|2||One", "IOF1|RX|3|1/1/2006|Info",
                             "IOF2|RX|4||Info"}));
  db.Execute("UPDATE jobs SET jobs.job_title = 'Short' WHERE jobs.job_risk_type = 'RX';");
  EXPECT_EQ(db.RecordsAffected(), 3);
}

}  // namespace
}  // namespace dao_test
