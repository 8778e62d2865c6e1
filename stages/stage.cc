#include "stages/stage.h"

#include "platform/dao/observer.h"
#include "platform/error.h"
#include "platform/ui/message_box.h"
#include "stages/globals.h"

namespace kav::stages {

RowStep Row(std::string table, std::initializer_list<std::string> values) {
  RowStep row{std::move(table), {}, false};
  int position = 0;
  for (const std::string& value : values) {
    row.fields.push_back({position++, dao::Value(value)});
  }
  return row;
}

RowStep RowAt(std::string table, std::vector<FieldValue> fields) {
  return RowStep{std::move(table), std::move(fields), false};
}

RowStep ThroughPreviousRecordset(RowStep row) {
  row.through_previous_recordset = true;
  return row;
}

SqlStep Sql(std::string text) { return SqlStep{std::move(text)}; }

namespace {

// Calls `visit(operation)` for each single operation of `steps`, in order,
// until it returns false.
template <typename Visit>
bool ForEachOperation(std::span<const Step> steps, Visit&& visit) {
  for (const Step& step : steps) {
    if (const auto* row = std::get_if<RowStep>(&step)) {
      if (!row->through_previous_recordset && !visit(Operation{OperationKind::kOpen, &step})) {
        return false;
      }
      if (!visit(Operation{OperationKind::kAddNew, &step})) return false;
      for (int i = 0; i < static_cast<int>(row->fields.size()); ++i) {
        if (!visit(Operation{OperationKind::kSetField, &step, i})) return false;
      }
      if (!visit(Operation{OperationKind::kUpdate, &step})) return false;
    } else {
      if (!visit(Operation{OperationKind::kJoin, &step})) return false;
      if (!visit(Operation{OperationKind::kExecute, &step})) return false;
    }
  }
  return true;
}

void RunOperation(dao::Database& db, const Operation& op, StepLocals& locals) {
  switch (op.kind) {
    case OperationKind::kOpen: {
      // Assigned only once the open has succeeded: a failed open leaves the
      // recordset of the row before in place.
      dao::Recordset opened = db.OpenRecordset(std::get<RowStep>(*op.step).table, dao::dbOpenTable);
      locals.rs = opened;
      break;
    }
    case OperationKind::kAddNew:
      locals.rs.AddNew();
      break;
    case OperationKind::kSetField: {
      const FieldValue& field = std::get<RowStep>(*op.step).fields[op.field];
      locals.rs.Fields(field.position).SetValue(field.value);
      break;
    }
    case OperationKind::kUpdate:
      locals.rs.Update(dao::dbUpdateRegular, false);
      break;
    case OperationKind::kJoin:
      locals.sSQL = std::get<SqlStep>(*op.step).text;
      break;
    case OperationKind::kExecute:
      db.Execute(locals.sSQL, 0);
      break;
  }
}

}  // namespace

std::vector<Operation> ExpandOperations(std::span<const Step> steps) {
  std::vector<Operation> ops;
  ForEachOperation(steps, [&](const Operation& op) {
    ops.push_back(op);
    return true;
  });
  return ops;
}

std::vector<std::string> TraceLines(std::span<const Step> steps) {
  std::vector<std::string> lines;
  ForEachOperation(steps, [&](const Operation& op) {
    dao::Call call;
    switch (op.kind) {
      case OperationKind::kOpen:
        call.kind = dao::CallKind::kOpenTable;
        call.text = std::get<RowStep>(*op.step).table;
        break;
      case OperationKind::kAddNew:
        call.kind = dao::CallKind::kAddNew;
        break;
      case OperationKind::kSetField: {
        const FieldValue& f = std::get<RowStep>(*op.step).fields[op.field];
        call.kind = dao::CallKind::kSetField;
        call.index = f.position;
        call.value = f.value;
        break;
      }
      case OperationKind::kUpdate:
        call.kind = dao::CallKind::kUpdate;
        break;
      case OperationKind::kJoin:
        return true;  // no engine call
      case OperationKind::kExecute:
        call.kind = dao::CallKind::kExecute;
        call.text = std::get<SqlStep>(*op.step).text;
        break;
    }
    lines.push_back(dao::TraceLine(call));
    return true;
  });
  return lines;
}

bool IsPassedOver(const kav::Error& error) { return error.number() == dao::kErrDuplicateKey; }

Resume ApplyErrorRule(const ErrorRule& rule, const kav::Error& error, bool& bFailed) {
  if (IsPassedOver(error)) return Resume::kNextOperation;
  bFailed = true;  // before the box, so a box that fails leaves it set
  ui::MsgBox(kav::ErrorBoxText(error.number(), error.description()), ui::vbOKOnly, rule.title);
  return rule.after_report;
}

bool RunSteps(dao::Database& db, std::span<const Step> steps, StepLocals& locals,
              const StageErrorHandler& handler, bool& bFailed) {
  return ForEachOperation(steps, [&](const Operation& op) {
    try {
      RunOperation(db, op, locals);
      return true;
    } catch (const kav::Error& error) {
      // kav::Error only: out of memory leaves without the box, never re-running a stale sSQL.
      // The handler runs outside the capture of operation failures: an
      // error it raises itself leaves the steps.
      return handler(error, bFailed) == Resume::kNextOperation;
    }
  });
}

void RunStage(std::span<const Step> steps, const ErrorRule& rule, bool& bFailed) {
  bFailed = false;
  StepLocals locals;  // released on every way out: sSQL first, then rs
  RunSteps(
      gdbUpdate, steps, locals,
      [&rule](const kav::Error& error, bool& flag) { return ApplyErrorRule(rule, error, flag); },
      bFailed);
}

}  // namespace kav::stages
