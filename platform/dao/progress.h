// A hook the engine calls now and then while it works, for a caller that
// shares the engine's one thread and has work that must not wait for a long
// run of engine calls to end: the windows, which paint while an update runs.
//
// The engine calls the hook between its public calls and, inside a long
// SQLite statement, from SQLite's progress handler; never more often than
// once per interval.  The hook is no engine call: the observer does not hear
// of it, so it adds nothing to a trace, and it changes no result.  It runs in
// the middle of the engine's work and must not call the engine.  An error it
// raises is dropped and the work goes on: a statement is never cut short by
// the hook.  There is one hook per process.

#ifndef KAV_PLATFORM_DAO_PROGRESS_H_
#define KAV_PLATFORM_DAO_PROGRESS_H_

#include <chrono>
#include <functional>

namespace dao {

using ProgressHook = std::function<void()>;

// Installs `hook` (an empty one removes it), to be called at most once per
// `interval`.  The first chance after installing it calls it at once.
void SetProgressHook(ProgressHook hook,
                     std::chrono::milliseconds interval = std::chrono::milliseconds(50));

}  // namespace dao

#endif  // KAV_PLATFORM_DAO_PROGRESS_H_
