// What the seven stage procedures share, each on the sample database opened
// as the driver leaves it before its first stage: the rows that meet a key
// already stored are the known ones, a clean run's trace is the step trace
// with those keys met, the error rule meets the faults every stage can meet
// (a duplicate key, a failure at its first update, a failure at its last
// operation), and a box that cannot be shown leaves the stage.  What a
// stage does to its own rows is in that stage's suites; here, what each
// must leave once the whole update has run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/error.h"
#include "platform/ui/scripted_message_boxes.h"
#include "stages/stages.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "tests/support/stage_fixture.h"

namespace kav::testing {
namespace {

using ::testing::IsEmpty;
using ::testing::IsSupersetOf;

class StageTest : public DriverDatabaseTest, public ::testing::WithParamInterface<StageUnderTest> {
 protected:
  const StageUnderTest& stage = GetParam();
  const std::vector<stages::Step>& steps = stage.steps();
};

TEST_P(StageTest, SampleDuplicatesAreTheKnownRows) {
  std::vector<std::string> rows;
  for (int number : SampleDuplicates(steps)) {
    rows.push_back(RowText(std::get<stages::RowStep>(steps.at(number - 1)), RowValues::kAnyType));
  }
  EXPECT_EQ(rows, stage.sample_duplicate_rows);
}

TEST_P(StageTest, TraceOnTheSampleIsTheStepTrace) {
  const std::vector<int>& duplicates = SampleDuplicates(steps);
  TraceRecorder trace;
  EXPECT_FALSE(RunWithFailedSet(stage.procedure));
  EXPECT_EQ(trace.lines(), TraceWithFaults(steps, DuplicatesAt(steps, duplicates)));
  EXPECT_THAT(boxes.boxes(), IsEmpty());
}

TEST_P(StageTest, ErrorRuleOnTheFaultsEveryStageMeets) {
  const bool goes_on = stage.after_report == stages::Resume::kNextOperation;
  const std::vector<std::string> clean = stages::TraceLines(steps);
  // The last operation: an update, or the execute of a statement.
  const std::string last = clean.back();
  const int last_nth = static_cast<int>(std::count_if(
      clean.begin(), clean.end(), [&](const std::string& line) { return line.starts_with(last); }));
  const std::vector<std::string> last_step =
      TraceOfSteps(steps, static_cast<int>(steps.size()), static_cast<int>(steps.size()));
  // The first row: after its open or its add fails, a stage that goes on
  // runs its other operations, and each of them fails in turn.
  const auto first_row = std::find_if(steps.begin(), steps.end(), [](const stages::Step& s) {
    return std::holds_alternative<stages::RowStep>(s);
  });
  ASSERT_NE(first_row, steps.end());
  const int fields = static_cast<int>(std::get<stages::RowStep>(*first_row).fields.size());
  // What an operation on a recordset variable that holds none reports.
  std::string no_recordset;
  try {
    dao::Recordset().AddNew();
  } catch (const kav::Error& error) {
    ASSERT_EQ(error.number(), dao::kErrObjectNotSet);
    no_recordset = error.description();
  }
  // The injected box first, then, where the stage goes on, `count` boxes
  // of what follows.
  auto boxes_then = [&](std::pair<long, std::string> first, int count,
                        std::pair<long, std::string> then) {
    std::vector<std::pair<long, std::string>> out = {first};
    if (goes_on) out.insert(out.end(), count, then);
    return out;
  };

  const FaultCase cases[] = {
      {"a duplicate key at the first update passes in silence",
       {{"UPDATE", 1, dao::kErrDuplicateKey}},
       false,
       {}},
      {"a failure at the first update is shown; the stage goes on or leaves",
       {{"UPDATE", 1, 3201, "Related record required"}},
       true,
       {{3201, "Related record required"}}},
      {"a failure at the last operation, with an empty description",
       {{last, last_nth, 3075, ""}},
       true,
       {{3075, ""}},
       {last, "ERR\t3075"}},
      {"the first open fails: with no recordset each later operation of the row "
       "reports 91",
       {{"OPEN\t", 1, 3051, "Could not open the table"}},
       true,
       boxes_then({3051, "Could not open the table"}, fields + 2,
                  {dao::kErrObjectNotSet, no_recordset}),
       goes_on ? last_step : std::vector<std::string>{},
       !goes_on},
      {"the second open fails: a stage that goes on writes that row through "
       "the recordset of the row before",
       {{"OPEN\t", 2, 3051}},
       true,
       {{3051, "Injected fault"}}},
      {"an add fails: without a new record each assignment and the update "
       "report 3020",
       {{"ADDNEW", 1, 3027}},
       true,
       boxes_then({3027, "Injected fault"}, fields + 1, {3020, "*"}),
       goes_on ? last_step : std::vector<std::string>{},
       !goes_on},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    Reopen();
    ExpectFaultedRun(stage, c);
  }
}

TEST_P(StageTest, BoxThatCannotBeShownLeavesTheStageWithItsError) {
  boxes.on_show = [](const ui::ShownBox&) { throw kav::Error(70, "Permission denied", "MsgBox"); };
  const Fault fault = {"UPDATE", 1, 3201};
  const std::vector<int>& duplicates = SampleDuplicates(steps);
  bool bFailed = false;
  std::vector<std::string> lines;
  {
    FaultInjector faults;
    faults.FailNth([&](const dao::Call& call) { return LineIsCall(TraceLine(call), fault); },
                   fault.nth, fault.number);
    try {
      stage.procedure(bFailed);
      ADD_FAILURE() << "the box's error did not reach the caller";
    } catch (const kav::Error& error) {
      EXPECT_EQ(error.number(), 70);
    }
    lines = faults.lines();
  }
  EXPECT_TRUE(bFailed);  // set before the box
  // Nothing ran after the failing operation.
  std::vector<Fault> expected = DuplicatesAt(steps, duplicates);
  expected.push_back(fault);
  EXPECT_EQ(lines, TraceWithFaults(steps, expected, stages::Resume::kLeaveStage));
}

INSTANTIATE_TEST_SUITE_P(SevenStages, StageTest, ::testing::ValuesIn(SevenStages()),
                         [](const ::testing::TestParamInfo<StageUnderTest>& stage) {
                           return std::string(stage.param.name);
                         });

// The whole update on the sample, once: what each stage must leave when the
// stages after it have run too.
class UpdateEndToEnd : public SampleTest {};

TEST_F(UpdateEndToEnd, CleanRunLeavesWhatEachStageMust) {
  // Stored rows that only the third experience stage's corrections remove.
  const std::vector<std::string> removed_by_experience3 = {
      "WF|IOF2|WF|IOF2|TRN|1|NATIONAL",
      "WF|RXI2|WF|RXI2|TRN|1|NATIONAL",
      "WF|LTAN|WF|RXI1|JOB|2|NATIONAL",
  };
  ReadDatabase(mdb, [&](dao::Database& db) {
    for (const std::string& row : removed_by_experience3) AddExperienceRow(db, row);
    return true;
  });
  RunCleanUpdate();

  const std::vector<std::string> prerequisites = ReadDatabase(mdb, AllPrerequisites);
  const std::multiset<std::string> experiences = ReadDatabase(mdb, ExperienceRows);
  const std::multiset<std::string> currency = ReadDatabase(mdb, CurrencyRows);
  // Each of a stage's rows in its table once.
  const auto each_once = [&](const char* stage, RowValues values) {
    for (const std::string& row : RowTexts(StageNamed(stage).steps(), values)) {
      EXPECT_EQ(experiences.count(row), 1u) << stage << " " << row;
    }
  };
  struct Case {
    const char* stage;
    std::function<void()> check;
  };
  const std::vector<Case> cases = {
      {"Training2",
       [&] {
         EXPECT_THAT(prerequisites, IsSupersetOf(DistinctRowTexts(stages::Training2Steps())));
       }},
      {"Experience1", [&] { each_once("Experience1", RowValues::kAnyType); }},
      {"Experience2", [&] { each_once("Experience2", RowValues::kAnyType); }},
      // The rows its corrections remove are gone too.
      {"Experience3",
       [&] {
         ExpectRowsPresentAndAbsent(experiences, RowTexts(stages::Experience3Steps()),
                                    removed_by_experience3);
       }},
      {"Currency", [&] { EXPECT_EQ(currency, CurrencyTableAfterStage()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stage);
    c.check();
  }
}

}  // namespace
}  // namespace kav::testing
