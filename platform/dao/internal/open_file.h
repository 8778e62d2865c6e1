// Opening a database file and its connection (open_file.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_OPEN_FILE_H_
#define KAV_PLATFORM_DAO_INTERNAL_OPEN_FILE_H_

#include <sqlite3.h>

#include <memory>
#include <string>

#include "platform/dao/internal/database.h"

namespace dao::internal {

// A connection to the file at `path` with the engine's settings: extended
// result codes, a busy timeout, the progress hook; where `immutable`, one
// that reads the file alone (ImmutableUri) and ignores `flags`.  Raises
// 3051.
sqlite3* OpenConnection(const std::string& path, int flags, bool immutable = false);
// For a connection that may write.
void SetConnectionModes(sqlite3* conn);
// The database at `path` for the workspace `ws`, once the checks at open
// have passed: its catalog loaded, its connection ready to write unless the
// file is read-only.  Raises what refuses the file.
std::shared_ptr<DatabaseImpl> OpenFile(const std::string& path, WorkspaceCore& ws);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_OPEN_FILE_H_
