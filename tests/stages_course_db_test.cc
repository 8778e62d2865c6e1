// The course and position catalogue stage on the sample database: the
// courses and positions it leaves, what it does to records already under its
// keys, a second run, and the rows its error rule leaves after a fault.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "tests/support/stage_fixture.h"

namespace kav::testing {
namespace {

using stages::CourseChangesSteps;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A course as Rows shows it: risk type, code, title, hours, standard, type,
// active date, inactive date, refresher period.
std::vector<std::string> Course(dao::Database& db, const std::string& code,
                                const std::string& risk) {
  return Rows(db,
              "SELECT tbl_kav_courses.risk_type, tbl_kav_courses.course_code, "
              "tbl_kav_courses.course_title, tbl_kav_courses.course_hours, "
              "tbl_kav_courses.course_standard, tbl_kav_courses.course_type, "
              "tbl_kav_courses.course_active_date, "
              "tbl_kav_courses.course_inactive_date, "
              "tbl_kav_courses.course_refresher_period FROM tbl_kav_courses "
              "WHERE tbl_kav_courses.course_code = '" +
                  code + "' and tbl_kav_courses.risk_type = '" + risk + "';");
}

// A position as Rows shows it, positions 0 to 8.
std::vector<std::string> Position(dao::Database& db, const std::string& code,
                                  const std::string& risk) {
  return Rows(db,
              "SELECT tbl_kav_jobs_skills.job_risk_type, "
              "tbl_kav_jobs_skills.job_code, tbl_kav_jobs_skills.job_title, "
              "tbl_kav_jobs_skills.job_cert_period, "
              "tbl_kav_jobs_skills.job_standard, "
              "tbl_kav_jobs_skills.job_active_date, "
              "tbl_kav_jobs_skills.job_inactive_date, "
              "tbl_kav_jobs_skills.job_fitness_requirement, "
              "tbl_kav_jobs_skills.job_functional_area FROM "
              "tbl_kav_jobs_skills WHERE tbl_kav_jobs_skills.job_code = '" +
                  code + "' and tbl_kav_jobs_skills.job_risk_type = '" + risk + "';");
}

size_t CourseCount(dao::Database& db) {
  return Rows(db, "SELECT tbl_kav_courses.course_code FROM tbl_kav_courses;").size();
}

size_t PositionCount(dao::Database& db) {
  return Rows(db, "SELECT tbl_kav_jobs_skills.job_code FROM tbl_kav_jobs_skills;").size();
}

// Adds a record of text values (Null for an empty one) through gdbUpdate.
void AddRecord(const std::string& table, const std::vector<std::string>& values) {
  dao::Recordset rs = gdbUpdate.OpenRecordset(table, dao::dbOpenTable);
  rs.AddNew();
  for (int i = 0; i < static_cast<int>(values.size()); ++i) {
    if (!values[i].empty()) rs.Fields(i).SetValue(values[i]);
  }
  rs.Update();
}

// The text of step `number`, counted from 1.
std::string TextOf(int number) { return NumberedSteps(CourseChangesSteps).TextOf(number); }

using CourseStageDb = OneStageTest<UpdateMDB_CourseChanges>;

TEST_F(CourseStageDb, LeavesTheCoursesAndPositionsOfTheTables) {
  ASSERT_EQ(CourseCount(gdbUpdate), 14u);
  ASSERT_EQ(PositionCount(gdbUpdate), 25u);
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  // 22 new courses of the first run (IS-100 under AR was there), 13 of the
  // second, the new S-481 beside the renamed old one; 15 new positions.
  EXPECT_EQ(CourseCount(gdbUpdate), 14u + 22u + 13u + 1u);
  EXPECT_EQ(PositionCount(gdbUpdate), 25u + 15u);

  const std::vector<std::vector<std::string>> courses = {
      {"WF", "A-207", "WF|A-207|Aviation Conference and Education|0|NATIONAL|CLASSROOM|1/1/2006||"},
      {"RX", "RX-341",
       "RX|RX-341|Prescribed Fire Burn Plan Preparation|32|NATIONAL|CLASSROOM|1/1/2006||"},
      {"AR", "IS-100", "AR|IS-100|Introduction to ICS|4|NATIONAL|CLASSROOM|1/1/2006||"},
      {"AR", "Q-462", "AR|Q-462|Introduction to ICS|4|NATIONAL|CLASSROOM|1/1/2006||"},
      {"WF", "P-101",
       "WF|P-101|Introduction to Wildfire Prevention|2|NATIONAL|CLASSROOM|1/1/1997||"},
      {"AR", "Q-463", "AR|Q-463|Basic ICS|8|NATIONAL|CLASSROOM|1/1/2006||"},
      {"WF", "RT-130",
       "WF|RT-130|Annual Fireline Safety Refresher|0|NATIONAL|CLASSROOM|1/1/2006||1"},
      {"WF", "RT-273", "WF|RT-273|SEAT Workshop (Triennial)|0|NATIONAL|CLASSROOM|1/1/2005||3"},
      {"WF", "RT-340",
       "WF|RT-340|Human Resources Specialist (Triennial)|0|NATIONAL|CLASSROOM|1/1/2006||3"},
      {"WF", "RT-372",
       "WF|RT-372|Helicopter Manager Workshop (Triennial)|0|NATIONAL|CLASSROOM|1/1/2005||3"},
      {"WF", "S-273", "WF|S-273|Single Engine Air Tanker Manager|32|NATIONAL|CLASSROOM|1/1/2006||"},
      {"WF", "S-290CD",
       "WF|S-290CD|Intermediate Fire Behavior CD ROM|0|NATIONAL|SELF STUDY|1/1/2000||"},
      {"WF", "NBHAV+", "WF|NBHAV+|BEHAVE Plus|8|NATIONAL|CLASSROOM|1/1/2006||"},
      // The old S-481 keeps everything but its code and gets a retirement
      // date; the new one holds the row's values.
      {"WF", "S-481Old",
       "WF|S-481Old|Incident Business Management|24|NATIONAL|CLASSROOM|1/1/1998|1/1/2006|"},
      {"WF", "S-481", "WF|S-481|Incident Business Advisor|32|NATIONAL|CLASSROOM|1/1/2006||"},
      // The corrections of the sample's courses.
      {"WF", "P-130", "WF|P-130|Prevention Basics|8|NATIONAL|CLASSROOM|1/1/1998|1/1/2006|"},
      {"WF", "IAMS",
       "WF|IAMS|Incident Automated Management|16|NATIONAL|CLASSROOM|1/1/1998|1/1/2000|"},
      {"WF", "J-357", "WF|J-357|Food Unit Leader|16|NATIONAL|CLASSROOM|1/1/1998||"},
      {"WF", "S-212", "WF|S-212|Wildland Fire Chainsaws|30|NATIONAL|CLASSROOM|1/1/1998||"},
      {"WF", "S-234", "WF|S-234|Ignition Operations|24|NATIONAL|CLASSROOM|1/1/1998||"},
      {"WF", "S-248", "WF|S-248|Status Check-In Recorder|16|NATIONAL|CLASSROOM|1/1/2006||"},
      // Named by no step.
      {"WF", "S-381",
       "WF|S-381|Leadership and Organizational Development|32|NATIONAL|CLASSROOM|1/1/1998||"},
  };
  for (const auto& c : courses) {
    EXPECT_THAT(Course(gdbUpdate, c[1], c[0]), ElementsAre(c[2]));
  }

  const std::vector<std::string> positions = {
      "WF|ACDP|Aircraft Dispatcher|3|NATIONAL|1/1/2006||N|ED",
      "WF|PETL|Fire Prevention Education Team Leader|5|NATIONAL|1/1/2006||N|PI",
      "WF|PETM|Fire Prevention Education Team Member|5|NATIONAL|1/1/2006||N|PI",
      "WF|FUM2|Fire Use Manager Type 2|5|NATIONAL|1/1/2006||M|CS",
      "WF|GISS|Geographic Information System Specialist|5|NATIONAL|1/1/2006||N|PS",
      "WF|HELM|Helicopter Manager|3|NATIONAL|1/1/2006||M|OS",
      "WF|HRSP|Human Resource Specialist|5|NATIONAL|1/1/2006||N|PS",
      "WF|IBA1|Incident Business Advisor Type 1|5|NATIONAL|1/1/2006||N|FS",
      "WF|IBA2|Incident Business Advisor Type 2|5|NATIONAL|1/1/2006||N|FS",
      "WF|IADP|Initial Attack Dispatcher|3|NATIONAL|1/1/2006||N|ED",
      "WF|STPS|Structure Protection Specialist|5|NATIONAL|1/1/2006||M|OS",
      "WF|INVF|Wildland Fire Investigator|5|NATIONAL|1/1/2006||L|PI",
      "WF|EMT|Emergency Medical Technician|1|STATE|1/1/2006||N|LS",
      "WF|ATBM|Air Tanker Base Manager|3|NATIONAL|1/1/2006||N|OS",
      "WF|FWBM|Fixed-Wing Base Manager|3|NATIONAL|1/1/2006||N|OS",
  };
  for (const std::string& p : positions) {
    const std::string code = p.substr(3, p.find('|', 3) - 3);
    EXPECT_THAT(Position(gdbUpdate, code, "WF"), ElementsAre(p));
  }
}

TEST_F(CourseStageDb, RecordsUnderARowsKeyAreBroughtToItsValuesOthersLeftAlone) {
  // IS-100 under AR is in the sample as "ICS Orientation", 3 hours.
  gdbUpdate.Execute(
      "UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = "
      "'1/1/2004', tbl_kav_courses.course_refresher_period  = '9' WHERE "
      "tbl_kav_courses.course_code = 'IS-100' and tbl_kav_courses.risk_type = "
      "'AR';");
  AddRecord("tbl_kav_courses",
            {"WF", "IS-100", "ICS Orientation", "3", "LOCAL", "CLASSROOM", "1/1/1998", "", ""});
  AddRecord("tbl_kav_courses", {"WF", "RT-340", "HR Refresher", "2", "LOCAL", "SELF STUDY",
                                "1/1/1999", "6/30/2005", "5"});
  AddRecord("tbl_kav_courses",
            {"WF", "S-273", "SEAT Manager", "24", "LOCAL", "SELF STUDY", "1/1/1999", "", ""});
  AddRecord("tbl_kav_courses",
            {"RX", "S-234", "Ignition", "8", "NATIONAL", "CLASSROOM", "1/1/1998", "", ""});
  // A retired HELM under WF, and one under RX.
  AddRecord("tbl_kav_jobs_skills",
            {"WF", "HELM", "Helo Manager", "5", "STATE", "1/1/1999", "12/31/2005", "A", "OS"});
  AddRecord("tbl_kav_jobs_skills",
            {"RX", "HELM", "Helo Manager", "5", "STATE", "1/1/1999", "12/31/2005", "A", "OS"});
  const size_t courses = CourseCount(gdbUpdate);
  const size_t positions = PositionCount(gdbUpdate);

  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  const std::vector<std::vector<std::string>> cases = {
      // The companion writes positions 2 to 6 only.
      {"AR", "IS-100", "AR|IS-100|Introduction to ICS|4|NATIONAL|CLASSROOM|1/1/2006|1/1/2004|9"},
      {"WF", "IS-100", "WF|IS-100|ICS Orientation|3|LOCAL|CLASSROOM|1/1/1998||"},
      // ... and the refresher period, as its digits.
      {"WF", "RT-340",
       "WF|RT-340|Human Resources Specialist (Triennial)|0|NATIONAL|CLASSROOM|1/1/2006|6/30/2005|3"},
      // No companion: the existing S-273 keeps every value.
      {"WF", "S-273", "WF|S-273|SEAT Manager|24|LOCAL|SELF STUDY|1/1/1999||"},
      // The corrections name risk type WF only.
      {"RX", "S-234", "RX|S-234|Ignition|8|NATIONAL|CLASSROOM|1/1/1998||"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(Course(gdbUpdate, c[1], c[0]), ElementsAre(c[2]));
  }
  EXPECT_THAT(Position(gdbUpdate, "HELM", "WF"),
              ElementsAre("WF|HELM|Helicopter Manager|3|NATIONAL|1/1/2006||M|OS"));
  EXPECT_THAT(Position(gdbUpdate, "HELM", "RX"),
              ElementsAre("RX|HELM|Helo Manager|5|STATE|1/1/1999|12/31/2005|A|OS"));
  // IS-100, RT-340, S-273 and HELM were skipped as duplicates.
  EXPECT_EQ(CourseCount(gdbUpdate), courses + 37u - 3u);
  EXPECT_EQ(PositionCount(gdbUpdate), positions + 15u - 1u);
}

// Every record of both catalogues, in order.
std::vector<std::string> Catalogues(dao::Database& db) {
  std::vector<std::string> out;
  for (const char* table : {"tbl_kav_courses", "tbl_kav_jobs_skills"}) {
    dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
    while (!rs.IsEOF()) {
      std::string row = table;
      for (int f = 0; f < rs.FieldCount(); ++f) {
        row += "|" + rs.Fields(f).GetValue().ToString();
      }
      out.push_back(row);
      rs.MoveNext();
    }
  }
  return out;
}

TEST_F(CourseStageDb, SecondRunAddsNothingAndChangesNothing) {
  const std::vector<std::string> trace = SecondRunTrace(Catalogues);
  // Every one of the 52 rows meets its key, and nothing else fails: the
  // rename, which now selects the new S-481, cannot give it the code
  // S-481Old that the old course holds, and leaves it without an error.
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "ERR\t3022"), 52);
  EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                          [](const std::string& l) { return l.starts_with("ERR"); }),
            52);
  EXPECT_THAT(Course(gdbUpdate, "S-481", "WF"),
              ElementsAre("WF|S-481|Incident Business Advisor|32|NATIONAL|CLASSROOM|1/1/2006||"));
}

// The error rule, one injected fault at a time, each on a fresh sample: the
// rows written up to the fault stay, none after it is written.
TEST_F(CourseStageDb, ErrorRule) {
  struct Check {
    bool course;  // else a position
    std::string risk, code;
    std::vector<std::string> rows;  // empty: absent
  };
  struct Case {
    FaultCase run;
    std::vector<Check> checks;
  };
  const std::string rename = TextOf(72);
  const std::string first_s234 = TextOf(82);
  const std::string emt_companion = TextOf(118);
  const std::vector<Case> cases = {
      {{"the table missing at the first open: nothing written",
        {{"OPEN\ttbl_kav_courses", 1, 3078, "The table was not found"}},
        true,
        {{3078, "The table was not found"}},
        {"OPEN\ttbl_kav_courses", "ERR\t3078"}},
       {{true, "WF", "A-207", {}},
        {true,
         "WF",
         "S-481",
         {"WF|S-481|Incident Business Management|24|NATIONAL|CLASSROOM|1/1/1998||"}}}},
      {{"a title its column refuses: that row is not stored, and no later one",
        {{"SET\t2\tT\tPrescribed Fire Burn Plan Preparation", 1, 3163, "Field too small"}},
        true,
        {{3163, "Field too small"}},
        {"ADDNEW", "SET\t0\tT\tRX", "SET\t1\tT\tRX-341",
         "SET\t2\tT\tPrescribed Fire Burn Plan Preparation", "ERR\t3163"}},
       {{true,
         "WF",
         "A-207",
         {"WF|A-207|Aviation Conference and Education|0|NATIONAL|CLASSROOM|1/1/2006||"}},
        {true, "RX", "RX-341", {}},
        {true, "WF", "D-311", {}}}},
      {{"an update refused: its pending record is dropped",
        {{"UPDATE", 3, 3201, "Related record required"}},
        true,
        {{3201, "Related record required"}},
        {"SET\t6\tT\t1/1/2005", "UPDATE", "ERR\t3201"}},
       {{true,
         "RX",
         "RX-341",
         {"RX|RX-341|Prescribed Fire Burn Plan Preparation|32|NATIONAL|CLASSROOM|1/1/2006||"}},
        {true, "WF", "D-311", {}}}},
      {{"the rename failing: the old S-481 stays and no new one is added",
        {{Exec(rename), 1, 3144, "Syntax error in UPDATE statement."}},
        true,
        {{3144, "Syntax error in UPDATE statement."}},
        {Exec(rename), "ERR\t3144"}},
       {{true, "WF", "NBHAV+", {"WF|NBHAV+|BEHAVE Plus|8|NATIONAL|CLASSROOM|1/1/2006||"}},
        {true,
         "WF",
         "S-481",
         {"WF|S-481|Incident Business Management|24|NATIONAL|CLASSROOM|1/1/1998||"}},
        {true, "WF", "S-481Old", {}},
        {true, "WF", "P-130", {"WF|P-130|Prevention Basics|8|NATIONAL|CLASSROOM|1/1/1998||"}}}},
      {{"a negative number at a position's companion: its row stays, the rest is not written",
        {{Exec(emt_companion), 1, -2147217900}},
        true,
        {{-2147217900, "Injected fault"}},
        {"SET\t8\tT\tLS", "UPDATE", Exec(emt_companion), "ERR\t-2147217900"}},
       {{false, "WF", "INVF", {"WF|INVF|Wildland Fire Investigator|5|NATIONAL|1/1/2006||L|PI"}},
        {false, "WF", "EMT", {"WF|EMT|Emergency Medical Technician|1|STATE|1/1/2006||N|LS"}},
        {false, "WF", "ATBM", {}}}},
      {{"a duplicate key at the first update is passed over",
        {{"UPDATE", 1, dao::kErrDuplicateKey}},
        false,
        {}},
       {{true, "WF", "A-207", {}},
        {true,
         "RX",
         "RX-341",
         {"RX|RX-341|Prescribed Fire Burn Plan Preparation|32|NATIONAL|CLASSROOM|1/1/2006||"}},
        {false, "WF", "FWBM", {"WF|FWBM|Fixed-Wing Base Manager|3|NATIONAL|1/1/2006||N|OS"}}}},
      {{"a duplicate key at a statement goes on with the next: the repeated retitle still applies",
        {{Exec(first_s234), 1, dao::kErrDuplicateKey}},
        false,
        {}},
       {{true, "WF", "S-234", {"WF|S-234|Ignition Operations|24|NATIONAL|CLASSROOM|1/1/1998||"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run.name);
    Reopen();
    ExpectFaultedRun(StageNamed("CourseChanges"), c.run);
    for (const Check& check : c.checks) {
      EXPECT_EQ(check.course ? Course(gdbUpdate, check.code, check.risk)
                             : Position(gdbUpdate, check.code, check.risk),
                check.rows)
          << check.code;
    }
  }
}

}  // namespace
}  // namespace kav::testing
