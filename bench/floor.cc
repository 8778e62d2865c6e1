// The floor of kav-bench (floor.h): the work read from the update's trace,
// done through one plain SQLite connection, and the check of its rows
// against the update's.

#include "bench/floor.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/sql_parser.h"
#include "platform/text.h"
#include "tests/support/harness.h"
#include "tools/sample.h"

namespace kav::bench {

namespace {

using dao::internal::QuoteName;
using dao::internal::QuoteText;
using dao::internal::StorageType;
using kav::sample::PlainDatabase;

// A table name as a table-type recordset takes it: trailing blanks ignored.
std::string Trimmed(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

// The trace line's fields: at most `count`, the last one taking the rest.
std::vector<std::string> Split(const std::string& line, size_t count) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() + 1 < count) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string::npos) break;
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

// A trace field with its line breaks written back.
std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
      out += text[++i] == 'n' ? '\n' : '\r';
    } else {
      out += text[i];
    }
  }
  return out;
}

// The value of a literal for a field, converted as the engine converts it.
dao::Value LiteralFor(const dao::sql::Literal& literal, const FieldLayout& field) {
  dao::Value v;
  switch (literal.kind) {
    case dao::sql::Literal::Kind::kText:
      v = dao::Value(literal.text);
      break;
    case dao::sql::Literal::Kind::kInteger:
      v = literal.integer >= INT32_MIN && literal.integer <= INT32_MAX
              ? dao::Value(static_cast<int32_t>(literal.integer))
              : dao::Value(static_cast<double>(literal.integer));
      break;
    case dao::sql::Literal::Kind::kNow:
      v = dao::Value(dao::DateTime::Now());
      break;
  }
  return dao::ConvertToFieldType(v, field.type);
}

// The user tables of a database ("main" or an attached one) and their
// columns in name order.
std::map<std::string, std::vector<std::string>> DataTables(PlainDatabase& db,
                                                           const std::string& schema) {
  std::map<std::string, std::vector<std::string>> tables;
  for (const auto& row : db.Query(
           "SELECT lower(m.name), p.name FROM " + schema +
           ".sqlite_master m, "
           "pragma_table_info(m.name, " +
           QuoteText(schema) +
           ") p WHERE m.type = 'table' AND "
           "m.name NOT LIKE 'daosys\\_%' ESCAPE '\\' AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
           "ORDER BY 1, lower(p.name)")) {
    tables[row[0]].push_back(row[1]);
  }
  return tables;
}

// The rows of `table` in `schema` as a multiset (each distinct row with its
// count), where text holding a date-time from `from` to `to` (the current
// time its run wrote) reads '<now>'.
std::string CountedRows(const std::string& schema, const std::string& table,
                        const std::vector<std::string>& columns, const dao::DateTime& from,
                        const dao::DateTime& to) {
  std::vector<std::string> values, positions;
  for (const std::string& c : columns) {
    values.push_back("CASE WHEN typeof(" + QuoteName(c) + ") = 'text' AND " + QuoteName(c) +
                     " BETWEEN " + QuoteText(from.ToIso()) + " AND " + QuoteText(to.ToIso()) +
                     " THEN '<now>' ELSE " + QuoteName(c) + " END");
    positions.push_back(std::to_string(positions.size() + 1));
  }
  return "SELECT " + Joined(values, ", ") + ", count(*) FROM " + schema + "." + QuoteName(table) +
         " GROUP BY " + Joined(positions, ", ");
}

}  // namespace

void Die(const std::string& message) {
  std::fprintf(stderr, "kav-bench: %s\n", message.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------
// The updated catalog.

Catalog ReadCatalog(const std::string& mdb) {
  Catalog catalog;
  dao::Database db = kav::testing::OpenForCheck(mdb);
  dao::TableDefCollection tables = db.TableDefs();
  for (int t = 0; t < tables.Count(); ++t) {
    dao::TableDef td = tables.Item(t);
    std::vector<FieldLayout>& fields = catalog.tables[kav::FoldCase(td.Name())];
    for (int f = 0; f < td.Fields().Count(); ++f) {
      dao::Field field = td.Fields().Item(f);
      fields.push_back({field.Name(), field.Type()});
    }
  }
  dao::RelationCollection relations = db.Relations();
  for (int r = 0; r < relations.Count(); ++r) {
    dao::Relation relation = relations.Item(r);
    RelationLayout layout{
        kav::FoldCase(relation.Table()), kav::FoldCase(relation.ForeignTable()), {}, {}};
    for (int f = 0; f < relation.Fields().Count(); ++f) {
      layout.fields.push_back(kav::FoldCase(relation.Fields().Item(f).Name()));
      layout.foreign_fields.push_back(kav::FoldCase(relation.Fields().Item(f).ForeignName()));
    }
    catalog.relations.push_back(layout);
  }
  db.Close();
  return catalog;
}

// ---------------------------------------------------------------------------
// The floor's work, read from the trace.

const std::vector<FieldLayout>& Planner::FieldsOf(const std::string& table) const {
  auto it = catalog_.tables.find(kav::FoldCase(Trimmed(table)));
  if (it == catalog_.tables.end()) Die("no table '" + table + "' in the updated database");
  return it->second;
}

const FieldLayout& Planner::FieldOf(const std::string& table, const std::string& column) const {
  for (const FieldLayout& f : FieldsOf(table)) {
    if (kav::EqualsIgnoringCase(f.name, column)) return f;
  }
  Die("no column '" + table + "." + column + "' in the updated database");
}

// Case folded, in the sample's order.
std::vector<std::string> Planner::SampleColumns(const std::string& table) const {
  std::vector<std::string> columns;
  for (const auto& row :
       sample_.Query("SELECT name FROM pragma_table_info(" + QuoteText(table) + ")")) {
    columns.push_back(kav::FoldCase(row[0]));
  }
  return columns;
}

std::vector<Planner::SampleIndex> Planner::IndexesOf(const std::string& table) const {
  std::vector<SampleIndex> indexes;
  for (const auto& ix : sample_.Query("SELECT name, sql FROM sqlite_master WHERE type = "
                                      "'index' AND sql IS NOT NULL AND tbl_name = " +
                                      QuoteText(table) + " COLLATE NOCASE")) {
    SampleIndex index{ix[0], ix[1], {}};
    for (const auto& row :
         sample_.Query("SELECT name FROM pragma_index_info(" + QuoteText(ix[0]) + ")")) {
      index.columns.push_back(kav::FoldCase(row[0]));
    }
    indexes.push_back(index);
  }
  return indexes;
}

void Planner::AppendedColumns(std::vector<Work>& plan) const {
  for (const auto& [table, fields] : catalog_.tables) {
    const std::vector<std::string> before = SampleColumns(table);
    for (const FieldLayout& f : fields) {
      if (std::find(before.begin(), before.end(), kav::FoldCase(f.name)) != before.end()) continue;
      Work add;
      add.sql = "ALTER TABLE " + QuoteName(table) + " ADD COLUMN " + QuoteName(f.name) + " " +
                StorageType(f.type);
      plan.push_back(add);
    }
  }
}

// " WHERE ..." with text compared without regard to case, as the engine does.
std::string Planner::Where(const std::string& table, const std::vector<dao::sql::Condition>& where,
                           std::vector<dao::Value>& values) const {
  std::vector<std::string> terms;
  for (const dao::sql::Condition& c : where) {
    const FieldLayout& f = FieldOf(table, c.column.column);
    std::string term = QuoteName(f.name) + (f.type == dao::dbText ? " COLLATE NOCASE" : "");
    std::vector<std::string> marks;
    for (const dao::sql::Literal& literal : c.values) {
      values.push_back(LiteralFor(literal, f));
      marks.push_back("?");
    }
    term += c.op == dao::sql::Condition::Op::kEquals ? " = ?" : " IN (" + Joined(marks, ", ") + ")";
    terms.push_back(term);
  }
  return terms.empty() ? "" : " WHERE " + Joined(terms, " AND ");
}

// Everything that names the column goes before the rename and comes back
// after the copy; so do the foreign-key indexes of the relations on the
// column, which the update removes and appends with those relations.
Work Planner::Retyping(const std::string& table, const std::string& column,
                       const std::string& temporary) const {
  const std::string t = kav::FoldCase(table), c = kav::FoldCase(column);
  std::vector<std::string> drop, create;
  auto rebuild = [&](const std::string& type, const std::string& name, const std::string& sql) {
    const std::string statement = "DROP " + type + " " + QuoteName(name);
    if (std::find(drop.begin(), drop.end(), statement) != drop.end()) return;
    drop.push_back(statement);
    create.push_back(sql);
  };
  auto contains = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  for (const SampleIndex& ix : IndexesOf(t)) {
    if (contains(ix.columns, c)) rebuild("INDEX", ix.name, ix.sql);
  }
  for (const RelationLayout& r : catalog_.relations) {
    if (!(r.table == t && contains(r.fields, c)) &&
        !(r.foreign_table == t && contains(r.foreign_fields, c))) {
      continue;
    }
    for (const SampleIndex& ix : IndexesOf(r.foreign_table)) {
      if (ix.columns == r.foreign_fields) rebuild("INDEX", ix.name, ix.sql);
    }
  }
  for (const auto& trigger : sample_.Query("SELECT name, sql FROM sqlite_master WHERE type = "
                                           "'trigger' AND instr(lower(sql), " +
                                           QuoteText(kav::FoldCase(QuoteName(column))) + ") > 0")) {
    rebuild("TRIGGER", trigger[0], trigger[1]);
  }
  const FieldLayout& f = FieldOf(table, column);
  const std::string name = QuoteName(table);
  Work work;
  work.kind = Work::Kind::kTransaction;
  work.steps = drop;
  work.steps.push_back("ALTER TABLE " + name + " RENAME COLUMN " + QuoteName(f.name) + " TO " +
                       QuoteName(temporary));
  work.steps.push_back("ALTER TABLE " + name + " ADD COLUMN " + QuoteName(f.name) + " " +
                       StorageType(f.type));
  work.steps.push_back("UPDATE " + name + " SET " + QuoteName(f.name) + " = " +
                       QuoteName(temporary));
  work.steps.push_back("ALTER TABLE " + name + " DROP COLUMN " + QuoteName(temporary));
  work.steps.insert(work.steps.end(), create.begin(), create.end());
  return work;
}

// One UPDATE or DELETE of the update as one set-based statement; the copy of
// a retyping (a column assigned from one the sample does not have) as the
// whole retyping.
void Planner::Statement(const std::string& text, std::vector<Work>& plan) const {
  const dao::sql::Statement statement = dao::sql::Parse(text);
  Work work;
  if (const auto* u = std::get_if<dao::sql::UpdateStatement>(&statement)) {
    const std::vector<std::string> before = SampleColumns(u->table);
    std::vector<std::string> sets;
    for (const dao::sql::Assignment& a : u->assignments) {
      const FieldLayout& f = FieldOf(u->table, a.column.column);
      if (const auto* source = std::get_if<dao::sql::ColumnRef>(&a.value)) {
        if (u->assignments.size() == 1 &&
            std::find(before.begin(), before.end(), kav::FoldCase(source->column)) ==
                before.end()) {
          plan.push_back(Retyping(u->table, a.column.column, source->column));
          return;
        }
        sets.push_back(QuoteName(f.name) + " = " +
                       QuoteName(FieldOf(u->table, source->column).name));
      } else {
        sets.push_back(QuoteName(f.name) + " = ?");
        work.values.push_back(LiteralFor(std::get<dao::sql::Literal>(a.value), f));
      }
    }
    work.sql = "UPDATE OR IGNORE " + QuoteName(u->table) + " SET " + Joined(sets, ", ") +
               Where(u->table, u->where, work.values);
  } else if (const auto* d = std::get_if<dao::sql::DeleteStatement>(&statement)) {
    work.sql = "DELETE FROM " + QuoteName(d->table) + Where(d->table, d->where, work.values);
  } else {
    Die("the update executed a SELECT: " + text);
  }
  plan.push_back(work);
}

std::vector<Work> Planner::Plan(const std::vector<std::string>& trace) {
  std::vector<Work> plan;
  AppendedColumns(plan);
  std::string table;  // of the last table-type recordset
  enum class Mode { kNone, kAddNew, kEdit } mode = Mode::kNone;
  std::map<int, dao::Value> record;  // the assigned fields, by position
  for (size_t i = 0; i < trace.size(); ++i) {
    const std::vector<std::string> f = Split(trace[i], 4);
    const std::string& kind = f[0];
    if (kind == "OPEN") {
      table = f[1];
      mode = Mode::kNone;
    } else if (kind == "ADDNEW" || kind == "EDIT") {
      mode = kind == "ADDNEW" ? Mode::kAddNew : Mode::kEdit;
      record.clear();
    } else if (kind == "SET") {
      const std::vector<FieldLayout>& fields = FieldsOf(table);
      const size_t position = std::stoul(f[1]);
      if (mode == Mode::kNone || position >= fields.size()) Die("unexpected " + trace[i]);
      const std::string text = Unescaped(f[3]);
      const dao::Value value =
          f[2] == "I" ? dao::Value(static_cast<int16_t>(std::stoi(text))) : dao::Value(text);
      record[static_cast<int>(position)] = dao::ConvertToFieldType(value, fields[position].type);
    } else if (kind == "UPDATE") {
      const std::vector<FieldLayout>& fields = FieldsOf(table);
      Work work;
      std::vector<std::string> names, marks;
      if (mode == Mode::kAddNew) {
        work.kind = Work::Kind::kInsert;
        work.duplicate = i + 1 < trace.size() && trace[i + 1] == "ERR\t3022";
        for (size_t p = 0; p < fields.size(); ++p) {
          names.push_back(QuoteName(fields[p].name));
          marks.push_back("?");
          auto it = record.find(static_cast<int>(p));
          work.values.push_back(it == record.end() ? dao::Value() : it->second);
        }
        work.sql = "INSERT INTO " + QuoteName(Trimmed(table)) + " (" + Joined(names, ", ") +
                   ") VALUES (" + Joined(marks, ", ") + ")";
      } else if (mode == Mode::kEdit) {
        // The table-type recordset edits its first row.
        for (const auto& [position, value] : record) {
          names.push_back(QuoteName(fields[position].name) + " = ?");
          work.values.push_back(value);
        }
        const std::string t = QuoteName(Trimmed(table));
        work.sql = "UPDATE " + t + " SET " + Joined(names, ", ") +
                   " WHERE rowid = (SELECT min(rowid) FROM " + t + ")";
      } else {
        Die("an Update without AddNew or Edit at trace line " + std::to_string(i + 1));
      }
      plan.push_back(work);
      if (!work.duplicate) mode = Mode::kNone;
    } else if (kind == "EXEC") {
      Statement(Unescaped(Split(trace[i], 3)[2]), plan);
    } else if (kind == "ERR") {
      const bool tolerated = (f[1] == "3022" && i > 0 && trace[i - 1] == "UPDATE") ||
                             (f[1] == "3265" && i > 0 && trace[i - 1].starts_with("CALL\t"));
      if (!tolerated)
        Die("the update met error " + f[1] + " at trace line " + std::to_string(i + 1));
    } else if (kind != "CALL" && kind != "MSGBOX") {
      Die("unknown trace line: " + trace[i]);
    }
  }
  return plan;
}

// ---------------------------------------------------------------------------
// The floor and its check.

void RunFloor(PlainDatabase& db, const std::vector<Work>& plan) {
  std::map<std::string, sqlite3_stmt*> statements;
  auto prepared = [&](const std::string& sql) {
    sqlite3_stmt*& stmt = statements[sql];
    if (stmt == nullptr) stmt = db.Prepare(sql);
    return stmt;
  };
  for (const Work& work : plan) {
    switch (work.kind) {
      case Work::Kind::kStatement:
        db.Write(prepared(work.sql), work.values);
        break;
      case Work::Kind::kInsert: {
        const int rc = db.Step(prepared(work.sql), work.values);
        const bool duplicate = rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY;
        if (duplicate != work.duplicate || (!duplicate && rc != SQLITE_DONE)) {
          Die("the floor's insert ended with SQLite code " + std::to_string(rc) +
              " where the update's " + (work.duplicate ? "met a duplicate key" : "succeeded") +
              ": " + work.sql);
        }
        break;
      }
      case Work::Kind::kTransaction:
        db.Exec("BEGIN");
        for (const std::string& step : work.steps) db.Exec(step);
        db.Exec("COMMIT");
        break;
    }
  }
}

void CheckSameRows(PlainDatabase& floor, const std::string& updated_path,
                   const dao::DateTime& update_from, const dao::DateTime& update_to,
                   const dao::DateTime& floor_from, const dao::DateTime& floor_to) {
  floor.Exec("ATTACH DATABASE " + QuoteText(updated_path) + " AS updated");
  const auto tables = DataTables(floor, "updated");
  if (DataTables(floor, "main") != tables) Die("the floor's tables or columns differ");
  std::string difference;
  for (const auto& [table, columns] : tables) {
    const std::string update_rows = CountedRows("updated", table, columns, update_from, update_to);
    const std::string floor_rows = CountedRows("main", table, columns, floor_from, floor_to);
    for (const auto& [sign, query] : {std::pair{"- ", update_rows + " EXCEPT " + floor_rows},
                                      std::pair{"+ ", floor_rows + " EXCEPT " + update_rows}}) {
      for (const auto& row : floor.Query("SELECT * FROM (" + query + ") LIMIT 10")) {
        difference += sign + table + ": " + Joined(row, "|") + "\n";
      }
    }
  }
  if (!difference.empty()) {
    Die("the floor's rows differ from the update's (- update only, + floor only; the last "
        "value counts the row):\n" +
        difference);
  }
}

}  // namespace kav::bench
