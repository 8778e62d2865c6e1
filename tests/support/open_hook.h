// Test support: a hook on SQLite's default file system while it lives, for
// tests that change or fail a file at the moment SQLite opens it, as another
// process or a failing disk would.

#ifndef KAV_TESTS_SUPPORT_OPEN_HOOK_H_
#define KAV_TESTS_SUPPORT_OPEN_HOOK_H_

#include <sqlite3.h>

#include <functional>
#include <string>

namespace kav::testing {

// While it lives, every open through SQLite's default file system runs
// `before` first, and `after` once the file is open.  One hook lives at a
// time.  Connections opened meanwhile keep the hook's file system when it
// goes, which then opens their files as the default one does.
class OpenHook {
 public:
  // Runs before SQLite opens the file `name` with `flags` (SQLITE_OPEN_...);
  // a result other than SQLITE_OK fails the open with that result.
  using Before = std::function<int(const std::string& name, int flags)>;
  // Runs once the file is open; it may give the file methods of its own.
  using After = std::function<void(const std::string& name, int flags, sqlite3_file* file)>;

  OpenHook(Before before, After after);
  ~OpenHook();
  OpenHook(const OpenHook&) = delete;
  OpenHook& operator=(const OpenHook&) = delete;

 private:
  static int Open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags,
                  int* out_flags);

  Before before_;
  After after_;
  // The hook's file system outlives the hook: connections opened through
  // it open their journals and logs through it for as long as they live.
  static inline sqlite3_vfs* real_ = nullptr;
  static inline sqlite3_vfs vfs_{};
  static inline OpenHook* current_ = nullptr;
};

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_OPEN_HOOK_H_
