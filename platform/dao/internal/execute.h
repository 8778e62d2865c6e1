// Running one statement of the update's dialect on a database (execute.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_EXECUTE_H_
#define KAV_PLATFORM_DAO_INTERNAL_EXECUTE_H_

#include <string>

#include "platform/dao/internal/database.h"

namespace dao::internal {

// Runs UPDATE or DELETE `text` with `options` (dbFailOnError) on `db`.
void ExecuteStatement(DatabaseImpl& db, const std::string& text, int options);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_EXECUTE_H_
