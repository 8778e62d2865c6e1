// The object behind Recordset handles, and reading a table's rows by rowid
// (recordset.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_RECORDSET_H_
#define KAV_PLATFORM_DAO_INTERNAL_RECORDSET_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/value.h"

namespace dao::internal {

struct RecordsetColumn {
  std::string name;
  int type = dbText;
  long size = 0;
};

struct RecordsetImpl {
  enum class Mode { kNone, kAddNew, kEdit };
  std::shared_ptr<DatabaseImpl> db;
  bool closed = false;
  bool table_type = true;
  // Table type: the table and the current row.
  int64_t table_id = 0;
  // The catalog the recordset works with.  It is checked against other
  // connections when the recordset opens, and reloaded when this
  // connection changes the schema; the operations between an open and the
  // next change of our own need not ask again.
  std::shared_ptr<const Catalog> catalog;
  std::optional<int64_t> current;  // none: EOF
  Mode mode = Mode::kNone;
  std::vector<Value> buffer;
  // The table's fields when AddNew or Edit began the record, and for Edit
  // the row as it was read then: Update writes neither across a change of
  // the fields nor over a row that has changed since.
  std::vector<FieldDef> buffer_fields;
  std::vector<Value> edited_row;
  // Forward-only: the rows of the query, read at open.
  std::vector<RecordsetColumn> columns;
  std::vector<std::vector<Value>> rows;
  size_t row = 0;

  void CheckOpen() const;
};

// The values of a row in field order; 3167 when it is gone.
std::vector<Value> ReadRowValues(DatabaseImpl& db, const CatalogTable& t, int64_t rowid);
// Whether row `rowid` of `t` is there.
bool RowExists(DatabaseImpl& db, const CatalogTable& t, int64_t rowid);
[[noreturn]] void RaiseRecordDeleted();  // 3167

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_RECORDSET_H_
