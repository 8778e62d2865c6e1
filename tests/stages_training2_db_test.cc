// The second training stage on the sample database: its trace, its error
// rule operation by operation, the prerequisites it leaves, what its
// corrections do to rows already in the table, a second run, and the update
// end to end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <span>
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
using stages::Training2Steps;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;

constexpr const char* kTable = "tbl_kav_jobs_prereq_training";
constexpr const char* kTitle = "UpdateMDB_Jobs_Training";
const char* const kFailure =
    "This update failed. Please retry. If update continues to fail call your "
    "KAV support person for help.  A second screen will appear showing error. "
    "Please capture this error.";

const std::string& TextOf(int step) { return SqlTextOf(Training2Steps(), step); }

// The trace lines of steps first..last.
std::vector<std::string> StepTrace(int first, int last) {
  return TraceOfSteps(Training2Steps(), first, last);
}

// The stage's trace on the sample: the step trace, with the one duplicate
// key it meets there (step 71 adds step 67's INVF / FI-210 row again) after
// that row's update.
std::vector<std::string> SampleTrace() {
  std::vector<std::string> lines = StepTrace(1, 165);
  const size_t after_71 = StepTrace(1, 71).size();
  EXPECT_EQ(lines.at(after_71 - 1), "UPDATE");
  EXPECT_EQ(lines.at(after_71 - 4), "SET\t3\tT\tFI-210");
  lines.insert(lines.begin() + after_71, "ERR\t3022");
  return lines;
}

// The rows the stage's row steps write, as AllPrerequisites shows them.
std::vector<std::string> StageRows() {
  return DistinctRowTexts(Training2Steps());
}

// The box the stage shows for an error, as Shown writes it.
std::string StageBox(long number, const std::string& description) {
  return ShownErrorBox(kTitle, number, description);
}

class Training2StageDb : public DriverDatabaseTest {
 protected:
  // Runs the stage with bFailed set beforehand; returns bFailed.
  static bool RunStage() { return RunWithFailedSet(UpdateMDB_Jobs_Training2); }
};

TEST_F(Training2StageDb, TraceOnTheSampleIsTheStepTrace) {
  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_EQ(trace.lines(), SampleTrace());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
}

TEST_F(Training2StageDb, LeavesItsRowsBesideTheSampleRows) {
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  // The sample's rows stay, but for HEB2's S-381 row, which the stage turns
  // into L-380 keeping its type.
  std::vector<std::string> expected = StageRows();
  ASSERT_EQ(expected.size(), 124u);  // INVF / FI-210 is written twice
  for (const char* row :
       {"WF|FUMA|WF|S-481|ST|NATIONAL", "WF|FUMA|WF|S-290|ST|NATIONAL",
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
  EXPECT_THAT(
      PrerequisitesOf(gdbUpdate, "SEMG"),
      ElementsAre("D-110|ST", "I-100|ST", "I-200|ST", "L-180|ST", "RT-273|ST",
                  "S-130|ST", "S-190|ST", "S-270|RT", "S-273|RT"));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "TRPB"),
              ElementsAre("L-280|ST", "RT-130|RT"));
}

// Rows a v4.0 database may hold for the positions the corrections name, and
// what each position holds after the stage.
TEST_F(Training2StageDb, CorrectionsActOnTheRowsAlreadyThere) {
  const struct {
    const char* job;
    std::vector<std::vector<std::string>> before;  // course, type
    std::vector<std::string> after;
  } cases[] = {
      // Steps 1-3: J-355 and S-381 go, L-380 comes; the first stage's S-355
      // stays.
      {"GSUL",
       {{"J-355", "ST"}, {"S-381", "RT"}, {"S-355", "ST"}},
       {"L-380|ST", "S-355|ST"}},
      // Step 4: every row goes.
      {"HCWN", {{"S-211", "ST"}, {"I-100", "RT"}}, {}},
      // Step 6 names HEB2 alone: HEB1 keeps its S-381 beside its new row.
      {"HEB1", {{"S-381", "RT"}}, {"RT-130|RT", "S-381|RT"}},
      // Steps 48-50: S-300 is set to RT; other rows stay.
      {"ICT3",
       {{"S-300", "ST"}},
       {"L-381|ST", "RT-130|RT", "S-290|ST", "S-300|RT"}},
      // Steps 51-55: the older S-200 refuses step 51's row and is set to RT;
      // S-215 is deleted whatever its type and inserted again as ST.
      {"ICT4",
       {{"S-200", "ST"}, {"S-215", "RT"}},
       {"RT-130|RT", "S-200|RT", "S-215|ST"}},
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
  };
  for (const auto& c : cases) {
    for (const auto& row : c.before) AddPrerequisite(c.job, row[0], row[1]);
  }
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  for (const auto& c : cases) {
    EXPECT_EQ(PrerequisitesOf(gdbUpdate, c.job), c.after) << c.job;
  }
  // The sample's HEB2 / S-381 row is changed in place, with its type.
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "HEB2"),
              ElementsAre("L-380|ST", "RT-130|RT"));
}

// A second run over a table the stage has already brought up to date:
// every row meets its key but ICT4 / S-215, which step 54 deletes and step
// 55 inserts again; nothing is shown and the table ends the same.
TEST_F(Training2StageDb, SecondRunChangesNothingAndShowsNothing) {
  EXPECT_FALSE(RunStage());
  const std::vector<std::string> first = AllPrerequisites(gdbUpdate);

  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(AllPrerequisites(gdbUpdate), first);

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
  EXPECT_EQ(trace.lines(), expected);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), "ERR\t3022"), 124);
}

// The error rule, one injected failure (or two) at a time.
TEST_F(Training2StageDb, ErrorRuleGoesOnAfterEveryFailure) {
  // What an operation on a recordset variable that holds none reports.
  long none_number = 0;
  std::string none_description;
  try {
    dao::Recordset().AddNew();
  } catch (const kav::Error& error) {
    none_number = error.number();
    none_description = error.description();
  }
  ASSERT_EQ(none_number, 91);
  const std::string no_recordset = StageBox(none_number, none_description);

  const struct {
    const char* name;
    std::function<void(FaultInjector&)> inject;
    std::vector<std::string> boxes;
    bool bFailed;
    // The first lines recorded from the failing call on, its ERR included.
    std::vector<std::string> from_fault;
    // Rows of one position afterwards.
    const char* job;
    std::vector<std::string> rows;
  } cases[] = {
      {"the first open fails: its row fails operation by operation",
       [](FaultInjector& f) {
         f.FailNth(dao::CallKind::kOpenTable, 1, 3051, kTable,
                   "Could not open the table");
       },
       {StageBox(3051, "Could not open the table"), no_recordset, no_recordset,
        no_recordset, no_recordset, no_recordset, no_recordset, no_recordset,
        no_recordset},
       true,
       {"OPEN\ttbl_kav_jobs_prereq_training", "ERR\t3051"},
       "GSUL",
       {}},
      {"a later open fails: the row goes through the recordset before",
       [](FaultInjector& f) {
         f.FailNth(dao::CallKind::kOpenTable, 2, 3051, kTable);
       },
       {StageBox(3051, "Injected fault")},
       true,
       {"OPEN\ttbl_kav_jobs_prereq_training", "ERR\t3051", "ADDNEW",
        "SET\t0\tT\tWF", "SET\t1\tT\tHEB1"},
       "HEB1",
       {"RT-130|RT"}},
      {"a field assignment fails: the row is stored without it",
       [](FaultInjector& f) {
         f.FailNth(
             [](const dao::Call& call) {
               return call.kind == dao::CallKind::kSetField && call.index == 4;
             },
             1, 3163, "The field is too small");
       },
       {StageBox(3163, "The field is too small")},
       true,
       {"SET\t4\tT\tST", "ERR\t3163", "SET\t5\tT\tNATIONAL", "UPDATE",
        "EXEC\t0\t" + TextOf(4)},
       "GSUL",
       {"L-380|"}},
      {"an add fails: its assignments and update still run",
       [](FaultInjector& f) { f.FailNth(dao::CallKind::kAddNew, 1, 3027); },
       // Without a new record each assignment and the update report 3020.
       {StageBox(3027, "Injected fault"), StageBox(3020, "*"),
        StageBox(3020, "*"), StageBox(3020, "*"), StageBox(3020, "*"),
        StageBox(3020, "*"), StageBox(3020, "*"), StageBox(3020, "*")},
       true,
       {"ADDNEW", "ERR\t3027", "SET\t0\tT\tWF", "ERR\t3020"},
       "GSUL",
       {}},
      {"a duplicate key is silent",
       [](FaultInjector& f) { f.FailNth(dao::CallKind::kUpdate, 1, 3022); },
       {},
       false,
       {"UPDATE", "ERR\t3022", "EXEC\t0\t" + TextOf(4)},
       "GSUL",
       {}},
      {"an execute fails: the next step runs",
       [](FaultInjector& f) {
         f.FailNth(dao::CallKind::kExecute, 1, 3075, TextOf(1),
                   "Syntax error in query expression");
       },
       {StageBox(3075, "Syntax error in query expression")},
       true,
       {"EXEC\t0\t" + TextOf(1), "ERR\t3075", "EXEC\t0\t" + TextOf(2)},
       "GSUL",
       {"L-380|ST"}},
      {"a duplicate key after a reported failure shows nothing more",
       [](FaultInjector& f) {
         f.FailNth(dao::CallKind::kExecute, 1, 3075, TextOf(1));
         f.FailNth(dao::CallKind::kUpdate, 1, 3022);
       },
       {StageBox(3075, "Injected fault")},
       true,
       {"EXEC\t0\t" + TextOf(1), "ERR\t3075", "EXEC\t0\t" + TextOf(2)},
       "GSUL",
       {}},
      {"two failures show two boxes in order; the last operation fails too",
       [](FaultInjector& f) {
         f.FailNth(dao::CallKind::kExecute, 1, 3075, TextOf(4));
         f.FailNth(dao::CallKind::kUpdate, 125, -2147467259, "", "");
       },
       {StageBox(3075, "Injected fault"), StageBox(-2147467259, "")},
       true,
       {"EXEC\t0\t" + TextOf(4), "ERR\t3075", "OPEN\t" + std::string(kTable)},
       "TRPB",
       {"RT-130|RT"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Each case on a fresh sample.
    Reopen();

    bool bFailed = !c.bFailed;  // the stage decides, whatever it was
    {
      FaultInjector faults;
      c.inject(faults);
      UpdateMDB_Jobs_Training2(bFailed);
      EXPECT_EQ(bFailed, c.bFailed);

      std::vector<std::string> shown = Shown(boxes.boxes());
      ASSERT_EQ(shown.size(), c.boxes.size());
      for (size_t i = 0; i < shown.size(); ++i) {
        // "*" stands for whatever description the engine gives.
        if (c.boxes[i].size() > 1 && c.boxes[i].ends_with("  :  *")) {
          std::string prefix = c.boxes[i].substr(0, c.boxes[i].size() - 1);
          EXPECT_EQ(shown[i].substr(0, prefix.size()), prefix) << i;
        } else {
          EXPECT_EQ(shown[i], c.boxes[i]) << i;
        }
      }

      // The stage ran on after the fault, to its last step.
      const std::vector<std::string>& lines = faults.lines();
      auto err = std::find_if(lines.begin(), lines.end(), [](const auto& l) {
        return l.starts_with("ERR\t");
      });
      ASSERT_NE(err, lines.end());
      ASSERT_NE(err, lines.begin());
      std::vector<std::string> from(err - 1, lines.end());
      from.resize(std::min(from.size(), c.from_fault.size()));
      EXPECT_EQ(from, c.from_fault);
      const std::vector<std::string> last = StepTrace(165, 165);
      ASSERT_GE(lines.size(), last.size());
      EXPECT_EQ(lines.back() == "ERR\t-2147467259"
                    ? std::vector<std::string>(lines.end() - last.size() - 1,
                                               lines.end() - 1)
                    : std::vector<std::string>(lines.end() - last.size(),
                                               lines.end()),
                last);
    }
    EXPECT_EQ(PrerequisitesOf(gdbUpdate, c.job), c.rows);
  }
}

// A box that cannot be shown is the one error that leaves the stage: no
// further operation runs and the error reaches the caller.
TEST_F(Training2StageDb, BoxThatCannotBeShownLeavesTheStage) {
  FaultInjector faults;
  faults.FailNth(dao::CallKind::kExecute, 1, 3075, TextOf(2));
  boxes.on_show = [](const ui::ShownBox&) {
    throw kav::Error(70, "Permission denied", "MsgBox");
  };
  bool bFailed = false;
  try {
    UpdateMDB_Jobs_Training2(bFailed);
    ADD_FAILURE() << "the stage returned";
  } catch (const kav::Error& error) {
    EXPECT_EQ(error.number(), 70);
  }
  EXPECT_TRUE(bFailed);  // set before the box
  EXPECT_EQ(faults.lines(),
            (std::vector<std::string>{"EXEC\t0\t" + TextOf(1),
                                      "EXEC\t0\t" + TextOf(2), "ERR\t3075"}));
  EXPECT_THAT(PrerequisitesOf(gdbUpdate, "GSUL"), IsEmpty());
}

// The whole update on the sample database.
class Training2Update : public SampleTest {};

TEST_F(Training2Update, CompletesAndLeavesTheStageRows) {
  RunDatabaseUpdate(mdb);
  EXPECT_THAT(Shown(boxes.boxes()),
              ElementsAre("0||Database Update completed."));
  dao::Database db = OpenForCheck(mdb);
  EXPECT_THAT(AllPrerequisites(db), IsSupersetOf(StageRows()));
  db.Close();
  EXPECT_EQ(DatabaseVersion(mdb), "v5.0");
}

TEST_F(Training2Update, RerunAfterAFailureInTheStageCompletes) {
  {
    FaultInjector faults;
    faults.FailNth(dao::CallKind::kExecute, 1, 3075, TextOf(47));
    RunDatabaseUpdate(mdb);
    EXPECT_THAT(
        Shown(boxes.boxes()),
        ElementsAre(StageBox(3075, "Injected fault"),
                    std::string("16|KAV Update|") + kFailure, "0|| 0  :  "));
    // The stage ran to its end; no later stage ran.
    const std::vector<std::string>& lines = faults.lines();
    const std::vector<std::string> last = StepTrace(165, 165);
    ASSERT_GE(lines.size(), last.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - last.size(), lines.end()),
              last);
  }
  EXPECT_EQ(DatabaseVersion(mdb), "v4.0");
  if (!gdbUpdate.IsNothing()) gdbUpdate.Close();

  boxes.Clear();
  RunDatabaseUpdate(mdb);
  EXPECT_THAT(Shown(boxes.boxes()),
              ElementsAre("0||Database Update completed."));
  dao::Database db = OpenForCheck(mdb);
  EXPECT_THAT(AllPrerequisites(db), IsSupersetOf(StageRows()));
  EXPECT_THAT(PrerequisitesOf(db, "ICT2"),
              ElementsAre("L-480|ST", "RT-130|RT"));
  db.Close();
  EXPECT_EQ(DatabaseVersion(mdb), "v5.0");
}

// A box that cannot be shown in the stage is reported by the driver as the
// failure of its stage call.
TEST_F(Training2Update, DriverReportsABoxThatCannotBeShown) {
  FaultInjector faults;
  faults.FailNth(dao::CallKind::kExecute, 1, 3075, TextOf(1));
  boxes.on_show = [](const ui::ShownBox& box) {
    if (box.title == kTitle)
      throw kav::Error(70, "Permission denied", "MsgBox");
  };
  RunDatabaseUpdate(mdb);
  EXPECT_THAT(Shown(boxes.boxes()),
              ElementsAre(std::string("16|KAV Update|") + kFailure,
                          "0|| 70  :  Permission denied"));
  EXPECT_EQ(faults.lines().back(), "ERR\t3075");
  if (!gdbUpdate.IsNothing()) gdbUpdate.Close();
  EXPECT_EQ(DatabaseVersion(mdb), "v4.0");
}

}  // namespace
}  // namespace kav::testing
