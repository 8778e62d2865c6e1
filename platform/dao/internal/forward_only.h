// Forward-only recordsets: the rows of a query, or of a whole table, read
// whole when the recordset opens (forward_only.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_FORWARD_ONLY_H_
#define KAV_PLATFORM_DAO_INTERNAL_FORWARD_ONLY_H_

#include <memory>
#include <string>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/recordset.h"

namespace dao::internal {

// A recordset of every row of `table`, in rowid order.
std::shared_ptr<RecordsetImpl> OpenAllRows(const std::shared_ptr<DatabaseImpl>& db,
                                           const CatalogTable& table);

// A recordset of the rows of `text`, a SELECT, in rowid order; 3219 for any
// other statement.
std::shared_ptr<RecordsetImpl> OpenQuery(const std::shared_ptr<DatabaseImpl>& db,
                                         const std::string& text);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_FORWARD_ONLY_H_
