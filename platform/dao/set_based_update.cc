// The set-based path of an UPDATE (internal/set_based_update.h).
//
// An UPDATE whose rows cannot depend on one another, nor be watched by a
// trigger, and none of which would be refused, is written by one set-based
// UPDATE with the same WHERE, which leaves exactly what the rows one by one
// leave (UpdateSetBased says why); as soon as SQLite refuses a row there,
// it is undone and the rows go one by one after all.

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/relation_triggers.h"
#include "platform/dao/internal/row_rules.h"
#include "platform/dao/internal/set_based_update.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

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
      // A blob whose bytes are the text is bound as that blob (BindCopied).
      return (stored == SQLITE_TEXT || stored == SQLITE_BLOB) && st.Text(column) == value.AsText();
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

}  // namespace

SetBasedWrites& SetBasedStatementWrites() {
  static SetBasedWrites writes;
  return writes;
}

bool OnlyEngineTriggers(DatabaseImpl& db, const std::shared_ptr<const Catalog>& catalog) {
  return FactsOf(db, catalog).quiet;
}

bool UpdatedSetBased(DatabaseImpl& db, const std::shared_ptr<const Catalog>& catalog,
                     const UpdatePlan& plan) {
  // The cheap conditions first: the file's facts are found once per
  // catalog, and CopiesPass reads every row.
  UpdateFacts& facts = FactsOf(db, catalog);
  return SetBasedStatementWrites().allowed && !plan.literal_refused && !plan.refused &&
         facts.quiet && SetBasedSchema(plan, TableFactsOf(db, facts, *plan.t)) &&
         WroteSetBased(db, plan);
}

}  // namespace dao::internal
