// Fixtures of the stage suites: a fresh sample database (for a test that runs
// the update itself), or that sample opened as the driver leaves it before
// its first stage and closed again after the test; and the checks the
// stages' error-rule tables share.

#ifndef KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_
#define KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "update/driver_globals.h"
#include "update/update.h"

namespace kav::testing {

// Expects `lines` to end with `tail`.  Call it inside
// ASSERT_NO_FATAL_FAILURE: a trace shorter than the tail stops the test.
inline void ExpectTraceEndsWith(const std::vector<std::string>& lines,
                                const std::vector<std::string>& tail) {
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - tail.size(), lines.end()), tail);
}

// What `read` finds in the database file `mdb`, opened for checks and
// closed again.
template <typename Read>
auto ReadDatabase(const std::string& mdb, Read read) {
  dao::Database db = OpenForCheck(mdb);
  auto result = read(db);
  db.Close();
  return result;
}

// A test on a fresh sample database, recording the boxes it shows.
class SampleTest : public ::testing::Test {
 protected:
  // Runs the whole update on the sample and expects it to complete: its one
  // box, and the version "v5.0".
  void RunCleanUpdate() {
    RunDatabaseUpdate(mdb);
    EXPECT_EQ(Shown(boxes.boxes()), std::vector<std::string>{"0||Database Update completed."});
    EXPECT_EQ(DatabaseVersion(mdb), "v5.0");
  }

  TempDir dir;
  std::string mdb = MakeSample(dir);
  ui::ScriptedMessageBoxes boxes;
};

class DriverDatabaseTest : public SampleTest {
 protected:
  void SetUp() override { OpenSample(mdb); }
  void TearDown() override { CloseDriverDatabase(); }

  // Opens the sample at `path` into gwsUpdate and gdbUpdate as the driver
  // does, and appends course_refresher_period, as its schema phase does
  // before the first stage runs.
  void OpenSample(const std::string& path) {
    OpenAsDriverDoes(path);
    AppendRefresherPeriod(gdbUpdate);
  }

  // Closes the driver's database and opens a fresh sample in a directory of
  // its own (kept until the next Reopen or the end of the test, so it
  // outlives the open database); the boxes shown so far are forgotten.
  void Reopen() {
    CloseDriverDatabase();
    case_dir = std::make_unique<TempDir>();
    OpenSample(MakeSample(*case_dir));
    boxes.Clear();
  }

  // One error-rule case of a stage, on a fresh sample.
  struct FaultCase {
    std::string name;
    std::vector<Fault> faults;
    bool failed;
    // The boxes in order, each as its number and description under the
    // stage's title; a description "*" stands for any.
    std::vector<std::pair<long, std::string>> boxes;
    // The end of the trace, written by hand.
    std::vector<std::string> trace_tail = {};
    // Whether the whole trace is the step trace with an ERR line after each
    // fault and each of the sample's duplicates, up to the first reported
    // error for a stage that leaves there.  Not so where an injected fault
    // makes the engine fail the row's later operations too (a stage that
    // goes on after a failed open or add); the executor's suite shows those.
    bool whole_trace = true;
  };

  // Runs `stage` with bFailed set beforehand and the case's faults injected,
  // and expects the case's flag, boxes and trace.
  void ExpectFaultedRun(const StageUnderTest& stage, const FaultCase& c) {
    const std::vector<int>& duplicates = SampleDuplicates(stage.steps());
    const FaultedRun run =
        RunWithFaults(c.faults, [&] { return RunWithFailedSet(stage.procedure); });
    EXPECT_EQ(run.failed, c.failed);
    const std::vector<std::string> shown = Shown(boxes.boxes());
    ASSERT_EQ(shown.size(), c.boxes.size()) << ::testing::PrintToString(shown);
    for (size_t i = 0; i < shown.size(); ++i) {
      const auto& [number, description] = c.boxes[i];
      if (description == "*") {
        EXPECT_TRUE(shown[i].starts_with(ShownErrorBox(stage.title, number, ""))) << shown[i];
      } else {
        EXPECT_EQ(shown[i], ShownErrorBox(stage.title, number, description));
      }
    }
    if (c.whole_trace) {
      std::vector<Fault> faults = DuplicatesAt(stage.steps(), duplicates);
      faults.insert(faults.end(), c.faults.begin(), c.faults.end());
      EXPECT_EQ(run.lines, TraceWithFaults(stage.steps(), faults, stage.after_report));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectTraceEndsWith(run.lines, c.trace_tail));
  }

  std::unique_ptr<TempDir> case_dir;
};

// Expects each row of `present` in `table` exactly once and no row of
// `absent` in it.
inline void ExpectRowsPresentAndAbsent(const std::multiset<std::string>& table,
                                       const std::vector<std::string>& present,
                                       const std::vector<std::string>& absent) {
  for (const std::string& row : present) {
    EXPECT_EQ(table.count(row), 1u) << "missing " << row;
  }
  for (const std::string& row : absent) {
    EXPECT_EQ(table.count(row), 0u) << "unexpected " << row;
  }
}

// One position's rows in the training-prerequisite table before a training
// stage runs (course and type) and after it ("course|type", sorted).
struct PositionRows {
  const char* job;
  std::vector<std::pair<std::string, std::string>> before;
  std::vector<std::string> after;
};

// The suite of one stage on the driver's database.
template <void (*procedure)(bool&)>
class OneStageTest : public DriverDatabaseTest {
 protected:
  // Runs the stage with bFailed set beforehand, which the stage must clear;
  // returns bFailed.
  static bool RunStage() { return RunWithFailedSet(procedure); }

  // Runs the stage twice, and expects the second run to show nothing and to
  // leave the rows `table` reads as the first run left them.  Returns the
  // second run's trace.
  std::vector<std::string> SecondRunTrace(
      const std::function<std::vector<std::string>(dao::Database&)>& table) {
    EXPECT_FALSE(RunStage());
    const std::vector<std::string> after_first = table(gdbUpdate);
    TraceRecorder trace;
    EXPECT_FALSE(RunStage());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(table(gdbUpdate), after_first);
    return trace.lines();
  }

  // An error-rule case of a training stage, with the rows one position of
  // the training-prerequisite table holds afterwards ("course|type",
  // sorted).
  struct TrainingFaultCase {
    FaultCase run;
    const char* job;
    std::vector<std::string> rows;
  };

  // Runs each case on a fresh sample, as ExpectFaultedRun does, and expects
  // its position's rows afterwards.
  void ExpectTrainingFaultCases(const std::vector<TrainingFaultCase>& cases) {
    for (const TrainingFaultCase& c : cases) {
      SCOPED_TRACE(c.run.name);
      Reopen();
      ExpectFaultedRun(StageOf(procedure), c.run);
      EXPECT_EQ(PrerequisitesOf(gdbUpdate, c.job), c.rows) << c.job;
    }
  }

  // Adds each position's rows to the training-prerequisite table, runs the
  // stage, and expects no box and each position's rows after it.
  void ExpectPrerequisitesAfterStage(const std::vector<PositionRows>& positions) {
    for (const PositionRows& p : positions) {
      for (const auto& [course, type] : p.before) AddPrerequisite(p.job, course, type);
    }
    EXPECT_FALSE(RunStage());
    EXPECT_TRUE(boxes.boxes().empty());
    for (const PositionRows& p : positions) {
      EXPECT_EQ(PrerequisitesOf(gdbUpdate, p.job), p.after) << p.job;
    }
  }
};

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_
