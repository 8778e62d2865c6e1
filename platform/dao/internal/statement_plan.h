// A statement of the update's dialect made ready against the catalog: its
// table and columns looked up, its literals converted, its WHERE clause
// built, and for an UPDATE the plan that both ways of writing it share
// (row by row in execute.cc, set-based in set_based_update.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_STATEMENT_PLAN_H_
#define KAV_PLATFORM_DAO_INTERNAL_STATEMENT_PLAN_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/sql_parser.h"
#include "platform/dao/value.h"
#include "platform/error.h"

namespace dao::internal {

// The table a statement names; 3078 when there is none.
const CatalogTable& FindStatementTable(const Catalog& catalog, const std::string& name);
// The column `c` of table `t`; 3061 when it is not one.
const FieldDef& FindColumn(const CatalogTable& t, const sql::ColumnRef& c);

// A WHERE clause for SQLite, with the values to bind to it.
struct Where {
  std::string sql;  // " WHERE ..." or empty
  std::vector<Value> values;
};

// The conditions as a WHERE clause on `t`, each literal converted to its
// column's type (3464 where it cannot be); now() is `now`.
Where BuildWhere(const CatalogTable& t, const std::vector<sql::Condition>& conditions,
                 const DateTime& now);

// One assignment of an UPDATE.
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

UpdatePlan PlanUpdate(const Catalog& catalog, const sql::UpdateStatement& u);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_STATEMENT_PLAN_H_
