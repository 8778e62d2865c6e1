// kav-bench [--million] [PERSONS...]: times the whole update against its
// floor, plain SQLite doing the same work, in the same run and on the same
// sample.
//
// For each size (1,000, 10,000 and 100,000 persons, and 1,000,000 with
// --million; five held qualifications and one scheduled course each) it
// writes one sample database and copies it.  The headless runner updates the
// first copy in a child process with its trace on; the child's wall time
// (steady clock, process start included) and peak resident memory are the
// update's figures.  The floor then does the writes of that very trace on
// the second copy through one plain SQLite connection with the engine's
// journal settings (WAL, synchronous=NORMAL):
//   - each column the update appended, as ADD COLUMN;
//   - each retyping in one transaction: the indexes and triggers that name
//     the column, and the indexes of its relations' foreign keys, dropped;
//     the column renamed to the update's temporary name; ADD COLUMN; one
//     copying UPDATE; DROP COLUMN; the indexes and triggers made again;
//   - each reference row inserted and committed by itself;
//   - each UPDATE and DELETE run once as one set-based statement, where a
//     row that cannot change stays as it is (UPDATE OR IGNORE);
//   - the version stamp.
// Statements and values come from the trace, parsed by the engine's own
// parser and converted to the fields' types as the updated catalog gives
// them, so the floor follows the update wherever the update changes.
// Afterwards the data rows of every table must equal those the update left,
// the current time each run wrote aside; the bench fails when they do not.

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/sql_parser.h"
#include "platform/text.h"
#include "tests/support/harness.h"
#include "tools/sample.h"

#ifndef KAV_RUN_UPDATE
#error "KAV_RUN_UPDATE must name the headless runner"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using kav::testing::PlainDatabase;
using Rows = std::vector<std::vector<std::string>>;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "kav-bench: %s\n", message.c_str());
  std::exit(1);
}

// A table name as a table-type recordset takes it: trailing blanks ignored.
std::string Trimmed(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "name" for SQLite.
std::string Quoted(const std::string& name) {
  char* quoted = sqlite3_mprintf("\"%w\"", name.c_str());
  std::string out = quoted;
  sqlite3_free(quoted);
  return out;
}

// 'text' for SQLite.
std::string QuotedText(const std::string& text) {
  char* quoted = sqlite3_mprintf("%Q", text.c_str());
  std::string out = quoted;
  sqlite3_free(quoted);
  return out;
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

// ---------------------------------------------------------------------------
// The update, in a child process.

struct UpdateRun {
  double seconds = 0;
  double peak_mib = 0;
  dao::DateTime started, finished;  // bounds of the current time it wrote
  std::vector<std::string> trace;
};

UpdateRun RunUpdate(const std::string& mdb, const std::string& trace_path) {
  UpdateRun run;
  run.started = dao::DateTime::Now();
  Clock::time_point start = Clock::now();
  std::fflush(stdout);  // the child must not print what the parent buffered
  pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen(trace_path.c_str(), "w", stdout) == nullptr) _exit(126);
    execl(KAV_RUN_UPDATE, KAV_RUN_UPDATE, "--trace", mdb.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = -1;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  run.seconds = Seconds(start);
  run.finished = dao::DateTime::Now();
  run.peak_mib = usage.ru_maxrss / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("the headless runner failed");
  std::ifstream in(trace_path);
  for (std::string line; std::getline(in, line);) run.trace.push_back(line);
  if (run.trace.empty() || run.trace.back() != "MSGBOX\t0\t\tDatabase Update completed.") {
    Die("the update did not complete: " + (run.trace.empty() ? "" : run.trace.back()));
  }
  return run;
}

// ---------------------------------------------------------------------------
// The updated catalog.

struct FieldLayout {
  std::string name;
  int type = dao::dbText;
};

struct RelationLayout {
  std::string table, foreign_table;
  std::vector<std::string> fields, foreign_fields;  // lower case
};

struct Catalog {
  std::map<std::string, std::vector<FieldLayout>> tables;  // by lower-case name, in field order
  std::vector<RelationLayout> relations;
};

Catalog ReadCatalog(const std::string& mdb) {
  Catalog catalog;
  dao::Database db = kav::testing::OpenForCheck(mdb);
  dao::TableDefCollection tables = db.TableDefs();
  for (int t = 0; t < tables.Count(); ++t) {
    dao::TableDef td = tables.Item(t);
    std::vector<FieldLayout>& fields = catalog.tables[Lower(td.Name())];
    for (int f = 0; f < td.Fields().Count(); ++f) {
      dao::Field field = td.Fields().Item(f);
      fields.push_back({field.Name(), field.Type()});
    }
  }
  dao::RelationCollection relations = db.Relations();
  for (int r = 0; r < relations.Count(); ++r) {
    dao::Relation relation = relations.Item(r);
    RelationLayout layout{Lower(relation.Table()), Lower(relation.ForeignTable()), {}, {}};
    for (int f = 0; f < relation.Fields().Count(); ++f) {
      layout.fields.push_back(Lower(relation.Fields().Item(f).Name()));
      layout.foreign_fields.push_back(Lower(relation.Fields().Item(f).ForeignName()));
    }
    catalog.relations.push_back(layout);
  }
  db.Close();
  return catalog;
}

// ---------------------------------------------------------------------------
// The floor's work, read from the trace.

struct Work {
  enum class Kind { kStatement, kInsert, kTransaction };
  Kind kind = Kind::kStatement;
  std::string sql;                 // kStatement, kInsert
  std::vector<dao::Value> values;  // bound by position
  bool duplicate = false;          // kInsert: the update met a duplicate key
  std::vector<std::string> steps;  // kTransaction
};

class Planner {
 public:
  // `sample`: the floor's copy as the sample left it.
  Planner(const Catalog& catalog, PlainDatabase& sample) : catalog_(catalog), sample_(sample) {}

  std::vector<Work> Plan(const std::vector<std::string>& trace);

 private:
  struct SampleIndex {
    std::string name, sql;
    std::vector<std::string> columns;  // lower case, in order
  };

  const std::vector<FieldLayout>& FieldsOf(const std::string& table) const;
  const FieldLayout& FieldOf(const std::string& table, const std::string& column) const;
  std::vector<std::string> SampleColumns(const std::string& table) const;
  std::vector<SampleIndex> IndexesOf(const std::string& table) const;
  void AppendedColumns(std::vector<Work>& plan) const;
  std::string Where(const std::string& table, const std::vector<dao::sql::Condition>& where,
                    std::vector<dao::Value>& values) const;
  void Statement(const std::string& text, std::vector<Work>& plan) const;
  Work Retyping(const std::string& table, const std::string& column,
                const std::string& temporary) const;

  const Catalog& catalog_;
  PlainDatabase& sample_;
};

const std::vector<FieldLayout>& Planner::FieldsOf(const std::string& table) const {
  auto it = catalog_.tables.find(Lower(Trimmed(table)));
  if (it == catalog_.tables.end()) Die("no table '" + table + "' in the updated database");
  return it->second;
}

const FieldLayout& Planner::FieldOf(const std::string& table, const std::string& column) const {
  for (const FieldLayout& f : FieldsOf(table)) {
    if (kav::EqualsIgnoringCase(f.name, column)) return f;
  }
  Die("no column '" + table + "." + column + "' in the updated database");
}

// Lower case, in the sample's order.
std::vector<std::string> Planner::SampleColumns(const std::string& table) const {
  std::vector<std::string> columns;
  for (const auto& row :
       sample_.Query("SELECT name FROM pragma_table_info(" + QuotedText(table) + ")")) {
    columns.push_back(Lower(row[0]));
  }
  return columns;
}

std::vector<Planner::SampleIndex> Planner::IndexesOf(const std::string& table) const {
  std::vector<SampleIndex> indexes;
  for (const auto& ix : sample_.Query("SELECT name, sql FROM sqlite_master WHERE type = "
                                      "'index' AND sql IS NOT NULL AND tbl_name = " +
                                      QuotedText(table) + " COLLATE NOCASE")) {
    SampleIndex index{ix[0], ix[1], {}};
    for (const auto& row :
         sample_.Query("SELECT name FROM pragma_index_info(" + QuotedText(ix[0]) + ")")) {
      index.columns.push_back(Lower(row[0]));
    }
    indexes.push_back(index);
  }
  return indexes;
}

std::string StorageType(int type) {
  if (type == dao::dbText || type == dao::dbDate) return "TEXT";
  return type == dao::dbDouble ? "REAL" : "INTEGER";
}

void Planner::AppendedColumns(std::vector<Work>& plan) const {
  for (const auto& [table, fields] : catalog_.tables) {
    const std::vector<std::string> before = SampleColumns(table);
    for (const FieldLayout& f : fields) {
      if (std::find(before.begin(), before.end(), Lower(f.name)) != before.end()) continue;
      Work add;
      add.sql = "ALTER TABLE " + Quoted(table) + " ADD COLUMN " + Quoted(f.name) + " " +
                StorageType(f.type);
      plan.push_back(add);
    }
  }
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

// " WHERE ..." with text compared without regard to case, as the engine does.
std::string Planner::Where(const std::string& table, const std::vector<dao::sql::Condition>& where,
                           std::vector<dao::Value>& values) const {
  std::vector<std::string> terms;
  for (const dao::sql::Condition& c : where) {
    const FieldLayout& f = FieldOf(table, c.column.column);
    std::string term = Quoted(f.name) + (f.type == dao::dbText ? " COLLATE NOCASE" : "");
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
  const std::string t = Lower(table), c = Lower(column);
  std::vector<std::string> drop, create;
  auto rebuild = [&](const std::string& type, const std::string& name, const std::string& sql) {
    const std::string statement = "DROP " + type + " " + Quoted(name);
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
                                           QuotedText(Lower(Quoted(column))) + ") > 0")) {
    rebuild("TRIGGER", trigger[0], trigger[1]);
  }
  const FieldLayout& f = FieldOf(table, column);
  const std::string name = Quoted(table);
  Work work;
  work.kind = Work::Kind::kTransaction;
  work.steps = drop;
  work.steps.push_back("ALTER TABLE " + name + " RENAME COLUMN " + Quoted(f.name) + " TO " +
                       Quoted(temporary));
  work.steps.push_back("ALTER TABLE " + name + " ADD COLUMN " + Quoted(f.name) + " " +
                       StorageType(f.type));
  work.steps.push_back("UPDATE " + name + " SET " + Quoted(f.name) + " = " + Quoted(temporary));
  work.steps.push_back("ALTER TABLE " + name + " DROP COLUMN " + Quoted(temporary));
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
            std::find(before.begin(), before.end(), Lower(source->column)) == before.end()) {
          plan.push_back(Retyping(u->table, a.column.column, source->column));
          return;
        }
        sets.push_back(Quoted(f.name) + " = " + Quoted(FieldOf(u->table, source->column).name));
      } else {
        sets.push_back(Quoted(f.name) + " = ?");
        work.values.push_back(LiteralFor(std::get<dao::sql::Literal>(a.value), f));
      }
    }
    work.sql = "UPDATE OR IGNORE " + Quoted(u->table) + " SET " + Joined(sets, ", ") +
               Where(u->table, u->where, work.values);
  } else if (const auto* d = std::get_if<dao::sql::DeleteStatement>(&statement)) {
    work.sql = "DELETE FROM " + Quoted(d->table) + Where(d->table, d->where, work.values);
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
          names.push_back(Quoted(fields[p].name));
          marks.push_back("?");
          auto it = record.find(static_cast<int>(p));
          work.values.push_back(it == record.end() ? dao::Value() : it->second);
        }
        work.sql = "INSERT INTO " + Quoted(Trimmed(table)) + " (" + Joined(names, ", ") +
                   ") VALUES (" + Joined(marks, ", ") + ")";
      } else if (mode == Mode::kEdit) {
        // The table-type recordset edits its first row.
        for (const auto& [position, value] : record) {
          names.push_back(Quoted(fields[position].name) + " = ?");
          work.values.push_back(value);
        }
        const std::string t = Quoted(Trimmed(table));
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

// The user tables of a database ("main" or an attached one) and their
// columns in name order.
std::map<std::string, std::vector<std::string>> DataTables(PlainDatabase& db,
                                                           const std::string& schema) {
  std::map<std::string, std::vector<std::string>> tables;
  for (const auto& row : db.Query(
           "SELECT lower(m.name), p.name FROM " + schema +
           ".sqlite_master m, "
           "pragma_table_info(m.name, " +
           QuotedText(schema) +
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
    values.push_back("CASE WHEN typeof(" + Quoted(c) + ") = 'text' AND " + Quoted(c) + " BETWEEN " +
                     QuotedText(from.ToIso()) + " AND " + QuotedText(to.ToIso()) +
                     " THEN '<now>' ELSE " + Quoted(c) + " END");
    positions.push_back(std::to_string(positions.size() + 1));
  }
  return "SELECT " + Joined(values, ", ") + ", count(*) FROM " + schema + "." + Quoted(table) +
         " GROUP BY " + Joined(positions, ", ");
}

// Fails unless every table of the floor's database holds the columns and the
// data rows of the updated one, each run's current time aside.
void CheckSameRows(PlainDatabase& floor, const std::string& updated_path, const UpdateRun& run,
                   const dao::DateTime& floor_from, const dao::DateTime& floor_to) {
  floor.Exec("ATTACH DATABASE " + QuotedText(updated_path) + " AS updated");
  const auto tables = DataTables(floor, "updated");
  if (DataTables(floor, "main") != tables) Die("the floor's tables or columns differ");
  std::string difference;
  for (const auto& [table, columns] : tables) {
    const std::string update_rows =
        CountedRows("updated", table, columns, run.started, run.finished);
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

struct SizeResult {
  double update_seconds = 0, floor_seconds = 0, peak_mib = 0;
};

SizeResult Measure(int persons) {
  kav::testing::TempDir dir;
  const std::string updated = dir.File("update"), floor = dir.File("floor");
  std::filesystem::create_directories(updated);
  std::filesystem::create_directories(floor);
  kav::testing::SampleOptions options;
  options.persons = persons;
  options.cost = dao::PasswordCost::kInteractive;
  kav::testing::WriteSampleDatabase(updated, options);
  for (const char* file : {"/KAV.MDB", "/KAV.mdw"}) {
    std::filesystem::copy_file(updated + file, floor + file);
  }

  SizeResult result;
  const UpdateRun run = RunUpdate(updated + "/KAV.MDB", dir.File("trace.txt"));
  result.update_seconds = run.seconds;
  result.peak_mib = run.peak_mib;

  const Catalog catalog = ReadCatalog(updated + "/KAV.MDB");
  PlainDatabase db(floor + "/KAV.MDB");
  db.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF");
  const dao::DateTime floor_started = dao::DateTime::Now();
  const std::vector<Work> plan = Planner(catalog, db).Plan(run.trace);
  const Clock::time_point start = Clock::now();
  RunFloor(db, plan);
  result.floor_seconds = Seconds(start);
  const dao::DateTime floor_finished = dao::DateTime::Now();

  CheckSameRows(db, updated + "/KAV.MDB", run, floor_started, floor_finished);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  bool million = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--million") {
      million = true;
    } else if (arg.find_first_not_of("0123456789") == std::string::npos && !arg.empty()) {
      sizes.push_back(std::atoi(arg.c_str()));
    } else {
      std::fprintf(stderr, "usage: kav-bench [--million] [PERSONS...]\n");
      return 2;
    }
  }
  if (sizes.empty()) sizes = {1000, 10000, 100000};
  if (million) sizes.push_back(1000000);

  std::printf("%-10s %10s %10s %7s %10s\n", "persons", "update s", "floor s", "ratio", "peak MiB");
  for (int persons : sizes) {
    try {
      const SizeResult r = Measure(persons);
      std::printf("%-10d %10.3f %10.3f %7.2f %10.1f\n", persons, r.update_seconds, r.floor_seconds,
                  r.update_seconds / r.floor_seconds, r.peak_mib);
      std::fflush(stdout);
    } catch (const kav::Error& e) {
      Die("error " + std::to_string(e.number()) + ": " + e.description());
    }
  }
  return 0;
}
