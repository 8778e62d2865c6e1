// The triggers that enforce the catalog's relations (relation_triggers.cc).
// They are made again from the catalog after every schema change, so a
// renamed or replaced column is always the one they name.

#ifndef KAV_PLATFORM_DAO_INTERNAL_RELATION_TRIGGERS_H_
#define KAV_PLATFORM_DAO_INTERNAL_RELATION_TRIGGERS_H_

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/dao/internal/catalog.h"

namespace dao::internal {

// The name of a relation trigger: on the foreign table "fi" (insert) and
// "fu" (update), on the primary table "pd" (delete) and "pu" (update).
std::string RelationTriggerName(int64_t relation_id, const char* what);

// A trigger that enforces a relation: its name, its table, the statement
// that makes it, and the relation's name.
struct RelationTrigger {
  std::string name, table, sql, relation;
};
// The triggers of the catalog's enforced relations, in the order they are
// made.  3420 when a relation names a table or field that is gone.
std::vector<RelationTrigger> RelationTriggers(const Catalog& catalog);
// The file's triggers against those the catalog's relations make: the
// first of the engine's that is missing, or not the same in name, table
// and text (none when all are there), and whether the file holds any
// trigger of anyone else's (one under an engine trigger's name included).
struct TriggersInFile {
  std::optional<RelationTrigger> wrong;
  bool others = false;
};
TriggersInFile CompareTriggers(sqlite3* conn, const Catalog& catalog);

// The condition that a row of `primary` (its columns named after
// `primary_ref`) is the related record of a row of `foreign` (after
// `foreign_ref`) in relation `r`.
std::string MatchCondition(const CatalogTable& primary, const CatalogTable& foreign,
                           const RelationDef& r, const std::string& primary_ref,
                           const std::string& foreign_ref);
// "ref.<field> IS NOT NULL" for each foreign field of `r`, joined by OR: a
// row that sets any of them needs a related record.
std::string AnyForeignKey(const CatalogTable& foreign, const RelationDef& r,
                          const std::string& foreign_ref);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_RELATION_TRIGGERS_H_
