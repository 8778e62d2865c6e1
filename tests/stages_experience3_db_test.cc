// The third experience stage on the sample database: what its corrections
// do to stored rows, the rows it leaves, the rows its error rule leaves
// after a fault, and a rerun.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "tests/support/stage_fixture.h"
#include "update/update.h"

namespace kav::testing {
namespace {

using stages::Experience3Steps;
using ::testing::IsEmpty;

using Table = std::multiset<std::string>;

// The text of step `number`, counted from 1.
std::string TextOf(int number) { return NumberedSteps(Experience3Steps).TextOf(number); }

// Every row the stage's row steps write, as Rows shows it: the group number
// comes back as the number the column stores.
Table InsertedRows() {
  std::vector<std::string> rows = RowTexts(Experience3Steps());
  return Table(rows.begin(), rows.end());
}

int ErrLines(const std::vector<std::string>& lines) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("ERR", 0) == 0; }));
}

using Experience3StageDb = OneStageTest<UpdateMDB_Jobs_Experience3>;

TEST_F(Experience3StageDb, AddsItsRowsBesideTheStoredOnes) {
  Table expected = ExperienceRows(gdbUpdate);
  const Table inserted = InsertedRows();
  ASSERT_EQ(inserted.size(), 48u);
  expected.insert(inserted.begin(), inserted.end());
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);
  // Digit text assigned to the group comes back as a number a bare
  // comparison selects.
  EXPECT_THAT(Rows(gdbUpdate,
                   "SELECT tbl_kav_jobs_prereq_experiences.jpe_p_job_code "
                   "FROM tbl_kav_jobs_prereq_experiences WHERE "
                   "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'SITL' and "
                   "tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 13;"),
              ::testing::UnorderedElementsAre("SITL", "ICT4", "CRWB", "TRPB"));
}

// Stored rows, each with what the stage's corrections make of it ("" for
// gone).
TEST_F(Experience3StageDb, CorrectionsTouchExactlyTheRowsTheyName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // ICT5's FFT1 becomes FFT2 in every group; nothing else of the row
      // changes.
      {"WF|ICT5|WF|FFT1|JOB|1|LOCAL", "WF|ICT5|WF|FFT2|JOB|1|LOCAL"},
      {"WF|ICT5|RX|FFT1|TRN|4|NATIONAL", "WF|ICT5|RX|FFT2|TRN|4|NATIONAL"},
      {"WF|ICT5|WF|FFT3|JOB|1|NATIONAL", "WF|ICT5|WF|FFT3|JOB|1|NATIONAL"},
      {"WF|ICT3|WF|FFT1|JOB|2|NATIONAL", "WF|ICT3|WF|FFT1|JOB|2|NATIONAL"},
      // The old codes of PIO1, PIO2, PIOF, and LOFR lose their WF rows only.
      {"WF|IOF1|WF|IOF1|TRN|1|NATIONAL", ""},
      {"WF|IOF2|WF|ICT4|JOB|3|NATIONAL", ""},
      {"WF|IOF3|WF|IOF3|TRN|1|NATIONAL", ""},
      {"WF|LOFR|WF|LOFR|TRN|2|NATIONAL", ""},
      {"RX|IOF1|WF|IOF1|TRN|1|NATIONAL", "RX|IOF1|WF|IOF1|TRN|1|NATIONAL"},
      {"RX|LOFR|WF|FIRB|JOB|1|NATIONAL", "RX|LOFR|WF|FIRB|JOB|1|NATIONAL"},
      // PIO2 loses PIOF in every group, whatever the risk type.
      {"WF|PIO2|WF|PIOF|JOB|2|NATIONAL", ""},
      {"RX|PIO2|WF|PIOF|JOB|5|NATIONAL", ""},
      {"WF|PIO2|WF|FIRB|JOB|2|NATIONAL", "WF|PIO2|WF|FIRB|JOB|2|NATIONAL"},
      {"WF|PIOF|WF|PIO2|JOB|2|NATIONAL", "WF|PIOF|WF|PIO2|JOB|2|NATIONAL"},
      // LTAN's group 3 goes whole; of group 2 only RXI1.
      {"WF|LTAN|WF|LTAN|TRN|3|NATIONAL", ""},
      {"RX|LTAN|RX|RXB2|JOB|3|LOCAL", ""},
      {"WF|LTAN|WF|LTAN|TRN|2|NATIONAL", "WF|LTAN|WF|LTAN|TRN|2|NATIONAL"},
      {"WF|LTAN|WF|LTAN|TRN|4|NATIONAL", "WF|LTAN|WF|LTAN|TRN|4|NATIONAL"},
      {"WF|LTAN|WF|RXI1|JOB|2|NATIONAL", ""},
      {"WF|LTAN|WF|RXI1|JOB|1|NATIONAL", "WF|LTAN|WF|RXI1|JOB|1|NATIONAL"},
      {"WF|LTAN|WF|HELB|JOB|2|NATIONAL", "WF|LTAN|WF|HELB|JOB|2|NATIONAL"},
      // MEDL's EMTB becomes the three-letter EMT in every group.
      {"WF|MEDL|WF|EMTB|JOB|1|NATIONAL", "WF|MEDL|WF|EMT|JOB|1|NATIONAL"},
      {"WF|MEDL|WF|EMTB|JOB|3|LOCAL", "WF|MEDL|WF|EMT|JOB|3|LOCAL"},
      {"WF|EMTB|WF|EMTB|TRN|1|NATIONAL", "WF|EMTB|WF|EMTB|TRN|1|NATIONAL"},
      // RXB1 loses ICT3 in group 1 only.
      {"RX|RXB1|WF|ICT3|JOB|1|NATIONAL", ""},
      {"RX|RXB1|WF|ICT3|JOB|2|NATIONAL", "RX|RXB1|WF|ICT3|JOB|2|NATIONAL"},
      {"RX|RXB1|WF|ICT4|JOB|1|NATIONAL", "RX|RXB1|WF|ICT4|JOB|1|NATIONAL"},
      // RXB2 loses RXI2 in every group (the text without a blank before
      // "and" runs as written), and keeps RXI1.
      {"RX|RXB2|WF|RXI2|JOB|1|NATIONAL", ""},
      {"RX|RXB2|WF|RXI2|JOB|3|NATIONAL", ""},
      {"RX|RXB2|RX|RXB2|TRN|1|NATIONAL", "RX|RXB2|RX|RXB2|TRN|1|NATIONAL"},
      {"RX|RXB2|WF|RXI1|JOB|2|NATIONAL", "RX|RXB2|WF|RXI1|JOB|2|NATIONAL"},
      // RXI1 and RXI2 go whole; another position naming them keeps its row.
      {"WF|RXI1|WF|RXI1|TRN|1|NATIONAL", ""},
      {"RX|RXI1|WF|ICT4|JOB|2|NATIONAL", ""},
      {"WF|RXI2|WF|RXI2|TRN|5|NATIONAL", ""},
      {"WF|HELB|WF|RXI2|JOB|1|NATIONAL", "WF|HELB|WF|RXI2|JOB|1|NATIONAL"},
      // TFLD loses FIRB in group 3 only.
      {"WF|TFLD|WF|FIRB|JOB|3|NATIONAL", ""},
      {"WF|TFLD|WF|FIRB|JOB|2|NATIONAL", "WF|TFLD|WF|FIRB|JOB|2|NATIONAL"},
      {"WF|TFLD|WF|TFLD|TRN|3|NATIONAL", "WF|TFLD|WF|TFLD|TRN|3|NATIONAL"},
  };
  Table expected = ExperienceRows(gdbUpdate);
  for (const auto& [before, after] : cases) {
    AddExperienceRow(gdbUpdate, before);
    if (!after.empty()) expected.insert(after);
  }
  const Table inserted = InsertedRows();
  expected.insert(inserted.begin(), inserted.end());

  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(ErrLines(trace.lines()), 0);
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);
}

TEST_F(Experience3StageDb, RePointingThatCollidesLeavesThatRowWithoutError) {
  // Re-pointing the first row would give it the key of the second; the
  // third has a key of its own and is re-pointed.
  AddExperienceRow(gdbUpdate, "WF|ICT5|WF|FFT1|JOB|2|NATIONAL");
  AddExperienceRow(gdbUpdate, "WF|ICT5|WF|FFT2|JOB|2|OLD");
  AddExperienceRow(gdbUpdate, "WF|ICT5|WF|FFT1|JOB|3|NATIONAL");
  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(ErrLines(trace.lines()), 0);

  Table ict5;
  for (const std::string& row : ExperienceRows(gdbUpdate)) {
    if (row.rfind("WF|ICT5|", 0) == 0) ict5.insert(row);
  }
  EXPECT_EQ(ict5, (Table{"WF|ICT5|WF|FFT1|JOB|2|NATIONAL", "WF|ICT5|WF|FFT2|JOB|2|OLD",
                         "WF|ICT5|WF|FFT2|JOB|3|NATIONAL"}));
}

TEST_F(Experience3StageDb, ErrorRule) {
  struct Case {
    FaultCase run;
    std::vector<std::string> present, absent;  // stored and stage rows
  };
  // Stored rows that show which corrections ran.
  const std::vector<std::string> stored = {
      "WF|ICT5|WF|FFT1|JOB|1|LOCAL",     // re-pointed by step 1
      "WF|IOF1|WF|IOF1|TRN|1|NATIONAL",  // step 2
      "WF|LTAN|WF|LTAN|TRN|3|NATIONAL",  // step 9
      "RX|RXB2|WF|RXI2|JOB|2|NATIONAL",  // step 14
      "WF|RXI1|WF|RXI1|TRN|1|NATIONAL",  // step 15
      "WF|TFLD|WF|FIRB|JOB|3|NATIONAL",  // step 33
  };
  const std::string first_row = "WF|PIO1|WF|PIO1|TRN|1|NATIONAL";   // step 4
  const std::string second_row = "WF|PIO1|WF|PIO2|JOB|1|NATIONAL";  // step 5
  const std::string ltan_row = "WF|LTAN|WF|FIRB|JOB|2|NATIONAL";    // step 8
  const std::string rxb2_row = "RX|RXB2|WF|FIRB|JOB|1|NATIONAL";    // step 13
  const std::string step19 = "WF|SITL|WF|CRWB|JOB|12|NATIONAL";
  const std::string step20 = "WF|SITL|WF|HELB|JOB|12|NATIONAL";
  const std::string step21 = "WF|SITL|WF|SITL|TRN|13|NATIONAL";
  const std::string step58 = "WF|IBA2|WF|IBA2|TRN|1|NATIONAL";
  const std::string last_row = "WF|SEMG|WF|SEMG|TRN|1|NATIONAL";  // step 59
  // Rows 1 to 9 come before step 20: 9 * 7 fields, then its fourth.
  const int step20_p_job = 9 * 7 + 4;

  const std::vector<Case> cases = {
      {{"duplicate key at the first row's update is skipped",
        {{"UPDATE", 1, dao::kErrDuplicateKey}},
        false,
        {},
        {}},
       {second_row, last_row, "WF|ICT5|WF|FFT2|JOB|1|LOCAL"},
       {first_row, "WF|RXI1|WF|RXI1|TRN|1|NATIONAL"}},
      {{"duplicate key at the last operation ends the stage normally",
        {{"UPDATE", 48, dao::kErrDuplicateKey}},
        false,
        {},
        {"SET\t6\tT\tNATIONAL", "UPDATE", "ERR\t3022"}},
       {step58},
       {last_row}},
      {{"failure at the first operation leaves the table as found",
        {{"EXEC\t0\t", 1, 3078, "The table was not found"}},
        true,
        {{3078, "The table was not found"}},
        {"EXEC\t0\t" + TextOf(1), "ERR\t3078"}},
       {"WF|ICT5|WF|FFT1|JOB|1|LOCAL", "WF|IOF1|WF|IOF1|TRN|1|NATIONAL"},
       {"WF|ICT5|WF|FFT2|JOB|1|LOCAL", first_row}},
      {{"failure at the first open keeps the corrections before it",
        {{"OPEN\t", 1, 3051, "Table is locked"}},
        true,
        {{3051, "Table is locked"}},
        {"EXEC\t0\t" + TextOf(3), "OPEN\ttbl_kav_jobs_prereq_experiences", "ERR\t3051"}},
       {"WF|ICT5|WF|FFT2|JOB|1|LOCAL", "WF|LTAN|WF|LTAN|TRN|3|NATIONAL"},
       {"WF|IOF1|WF|IOF1|TRN|1|NATIONAL", first_row}},
      {{"failure at a field of step 20: neither that row nor a later step is written",
        {{"SET\t", step20_p_job, 3163, "Field too small"}},
        true,
        {{3163, "Field too small"}},
        {"ADDNEW", "SET\t0\tT\tWF", "SET\t1\tT\tSITL", "SET\t2\tT\tWF", "SET\t3\tT\tHELB",
         "ERR\t3163"}},
       {first_row, ltan_row, rxb2_row, step19, "WF|TFLD|WF|FIRB|JOB|3|NATIONAL"},
       {step20, step21, "WF|RXI1|WF|RXI1|TRN|1|NATIONAL", "RX|RXB2|WF|RXI2|JOB|2|NATIONAL"}},
      {{"negative number at the add of step 13",
        {{"ADDNEW", 6, -2147217900}},
        true,
        {{-2147217900, "Injected fault"}},
        {"OPEN\ttbl_kav_jobs_prereq_experiences", "ADDNEW", "ERR\t-2147217900"}},
       {ltan_row, "RX|RXB2|WF|RXI2|JOB|2|NATIONAL"},
       {rxb2_row, "WF|LTAN|WF|LTAN|TRN|3|NATIONAL"}},
      {{"skips then one failure show one box",
        {{"UPDATE", 2, dao::kErrDuplicateKey}, {Exec(TextOf(14)), 1, 3050, "Could not lock file"}},
        true,
        {{3050, "Could not lock file"}},
        {"EXEC\t0\t" + TextOf(14), "ERR\t3050"}},
       {first_row, ltan_row, rxb2_row, "RX|RXB2|WF|RXI2|JOB|2|NATIONAL",
        "WF|RXI1|WF|RXI1|TRN|1|NATIONAL"},
       {second_row, "WF|ICT5|WF|FFT1|JOB|1|LOCAL"}},
      {{"failure at the update of the last row",
        {{"UPDATE", 48, 3314, "Field cannot be empty"}},
        true,
        {{3314, "Field cannot be empty"}},
        {"UPDATE", "ERR\t3314"}},
       {step58, "WF|ICT5|WF|FFT2|JOB|1|LOCAL"},
       {last_row, "WF|TFLD|WF|FIRB|JOB|3|NATIONAL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run.name);
    Reopen();
    for (const std::string& row : stored) AddExperienceRow(gdbUpdate, row);
    ExpectFaultedRun(StageNamed("Experience3"), c.run);
    Table table = ExperienceRows(gdbUpdate);
    ExpectRowsPresentAndAbsent(table, c.present, c.absent);
  }
}

TEST_F(Experience3StageDb, StoredRowsAreSkippedSilentlyAndARerunChangesNothing) {
  // Only the last row is there already, with another standard: it is
  // skipped at its update and keeps what it holds.
  AddExperienceRow(gdbUpdate, "WF|SEMG|WF|SEMG|TRN|1|LOCAL");
  Table expected = ExperienceRows(gdbUpdate);
  Table inserted = InsertedRows();
  inserted.erase(inserted.find("WF|SEMG|WF|SEMG|TRN|1|NATIONAL"));
  expected.insert(inserted.begin(), inserted.end());
  {
    TraceRecorder trace;
    EXPECT_FALSE(RunStage());
    std::vector<std::string> clean = stages::TraceLines(Experience3Steps());
    clean.push_back("ERR\t3022");
    EXPECT_EQ(trace.lines(), clean);
  }
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);

  // A second run finds all 48 rows there and nothing left to correct.
  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(std::count(trace.lines().begin(), trace.lines().end(), std::string("ERR\t3022")), 48);
  EXPECT_EQ(ErrLines(trace.lines()), 48);
  EXPECT_EQ(ExperienceRows(gdbUpdate), expected);
}

}  // namespace
}  // namespace kav::testing
