// Making a new database's file exclusively, and removing only that file.

#include "platform/dao/internal/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace dao::internal {

namespace {

// SQLite's own mode for a new database file.
constexpr mode_t kDatabaseMode = 0644;

}  // namespace

NewFile::Made NewFile::Make(const std::string& path) {
  // O_EXCL refuses whatever is there, and a symbolic link too, even one to
  // nothing: the file made is always a new file of its own at `path`.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kDatabaseMode);
  if (fd < 0) return errno == EEXIST ? Made::kExists : Made::kCannot;
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  ::close(fd);
  // Without its identity the file could not be told apart from one that
  // another process puts at the path later: it is left, empty, rather than
  // removed at a risk to another's file.
  if (!known) return Made::kCannot;
  path_ = path;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  made_ = true;
  return Made::kMade;
}

NewFile::~NewFile() {
  if (!made_) return;
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

}  // namespace dao::internal
