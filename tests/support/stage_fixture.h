// A test of a stage on a fresh sample database, opened as the driver opens
// it before its first stage and closed again after the test.

#ifndef KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_
#define KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "platform/ui/scripted_message_boxes.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"

namespace kav::testing {

class DriverDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { OpenAsDriverDoes(mdb); }
  void TearDown() override { CloseDriverDatabase(); }

  TempDir dir;
  std::string mdb = MakeSample(dir);
  ui::ScriptedMessageBoxes boxes;
};

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_STAGE_FIXTURE_H_
