// Running the update's SQL statements on SQLite.
//
// A statement is parsed into its parts (sql_parser.h), its table and columns
// are looked up in the catalog, and its literals are converted to their
// columns' types; only bound parameters and our own quoted names reach
// SQLite.  UPDATE and DELETE first select the rowids that the WHERE clause
// matches, so it sees the rows as they were before the statement, then
// change the rows one by one inside one savepoint, each row whole or not at
// all (WriteWholeRow).  A row that cannot change (a key collision, a refused
// value, a relation, a trigger that refuses or skips it) stays as it was;
// without dbFailOnError the other rows change, with it the savepoint is
// rolled back and the row's error raised.

#include <utility>
#include <variant>

#include "platform/dao/internal/engine.h"
#include "platform/dao/sql_parser.h"

namespace dao {
namespace internal {
namespace {

const TableSchema& FindStatementTable(const Schema& schema, const std::string& name) {
  const TableSchema* t = schema.FindTable(name);
  if (t == nullptr) {
    Raise(kErrTableNotFound, "The engine cannot find the table '" + name + "'.");
  }
  return *t;
}

const FieldDef& FindColumn(const TableSchema& t, const sql::ColumnRef& c) {
  const std::string shown = c.table.empty() ? c.column : c.table + "." + c.column;
  if (!c.table.empty() && !SameName(c.table, t.name)) {
    Raise(kErrTooFewParameters, "Too few parameters: '" + shown +
                                    "' is not a column of table '" + t.name + "'.");
  }
  const FieldDef* f = t.FindField(c.column);
  if (f == nullptr) {
    Raise(kErrTooFewParameters, "Too few parameters: '" + shown +
                                    "' is not a column of table '" + t.name + "'.");
  }
  return *f;
}

Value LiteralValue(const sql::Literal& literal, const DateTime& now) {
  switch (literal.kind) {
    case sql::Literal::Kind::kText:
      return Value(literal.text);
    case sql::Literal::Kind::kInteger:
      if (literal.integer >= INT32_MIN && literal.integer <= INT32_MAX) {
        return Value(static_cast<int32_t>(literal.integer));
      }
      return Value(static_cast<double>(literal.integer));
    case sql::Literal::Kind::kNow:
      return Value(now);
  }
  return Value();
}

struct Where {
  std::string sql;  // " WHERE ..." or empty
  std::vector<Value> values;
};

// Text compares without regard to letter case, as the stored keys expect.
Where BuildWhere(const TableSchema& t, const std::vector<sql::Condition>& conditions,
                 const DateTime& now) {
  Where where;
  for (const sql::Condition& c : conditions) {
    const FieldDef& f = FindColumn(t, c.column);
    std::string term = QuoteName(f.name);
    if (f.type == dbText) term += " COLLATE NOCASE";
    if (c.op == sql::Condition::Op::kEquals) {
      term += " = ?";
    } else {
      term += " IN (";
      for (size_t i = 0; i < c.values.size(); ++i) term += i == 0 ? "?" : ", ?";
      term += ")";
    }
    for (const sql::Literal& literal : c.values) {
      try {
        where.values.push_back(ConvertToFieldType(LiteralValue(literal, now), f.type));
      } catch (const kav::Error&) {
        Raise(kErrCriteriaMismatch, "Data type mismatch in criteria expression: '" +
                                        literal.text + "' for column '" + f.name + "'.");
      }
    }
    where.sql += where.sql.empty() ? " WHERE " : " AND ";
    where.sql += term;
  }
  return where;
}

std::vector<int64_t> MatchingRows(DatabaseImpl& db, const TableSchema& t, const Where& where) {
  Statement st(db.conn, "SELECT rowid FROM " + QuoteName(t.name) + where.sql +
                            " ORDER BY rowid");
  for (size_t i = 0; i < where.values.size(); ++i) {
    st.BindValue(static_cast<int>(i + 1), where.values[i]);
  }
  std::vector<int64_t> rows;
  while (st.Step()) rows.push_back(st.Int(0));
  return rows;
}

struct Assignment {
  int target = 0;  // field index
  std::optional<Value> literal;
  int source = -1;  // field index of a column-to-column assignment
};

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

// A statement's changes, one row at a time, in a savepoint.
template <class ChangeRow>
void ChangeRows(DatabaseImpl& db, const std::vector<int64_t>& rows, bool fail_on_error,
                ChangeRow change_row) {
  long affected = 0;
  Exec(db.conn, "SAVEPOINT daosys_exec");
  try {
    for (int64_t rowid : rows) {
      try {
        if (change_row(rowid)) ++affected;
      } catch (const kav::Error&) {
        if (fail_on_error) throw;
        // Without dbFailOnError the row stays as it was: its write has
        // been rolled back whole.
      }
    }
    Exec(db.conn, "RELEASE daosys_exec");
  } catch (...) {
    sqlite3_exec(db.conn, "ROLLBACK TO daosys_exec; RELEASE daosys_exec", nullptr, nullptr,
                 nullptr);
    db.records_affected = 0;
    throw;
  }
  db.records_affected = affected;
}

void RunUpdate(DatabaseImpl& db, const sql::UpdateStatement& u, bool fail_on_error) {
  const DateTime now = DateTime::Now();
  std::shared_ptr<const Schema> schema = db.CurrentSchema();
  const TableSchema& t = FindStatementTable(*schema, u.table);
  std::vector<Assignment> assignments;
  for (const sql::Assignment& a : u.assignments) {
    Assignment x;
    x.target = t.FieldIndexById(FindColumn(t, a.column).id);
    if (const auto* literal = std::get_if<sql::Literal>(&a.value)) {
      x.literal = LiteralValue(*literal, now);
    } else {
      x.source = t.FieldIndexById(FindColumn(t, std::get<sql::ColumnRef>(a.value)).id);
    }
    assignments.push_back(std::move(x));
  }
  const Where where = BuildWhere(t, u.where, now);
  const std::vector<int64_t> rows = MatchingRows(db, t, where);
  std::string sets;
  for (const Assignment& a : assignments) {
    if (!sets.empty()) sets += ", ";
    sets += QuoteName(t.fields[a.target].name) + " = ?";
  }
  const std::string sql =
      "UPDATE OR ABORT " + QuoteName(t.name) + " SET " + sets + " WHERE rowid = ?";
  ChangeRows(db, rows, fail_on_error, [&](int64_t rowid) {
    std::vector<Value> old_row = ReadRowValues(db, t, rowid);
    std::vector<Value> values;
    for (const Assignment& a : assignments) {
      const FieldDef& f = t.fields[a.target];
      Value v = ValueForField(a.literal ? *a.literal : old_row[a.source], f);
      values.push_back(v);
    }
    std::vector<Value> new_row = old_row;
    for (size_t i = 0; i < assignments.size(); ++i) new_row[assignments[i].target] = values[i];
    // Only the assigned fields are checked: a row that broke a rule before
    // the statement is not refused for a field the statement leaves alone.
    std::vector<Value> check(t.fields.size(), Value(true));
    for (const Assignment& a : assignments) check[a.target] = new_row[a.target];
    CheckRowBeforeWrite(t, check);
    Statement st(db.conn, db.Cached(sql));
    for (size_t i = 0; i < values.size(); ++i) st.BindValue(static_cast<int>(i + 1), values[i]);
    st.Bind(static_cast<int>(values.size() + 1), rowid);
    WriteStatementRow(db, fail_on_error, [&] {
      st.Run();
      // The row was read just now, so only a trigger can have skipped it.
      if (sqlite3_changes(db.conn) == 0) RaiseRowIgnored(t);
    });
    return true;
  });
}

void RunDelete(DatabaseImpl& db, const sql::DeleteStatement& d, bool fail_on_error) {
  const DateTime now = DateTime::Now();
  std::shared_ptr<const Schema> schema = db.CurrentSchema();
  const TableSchema& t = FindStatementTable(*schema, d.table);
  const Where where = BuildWhere(t, d.where, now);
  const std::vector<int64_t> rows = MatchingRows(db, t, where);
  const std::string sql = "DELETE FROM " + QuoteName(t.name) + " WHERE rowid = ?";
  const std::string still_there = "SELECT 1 FROM " + QuoteName(t.name) + " WHERE rowid = ?";
  ChangeRows(db, rows, fail_on_error, [&](int64_t rowid) {
    Statement st(db.conn, db.Cached(sql));
    st.Bind(1, rowid);
    bool deleted = false;
    WriteStatementRow(db, fail_on_error, [&] {
      st.Run();
      deleted = sqlite3_changes(db.conn) > 0;
      if (deleted) return;
      // Gone already (the cascade of an earlier row deleted it) is no
      // error; still there, a trigger skipped it.
      Statement row(db.conn, db.Cached(still_there));
      row.Bind(1, rowid);
      if (row.Step()) RaiseRowIgnored(t);
    });
    return deleted;
  });
}

std::shared_ptr<RecordsetImpl> ReadRows(const std::shared_ptr<DatabaseImpl>& db,
                                        const TableSchema& t,
                                        const std::vector<const FieldDef*>& columns,
                                        const Where& where) {
  auto rs = std::make_shared<RecordsetImpl>();
  rs->db = db;
  rs->table_type = false;
  std::string list;
  for (const FieldDef* f : columns) {
    if (!list.empty()) list += ", ";
    list += QuoteName(f->name);
    rs->columns.push_back({f->name, f->type, f->size});
  }
  // Every row is read now: the recordset holds no statement, and so no lock,
  // while it stays open.
  Statement st(db->conn, "SELECT " + list + " FROM " + QuoteName(t.name) + where.sql +
                             " ORDER BY rowid");
  for (size_t i = 0; i < where.values.size(); ++i) {
    st.BindValue(static_cast<int>(i + 1), where.values[i]);
  }
  while (st.Step()) {
    std::vector<Value> row;
    for (size_t i = 0; i < columns.size(); ++i) {
      row.push_back(st.ReadValue(static_cast<int>(i), columns[i]->type));
    }
    rs->rows.push_back(std::move(row));
  }
  return rs;
}

}  // namespace

std::shared_ptr<RecordsetImpl> OpenAllRows(const std::shared_ptr<DatabaseImpl>& db,
                                           const TableSchema& table) {
  std::vector<const FieldDef*> columns;
  for (const FieldDef& f : table.fields) columns.push_back(&f);
  return ReadRows(db, table, columns, Where{});
}

std::shared_ptr<RecordsetImpl> OpenQuery(const std::shared_ptr<DatabaseImpl>& db,
                                         const std::string& text) {
  sql::Statement statement = sql::Parse(text);
  const auto* select = std::get_if<sql::SelectStatement>(&statement);
  if (select == nullptr) {
    Raise(kErrInvalidOperation,
          "Invalid operation: only a SELECT statement opens a recordset.");
  }
  std::shared_ptr<const Schema> schema = db->CurrentSchema();
  const TableSchema& t = FindStatementTable(*schema, select->table);
  std::vector<const FieldDef*> columns;
  for (const sql::ColumnRef& c : select->columns) columns.push_back(&FindColumn(t, c));
  return ReadRows(db, t, columns, BuildWhere(t, select->where, DateTime::Now()));
}

void ExecuteStatement(DatabaseImpl& db, const std::string& text, int options) {
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
