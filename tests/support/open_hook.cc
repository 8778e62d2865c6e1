#include "tests/support/open_hook.h"

#include <cstdlib>
#include <utility>

namespace kav::testing {

OpenHook::OpenHook(Before before, After after)
    : before_(std::move(before)), after_(std::move(after)) {
  if (current_ != nullptr) std::abort();  // one hook at a time
  real_ = sqlite3_vfs_find(nullptr);
  vfs_ = *real_;
  vfs_.zName = "kav-open-hook";
  vfs_.xOpen = &Open;
  current_ = this;
  sqlite3_vfs_register(&vfs_, 1);
}

OpenHook::~OpenHook() {
  sqlite3_vfs_unregister(&vfs_);
  sqlite3_vfs_register(real_, 1);
  current_ = nullptr;
}

int OpenHook::Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                   int* out_flags) {
  OpenHook* hook = current_;
  const std::string path = name != nullptr ? name : "";
  if (hook != nullptr && hook->before_) {
    if (const int rc = hook->before_(path, flags); rc != SQLITE_OK) return rc;
  }
  const int rc = real_->xOpen(real_, name, file, flags, out_flags);
  if (rc == SQLITE_OK && hook != nullptr && hook->after_) hook->after_(path, flags, file);
  return rc;
}

}  // namespace kav::testing
