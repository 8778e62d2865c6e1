// The second training stage on the sample database: its error rule
// operation by operation, the prerequisites it leaves, what its corrections
// do to rows already in the table, and a second run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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

using stages::Training2Steps;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;

std::string TextOf(int number) { return NumberedSteps(Training2Steps).TextOf(number); }

// The trace lines of steps first..last.
std::vector<std::string> StepTrace(int first, int last) {
  return TraceOfSteps(Training2Steps(), first, last);
}

// The rows the stage's row steps write, as AllPrerequisites shows them.
std::vector<std::string> StageRows() { return DistinctRowTexts(Training2Steps()); }

using Training2StageDb = OneStageTest<UpdateMDB_Jobs_Training2>;

TEST_F(Training2StageDb, LeavesItsRowsBesideTheSampleRows) {
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  // The sample's rows stay, but for HEB2's S-381 row, which the stage turns
  // into L-380 keeping its type.
  std::vector<std::string> expected = StageRows();
  ASSERT_EQ(expected.size(), 124u);  // INVF / FI-210 is written twice
  for (const char* row : {"WF|FUMA|WF|S-481|ST|NATIONAL", "WF|FUMA|WF|S-290|ST|NATIONAL",
                          "RX|RXB2|WF|S-381|ST|NATIONAL", "WF|RXI1|WF|S-234|ST|NATIONAL",
                          "WF|AOBD|WF|S-481|ST|NATIONAL", "WF|HEB2|WF|L-380|ST|NATIONAL",
                          "WF|ICT3|WF|S-290|ST|NATIONAL", "WF|FFT2|WF|I-100|ST|NATIONAL"}) {
    expected.push_back(row);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(AllPrerequisites(gdbUpdate), expected);

  // A few rows by hand: the first, the one through step 67's recordset, the
  // RT- course of type ST, and the last.
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "GSUL"), ElementsAre("L-380|ST"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "INVF"),
              ElementsAre("FI-110|ST", "FI-210|RT", "I-200|ST", "S-190|ST"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "SEMG"),
              ElementsAre("D-110|ST", "I-100|ST", "I-200|ST", "L-180|ST", "RT-273|ST", "S-130|ST",
                          "S-190|ST", "S-270|RT", "S-273|RT"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "TRPB"), ElementsAre("L-280|ST", "RT-130|RT"));
}

// Rows a v4.0 database may hold for the positions the corrections name, and
// what each position holds after the stage.
TEST_F(Training2StageDb, CorrectionsActOnTheRowsAlreadyThere) {
  ExpectPrerequisitesAfterStage({
      // Steps 1-3: J-355 and S-381 go, L-380 comes; the first stage's S-355
      // stays.
      {"GSUL", {{"J-355", "ST"}, {"S-381", "RT"}, {"S-355", "ST"}}, {"L-380|ST", "S-355|ST"}},
      // Step 4: every row goes.
      {"HCWN", {{"S-211", "ST"}, {"I-100", "RT"}}, {}},
      // Step 6 names HEB2 alone: HEB1 keeps its S-381 beside its new row.
      {"HEB1", {{"S-381", "RT"}}, {"RT-130|RT", "S-381|RT"}},
      // Steps 48-50: S-300 is set to RT; other rows stay.
      {"ICT3", {{"S-300", "ST"}}, {"L-381|ST", "RT-130|RT", "S-290|ST", "S-300|RT"}},
      // Steps 51-55: the older S-200 refuses step 51's row and is set to RT;
      // S-215 is deleted whatever its type and inserted again as ST.
      {"ICT4", {{"S-200", "ST"}, {"S-215", "RT"}}, {"RT-130|RT", "S-200|RT", "S-215|ST"}},
      // Step 47: both codes of the old S-481 go; the new rows stay.
      {"ICT2",
       {{"S-481", "ST"}, {"S-481Old", "RT"}, {"S-290", "ST"}},
       {"L-480|ST", "RT-130|RT", "S-290|ST"}},
      // Step 137: SOF3's I-300 goes, SOFR's I-300 of step 135 stays.
      {"SOF3", {{"I-300", "ST"}, {"S-290", "ST"}}, {"S-290|ST"}},
      {"SOFR", {}, {"I-300|ST", "RT-130|RT"}},
      // Steps 82-85: L-380 first, then S-359 set to RT and S-381 deleted.
      {"MEDL", {{"S-359", "ST"}, {"S-381", "ST"}}, {"L-380|ST", "S-359|RT"}},
      // Step 163: TNSP's S-381 gives way to L-180.
      {"TNSP", {{"S-381", "ST"}}, {"L-180|ST"}},
      // Step 90: OSC2 loses S-481Old.
      {"OSC2", {{"S-481Old", "ST"}}, {"L-480|ST", "RT-130|RT"}},
  });
  // The sample's HEB2 / S-381 row is changed in place, with its type.
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "HEB2"), ElementsAre("L-380|ST", "RT-130|RT"));
}

// A second run over a table the stage has already brought up to date:
// every row meets its key but ICT4 / S-215, which step 54 deletes and step
// 55 inserts again; nothing is shown and the table ends the same.
TEST_F(Training2StageDb, SecondRunChangesNothingAndShowsNothing) {
  const std::vector<std::string> trace = SecondRunTrace(AllPrerequisites);

  // ERR 3022 after every UPDATE but step 55's.
  std::vector<std::string> expected;
  const std::vector<std::string> lines = StepTrace(1, 165);
  const size_t after_55 = StepTrace(1, 55).size();
  for (size_t i = 0; i < lines.size(); ++i) {
    expected.push_back(lines[i]);
    if (lines[i] == "UPDATE" && i + 1 != after_55) {
      expected.push_back("ERR\t3022");
    }
  }
  EXPECT_EQ(trace, expected);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), "ERR\t3022"), 124);
}

// The error rule, one injected failure (or two) at a time, each on a fresh
// sample: the stage goes on after each, to its last step.
TEST_F(Training2StageDb, ErrorRuleGoesOnAfterEveryFailure) {
  ExpectTrainingFaultCases({
      {{"a field assignment fails: the row is stored without it",
        {{"SET\t4\t", 1, 3163, "The field is too small"}},
        true,
        {{3163, "The field is too small"}}},
       "GSUL",
       {"L-380|"}},
      {{"an execute fails: the next step runs",
        {{Exec(TextOf(1)), 1, 3075, "Syntax error in query expression"}},
        true,
        {{3075, "Syntax error in query expression"}}},
       "GSUL",
       {"L-380|ST"}},
      {{"a duplicate key after a reported failure shows nothing more",
        {{Exec(TextOf(1)), 1, 3075}, {"UPDATE", 1, dao::kErrDuplicateKey}},
        true,
        {{3075, "Injected fault"}}},
       "GSUL",
       {}},
      {{"two failures show two boxes in order; the last operation fails too",
        {{Exec(TextOf(4)), 1, 3075}, {"UPDATE", 125, -2147467259, ""}},
        true,
        {{3075, "Injected fault"}, {-2147467259, ""}}},
       "TRPB",
       {"RT-130|RT"}},
  });
}

}  // namespace
}  // namespace kav::testing
