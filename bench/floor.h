// The floor of kav-bench: plain SQLite doing the writes of the update's
// trace.  The updated catalog as the floor needs it (ReadCatalog), the work
// read from the trace (Work, Planner), doing it (RunFloor), and the check
// that the floor's rows are the update's (CheckSameRows).
//
// The floor works on a copy of the sample the update started from, through
// one plain SQLite connection with the engine's journal settings:
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

#ifndef KAV_BENCH_FLOOR_H_
#define KAV_BENCH_FLOOR_H_

#include <map>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/sql_parser.h"
#include "tools/sample.h"

namespace kav::bench {

// Prints "kav-bench: <message>" and ends the bench with status 1: a bench
// that cannot do or check its work reports no figures.
[[noreturn]] void Die(const std::string& message);

// ---------------------------------------------------------------------------
// The updated catalog.

struct FieldLayout {
  std::string name;
  int type = dao::dbText;
};

struct RelationLayout {
  std::string table, foreign_table;
  std::vector<std::string> fields, foreign_fields;  // case folded
};

struct Catalog {
  std::map<std::string, std::vector<FieldLayout>> tables;  // by case-folded name, in field order
  std::vector<RelationLayout> relations;
};

// The tables, fields and relations of the database at `mdb`, opened as the
// engine opens it for checks (its checks at open run on it).
Catalog ReadCatalog(const std::string& mdb);

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
  Planner(const Catalog& catalog, kav::sample::PlainDatabase& sample)
      : catalog_(catalog), sample_(sample) {}

  // The floor's work for the trace of `kav-run-update --trace`, in the
  // order the update did it; dies on a trace line it cannot follow.
  std::vector<Work> Plan(const std::vector<std::string>& trace);

 private:
  struct SampleIndex {
    std::string name, sql;
    std::vector<std::string> columns;  // case folded, in order
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
  kav::sample::PlainDatabase& sample_;
};

// ---------------------------------------------------------------------------
// The floor and its check.

// Does `plan` on `db`; dies where an insert's outcome differs from the
// update's.
void RunFloor(kav::sample::PlainDatabase& db, const std::vector<Work>& plan);

// Dies unless every table of the floor's database holds the columns and the
// data rows of the updated one at `updated_path`, where a date-time each run
// wrote within its bounds (`update_from` to `update_to`, `floor_from` to
// `floor_to`) reads as the current time.
void CheckSameRows(kav::sample::PlainDatabase& floor, const std::string& updated_path,
                   const dao::DateTime& update_from, const dao::DateTime& update_to,
                   const dao::DateTime& floor_from, const dao::DateTime& floor_to);

}  // namespace kav::bench

#endif  // KAV_BENCH_FLOOR_H_
