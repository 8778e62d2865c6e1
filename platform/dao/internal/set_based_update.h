// Writing an UPDATE with one set-based SQLite statement where that leaves
// exactly what writing its rows one by one leaves (set_based_update.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_SET_BASED_UPDATE_H_
#define KAV_PLATFORM_DAO_INTERNAL_SET_BASED_UPDATE_H_

#include <memory>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/statement_plan.h"

namespace dao::internal {

// Whether every trigger of the file is one that the engine made for the
// relations of `catalog`, the database's catalog now, word for word: then
// no trigger can delete or skip a row of an UPDATE.  Found once per catalog.
bool OnlyEngineTriggers(DatabaseImpl& db, const std::shared_ptr<const Catalog>& catalog);

// Writes the UPDATE of `plan` with one set-based statement where that is
// shown to leave the row-by-row result, in a file of OnlyEngineTriggers:
// true when it has written it (RecordsAffected set), false when it has
// written nothing and the rows are to go one by one.
bool UpdatedSetBased(DatabaseImpl& db, const std::shared_ptr<const Catalog>& catalog,
                     const UpdatePlan& plan);

// Whether ExecuteStatement may write an UPDATE's rows with one set-based
// statement where that gives the row-by-row result by construction
// (set_based_update.cc), how many statements it has written so, and how many it
// tried to but wrote row by row because a row would be refused.  Tests turn
// it off to hold the two ways against each other.
struct SetBasedWrites {
  bool allowed = true;
  long statements = 0;
  long fell_back = 0;
};
SetBasedWrites& SetBasedStatementWrites();

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_SET_BASED_UPDATE_H_
