// The stage machinery: reference rows and SQL steps as data, and the one
// executor that runs them operation by operation.
//
// A stage procedure is a fixed list of steps on gdbUpdate.  A step is a
// reference row (open the table afresh, add a record, assign each field by
// ordinal position, update) or an SQL step (join the text, execute it without
// options).  Each of those is one operation.  After an error the stage's
// error handler decides between going on with the very next operation and
// leaving the stage; a step is never resumed or skipped as a whole.
//
// The recordset variable behaves as the records system's runtime does: a
// failed open leaves the recordset of the row before in place, and an
// operation while no recordset was ever opened fails with error 91.

#ifndef KAV_STAGES_STAGE_H_
#define KAV_STAGES_STAGE_H_

#include <functional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/dao/dao.h"

namespace kav::stages {

// One field assignment of a reference row: the ordinal position and the
// value, text or a 16-bit integer.
struct FieldValue {
  int position;
  dao::Value value;
};

struct RowStep {
  std::string table;
  std::vector<FieldValue> fields;  // in ascending position
  // The row opens nothing and goes through the recordset of the row before.
  bool through_previous_recordset = false;
};

struct SqlStep {
  std::string text;
};

using Step = std::variant<RowStep, SqlStep>;

// A row of text values for positions 0, 1, 2, ... in order.
RowStep Row(std::string table, std::initializer_list<std::string> values);
// A row with explicit positions, for rows that leave some unset or write a
// number.
RowStep RowAt(std::string table, std::vector<FieldValue> fields);
// The same row, going through the recordset of the row before.
RowStep ThroughPreviousRecordset(RowStep row);
SqlStep Sql(std::string text);

// The step list `build` makes, built on first use and kept: the stage's
// procedure and its tests run the one list.
template <std::vector<Step> (*build)()>
const std::vector<Step>& BuiltOnce() {
  static const std::vector<Step> steps = build();
  return steps;
}

// The single operations a step expands to.
enum class OperationKind { kOpen, kAddNew, kSetField, kUpdate, kJoin, kExecute };

struct Operation {
  OperationKind kind;
  const Step* step;  // the step the operation belongs to
  int field = -1;    // index into RowStep::fields for kSetField
};

std::vector<Operation> ExpandOperations(std::span<const Step> steps);

// The trace lines (see the headless runner) that running `steps` produces
// when no operation fails: OPEN, ADDNEW, SET, UPDATE and EXEC lines.
std::vector<std::string> TraceLines(std::span<const Step> steps);

// What the stage does after its handler has dealt with an error.
enum class Resume { kNextOperation, kLeaveStage };

// A stage's error handler.  It receives every failing operation's error and
// the stage's flag; it may itself raise, and that error leaves the stage.
using StageErrorHandler = std::function<Resume(const kav::Error& error, bool& bFailed)>;

// Whether `error` is the one every data step passes over in silence: 3022,
// a new row whose key is already there, so that a rerun skips the rows an
// earlier run wrote.
bool IsPassedOver(const kav::Error& error);

// A stage's error rule: the title of its box, and whether the stage goes on
// with the next operation or leaves after it has reported an error.
struct ErrorRule {
  const char* title;
  Resume after_report;
};

// Applies `rule` to a failing operation's error.  An error IsPassedOver
// goes on silently.  Any other sets bFailed, then shows the box
// Str(number) + "  :  " + description (OK only, no icon) titled rule.title,
// and returns rule.after_report.  A box that cannot be shown raises, with
// bFailed already set.
Resume ApplyErrorRule(const ErrorRule& rule, const kav::Error& error, bool& bFailed);

// The locals every step list runs with: the recordset variable and the text
// of the statement under way.  They are released when the caller drops them.
struct StepLocals {
  dao::Recordset rs;
  std::string sSQL;
};

// Runs `steps` on `db` operation by operation, handing each failing
// operation's error to `handler`.  Returns false when the handler left.
bool RunSteps(dao::Database& db, std::span<const Step> steps, StepLocals& locals,
              const StageErrorHandler& handler, bool& bFailed);

// A whole stage procedure: sets bFailed to false, then runs `steps` on
// gdbUpdate with fresh locals under `rule`.  No error is pending when it
// returns normally; an error raised while the rule is applied (a box that
// cannot be shown) leaves it.
void RunStage(std::span<const Step> steps, const ErrorRule& rule, bool& bFailed);

}  // namespace kav::stages

#endif  // KAV_STAGES_STAGE_H_
