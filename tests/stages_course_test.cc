// The course and position catalogue stage as data: its counts, the texts of
// its statements, and the trace it produces when nothing fails.

#include <iterator>
#include <map>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dao/sql_parser.h"
#include "stages/stages.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::Exec;
using ::testing::ElementsAreArray;

std::span<const Step> AllSteps() { return CourseChangesSteps(); }

// The three runs: 46 course steps, 46 more course steps, 30 position steps.
std::span<const Step> FirstRun() { return AllSteps().subspan(0, 46); }
std::span<const Step> SecondRun() { return AllSteps().subspan(46, 46); }
std::span<const Step> ThirdRun() { return AllSteps().subspan(92); }

TEST(CourseChangesData, RunsHaveTheStatedStepsAndOperations) {
  ASSERT_EQ(AllSteps().size(), 122u);

  struct Case {
    const char* run;
    std::span<const Step> steps;
    int rows, statements, operations, assignments;
  };
  const Case cases[] = {
      // 23 rows of 7 fields, each with its companion: 12 operations a pair.
      {"first", FirstRun(), 23, 23, 276, 23 * 7},
      // 13 rows (four with the refresher period), 12 companions, the rename,
      // the new S-481 (7 fields), 19 corrections.
      {"second", SecondRun(), 14, 32, 208, 9 * 7 + 4 * 8 + 7},
      // 15 rows of 8 fields, each with its companion.
      {"third", ThirdRun(), 15, 15, 195, 15 * 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run);
    int rows = 0, statements = 0;
    for (const Step& step : c.steps) {
      (std::holds_alternative<RowStep>(step) ? rows : statements)++;
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(statements, c.statements);
    EXPECT_EQ(ExpandOperations(c.steps).size(), static_cast<size_t>(c.operations));
    EXPECT_EQ(kav::testing::CountOperations(c.steps),
              (kav::testing::OperationCounts{c.rows, c.rows, c.assignments, c.rows, c.statements,
                                             c.statements}));
  }
  EXPECT_EQ(ExpandOperations(AllSteps()).size(), 276u + 208u + 195u);
}

TEST(CourseChangesData, OnlyTheRefresherRowsWriteANumberAndNoRowSetsTheDates) {
  // step number -> the integer written at position 8
  std::map<int, int> integers;
  for (int i = 1; i <= static_cast<int>(AllSteps().size()); ++i) {
    const auto* row = std::get_if<RowStep>(&AllSteps()[i - 1]);
    if (row == nullptr) continue;
    EXPECT_FALSE(row->through_previous_recordset) << "step " << i;
    for (const FieldValue& f : row->fields) {
      if (f.value.kind() == dao::Value::Kind::kInteger) {
        EXPECT_EQ(f.position, 8) << "step " << i;
        integers[i] = f.value.AsInteger();
      } else {
        EXPECT_EQ(f.value.kind(), dao::Value::Kind::kText) << "step " << i;
      }
      // Neither course_inactive_date (7) nor job_inactive_date (6).
      EXPECT_NE(f.position, row->table == "tbl_kav_courses" ? 7 : 6) << "step " << i;
    }
  }
  // RT-130, RT-273, RT-340, RT-372.
  EXPECT_EQ(integers, (std::map<int, int>{{47, 1}, {49, 3}, {51, 3}, {54, 3}}));
}

// The text of step `number`, counted from 1.
std::string TextOf(int number) {
  return kav::testing::NumberedSteps(CourseChangesSteps).TextOf(number);
}

TEST(CourseChangesData, StatementTextsMatchTheStoredExamples) {
  struct Case {
    int step;
    const char* text;
  };
  const Case cases[] = {
      {2,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Aviation Conference and Education', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'A-207' and tbl_kav_courses.risk_type = 'WF';"},
      {48,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Annual Fireline Safety Refresher', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006', tbl_kav_courses.course_refresher_period  = '1' WHERE tbl_kav_courses.course_code = 'RT-130' and tbl_kav_courses.risk_type = 'WF';"},
      {72,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_code  = 'S-481Old', tbl_kav_courses.course_inactive_date  = '1/1/2006'  WHERE tbl_kav_courses.course_code = 'S-481' and tbl_kav_courses.risk_type = 'WF';"},
      {74,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'P-130' and tbl_kav_courses.risk_type = 'WF';"},
      {89,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = '1/1/2006' WHERE tbl_kav_courses.course_code in ('S-362','S-363','S-365','S-368') and tbl_kav_courses.risk_type = 'WF';"},
      {77,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Food Unit Leader' WHERE tbl_kav_courses.course_code = 'J-357' and tbl_kav_courses.risk_type = 'WF';"},
      {88,
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_hours  = '20' WHERE tbl_kav_courses.course_code = 'S-339' and tbl_kav_courses.risk_type = 'WF';"},
      {94,
       "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Aircraft Dispatcher', tbl_kav_jobs_skills.job_cert_period  = '3', tbl_kav_jobs_skills.job_standard  = 'NATIONAL', tbl_kav_jobs_skills.job_active_date  = '1/1/2006', tbl_kav_jobs_skills.job_inactive_date  = '', tbl_kav_jobs_skills.job_fitness_requirement  = 'N', tbl_kav_jobs_skills.job_functional_area  = 'ED' WHERE tbl_kav_jobs_skills.job_code = 'ACDP' and tbl_kav_jobs_skills.job_risk_type = 'WF';"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextOf(c.step), c.text) << "step " << c.step;
  }
}

// Trace lines written by hand.
std::string Open(const std::string& table) { return "OPEN\t" + table; }
std::string T(int position, const std::string& value) {
  return "SET\t" + std::to_string(position) + "\tT\t" + value;
}
std::string I(int position, const std::string& value) {
  return "SET\t" + std::to_string(position) + "\tI\t" + value;
}

TEST(CourseChangesData, TraceOfFirstLastAndUnusualSteps) {
  const std::string C = "tbl_kav_courses";
  const std::string J = "tbl_kav_jobs_skills";
  struct Case {
    const char* what;
    int first, last;  // step numbers
    std::vector<std::string> lines;
  };
  // clang-format off
  const Case cases[] = {
      {"the first pair", 1, 2,
       {Open(C), "ADDNEW", T(0, "WF"), T(1, "A-207"),
        T(2, "Aviation Conference and Education"), T(3, "0"), T(4, "NATIONAL"),
        T(5, "CLASSROOM"), T(6, "1/1/2006"), "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Aviation Conference and Education', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'A-207' and tbl_kav_courses.risk_type = 'WF';")}},
      {"RX-341 second, under RX", 3, 4,
       {Open(C), "ADDNEW", T(0, "RX"), T(1, "RX-341"),
        T(2, "Prescribed Fire Burn Plan Preparation"), T(3, "32"),
        T(4, "NATIONAL"), T(5, "CLASSROOM"), T(6, "1/1/2006"), "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Prescribed Fire Burn Plan Preparation', tbl_kav_courses.course_hours  = '32', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'RX-341' and tbl_kav_courses.risk_type = 'RX';")}},
      {"the last pair of the first run, Q-463 under AR", 45, 46,
       {Open(C), "ADDNEW", T(0, "AR"), T(1, "Q-463"), T(2, "Basic ICS"),
        T(3, "8"), T(4, "NATIONAL"), T(5, "CLASSROOM"), T(6, "1/1/2006"),
        "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Basic ICS', tbl_kav_courses.course_hours  = '8', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'Q-463' and tbl_kav_courses.risk_type = 'AR';")}},
      {"the refresher rows write the period as a number, their companions as text", 47, 52,
       {Open(C), "ADDNEW", T(0, "WF"), T(1, "RT-130"),
        T(2, "Annual Fireline Safety Refresher"), T(3, "0"), T(4, "NATIONAL"),
        T(5, "CLASSROOM"), T(6, "1/1/2006"), I(8, "1"), "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Annual Fireline Safety Refresher', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006', tbl_kav_courses.course_refresher_period  = '1' WHERE tbl_kav_courses.course_code = 'RT-130' and tbl_kav_courses.risk_type = 'WF';"),
        Open(C), "ADDNEW", T(0, "WF"), T(1, "RT-273"),
        T(2, "SEAT Workshop (Triennial)"), T(3, "0"), T(4, "NATIONAL"),
        T(5, "CLASSROOM"), T(6, "1/1/2005"), I(8, "3"), "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'SEAT Workshop (Triennial)', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2005', tbl_kav_courses.course_refresher_period  = '3' WHERE tbl_kav_courses.course_code = 'RT-273' and tbl_kav_courses.risk_type = 'WF';"),
        Open(C), "ADDNEW", T(0, "WF"), T(1, "RT-340"),
        T(2, "Human Resources Specialist (Triennial)"), T(3, "0"),
        T(4, "NATIONAL"), T(5, "CLASSROOM"), T(6, "1/1/2006"), I(8, "3"),
        "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Human Resources Specialist (Triennial)', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006', tbl_kav_courses.course_refresher_period  = '3' WHERE tbl_kav_courses.course_code = 'RT-340' and tbl_kav_courses.risk_type = 'WF';")}},
      {"S-273 has no companion; RT-372 follows it at once", 53, 55,
       {Open(C), "ADDNEW", T(0, "WF"), T(1, "S-273"),
        T(2, "Single Engine Air Tanker Manager"), T(3, "32"), T(4, "NATIONAL"),
        T(5, "CLASSROOM"), T(6, "1/1/2006"), "UPDATE",
        Open(C), "ADDNEW", T(0, "WF"), T(1, "RT-372"),
        T(2, "Helicopter Manager Workshop (Triennial)"), T(3, "0"),
        T(4, "NATIONAL"), T(5, "CLASSROOM"), T(6, "1/1/2005"), I(8, "3"),
        "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Helicopter Manager Workshop (Triennial)', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2005', tbl_kav_courses.course_refresher_period  = '3' WHERE tbl_kav_courses.course_code = 'RT-372' and tbl_kav_courses.risk_type = 'WF';")}},
      {"the one self-study course", 56, 57,
       {Open(C), "ADDNEW", T(0, "WF"), T(1, "S-290CD"),
        T(2, "Intermediate Fire Behavior CD ROM"), T(3, "0"), T(4, "NATIONAL"),
        T(5, "SELF STUDY"), T(6, "1/1/2000"), "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Intermediate Fire Behavior CD ROM', tbl_kav_courses.course_hours  = '0', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'SELF STUDY', tbl_kav_courses.course_active_date  = '1/1/2000' WHERE tbl_kav_courses.course_code = 'S-290CD' and tbl_kav_courses.risk_type = 'WF';")}},
      {"NBHAV+, the rename, the new S-481 without companion, P-130", 70, 74,
       {Open(C), "ADDNEW", T(0, "WF"), T(1, "NBHAV+"), T(2, "BEHAVE Plus"),
        T(3, "8"), T(4, "NATIONAL"), T(5, "CLASSROOM"), T(6, "1/1/2006"),
        "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'BEHAVE Plus', tbl_kav_courses.course_hours  = '8', tbl_kav_courses.course_standard  = 'NATIONAL', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'NBHAV+' and tbl_kav_courses.risk_type = 'WF';"),
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_code  = 'S-481Old', tbl_kav_courses.course_inactive_date  = '1/1/2006'  WHERE tbl_kav_courses.course_code = 'S-481' and tbl_kav_courses.risk_type = 'WF';"),
        Open(C), "ADDNEW", T(0, "WF"), T(1, "S-481"),
        T(2, "Incident Business Advisor"), T(3, "32"), T(4, "NATIONAL"),
        T(5, "CLASSROOM"), T(6, "1/1/2006"), "UPDATE",
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'P-130' and tbl_kav_courses.risk_type = 'WF';")}},
      {"IAMS retired with 1/1/2000", 76, 76,
       {Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = '1/1/2000' WHERE tbl_kav_courses.course_code = 'IAMS' and tbl_kav_courses.risk_type = 'WF';")}},
      {"S-212 combined, the S-234 retitle twice, S-248 with three assignments", 81, 84,
       {Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Wildland Fire Chainsaws', tbl_kav_courses.course_hours  = '30' WHERE tbl_kav_courses.course_code = 'S-212' and tbl_kav_courses.risk_type = 'WF';"),
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Ignition Operations' WHERE tbl_kav_courses.course_code = 'S-234' and tbl_kav_courses.risk_type = 'WF';"),
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_title  = 'Ignition Operations' WHERE tbl_kav_courses.course_code = 'S-234' and tbl_kav_courses.risk_type = 'WF';"),
        Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_hours  = '16', tbl_kav_courses.course_type  = 'CLASSROOM', tbl_kav_courses.course_active_date  = '1/1/2006' WHERE tbl_kav_courses.course_code = 'S-248' and tbl_kav_courses.risk_type = 'WF';")}},
      {"the four-code retirement", 89, 89,
       {Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = '1/1/2006' WHERE tbl_kav_courses.course_code in ('S-362','S-363','S-365','S-368') and tbl_kav_courses.risk_type = 'WF';")}},
      {"the last correction, then ACDP, the first position", 92, 94,
       {Exec("UPDATE tbl_kav_courses SET tbl_kav_courses.course_hours  = '16' WHERE tbl_kav_courses.course_code in ('S-260','S-261') and tbl_kav_courses.risk_type = 'WF';"),
        Open(J), "ADDNEW", T(0, "WF"), T(1, "ACDP"), T(2, "Aircraft Dispatcher"),
        T(3, "3"), T(4, "NATIONAL"), T(5, "1/1/2006"), T(7, "N"), T(8, "ED"),
        "UPDATE",
        Exec("UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Aircraft Dispatcher', tbl_kav_jobs_skills.job_cert_period  = '3', tbl_kav_jobs_skills.job_standard  = 'NATIONAL', tbl_kav_jobs_skills.job_active_date  = '1/1/2006', tbl_kav_jobs_skills.job_inactive_date  = '', tbl_kav_jobs_skills.job_fitness_requirement  = 'N', tbl_kav_jobs_skills.job_functional_area  = 'ED' WHERE tbl_kav_jobs_skills.job_code = 'ACDP' and tbl_kav_jobs_skills.job_risk_type = 'WF';")}},
      {"EMT: three characters, STATE, period 1", 117, 118,
       {Open(J), "ADDNEW", T(0, "WF"), T(1, "EMT"),
        T(2, "Emergency Medical Technician"), T(3, "1"), T(4, "STATE"),
        T(5, "1/1/2006"), T(7, "N"), T(8, "LS"), "UPDATE",
        Exec("UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Emergency Medical Technician', tbl_kav_jobs_skills.job_cert_period  = '1', tbl_kav_jobs_skills.job_standard  = 'STATE', tbl_kav_jobs_skills.job_active_date  = '1/1/2006', tbl_kav_jobs_skills.job_inactive_date  = '', tbl_kav_jobs_skills.job_fitness_requirement  = 'N', tbl_kav_jobs_skills.job_functional_area  = 'LS' WHERE tbl_kav_jobs_skills.job_code = 'EMT' and tbl_kav_jobs_skills.job_risk_type = 'WF';")}},
      {"the last pair, FWBM, ends the stage", 121, 122,
       {Open(J), "ADDNEW", T(0, "WF"), T(1, "FWBM"),
        T(2, "Fixed-Wing Base Manager"), T(3, "3"), T(4, "NATIONAL"),
        T(5, "1/1/2006"), T(7, "N"), T(8, "OS"), "UPDATE",
        Exec("UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Fixed-Wing Base Manager', tbl_kav_jobs_skills.job_cert_period  = '3', tbl_kav_jobs_skills.job_standard  = 'NATIONAL', tbl_kav_jobs_skills.job_active_date  = '1/1/2006', tbl_kav_jobs_skills.job_inactive_date  = '', tbl_kav_jobs_skills.job_fitness_requirement  = 'N', tbl_kav_jobs_skills.job_functional_area  = 'OS' WHERE tbl_kav_jobs_skills.job_code = 'FWBM' and tbl_kav_jobs_skills.job_risk_type = 'WF';")}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(kav::testing::TraceOfSteps(CourseChangesSteps(), c.first, c.last),
                ElementsAreArray(c.lines));
  }
  // The slices above sit where they should in the stage's whole trace.
  std::vector<std::string> whole = TraceLines(AllSteps());
  EXPECT_EQ(whole.size(), 52u * 3 + 383u + 70u);
  EXPECT_EQ(whole.front(), Open(C));
  EXPECT_EQ(whole.back(), cases[std::size(cases) - 1].lines.back());
}

// The column each position of a row writes, as its companion names it.
const std::map<int, std::string>& ColumnsOf(const std::string& table) {
  static const std::map<int, std::string> courses = {
      {2, "course_title"}, {3, "course_hours"},       {4, "course_standard"},
      {5, "course_type"},  {6, "course_active_date"}, {8, "course_refresher_period"}};
  static const std::map<int, std::string> positions = {
      {2, "job_title"},          {3, "job_cert_period"},   {4, "job_standard"},
      {5, "job_active_date"},    {6, "job_inactive_date"}, {7, "job_fitness_requirement"},
      {8, "job_functional_area"}};
  return table == "tbl_kav_courses" ? courses : positions;
}

// Every statement of the stage parses; each companion writes exactly its
// row's values (and, for a position, the empty retirement date) to the
// record of the row's code and risk type; only S-273 and the new S-481 go
// without one.
TEST(CourseChangesSql, EveryStatementParsesAndEveryCompanionMatchesItsRow) {
  namespace sql = dao::sql;
  std::vector<std::string> without_companion;
  for (size_t i = 0; i < AllSteps().size(); ++i) {
    if (const auto* step = std::get_if<SqlStep>(&AllSteps()[i])) {
      sql::Statement parsed;
      ASSERT_NO_THROW(parsed = sql::Parse(step->text)) << step->text;
      ASSERT_TRUE(std::holds_alternative<sql::UpdateStatement>(parsed));
      continue;
    }
    const auto& row = std::get<RowStep>(AllSteps()[i]);
    const bool course = row.table == "tbl_kav_courses";
    const std::string code = row.fields[1].value.AsText();
    const std::string risk = row.fields[0].value.AsText();
    const std::string prefix = course ? "course_" : "job_";

    sql::UpdateStatement companion;
    if (i + 1 < AllSteps().size()) {
      if (const auto* next = std::get_if<SqlStep>(&AllSteps()[i + 1])) {
        companion = std::get<sql::UpdateStatement>(sql::Parse(next->text));
      }
    }
    const std::vector<sql::Condition> selects_row = {
        {{row.table, prefix + "code"},
         sql::Condition::Op::kEquals,
         {{sql::Literal::Kind::kText, code}}},
        {{row.table, course ? "risk_type" : "job_risk_type"},
         sql::Condition::Op::kEquals,
         {{sql::Literal::Kind::kText, risk}}}};
    if (companion.where != selects_row) {
      without_companion.push_back(code);
      continue;
    }
    SCOPED_TRACE(code);
    std::map<int, std::string> values;
    for (const FieldValue& f : row.fields) {
      if (f.position >= 2) values[f.position] = f.value.ToString();
    }
    if (!course) values[6] = "";
    std::vector<sql::Assignment> expected;
    for (const auto& [position, value] : values) {
      expected.push_back({{row.table, ColumnsOf(row.table).at(position)},
                          sql::Literal{sql::Literal::Kind::kText, value}});
    }
    EXPECT_EQ(companion.table, row.table);
    EXPECT_EQ(companion.assignments, expected);
  }
  EXPECT_EQ(without_companion, (std::vector<std::string>{"S-273", "S-481"}));
}

}  // namespace
}  // namespace kav::stages
