// The first training stage on the sample database: its error rule
// operation by operation, the prerequisites it leaves, what its corrections
// do to rows already in the table, a second run, and a box that cannot be
// shown as the driver meets it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

using stages::RowStep;
using stages::Training1Steps;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kTitle = "UpdateMDB_Jobs_Training";
constexpr const char* kOpen = "OPEN\ttbl_kav_jobs_prereq_training";

std::string TextOf(int number) { return NumberedSteps(Training1Steps).TextOf(number); }

// The number of calls of `kind` among steps 1..n, to aim a fault.
int CallsThrough(int n, const std::string& prefix) {
  const std::vector<std::string> lines = TraceOfSteps(Training1Steps(), 1, n);
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.starts_with(prefix);
  }));
}

// The distinct rows the stage's row steps write.
std::vector<std::string> StageRows() { return DistinctRowTexts(Training1Steps()); }

// The box the stage shows for an error, as Shown writes it.
std::string StageBox(long number, const std::string& description) {
  return ShownErrorBox(kTitle, number, description);
}

using Training1StageDb = OneStageTest<UpdateMDB_Jobs_Training1>;

TEST_F(Training1StageDb, LeavesItsRowsAndTheCorrectedSampleRows) {
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  std::vector<std::string> expected = StageRows();
  ASSERT_EQ(expected.size(), 77u);  // FIRB's two rows are written twice
  // Of the sample's rows: RXB2's S-381 is removed, RXI1 cleared, AOBD's
  // S-481 removed, FFT2's I-100 retyped to RT; the others stay.
  for (const char* row : {"WF|FUMA|WF|S-481|ST|NATIONAL", "WF|FUMA|WF|S-290|ST|NATIONAL",
                          "WF|HEB2|WF|S-381|ST|NATIONAL", "WF|ICT3|WF|S-290|ST|NATIONAL",
                          "WF|FFT2|WF|I-100|RT|NATIONAL"}) {
    expected.push_back(row);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(AllPrerequisites(gdbUpdate), expected);

  // A few positions by hand: the RX rows, FIRB once each, the first run's
  // last position, the FUM2/FUM1 types and the last row.
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "RXB2"),
              ElementsAre("L-380|ST", "RT-130|RT", "RX-341|ST"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "FEMO"), ElementsAre("RT-130|RT", "RX-310|ST"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "FIRB"),
              ElementsAre("I-200|ST", "L-280|ST", "RT-130|RT", "S-230|RT", "S-234|ST", "S-260|ST",
                          "S-270|ST", "S-290|RT"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "AOBD"), ElementsAre("L-480|ST"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "RXI1"), IsEmpty());
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "FUM2"), ElementsAre("M-581|ST", "RT-130|RT", "S-580|RT"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "FUM1"), ElementsAre("M-581|RT", "RT-130|RT", "S-580|RT"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "GSUL"), ElementsAre("S-355|ST"));
  EXPECT_THAT(Rows(gdbUpdate,
                   "SELECT tbl_kav_jobs_prereq_training.jpt_risk_type, "
                   "tbl_kav_jobs_prereq_training.jpt_p_risk_type FROM "
                   "tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_job_code = 'LTAN';"),
              ElementsAre("WF|WF", "WF|WF", "WF|WF"));
}

// Rows a v4.0 database may hold for the positions the corrections name, and
// what each position holds after the stage.
TEST_F(Training1StageDb, CorrectionsActOnTheRowsAlreadyThere) {
  ExpectPrerequisitesAfterStage({
      // The list removal takes the old course under both codes.
      {"AOBD", {{"S-481Old", "RT"}, {"S-290", "ST"}}, {"L-480|ST", "S-290|ST"}},
      // S-000 goes before the new rows come.
      {"AREP", {{"S-000", "ST"}}, {"L-180|ST"}},
      {"CLMS", {{"S-000", "RT"}}, {"I-100|ST", "L-180|ST"}},
      // J-375 becomes S-375, keeping its type.
      {"ASGS", {{"J-375", "RT"}}, {"RT-130|RT", "S-375|RT"}},
      // L-380 is inserted, S-381 removed, J-358 becomes S-358, and the last
      // replacement finds nothing.
      {"COML", {{"S-381", "ST"}, {"J-358", "ST"}}, {"L-380|ST", "S-358|ST"}},
      // The key admits one L-380 per position and course: the S-381 row
      // stays, without an error.
      {"COMP", {{"S-381", "RT"}}, {"L-380|ST", "S-381|RT"}},
      // No L-380 row is inserted for COST: its S-381 row becomes L-380.
      {"COST", {{"S-381", "RT"}}, {"L-380|RT", "N9029|ST", "S-360|ST"}},
      // A row already there with the other type keeps it.
      {"DIVS", {{"S-390", "ST"}}, {"L-381|ST", "RT-130|RT", "S-390|ST"}},
      // Only the S-281 rows go.
      {"EDSD", {{"S-281", "ST"}, {"S-290", "ST"}}, {"S-290|ST"}},
      {"FACL", {{"J-354", "ST"}, {"S-381", "ST"}}, {"L-380|ST", "S-354|ST"}},
      {"FDUL", {{"J-357", "ST"}, {"S-381", "ST"}}, {"I-300|ST", "L-380|ST", "S-357|RT"}},
      {"FSC2", {{"J-460", "ST"}}, {"L-480|ST", "S-460|ST"}},
  });
}

// A second run: every row meets its key, the corrections find nothing, and
// nothing is shown.
TEST_F(Training1StageDb, SecondRunChangesNothingAndShowsNothing) {
  const std::vector<std::string> trace = SecondRunTrace(AllPrerequisites);
  std::vector<int> every_row;
  for (int n = 1; n <= 108; ++n) {
    if (std::holds_alternative<RowStep>(Training1Steps()[n - 1])) {
      every_row.push_back(n);
    }
  }
  EXPECT_EQ(trace, TraceWithFaults(Training1Steps(), DuplicatesAt(Training1Steps(), every_row)));
}

// The error rule, one injected failure (or two) at a time, each on a fresh
// sample: the stage goes on after each, to its last operation, GSUL's
// update.
TEST_F(Training1StageDb, ErrorRuleGoesOnAfterEveryFailure) {
  const int firb_s260_standard = CallsThrough(18, "SET") + 6;
  ExpectTrainingFaultCases({
      {{"an assignment fails: the later ones and the update run",
        {{"SET\t", firb_s260_standard, 3163, "The field is too small"}},
        true,
        {{3163, "The field is too small"}}},
       "FIRB",
       {"I-200|ST", "L-280|ST", "RT-130|RT", "S-230|RT", "S-234|ST", "S-260|ST", "S-270|ST",
        "S-290|RT"}},
      {{"an execute fails: the next step runs; later duplicates stay silent",
        {{Exec(TextOf(10)), 1, 3078, "The table does not exist"}},
        true,
        {{3078, "The table does not exist"}}},
       "RXB2",
       {"L-380|ST", "RT-130|RT", "RX-341|ST", "S-381|ST"}},
      {{"two failures show two boxes in operation order",
        // Given in the other order: the boxes follow the operations.
        {{"UPDATE", 50, 3201, "You cannot add a record"},
         {Exec(TextOf(11)), 1, -2147217900, "Syntax error"}},
        true,
        {{-2147217900, "Syntax error"}, {3201, "You cannot add a record"}}},
       "RXI1",
       {"S-234|ST"}},
  });
}

// The assignment case again, on the row itself: the failed field stays
// Null and the row's other values are stored.
TEST_F(Training1StageDb, FailedAssignmentStoresTheRowWithoutThatValue) {
  {
    FaultInjector faults;
    faults.FailNth(dao::CallKind::kSetField, CallsThrough(18, "SET") + 6, 3163);
    EXPECT_TRUE(RunStage());
  }
  EXPECT_THAT(Rows(gdbUpdate,
                   "SELECT tbl_kav_jobs_prereq_training.jpt_p_type, "
                   "tbl_kav_jobs_prereq_training.jpt_standard FROM "
                   "tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code = 'S-260' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'FIRB';"),
              ElementsAre("ST|"));
  EXPECT_THAT(Shown(boxes.boxes()), ElementsAre(StageBox(3163, "Injected fault")));
}

// A box of this stage that cannot be shown leaves the stage at once; the
// driver reports that failure itself, or, for 3022, goes on to its test of
// bFailed, which the handler set before the box.
TEST_F(Training1StageDb, FailingBoxReachesTheDriverAsAFailureOfTheStageCall) {
  CloseDriverDatabase();
  const struct {
    const char* name;
    long number;
    std::string second_box;
  } cases[] = {
      {"any number: the driver shows it", 70, "0|| 70  :  Permission denied"},
      {"duplicate key: the driver finds bFailed set", 3022, "0|| 0  :  "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir run_dir;
    const std::string case_mdb = MakeSample(run_dir);
    boxes.Clear();
    const long number = c.number;
    boxes.on_show = [number](const ui::ShownBox& box) {
      if (box.title == kTitle) {
        throw kav::Error(number, "Permission denied", "ui");
      }
    };
    std::vector<std::string> lines;
    {
      FaultInjector faults;
      faults.FailNth(dao::CallKind::kExecute, 1, 3078, TextOf(10));
      RunDatabaseUpdate(case_mdb);
      lines = faults.lines();
    }
    boxes.on_show = nullptr;
    EXPECT_THAT(Shown(boxes.boxes()),
                ElementsAre(std::string("16|KAV Update|") + kUpdateFailedText, c.second_box));
    // Nothing of the stage ran after the failing execute.
    auto at = std::find(lines.begin(), lines.end(), "EXEC\t0\t" + TextOf(10));
    ASSERT_NE(at, lines.end());
    EXPECT_THAT(std::vector<std::string>(at + 1, lines.end()),
                ::testing::Each(::testing::Not(::testing::StartsWith(kOpen))));
    EXPECT_EQ(DatabaseVersion(case_mdb), "v4.0");
    CloseDriverDatabase();
  }
}

}  // namespace
}  // namespace kav::testing
