// Making a new database's file exclusively, and removing only that file.

#include "platform/dao/internal/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

namespace {

// SQLite's own mode for a new database file.
constexpr mode_t kDatabaseMode = 0644;

}  // namespace

void NewFile::Make(const std::string& path, const std::string& exists, const std::string& cannot) {
  // O_EXCL refuses whatever is there, and a symbolic link too, even one to
  // nothing: the file made is always a new file of its own at `path`.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kDatabaseMode);
  const bool there = fd < 0 && errno == EEXIST;
  // SQLite's words, as its own open of the file would have said them.
  const std::string cannot_open = cannot + sqlite3_errstr(SQLITE_CANTOPEN);
  if (there) Raise(kErrDatabaseExists, exists);
  if (fd < 0) Raise(kErrOpenFailed, cannot_open);
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  ::close(fd);
  // Without its identity the file could not be told apart from one that
  // another process puts at the path later: it is left, empty, rather than
  // removed at a risk to another's file.
  if (!known) Raise(kErrOpenFailed, cannot_open);
  path_ = path;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  made_ = true;
}

NewFile::~NewFile() {
  if (!made_) return;
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

}  // namespace dao::internal
