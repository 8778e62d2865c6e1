// Running the update's SQL statements on SQLite.
//
// A statement is parsed into its parts (sql_parser.h) and planned against the
// catalog (internal/statement_plan.h); only bound parameters and our own
// quoted names reach SQLite.  UPDATE and DELETE first select the rowids that
// the WHERE clause matches, so it sees the rows as they were before the
// statement, then change the rows one by one inside one savepoint, each row
// whole or not at all (WriteWholeRow).  A row that cannot change (a key
// collision, a refused value, a relation, a trigger that refuses or skips
// it) stays as it was; without dbFailOnError the other rows change, with it
// the savepoint is rolled back and the row's error raised.  A trigger that
// ends SQLite's whole transaction (RAISE(ROLLBACK)) has undone every row
// already: the statement then stops and raises the row's error, whatever
// the options.  An UPDATE that one set-based statement writes with the same
// result goes that way instead (internal/set_based_update.h).

#include <optional>
#include <utility>
#include <variant>

#include "platform/dao/dao.h"
#include "platform/dao/internal/call_frame.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/execute.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/recordset.h"
#include "platform/dao/internal/row_rules.h"
#include "platform/dao/internal/set_based_update.h"
#include "platform/dao/internal/sqlite.h"
#include "platform/dao/internal/statement_plan.h"
#include "platform/dao/sql_parser.h"

namespace dao {
namespace internal {
namespace {

std::vector<int64_t> MatchingRows(DatabaseImpl& db, const CatalogTable& t, const Where& where) {
  Statement st(db.conn, "SELECT rowid FROM " + QuoteName(t.name) + where.sql + " ORDER BY rowid");
  for (size_t i = 0; i < where.values.size(); ++i) {
    st.BindValue(static_cast<int>(i + 1), where.values[i]);
  }
  std::vector<int64_t> rows;
  while (st.Step()) rows.push_back(st.Int(0));
  return rows;
}

// Writes one row of a statement.  Without dbFailOnError the row's write is
// whole by itself (WriteWholeRow); with it, any failure rolls the whole
// statement back, so a savepoint of the row's own would add nothing.
template <class F>
void WriteStatementRow(DatabaseImpl& db, bool fail_on_error, F&& write) {
  if (fail_on_error) {
    write();
  } else {
    WriteWholeRow(db, std::forward<F>(write));
  }
}

// A statement's changes, one row at a time, in a savepoint.  A row that
// cannot change fails the statement with dbFailOnError; without it the row
// stays as it was and the next one follows, unless SQLite has ended the
// whole transaction with the row's error (TransactionEnded): then every row
// is undone already, and no other may be written on its own.
template <class ChangeRow>
void ChangeRows(DatabaseImpl& db, const std::vector<int64_t>& rows, bool fail_on_error,
                ChangeRow change_row) {
  long affected = 0;
  db.records_affected = 0;  // what a failed statement leaves
  InSavepoint(db, Savepoint::kStatement, [&] {
    for (int64_t rowid : rows) {
      try {
        if (change_row(rowid)) ++affected;
      } catch (const kav::Error&) {
        if (fail_on_error || TransactionEnded(db)) throw;
        // Without dbFailOnError the row stays as it was: its write has
        // been rolled back whole.
      }
    }
  });
  db.records_affected = affected;
}

// A value read from a column that a statement copies, and whether it was
// stored as a blob.
struct CopiedValue {
  Value value;
  bool blob = false;
};

// Binds `value`, converted for its field from `copied`.  The engine has no
// kind of value for a blob, which another program may have stored: it is
// read as the text of its bytes.  Where the field takes those bytes as they
// are (a text field, its rules met), they are bound as the blob they were,
// so that a copy never makes text of a blob; SQLite, copying the column
// set-based, keeps it a blob too.
void BindCopied(Statement& st, int index, const Value& value, const CopiedValue& copied) {
  if (copied.blob && value.kind() == Value::Kind::kText && value == copied.value) {
    st.BindBlob(index, value.AsText());
  } else {
    st.BindValue(index, value);
  }
}

// The rows of an UPDATE one by one.  The literals are bound once; per row
// only the rowid, the copied columns (read only where an assignment copies
// one) and the write itself.  Where a trigger of another program might
// have deleted a row by now (not `quiet`), the row is looked for first, as
// reading it would.
void UpdateRowByRow(DatabaseImpl& db, const UpdatePlan& plan, bool quiet, bool fail_on_error) {
  const CatalogTable& t = *plan.t;
  const std::vector<Assignment>& assignments = plan.assignments;
  const std::vector<int64_t> rows = MatchingRows(db, t, plan.where);
  Statement write(db.conn, db.Cached("UPDATE OR ABORT " + plan.table + " SET " + plan.set_bound +
                                     " WHERE rowid = ?"));
  for (size_t i = 0; i < assignments.size(); ++i) {
    if (assignments[i].source < 0) write.BindValue(static_cast<int>(i + 1), assignments[i].value);
  }
  const int rowid_parameter = static_cast<int>(assignments.size() + 1);
  std::optional<Statement> old_row;
  if (plan.copies() || !quiet) {
    old_row.emplace(db.conn, db.Cached("SELECT " + (plan.copies() ? plan.sources : "1") + " FROM " +
                                       plan.table + " WHERE rowid = ?"));
  }
  std::vector<CopiedValue> copied;  // the copied columns of the row, as read
  // Only the assigned fields are checked: a row that broke a rule before
  // the statement is not refused for a field the statement leaves alone.
  std::vector<Value> check(t.fields.size(), Value(true));
  ChangeRows(db, rows, fail_on_error, [&](int64_t rowid) {
    if (old_row) {
      old_row->Bind(1, rowid);
      const bool there = old_row->Step();
      copied.clear();
      for (const Assignment& a : assignments) {
        if (there && a.source >= 0) {
          // The stored class is asked first: reading converts it.
          const int column = static_cast<int>(copied.size());
          const bool blob = old_row->StoredType(column) == SQLITE_BLOB;
          copied.push_back({old_row->ReadValue(column, t.fields[a.source].type), blob});
        }
      }
      // No statement stays open across the row's write and its rollback.
      old_row->Rewind();
      if (!there) RaiseRecordDeleted();
    }
    if (plan.refused) throw *plan.refused;
    if (plan.copies()) {
      auto value = copied.begin();
      for (size_t i = 0; i < assignments.size(); ++i) {
        const Assignment& a = assignments[i];
        if (a.source < 0) {
          if (a.refused) throw *a.refused;
          check[a.target] = a.value;
          continue;
        }
        const CopiedValue& read = *value++;
        Value v = ValueForField(read.value, t.fields[a.target]);
        BindCopied(write, static_cast<int>(i + 1), v, read);
        check[a.target] = std::move(v);
      }
      CheckRowBeforeWrite(t, check);
    }
    write.Bind(rowid_parameter, rowid);
    WriteStatementRow(db, fail_on_error, [&] {
      write.Run();
      const int changed = sqlite3_changes(db.conn);
      write.Rewind();
      // The row is there (it was read, or nothing can have deleted it), so
      // only a trigger can have skipped it.
      if (changed == 0) RaiseRowIgnored(t);
    });
    return true;
  });
}

void RunUpdate(DatabaseImpl& db, const sql::UpdateStatement& u, bool fail_on_error) {
  std::shared_ptr<const Catalog> catalog = db.CurrentCatalog();
  const UpdatePlan plan = PlanUpdate(*catalog, u);
  const bool quiet = OnlyEngineTriggers(db, catalog);
  if (UpdatedSetBased(db, catalog, plan)) return;
  UpdateRowByRow(db, plan, quiet, fail_on_error);
}

void RunDelete(DatabaseImpl& db, const sql::DeleteStatement& d, bool fail_on_error) {
  const DateTime now = DateTime::Now();
  std::shared_ptr<const Catalog> catalog = db.CurrentCatalog();
  const CatalogTable& t = FindStatementTable(*catalog, d.table);
  const Where where = BuildWhere(t, d.where, now);
  const std::vector<int64_t> rows = MatchingRows(db, t, where);
  Statement remove(db.conn, db.Cached("DELETE FROM " + QuoteName(t.name) + " WHERE rowid = ?"));
  ChangeRows(db, rows, fail_on_error, [&](int64_t rowid) {
    remove.Bind(1, rowid);
    bool deleted = false;
    WriteStatementRow(db, fail_on_error, [&] {
      remove.Run();
      deleted = sqlite3_changes(db.conn) > 0;
      remove.Rewind();
      // Gone already (the cascade of an earlier row deleted it) is no
      // error; still there, a trigger skipped it.
      if (!deleted && RowExists(db, t, rowid)) RaiseRowIgnored(t);
    });
    return deleted;
  });
}

}  // namespace

void ExecuteStatement(DatabaseImpl& db, const std::string& text, int options) {
  // A statement refused before it runs (its syntax, an unknown table or
  // column, a value its column refuses) has changed no row.
  db.records_affected = 0;
  sql::Statement statement = sql::Parse(text);
  const bool fail_on_error = (options & dbFailOnError) != 0;
  if (const auto* u = std::get_if<sql::UpdateStatement>(&statement)) {
    RunUpdate(db, *u, fail_on_error);
  } else if (const auto* d = std::get_if<sql::DeleteStatement>(&statement)) {
    RunDelete(db, *d, fail_on_error);
  } else {
    Raise(kErrSelectExecuted, "A SELECT statement cannot be executed; open a recordset on it.");
  }
}

}  // namespace internal

void Database::Execute(const std::string& sql, int options) {
  Call call;
  call.kind = CallKind::kExecute;
  call.text = sql;
  call.options = options;
  internal::RunCall(call, "DAO.Database", [&] {
    if (!impl_) internal::RaiseNothing();
    impl_->CheckOpen();
    internal::ExecuteStatement(*impl_, sql, options);
  });
}

}  // namespace dao
