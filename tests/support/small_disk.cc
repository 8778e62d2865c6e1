#include "tests/support/small_disk.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kav::testing {

namespace {

std::string Size(long bytes) { return "size=" + std::to_string(bytes) + ",mode=0777"; }

}  // namespace

SmallDisk::SmallDisk(const TempDir& dir, long bytes) : path_(dir.File("disk")) {
  std::filesystem::create_directory(path_);
  if (mount("tmpfs", path_.c_str(), "tmpfs", 0, Size(bytes).c_str()) == 0) {
    mounted_ = true;
  } else {
    error_ = std::strerror(errno);
  }
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

bool SmallDisk::Grow(long bytes) {
  return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, Size(bytes).c_str()) == 0;
}

}  // namespace kav::testing
