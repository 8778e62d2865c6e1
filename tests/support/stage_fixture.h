// Fixtures of the stage suites: a fresh sample database (for a test that runs
// the update itself), or that sample opened as the driver opens it before its
// first stage and closed again after the test; and the checks the stages'
// error-rule tables share.

#ifndef KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_
#define KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/ui/scripted_message_boxes.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"

namespace kav::testing {

// A test on a fresh sample database, recording the boxes it shows.
class SampleTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string mdb = MakeSample(dir);
  ui::ScriptedMessageBoxes boxes;
};

class DriverDatabaseTest : public SampleTest {
 protected:
  void SetUp() override { OpenSample(mdb); }
  void TearDown() override { CloseDriverDatabase(); }

  // Opens the sample at `path` into gwsUpdate and gdbUpdate as the driver
  // does; a suite whose stage needs more of the driver's preparation adds it.
  virtual void OpenSample(const std::string& path) { OpenAsDriverDoes(path); }

  // Closes the driver's database and opens a fresh sample in a directory of
  // its own (kept until the next Reopen or the end of the test, so it
  // outlives the open database); the boxes shown so far are forgotten.
  void Reopen() {
    CloseDriverDatabase();
    case_dir = std::make_unique<TempDir>();
    OpenSample(MakeSample(*case_dir));
    boxes.Clear();
  }

  std::unique_ptr<TempDir> case_dir;
};

// Expects `lines` to end with `tail`.  Call it inside
// ASSERT_NO_FATAL_FAILURE: a trace shorter than the tail stops the test.
inline void ExpectTraceEndsWith(const std::vector<std::string>& lines,
                                const std::vector<std::string>& tail) {
  ASSERT_GE(lines.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - tail.size(), lines.end()),
            tail);
}

// Expects each row of `present` in `table` exactly once and no row of
// `absent` in it.
inline void ExpectRowsPresentAndAbsent(
    const std::multiset<std::string>& table,
    const std::vector<std::string>& present,
    const std::vector<std::string>& absent) {
  for (const std::string& row : present) {
    EXPECT_EQ(table.count(row), 1u) << "missing " << row;
  }
  for (const std::string& row : absent) {
    EXPECT_EQ(table.count(row), 0u) << "unexpected " << row;
  }
}

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_
