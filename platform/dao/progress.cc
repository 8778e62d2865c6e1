// The progress hook: installing it, and the engine's chances to run it.

#include "platform/dao/progress.h"

#include <utility>

#include "platform/dao/internal/progress.h"

namespace dao {

namespace {

using Clock = std::chrono::steady_clock;

// One thread uses the engine.
ProgressHook g_hook;
Clock::duration g_interval{};
Clock::time_point g_last_run{};
bool g_ran = false;  // since it was installed
bool g_running = false;

// SQLite calls the handler every this many steps of its virtual machine:
// a few tens of microseconds of work, so that the clock is read rarely
// enough to cost nothing while the hook still runs on time.
constexpr int kStepsBetweenChances = 1000;

// The handler always answers 0: any other answer would interrupt the
// statement.
int OnSqliteProgress(void*) {
  internal::ReportProgress();
  return 0;
}

}  // namespace

void SetProgressHook(ProgressHook hook, std::chrono::milliseconds interval) {
  g_hook = std::move(hook);
  g_interval = interval;
  g_ran = false;
}

namespace internal {

void ReportProgress() {
  // The hook's own work does not run the hook again.
  if (!g_hook || g_running) return;
  const Clock::time_point now = Clock::now();
  if (g_ran && now - g_last_run < g_interval) return;
  g_running = true;
  g_ran = true;
  try {
    // A copy, so that the hook may be replaced while it runs.
    ProgressHook hook = g_hook;
    hook();
  } catch (...) {
    // The hook is a courtesy to the caller: its failure must not change
    // the engine's work, and no error may pass through SQLite's frames.
  }
  g_running = false;
  // The interval counts from the end of the hook's run, so that a slow hook
  // still leaves the engine most of the time.
  g_last_run = Clock::now();
}

void WatchProgress(sqlite3* conn) {
  sqlite3_progress_handler(conn, kStepsBetweenChances, OnSqliteProgress, nullptr);
}

}  // namespace internal

}  // namespace dao
