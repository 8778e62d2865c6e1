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
// rolled back and the row's error raised.  A trigger that ends SQLite's
// whole transaction (RAISE(ROLLBACK)) has undone every row already: the
// statement then stops and raises the row's error, whatever the options.
//
// An UPDATE whose rows cannot depend on one another, nor be watched by a
// trigger, and none of which would be refused, is written instead by one
// set-based UPDATE with the same WHERE, which leaves exactly what the rows
// one by one leave (UpdateSetBased says why); as soon as SQLite refuses a
// row there, it is undone and the rows go one by one after all.

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>
#include <variant>

#include "platform/dao/internal/engine.h"
#include "platform/dao/internal/sqlite.h"
#include "platform/dao/sql_parser.h"

namespace dao {
namespace internal {
namespace {

const CatalogTable& FindStatementTable(const Catalog& catalog, const std::string& name) {
  const CatalogTable* t = catalog.FindTable(name);
  if (t == nullptr) {
    Raise(kErrTableNotFound, "The engine cannot find the table '" + name + "'.");
  }
  return *t;
}

const FieldDef& FindColumn(const CatalogTable& t, const sql::ColumnRef& c) {
  const std::string shown = c.table.empty() ? c.column : c.table + "." + c.column;
  if (!c.table.empty() && !SameName(c.table, t.name)) {
    Raise(kErrTooFewParameters,
          "Too few parameters: '" + shown + "' is not a column of table '" + t.name + "'.");
  }
  const FieldDef* f = t.FindField(c.column);
  if (f == nullptr) {
    Raise(kErrTooFewParameters,
          "Too few parameters: '" + shown + "' is not a column of table '" + t.name + "'.");
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

// The literal as the statement writes it, for the errors that name it.
std::string LiteralText(const sql::Literal& literal) {
  switch (literal.kind) {
    case sql::Literal::Kind::kText:
      return literal.text;
    case sql::Literal::Kind::kInteger:
      return std::to_string(literal.integer);
    case sql::Literal::Kind::kNow:
      return "now()";
  }
  return {};
}

struct Where {
  std::string sql;  // " WHERE ..." or empty
  std::vector<Value> values;
};

// Text compares as the stored keys do (FoldsCase).
Where BuildWhere(const CatalogTable& t, const std::vector<sql::Condition>& conditions,
                 const DateTime& now) {
  Where where;
  for (const sql::Condition& c : conditions) {
    const FieldDef& f = FindColumn(t, c.column);
    std::string term = QuoteName(f.name);
    if (FoldsCase(f)) term += " COLLATE NOCASE";
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
                                        LiteralText(literal) + "' for column '" + f.name + "'.");
      }
    }
    where.sql += where.sql.empty() ? " WHERE " : " AND ";
    where.sql += term;
  }
  return where;
}

std::vector<int64_t> MatchingRows(DatabaseImpl& db, const CatalogTable& t, const Where& where) {
  Statement st(db.conn, "SELECT rowid FROM " + QuoteName(t.name) + where.sql + " ORDER BY rowid");
  for (size_t i = 0; i < where.values.size(); ++i) {
    st.BindValue(static_cast<int>(i + 1), where.values[i]);
  }
  std::vector<int64_t> rows;
  while (st.Step()) rows.push_back(st.Int(0));
  return rows;
}

struct Assignment {
  int target = 0;   // field index
  int source = -1;  // field index of a column-to-column assignment
  // A literal, converted and checked for its field once: the same for every
  // row, and so is its refusal.
  Value value;
  std::optional<kav::Error> refused;
};

// An UPDATE statement made ready once, for whichever way it is written:
// its columns looked up, its literals converted and checked, its SQL texts
// built.
struct UpdatePlan {
  const CatalogTable* t = nullptr;
  std::vector<Assignment> assignments;
  Where where;
  std::string table;        // the table's name, quoted
  std::string sources;      // the copied columns, quoted, in assignment order
  std::string set_bound;    // "target = ?" for each assignment
  std::string set_copying;  // the same, each copy naming its source column
  bool literal_refused = false;
  // With literals alone the row check is the same for every row too, and
  // the first refusal, of a literal or of the check, is every row's.
  std::optional<kav::Error> refused;

  bool copies() const { return !sources.empty(); }
};

UpdatePlan PlanUpdate(const Catalog& catalog, const sql::UpdateStatement& u) {
  const DateTime now = DateTime::Now();
  UpdatePlan plan;
  plan.t = &FindStatementTable(catalog, u.table);
  const CatalogTable& t = *plan.t;
  plan.table = QuoteName(t.name);
  for (const sql::Assignment& a : u.assignments) {
    Assignment x;
    x.target = t.FieldIndexById(FindColumn(t, a.column).id);
    const std::string target = QuoteName(t.fields[x.target].name);
    const char* comma = plan.set_bound.empty() ? "" : ", ";
    plan.set_bound += comma + target + " = ?";
    if (const auto* literal = std::get_if<sql::Literal>(&a.value)) {
      x.value = LiteralValue(*literal, now);
      try {
        x.value = ValueForField(x.value, t.fields[x.target]);
      } catch (const kav::Error& error) {
        x.refused = error;
        plan.literal_refused = true;
      }
      plan.set_copying += comma + target + " = ?";
    } else {
      x.source = t.FieldIndexById(FindColumn(t, std::get<sql::ColumnRef>(a.value)).id);
      const std::string source = QuoteName(t.fields[x.source].name);
      plan.sources += (plan.sources.empty() ? "" : ", ") + source;
      plan.set_copying += comma + target + " = " + source;
    }
    plan.assignments.push_back(std::move(x));
  }
  plan.where = BuildWhere(t, u.where, now);
  if (!plan.copies()) {
    std::vector<Value> check(t.fields.size(), Value(true));
    for (const Assignment& a : plan.assignments) {
      if (a.refused && !plan.refused) plan.refused = a.refused;
      check[a.target] = a.value;
    }
    try {
      if (!plan.refused) CheckRowBeforeWrite(t, check);
    } catch (const kav::Error& error) {
      plan.refused = error;
    }
  }
  return plan;
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

}  // namespace

// What the file's schema tells about writing an UPDATE set-based, found
// once for each catalog the engine loads: a change of the schema, by the
// engine or by another program, loads the catalog anew.
struct UpdateFacts {
  struct Table {
    // A plain rowid table of SQLite in UTF-8: not virtual, without
    // generated columns, a column that hides the rowid or a primary key of
    // SQLite's own, and without a unique index that covers only some rows
    // or holds an expression.
    bool plain = false;
    std::vector<std::string> unique_columns;  // the columns of its unique indexes
    std::vector<int64_t> related_fields;      // its fields in enforced relations
  };
  std::shared_ptr<const Catalog> catalog;     // the catalog they were found with
  bool quiet = false;                         // OnlyRelationTriggers
  std::unordered_map<int64_t, Table> tables;  // by id, found when first needed
};

namespace {

// Whether every trigger of the file is one that the engine made for the
// catalog's relations, word for word.  Those triggers only refuse a row or
// pass a key change on by an UPDATE (a cascading delete needs a DELETE), so
// during an UPDATE statement no row can vanish or be skipped; a trigger of
// anyone else's may do anything, watch the order of the rows included.
bool OnlyRelationTriggers(DatabaseImpl& db, const Catalog& catalog) {
  try {
    return !CompareTriggers(db.conn, catalog).others;
  } catch (const SqliteError&) {
    throw;
  } catch (const kav::Error&) {
    return false;  // a catalog that names what is gone vouches for nothing
  }
}

UpdateFacts::Table FindTableFacts(DatabaseImpl& db, const Catalog& catalog, const CatalogTable& t) {
  UpdateFacts::Table facts;
  for (const RelationDef& r : catalog.relations) {
    if (r.attributes & dbRelationDontEnforce) continue;
    for (const auto& [primary, foreign] : r.fields) {
      if (r.table_id == t.id) facts.related_fields.push_back(primary);
      if (r.foreign_table_id == t.id) facts.related_fields.push_back(foreign);
    }
  }
  Statement table(db.conn,
                  "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
  table.Bind(1, t.name);
  if (!table.Step() || SameName(table.Text(0).substr(0, 14), "CREATE VIRTUAL")) return facts;
  Statement encoding(db.conn, "PRAGMA encoding");
  if (!encoding.Step() || encoding.Text(0) != "UTF-8") return facts;
  Statement columns(db.conn, "SELECT name, pk, hidden FROM pragma_table_xinfo(?)");
  columns.Bind(1, t.name);
  while (columns.Step()) {
    const std::string name = columns.Text(0);
    if (columns.Int(1) != 0 || columns.Int(2) != 0 || SameName(name, "rowid") ||
        SameName(name, "oid") || SameName(name, "_rowid_")) {
      return facts;
    }
  }
  Statement indexes(db.conn, "SELECT name, partial FROM pragma_index_list(?) WHERE \"unique\"");
  Statement keys(db.conn, "SELECT cid, name FROM pragma_index_xinfo(?) WHERE key");
  indexes.Bind(1, t.name);
  while (indexes.Step()) {
    if (indexes.Int(1) != 0) return facts;
    keys.Reset();
    keys.Bind(1, indexes.Text(0));
    while (keys.Step()) {
      if (keys.Int(0) < 0) return facts;
      facts.unique_columns.push_back(keys.Text(1));
    }
  }
  facts.plain = true;
  return facts;
}

// The facts for `catalog`, found now where they were found for another.
UpdateFacts& FactsOf(DatabaseImpl& db, const std::shared_ptr<const Catalog>& catalog) {
  if (!db.update_facts || db.update_facts->catalog != catalog) {
    auto facts = std::make_shared<UpdateFacts>();
    facts->catalog = catalog;
    facts->quiet = OnlyRelationTriggers(db, *catalog);
    db.update_facts = std::move(facts);
  }
  return *db.update_facts;
}

const UpdateFacts::Table& TableFactsOf(DatabaseImpl& db, UpdateFacts& facts,
                                       const CatalogTable& t) {
  auto it = facts.tables.find(t.id);
  if (it == facts.tables.end()) {
    it = facts.tables.emplace(t.id, FindTableFacts(db, *facts.catalog, t)).first;
  }
  return it->second;
}

// Whether the rows of the UPDATE may be written by one set-based statement
// with the row-by-row result, as far as the file's schema goes, in a file
// that holds no trigger but the engine's (`quiet`).  It may when no trigger
// fires on the statement and no row's write depends on another row's:
//   - no enforced relation of the table holds an assigned field, so none
//     of the engine's triggers fires;
//   - no unique index (nor primary key) of the table holds an assigned
//     column or an expression, or covers only some rows, so no row can meet
//     a duplicate that another row's earlier or later write made or removed;
//   - the table is a plain rowid table of SQLite without generated columns
//     and without a column that hides the rowid, in UTF-8, so that the
//     WHERE matches the rows that the row-by-row path selects by rowid and
//     a copied text is stored as the row-by-row path binds it.
// What is left to refuse a row depends on that row alone (a CHECK, NOT
// NULL): the set-based statement then fails as the row-by-row path would
// refuse, and the caller falls back to it.
bool SetBasedSchema(const UpdatePlan& plan, const UpdateFacts::Table& table) {
  if (!table.plain) return false;
  for (const Assignment& a : plan.assignments) {
    const FieldDef& f = plan.t->fields[a.target];
    if (std::find(table.related_fields.begin(), table.related_fields.end(), f.id) !=
            table.related_fields.end() ||
        std::any_of(table.unique_columns.begin(), table.unique_columns.end(),
                    [&](const std::string& column) { return SameName(f.name, column); })) {
      return false;
    }
  }
  return true;
}

// Whether `value`, bound into a statement, is exactly the value stored in
// column `column` of `st`'s row, whose stored class was `stored` before it
// was read.
bool BindsAsStored(const Statement& st, int column, int stored, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return stored == SQLITE_NULL;
    case Value::Kind::kBoolean:
      return stored == SQLITE_INTEGER && st.Int(column) == (value.AsBoolean() ? 1 : 0);
    case Value::Kind::kInteger:
      return stored == SQLITE_INTEGER && st.Int(column) == value.AsInteger();
    case Value::Kind::kLong:
      return stored == SQLITE_INTEGER && st.Int(column) == value.AsLong();
    case Value::Kind::kDouble: {
      const double read = st.Real(column), bound = value.AsDouble();
      return stored == SQLITE_FLOAT && std::memcmp(&read, &bound, sizeof read) == 0;
    }
    case Value::Kind::kText:
      return stored == SQLITE_TEXT && st.Text(column) == value.AsText();
    case Value::Kind::kDate:
      return stored == SQLITE_TEXT && st.Text(column) == value.AsDate().ToIso();
  }
  return false;
}

// Whether every row the statement matches would be written by the
// row-by-row path as it stands: each copied value passes ValueForField, each
// row passes CheckRowBeforeWrite, and each copied value binds to exactly the
// value stored in its source column, so that SQLite copying the column
// stores what the row-by-row path would bind.  Literals are not refused
// here (the caller has seen to that).  It only reads, before anything is
// written, and stops at the first row that would be refused.
bool CopiesPass(DatabaseImpl& db, const UpdatePlan& plan) {
  const CatalogTable& t = *plan.t;
  try {
    Statement scan(db.conn, "SELECT " + plan.sources + " FROM " + plan.table + plan.where.sql);
    for (size_t i = 0; i < plan.where.values.size(); ++i) {
      scan.BindValue(static_cast<int>(i + 1), plan.where.values[i]);
    }
    std::vector<Value> check(t.fields.size(), Value(true));
    while (scan.Step()) {
      int column = 0;
      for (const Assignment& a : plan.assignments) {
        if (a.source < 0) {
          check[a.target] = a.value;
          continue;
        }
        const int stored = scan.StoredType(column);
        Value v =
            ValueForField(scan.ReadValue(column, t.fields[a.source].type), t.fields[a.target]);
        if (!BindsAsStored(scan, column, stored, v)) return false;
        check[a.target] = std::move(v);
        ++column;
      }
      CheckRowBeforeWrite(t, check);
    }
  } catch (const kav::Error&) {
    return false;  // a row that the row-by-row path refuses
  }
  return true;
}

// Writes the statement's rows with one UPDATE OR ABORT with the same WHERE
// and returns the number changed, or none when SQLite refused a row: its
// changes are then the caller's to roll back.
//
// Its result equals the row-by-row path's: SetBasedSchema has ruled out
// every trigger and every rule that makes one row's write depend on
// another's, so each row is written or refused on its own values alone,
// whatever the order; the literals were checked once for all rows, the
// copies by CopiesPass, and so the row-by-row path would refuse no row that
// SQLite writes.  It stores the same values (the literals as the same bound
// values, the copies as their source's value that binds the same) and
// changes the same rows, so RecordsAffected is SQLite's count of changes
// (no trigger adds to it).
std::optional<long> UpdateSetBased(DatabaseImpl& db, const UpdatePlan& plan) {
  try {
    Statement st(db.conn,
                 "UPDATE OR ABORT " + plan.table + " SET " + plan.set_copying + plan.where.sql);
    int parameter = 0;
    for (const Assignment& a : plan.assignments) {
      if (a.source < 0) st.BindValue(++parameter, a.value);
    }
    for (const Value& v : plan.where.values) st.BindValue(++parameter, v);
    st.Run();
    ++SetBasedStatementWrites().statements;
    return sqlite3_changes(db.conn);
  } catch (const kav::Error&) {
    // Where SQLite has ended the whole transaction with the error, there
    // is nothing to fall back from.
    if (TransactionEnded(db)) throw;
    return std::nullopt;
  }
}

// Tries the statement set-based: true when it wrote it, false when a row
// would be refused, found by CopiesPass before anything is written or by
// SQLite in a savepoint, of which nothing then stays.
bool WroteSetBased(DatabaseImpl& db, const UpdatePlan& plan) {
  db.records_affected = 0;  // what a failed statement leaves
  std::optional<long> changed;
  const auto write = [&] {
    changed = UpdateSetBased(db, plan);
    return changed.has_value();
  };
  if ((!plan.copies() || CopiesPass(db, plan)) && InSavepoint(db, Savepoint::kStatement, write)) {
    db.records_affected = *changed;
    return true;
  }
  ++SetBasedStatementWrites().fell_back;
  return false;
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
  std::vector<Value> copied;  // the copied columns of the row, as read
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
          copied.push_back(
              old_row->ReadValue(static_cast<int>(copied.size()), t.fields[a.source].type));
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
        Value v = ValueForField(*value++, t.fields[a.target]);
        write.BindValue(static_cast<int>(i + 1), v);
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
  UpdateFacts& facts = FactsOf(db, catalog);
  // The cheap conditions first: the file's facts are found once per
  // catalog, and CopiesPass reads every row.
  if (SetBasedStatementWrites().allowed && !plan.literal_refused && !plan.refused && facts.quiet &&
      SetBasedSchema(plan, TableFactsOf(db, facts, *plan.t)) && WroteSetBased(db, plan)) {
    return;
  }
  UpdateRowByRow(db, plan, facts.quiet, fail_on_error);
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

std::shared_ptr<RecordsetImpl> ReadRows(const std::shared_ptr<DatabaseImpl>& db,
                                        const CatalogTable& t,
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
  Statement st(db->conn,
               "SELECT " + list + " FROM " + QuoteName(t.name) + where.sql + " ORDER BY rowid");
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

SetBasedWrites& SetBasedStatementWrites() {
  static SetBasedWrites writes;
  return writes;
}

std::shared_ptr<RecordsetImpl> OpenAllRows(const std::shared_ptr<DatabaseImpl>& db,
                                           const CatalogTable& table) {
  std::vector<const FieldDef*> columns;
  for (const FieldDef& f : table.fields) columns.push_back(&f);
  return ReadRows(db, table, columns, Where{});
}

std::shared_ptr<RecordsetImpl> OpenQuery(const std::shared_ptr<DatabaseImpl>& db,
                                         const std::string& text) {
  sql::Statement statement = sql::Parse(text);
  const auto* select = std::get_if<sql::SelectStatement>(&statement);
  if (select == nullptr) {
    Raise(kErrInvalidOperation, "Invalid operation: only a SELECT statement opens a recordset.");
  }
  std::shared_ptr<const Catalog> catalog = db->CurrentCatalog();
  const CatalogTable& t = FindStatementTable(*catalog, select->table);
  std::vector<const FieldDef*> columns;
  for (const sql::ColumnRef& c : select->columns) columns.push_back(&FindColumn(t, c));
  return ReadRows(db, t, columns, BuildWhere(t, select->where, DateTime::Now()));
}

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
