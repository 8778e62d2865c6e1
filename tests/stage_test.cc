#include "stages/stage.h"

#include <gtest/gtest.h>

namespace kav::stages {
namespace {

TEST(StageData, RowExpandsToOpenAddAssignmentsAndUpdate) {
  std::vector<Step> steps = {Row("t", {"a", "b"}), Sql("DELETE FROM t WHERE t.a = 'x';"),
                             ThroughPreviousRecordset(Row("t", {"c"}))};
  std::vector<Operation> ops = ExpandOperations(steps);
  ASSERT_EQ(ops.size(), 5u + 2u + 3u);
  EXPECT_EQ(ops[0].kind, OperationKind::kOpen);
  EXPECT_EQ(ops[5].kind, OperationKind::kJoin);
  EXPECT_EQ(ops[7].kind, OperationKind::kAddNew);
}

}  // namespace
}  // namespace kav::stages
