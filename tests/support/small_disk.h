// Test support: a small file system (tmpfs) of a given size, mounted on a
// folder of its own while the object lives, for runs that meet a full disk.
// Mounting needs root; a test checks mounted() and skips where it failed.

#ifndef KAV_TESTS_SUPPORT_SMALL_DISK_H_
#define KAV_TESTS_SUPPORT_SMALL_DISK_H_

#include <string>

#include "tests/support/harness.h"

namespace kav::testing {

class SmallDisk {
 public:
  // Mounts a tmpfs of `bytes` on the folder "disk" of `dir`.
  SmallDisk(const TempDir& dir, long bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  // Why the mount failed.
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  // Gives the file system `bytes` in all; false where it cannot.
  bool Grow(long bytes);

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_SMALL_DISK_H_
