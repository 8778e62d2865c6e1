// The first two experience stages on the sample database: the rows and
// corrections they leave, a rerun, the rows their error rule leaves after a
// fault, and a missing table.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "tests/support/stage_fixture.h"
#include "update/update.h"

namespace kav::testing {
namespace {

using stages::Step;
using ::testing::IsEmpty;

constexpr const char* kTable = "tbl_kav_jobs_prereq_experiences";
constexpr const char* kTitle = "UpdateMDB_Jobs_Experience";

using Table = std::multiset<std::string>;

// The rows a stage's row steps write, as Rows shows them, in step order.
std::vector<std::string> StageRows(const std::vector<Step>& steps) {
  return RowTexts(steps, RowValues::kAnyType);
}

// Row `n` (from 1) of a stage.
std::string StageRow(const std::vector<Step>& steps, int n) { return StageRows(steps).at(n - 1); }

// The sample's own experience rows.
const std::vector<std::string> kSampleRows = {
    "RX|FUMA|WF|FUMA|TRN|1|NATIONAL", "RX|FUMA|WF|FEMO|JOB|1|NATIONAL",
    "WF|ABRO|WF|HECM|JOB|1|NATIONAL", "WF|HEB2|WF|HEMG|JOB|1|NATIONAL",
    "WF|ICT3|WF|ICT3|TRN|1|NATIONAL", "WF|ICT3|WF|ICT4|JOB|1|NATIONAL",
};

// The two stages as the shared suites see them.
const StageUnderTest& First() { return StageNamed("Experience1"); }
const StageUnderTest& Second() { return StageNamed("Experience2"); }

class ExperienceStageDb : public DriverDatabaseTest {
 protected:
  // Runs a stage with bFailed set beforehand, which the stage must clear.
  static bool Run(const StageUnderTest& stage) { return RunWithFailedSet(stage.procedure); }
};

TEST_F(ExperienceStageDb, LeavesItsRowsAndAppliesItsCorrections) {
  // Stored rows, each with what the first stage makes of it ("" for gone).
  const std::vector<std::pair<std::string, std::string>> stored = {
      // Correction 1: ABRO's HECM rows in every group, of either type.
      {"WF|ABRO|WF|HECM|TRN|3|LOCAL", ""},
      {"RX|ABRO|RX|HECM|JOB|2|NATIONAL", ""},
      {"WF|ABRO|WF|ABRO|TRN|1|NATIONAL", "WF|ABRO|WF|ABRO|TRN|1|NATIONAL"},
      // Corrections 2 and 4: HCWN's and HEMG's rows of risk type WF.
      {"WF|HCWN|WF|HCWN|TRN|1|NATIONAL", ""},
      {"WF|HCWN|RX|RXB1|JOB|2|NATIONAL", ""},
      {"RX|HCWN|WF|HCWN|TRN|1|NATIONAL", "RX|HCWN|WF|HCWN|TRN|1|NATIONAL"},
      {"WF|HEMG|WF|HEMG|TRN|1|NATIONAL", ""},
      {"RX|HEMG|WF|HEMG|TRN|1|NATIONAL", "RX|HEMG|WF|HEMG|TRN|1|NATIONAL"},
      // Rows naming HCWN or HEMG for another position stay.
      {"WF|ICT2|WF|HCWN|JOB|1|NATIONAL", "WF|ICT2|WF|HCWN|JOB|1|NATIONAL"},
      {"WF|CRWB|WF|HEMG|JOB|1|NATIONAL", "WF|CRWB|WF|HEMG|JOB|1|NATIONAL"},
      // Correction 3: HEB2's HEMG becomes HELM whatever the risk type.
      {"RX|HEB2|RX|HEMG|JOB|3|LOCAL", "RX|HEB2|RX|HELM|JOB|3|LOCAL"},
      // Correction 5: HLCO's HEMG rows of risk type WF only.
      {"WF|HLCO|WF|HEMG|JOB|2|NATIONAL", ""},
      {"RX|HLCO|WF|HEMG|JOB|2|NATIONAL", "RX|HLCO|WF|HEMG|JOB|2|NATIONAL"},
      {"WF|HLCO|WF|HLCO|TRN|1|NATIONAL", "WF|HLCO|WF|HLCO|TRN|1|NATIONAL"},
  };
  for (const auto& [before, after] : stored) AddExperienceRow(gdbUpdate, before);

  EXPECT_FALSE(Run(First()));
  Table expected = {
      "RX|FUMA|WF|FUMA|TRN|1|NATIONAL", "RX|FUMA|WF|FEMO|JOB|1|NATIONAL",
      "WF|HEB2|WF|HELM|JOB|1|NATIONAL",  // re-pointed
      "WF|ICT3|WF|ICT3|TRN|1|NATIONAL", "WF|ICT3|WF|ICT4|JOB|1|NATIONAL",
  };
  for (const auto& [before, after] : stored) {
    if (!after.empty()) expected.insert(after);
  }
  for (const std::string& row : StageRows(First().steps())) expected.insert(row);
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);

  // The second stage adds its 87 rows beside ICT3's group 1.
  EXPECT_FALSE(Run(Second()));
  for (const std::string& row : StageRows(Second().steps())) expected.insert(row);
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);
  EXPECT_THAT(boxes.boxes(), IsEmpty());
}

TEST_F(ExperienceStageDb, GroupNumbersAreStoredAsNumbers) {
  EXPECT_FALSE(Run(First()));
  EXPECT_FALSE(Run(Second()));
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"SELECT tbl_kav_jobs_prereq_experiences.jpe_p_job_code FROM "
       "tbl_kav_jobs_prereq_experiences WHERE "
       "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'ACDR' AND "
       "tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 3;",
       {"ACDR", "ICT1"}},
      {"SELECT tbl_kav_jobs_prereq_experiences.jpe_p_job_code FROM "
       "tbl_kav_jobs_prereq_experiences WHERE "
       "tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 29;",
       {"CRWB", "ICT4", "STCR", "TRPB", "ICT3"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Rows(gdbUpdate, c.sql), c.rows) << c.sql;
  }
  dao::Recordset rs = gdbUpdate.OpenRecordset(
      "SELECT tbl_kav_jobs_prereq_experiences.jpe_exp_group_no FROM "
      "tbl_kav_jobs_prereq_experiences WHERE "
      "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'ICT4';",
      dao::dbOpenForwardOnly);
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Fields(0).GetValue(), dao::Value(int16_t{5}));
}

// A rerun over a table that holds every row of the stage: each update is
// refused as a duplicate and skipped silently, rows 36 and 40 included,
// whose adds meet the recordset still holding the refused record.
TEST_F(ExperienceStageDb, RerunSkipsEveryRowSilently) {
  for (const StageUnderTest& stage : {First(), Second()}) {
    SCOPED_TRACE(stage.name);
    EXPECT_FALSE(Run(stage));
    Table after_first = ExperienceRows(gdbUpdate);
    TraceRecorder trace;
    EXPECT_FALSE(Run(stage));
    EXPECT_THAT(boxes.boxes(), IsEmpty());
    EXPECT_EQ(ExperienceRows(gdbUpdate), after_first);
    // The clean trace with ERR 3022 after every UPDATE.
    std::vector<std::string> expected;
    for (const std::string& line : stages::TraceLines(stage.steps())) {
      expected.push_back(line);
      if (line == "UPDATE") expected.push_back("ERR\t3022");
    }
    EXPECT_EQ(trace.lines(), expected);
  }
}

// Rows 35 and 39 already stored: their updates are refused, and rows 36 and
// 40 are still written through the same recordsets with their own values.
TEST_F(ExperienceStageDb, RowThroughARecordsetHoldingARefusedRecord) {
  const std::vector<Step>& steps = First().steps();
  AddExperienceRow(gdbUpdate, StageRow(steps, 35));
  AddExperienceRow(gdbUpdate, StageRow(steps, 39));
  TraceRecorder trace;
  EXPECT_FALSE(Run(First()));
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  Table expected(kSampleRows.begin(), kSampleRows.end());
  expected.erase("WF|ABRO|WF|HECM|JOB|1|NATIONAL");
  expected.erase("WF|HEB2|WF|HEMG|JOB|1|NATIONAL");
  expected.insert("WF|HEB2|WF|HELM|JOB|1|NATIONAL");
  for (const std::string& row : StageRows(steps)) expected.insert(row);
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);
  EXPECT_EQ(std::count(trace.lines().begin(), trace.lines().end(), "ERR\t3022"), 2);
  // Row 36 follows row 35's refused update directly with its add.
  auto at = std::find(trace.lines().begin(), trace.lines().end(), "ERR\t3022");
  ASSERT_NE(at, trace.lines().end());
  EXPECT_EQ(*(at + 1), "ADDNEW");
  EXPECT_EQ(*(at + 5), "SET\t3\tT\tICT4");
}

std::vector<int> Range(int first, int last) {
  std::vector<int> out;
  for (int n = first; n <= last; ++n) out.push_back(n);
  return out;
}

TEST_F(ExperienceStageDb, ErrorRule) {
  const std::string correction1 =
      "DELETE FROM tbl_kav_jobs_prereq_experiences WHERE "
      "tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'ABRO' AND "
      "tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HECM';";
  const std::string correction2 =
      "DELETE from tbl_kav_jobs_prereq_experiences WHERE "
      "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'HCWN' and "
      "tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';";
  const std::string correction3 =
      "UPDATE tbl_kav_jobs_prereq_experiences SET "
      "tbl_kav_jobs_prereq_experiences.jpe_p_job_code  = 'HELM' WHERE "
      "tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'HEB2' AND "
      "tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HEMG';";
  // Stored rows that show which corrections ran.
  const std::string abro = "WF|ABRO|WF|HECM|TRN|2|LOCAL";
  const std::string hcwn = "WF|HCWN|WF|HCWN|TRN|1|NATIONAL";
  const std::string heb2 = "WF|HEB2|WF|HEMG|JOB|1|NATIONAL";
  const std::string hemg = "WF|HEMG|WF|HEMG|TRN|1|NATIONAL";
  const std::string hlco = "WF|HLCO|WF|HEMG|JOB|1|NATIONAL";

  struct Case {
    const StageUnderTest* stage;
    FaultCase run;
    std::vector<int> written;                  // stage rows in the table
    std::vector<std::string> present, absent;  // stored rows
  };
  const std::vector<Case> cases = {
      {&First(),
       {"first stage: the first correction fails; nothing changes",
        {{Exec(correction1), 1, 3078}},
        true,
        {{3078, "Injected fault"}},
        {"EXEC\t0\t" + correction1, "ERR\t3078"}},
       {},
       {abro, hcwn, heb2},
       {}},
      {&First(),
       {"first stage: the third field of row 1 fails; nothing after it is done",
        {{"SET\t", 3, 3421}},
        true,
        {{3421, "Injected fault"}},
        {"OPEN\ttbl_kav_jobs_prereq_experiences", "ADDNEW", "SET\t0\tT\tWF", "SET\t1\tT\tACDR",
         "SET\t2\tT\tWF", "ERR\t3421"}},
       {},
       {hcwn, heb2},
       {abro}},
      {&First(),
       {"first stage: a duplicate at row 35's update; row 36 still written",
        {{"UPDATE", 35, dao::kErrDuplicateKey}},
        false,
        {},
        {}},
       [] {
         std::vector<int> rows = Range(1, 73);
         rows.erase(rows.begin() + 34);
         return rows;
       }(),
       {"WF|HEB2|WF|HELM|JOB|1|NATIONAL"},
       {abro, hcwn, heb2, hemg, hlco}},
      {&First(),
       {"first stage: another error at row 35's update; row 36 not tried",
        {{"UPDATE", 35, 3051}},
        true,
        {{3051, "Injected fault"}},
        {"SET\t6\tT\tNATIONAL", "UPDATE", "ERR\t3051"}},
       Range(1, 34),
       {hcwn},
       {abro}},
      {&First(),
       {"first stage: row 58's open fails after correction 4, before 5",
        {{"OPEN\t", 56, 3051}},
        true,
        {{3051, "Injected fault"}},
        {"UPDATE",
         "EXEC\t0\t"
         "DELETE from tbl_kav_jobs_prereq_experiences WHERE "
         "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'HEMG' and "
         "tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';",
         "OPEN\ttbl_kav_jobs_prereq_experiences", "ERR\t3051"}},
       Range(1, 57),
       {hlco, "WF|HEB2|WF|HELM|JOB|1|NATIONAL"},
       {abro, hcwn, heb2, hemg}},
      {&First(),
       {"first stage: a negative number at correction 3",
        {{Exec(correction3), 1, -2147217900}},
        true,
        {{-2147217900, "Injected fault"}},
        {"EXEC\t0\t" + correction2, "EXEC\t0\t" + correction3, "ERR\t-2147217900"}},
       Range(1, 54),
       {heb2, hemg},
       {abro, hcwn}},
      {&First(),
       {"first stage: 3022 is passed over whichever operation raises it",
        {{Exec(correction2), 1, dao::kErrDuplicateKey}},
        false,
        {},
        {}},
       Range(1, 73),
       {hcwn},
       {abro, heb2, hemg, hlco}},
      {&First(),
       {"first stage: a duplicate at the last update ends it normally",
        {{"UPDATE", 73, dao::kErrDuplicateKey}},
        false,
        {},
        {"SET\t6\tT\tNATIONAL", "UPDATE", "ERR\t3022"}},
       Range(1, 72),
       {},
       {hlco}},
      {&Second(),
       {"second stage: the first open fails",
        {{"OPEN\t", 1, 3078}},
        true,
        {{3078, "Injected fault"}},
        {"OPEN\ttbl_kav_jobs_prereq_experiences", "ERR\t3078"}},
       {},
       {},
       {}},
      {&Second(),
       {"second stage: a field of row 40 fails",
        {{"SET\t", 39 * 7 + 4, 3163}},
        true,
        {{3163, "Injected fault"}},
        {"ADDNEW", "SET\t0\tT\tWF", "SET\t1\tT\tICT3", "SET\t2\tT\tWF", "SET\t3\tT\tICT3",
         "ERR\t3163"}},
       Range(1, 39),
       {},
       {}},
      {&Second(),
       {"second stage: a duplicate at row 87's update",
        {{"UPDATE", 87, dao::kErrDuplicateKey}},
        false,
        {},
        {"UPDATE", "ERR\t3022"}},
       Range(1, 86),
       {},
       {}},
      {&Second(),
       {"second stage: a duplicate at row 10, then a failure at row 20",
        {{"UPDATE", 10, dao::kErrDuplicateKey}, {"UPDATE", 20, 3051}},
        true,
        {{3051, "Injected fault"}},
        {"SET\t6\tT\tNATIONAL", "UPDATE", "ERR\t3051"}},
       [] {
         std::vector<int> rows = Range(1, 19);
         rows.erase(rows.begin() + 9);
         return rows;
       }(),
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run.name);
    Reopen();
    for (const std::string& row : {abro, hcwn, hemg, hlco}) {
      AddExperienceRow(gdbUpdate, row);
    }
    ExpectFaultedRun(*c.stage, c.run);

    Table table = ExperienceRows(gdbUpdate);
    std::vector<std::string> rows = StageRows(c.stage->steps());
    std::set<int> written(c.written.begin(), c.written.end());
    for (int n = 1; n <= static_cast<int>(rows.size()); ++n) {
      EXPECT_EQ(table.count(rows[n - 1]), written.count(n)) << "row " << n << " " << rows[n - 1];
    }
    ExpectRowsPresentAndAbsent(table, c.present, c.absent);
  }
}

TEST_F(ExperienceStageDb, MissingTableShowsTheEnginesError) {
  for (const StageUnderTest& stage : {First(), Second()}) {
    SCOPED_TRACE(stage.name);
    Reopen();
    gdbUpdate.TableDefs().Delete(kTable);
    TraceRecorder trace;
    EXPECT_TRUE(Run(stage));
    // The first operation fails: the first stage's correction, the second
    // stage's open; nothing follows it.
    ASSERT_EQ(trace.lines().size(), 2u);
    ASSERT_EQ(trace.lines()[1].rfind("ERR\t", 0), 0u);
    long number = std::stol(trace.lines()[1].substr(4));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, kTitle);
    EXPECT_EQ(boxes.boxes()[0].style, 0);
    EXPECT_EQ(boxes.boxes()[0].prompt.rfind(kav::StrNumber(number) + "  :  ", 0), 0u)
        << boxes.boxes()[0].prompt;
  }
}

}  // namespace
}  // namespace kav::testing
