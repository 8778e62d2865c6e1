// The engine's rules for a value and a row before they are written
// (internal/row_rules.h).

#include <string>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/row_rules.h"

namespace dao::internal {

Value ValueForField(const Value& value, const FieldDef& field) {
  Value v = ConvertToFieldType(value, field.type);
  if (field.type == dbText && v.kind() == Value::Kind::kText) {
    if (v.AsText().empty() && !field.allow_zero_length) {
      Raise(kErrZeroLength, "The field '" + field.name + "' cannot be a zero-length string.");
    }
    if (CharacterCount(v.AsText()) > field.size) {
      Raise(kErrFieldTooSmall, "The field '" + field.name +
                                   "' is too small for the data: it holds at most " +
                                   std::to_string(field.size) + " characters.");
    }
  }
  return v;
}

void CheckRowBeforeWrite(const CatalogTable& table, const std::vector<Value>& row) {
  for (size_t i = 0; i < table.fields.size() && i < row.size(); ++i) {
    if (table.fields[i].required && row[i].IsNull()) {
      Raise(kErrFieldRequired, "The field '" + table.name + "." + table.fields[i].name +
                                   "' cannot contain a Null value because it is required.");
    }
  }
  for (const IndexDef& index : table.indexes) {
    if (!index.primary && !index.required) continue;
    for (const IndexFieldDef& x : index.fields) {
      int i = table.FieldIndexById(x.field_id);
      if (i >= 0 && static_cast<size_t>(i) < row.size() && row[i].IsNull()) {
        Raise(kErrNullInIndex, "Index or primary key '" + index.name +
                                   "' cannot contain a Null value (field '" + table.fields[i].name +
                                   "').");
      }
    }
  }
}

void RaiseRowIgnored(const CatalogTable& table) {
  Raise(kErrGeneric,
        "The record was not written: a trigger of table '" + table.name + "' skipped it.");
}

}  // namespace dao::internal
