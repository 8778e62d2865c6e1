// The engine's rules for a value and a row before they are written: a value
// against its field, a row against its table's required fields and keys,
// and a write that a trigger skipped (row_rules.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_ROW_RULES_H_
#define KAV_PLATFORM_DAO_INTERNAL_ROW_RULES_H_

#include <vector>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/value.h"

namespace dao::internal {

// A value checked against a field at assignment: converted to its type,
// refused when too long (3163) or empty where not allowed (3315).
Value ValueForField(const Value& value, const FieldDef& field);
// Required fields and required or primary index fields of a row (3314,
// 3058) before it is written.
void CheckRowBeforeWrite(const CatalogTable& table, const std::vector<Value>& row);
// A write of one row that changed nothing although the row was there: a
// trigger of the table skipped it (RAISE(IGNORE)).  Raises 3000.
[[noreturn]] void RaiseRowIgnored(const CatalogTable& table);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_ROW_RULES_H_
