// The stage executor: how steps expand to operations, the four behaviours
// stage.h promises on a three-step list over the engine fixture, and the
// error rule that every stage procedure applies.

#include "stages/stage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/ui/scripted_message_boxes.h"
#include "stages/stages.h"
#include "tests/dao_fixture.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::FaultInjector;
using kav::testing::Join;

TEST(StageData, RowExpandsToOpenAddAssignmentsAndUpdate) {
  std::vector<Step> steps = {Row("t", {"a", "b"}), Sql("DELETE FROM t WHERE t.a = 'x';"),
                             ThroughPreviousRecordset(Row("t", {"c"}))};
  std::vector<Operation> ops = ExpandOperations(steps);
  ASSERT_EQ(ops.size(), 5u + 2u + 3u);
  EXPECT_EQ(ops[0].kind, OperationKind::kOpen);
  EXPECT_EQ(ops[5].kind, OperationKind::kJoin);
  EXPECT_EQ(ops[7].kind, OperationKind::kAddNew);
}

// Two tables of one layout, and three steps: a row of "first", a statement
// on it, a row of "second".
class ExecutorTest : public dao_test::DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    for (const char* table : {"first", "second"}) {
      Table(table, {{"code", dao::dbText, 4}, {"note", dao::dbText, 4}});
      Key(table, "PrimaryKey", {"code"});
    }
  }

  const std::vector<Step> steps = {
      Row("first", {"A1", "x"}), Sql("UPDATE first SET first.note = 'y' WHERE first.code = 'A1';"),
      Row("second", {"B1", "z"})};
};

// What the handler does with the errors it is handed.
enum class Handler { kGoOn, kLeave, kRaise };

TEST_F(ExecutorTest, PromisedBehaviours) {
  const std::vector<std::string> row1 = {"OPEN\tfirst", "ADDNEW", "SET\t0\tT\tA1", "SET\t1\tT\tx",
                                         "UPDATE"};
  const std::string statement =
      "EXEC\t0\tUPDATE first SET first.note = 'y' WHERE first.code = 'A1';";
  const std::vector<std::string> row3_without_open = {"ADDNEW", "SET\t0\tT\tB1", "SET\t1\tT\tz",
                                                      "UPDATE"};
  struct Case {
    const char* name;
    const char* fail;  // the first call whose trace line starts so fails
    Handler handler;
    std::vector<long> handed;  // the errors the handler receives, in order
    bool returned;             // RunSteps' result; false also when it raised
    std::vector<std::string> trace;
    std::vector<std::string> first, second;  // the tables afterwards
  };
  // clang-format off
  const Case cases[] = {
      {"going on runs the very next operation, not the next step",
       "SET\t1\tT\tx", Handler::kGoOn, {3999}, true,
       Join({{"OPEN\tfirst", "ADDNEW", "SET\t0\tT\tA1", "SET\t1\tT\tx", "ERR\t3999",
              "UPDATE", statement, "OPEN\tsecond"},
             row3_without_open}),
       {"A1|y"}, {"B1|z"}},
      {"a failed open keeps the recordset of the row before",
       "OPEN\tsecond", Handler::kGoOn, {3999}, true,
       Join({row1, {statement, "OPEN\tsecond", "ERR\t3999"}, row3_without_open}),
       {"A1|y", "B1|z"}, {}},
      // The assignments fail on the field look-up, which shows as an error
      // line without a call line.
      {"with no recordset ever opened each operation of the row fails with 91",
       "OPEN\tfirst", Handler::kGoOn, {3999, 91, 91, 91, 91}, true,
       Join({{"OPEN\tfirst", "ERR\t3999", "ADDNEW", "ERR\t91", "ERR\t91", "ERR\t91",
              "UPDATE", "ERR\t91", statement, "OPEN\tsecond"},
             row3_without_open}),
       {}, {"B1|z"}},
      {"after a failed add the row's assignments and update fail too, each handed on",
       "ADDNEW", Handler::kGoOn, {3999, 3020, 3020, 3020}, true,
       Join({{"OPEN\tfirst", "ADDNEW", "ERR\t3999", "SET\t0\tT\tA1", "ERR\t3020",
              "SET\t1\tT\tx", "ERR\t3020", "UPDATE", "ERR\t3020", statement,
              "OPEN\tsecond"},
             row3_without_open}),
       {}, {"B1|z"}},
      {"leaving stops at the failing operation",
       "UPDATE", Handler::kLeave, {3999}, false,
       {"OPEN\tfirst", "ADDNEW", "SET\t0\tT\tA1", "SET\t1\tT\tx", "UPDATE",
        "ERR\t3999"},
       {}, {}},
      {"an error the handler raises leaves the steps",
       "EXEC", Handler::kRaise, {3999}, false,
       Join({row1, {statement, "ERR\t3999"}}),
       {"A1|x"}, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* table : {"first", "second"}) {
      db.Execute(std::string("DELETE FROM ") + table + " WHERE " + table + ".code IN ('A1','B1');");
    }
    std::vector<long> handed;
    const StageErrorHandler handler = [&](const kav::Error& error, bool& bFailed) {
      handed.push_back(error.number());
      bFailed = true;
      if (c.handler == Handler::kRaise) throw kav::Error(70, "raised by the handler");
      return c.handler == Handler::kGoOn ? Resume::kNextOperation : Resume::kLeaveStage;
    };
    StepLocals locals;
    bool bFailed = false;
    bool returned = false;
    std::vector<std::string> trace;
    {
      FaultInjector faults;
      const std::string fail = c.fail;
      faults.FailNth(
          [fail](const dao::Call& call) {
            return kav::testing::TraceLine(call).rfind(fail, 0) == 0;
          },
          1, 3999);
      try {
        returned = RunSteps(db, steps, locals, handler, bFailed);
      } catch (const kav::Error& error) {
        EXPECT_EQ(c.handler, Handler::kRaise);
        EXPECT_EQ(error.number(), 70);
      }
      trace = faults.lines();
    }
    locals = StepLocals();
    EXPECT_EQ(handed, c.handed);
    EXPECT_TRUE(bFailed);
    EXPECT_EQ(returned, c.returned);
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(RowsOf("first"), c.first);
    EXPECT_EQ(RowsOf("second"), c.second);
  }
}

// The training stages' error handler as the records system names it: their
// rule applied to an error of `number` and `description`.
void HandleTrainingStageError(long number, const std::string& description, bool& bFailed) {
  ApplyErrorRule(TrainingRule(), kav::Error(number, description), bFailed);
}

// The error rule, applied by itself with scripted boxes: for a rule that
// goes on, for one that leaves, and through HandleTrainingStageError, the
// training stages' rule by its own name.
TEST(ErrorRule, DuplicateKeyIsSilentAndEveryOtherNumberIsShown) {
  // clang-format off
  const struct {
    const char* name;
    long number;
    std::string description;
    bool failed_before;
    std::vector<std::string> prompts;  // boxes shown
    bool failed_after;
  } cases[] = {
      {"duplicate key", 3022, "The changes were not successful", false, {},
       false},
      {"duplicate key after a reported failure", 3022, "duplicate", true, {},
       true},
      {"engine error", 3078, "Table not found", false,
       {" 3078  :  Table not found"}, true},
      {"zero", 0, "none", false, {" 0  :  none"}, true},
      {"negative number, no leading blank", -2147217900, "Syntax error",
       false, {"-2147217900  :  Syntax error"}, true},
      {"empty description ends in the separator", 3061, "", false,
       {" 3061  :  "}, true},
      {"already failed stays failed", 91, "Object variable not set", true,
       {" 91  :  Object variable not set"}, true},
  };
  // clang-format on
  const ErrorRule rules[] = {{"Going on", Resume::kNextOperation},
                             {"Leaving", Resume::kLeaveStage}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool passed_over = c.prompts.empty();
    for (const ErrorRule& rule : rules) {
      SCOPED_TRACE(rule.title);
      ui::ScriptedMessageBoxes boxes;
      bool bFailed = c.failed_before;
      const Resume resume = ApplyErrorRule(rule, kav::Error(c.number, c.description), bFailed);
      EXPECT_EQ(resume, passed_over ? Resume::kNextOperation : rule.after_report);
      EXPECT_EQ(bFailed, c.failed_after);
      std::vector<ui::ShownBox> expected;
      for (const std::string& prompt : c.prompts) {
        expected.push_back({prompt, ui::vbOKOnly, rule.title, ui::vbDefault});
      }
      EXPECT_EQ(boxes.boxes(), expected);
    }

    ui::ScriptedMessageBoxes boxes;
    bool bFailed = c.failed_before;
    HandleTrainingStageError(c.number, c.description, bFailed);
    EXPECT_EQ(bFailed, c.failed_after);
    std::vector<ui::ShownBox> expected;
    for (const std::string& prompt : c.prompts) {
      expected.push_back({prompt, ui::vbOKOnly, "UpdateMDB_Jobs_Training", ui::vbDefault});
    }
    EXPECT_EQ(boxes.boxes(), expected);
  }
}

TEST(ErrorRule, FlagIsSetBeforeTheBoxAndAFailingBoxRaises) {
  const ErrorRule leaving = {"Leaving", Resume::kLeaveStage};
  const std::function<void(long, const std::string&, bool&)> appliers[] = {
      HandleTrainingStageError, [&](long number, const std::string& description, bool& bFailed) {
        ApplyErrorRule(leaving, kav::Error(number, description), bFailed);
      }};
  for (const auto& apply : appliers) {
    ui::ScriptedMessageBoxes boxes;
    bool bFailed = false;
    std::vector<bool> flag_while_shown;
    boxes.on_show = [&](const ui::ShownBox&) { flag_while_shown.push_back(bFailed); };
    apply(3201, "related record required", bFailed);
    EXPECT_THAT(flag_while_shown, ::testing::ElementsAre(true));

    // A box that cannot be shown raises out of the rule, the flag already
    // set.
    boxes.on_show = [](const ui::ShownBox&) { throw kav::Error(7, "Out of memory", "ui"); };
    bFailed = false;
    try {
      apply(3078, "Table not found", bFailed);
      ADD_FAILURE() << "the box's failure did not leave the rule";
    } catch (const kav::Error& error) {
      EXPECT_EQ(error.number(), 7);
      EXPECT_EQ(error.description(), "Out of memory");
    }
    EXPECT_TRUE(bFailed);

    // 3022 shows nothing, so nothing can fail.
    bFailed = false;
    EXPECT_NO_THROW(apply(3022, "duplicate", bFailed));
    EXPECT_FALSE(bFailed);
  }
}

}  // namespace
}  // namespace kav::stages
