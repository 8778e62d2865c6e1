// Where the engine gives the progress hook (platform/dao/progress.h) its
// chances to run.

#ifndef KAV_PLATFORM_DAO_INTERNAL_PROGRESS_H_
#define KAV_PLATFORM_DAO_INTERNAL_PROGRESS_H_

#include <sqlite3.h>

namespace dao::internal {

// Runs the hook when one is installed and its interval has passed since it
// last ran.
void ReportProgress();

// Lets SQLite give the hook its chances during the long statements of
// `conn`.
void WatchProgress(sqlite3* conn);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_PROGRESS_H_
