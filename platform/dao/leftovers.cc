// Logs and journals left beside a database file.
//
// SQLite plays a log or a hot journal that lies beside a file into it as
// soon as it reads the file, and it cannot know whether they belong to it:
// a backup copied over KAV.MDB after a run was cut off gets the cut-off
// run's log played into it, and is damaged for good (SQLite's
// howtocorrupt.html, "mispairing database files and hot journals").  So
// before SQLite opens a file that another process may have left that way:
//   - a log or journal that another process holds the file for is in use,
//     not left over, and SQLite's locks handle it;
//   - a non-empty log beside a file whose header says rollback-journal mode
//     never belongs to it: the engine leaves the file in WAL mode for as
//     long as its log holds anything;
//   - a hot journal whose copy of the first page does not carry the file's
//     change counter (or the one before it) was made for another file;
//   - every other leftover is played into a copy of the file first, and the
//     checks at open run on what that leaves; only when they pass is the
//     real file opened.
// A leftover that fails is named in the refusal, and the file and the
// leftover stay exactly as they were.

#include "platform/dao/internal/leftovers.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/dao/internal/errors.h"

namespace dao::internal {

namespace {

// SQLite's locks lie in the 512 bytes at 1 GiB of the file (the pending
// byte, the reserved byte and the shared range), whatever the file's size.
constexpr off_t kLockBytes = 0x40000000;
constexpr off_t kLockBytesLength = 512;

constexpr unsigned char kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

// Reads `n` bytes at `at` of the file at `path`; false when it cannot.
bool ReadAt(const std::string& path, off_t at, unsigned char* out, size_t n) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = ::pread(fd, out, n, at) == static_cast<ssize_t>(n);
  ::close(fd);
  return read;
}

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

off_t SizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

// A journal SQLite would play back: non-empty and its header not zeroed
// (a journal whose first byte is zero has been committed and is ignored).
// One that cannot be read is taken for hot: nothing can say it is not.
bool IsHotJournal(const std::string& journal) {
  unsigned char first = 0;
  return SizeOf(journal) > 0 && (!ReadAt(journal, 0, &first, 1) || first != 0);
}

}  // namespace

std::string Leftovers::Named() const {
  std::string out;
  for (const std::string* file : {&wal, &journal}) {
    if (file->empty()) continue;
    if (!out.empty()) out += " and ";
    out += "'" + *file + "'";
  }
  return out;
}

Leftovers FindLeftovers(const std::string& path) {
  Leftovers left;
  if (SizeOf(path + "-wal") > 0) left.wal = path + "-wal";
  if (IsHotJournal(path + "-journal")) left.journal = path + "-journal";
  return left;
}

bool LockedElsewhere(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBytes;
  lock.l_len = kLockBytesLength;
  const bool locked = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

std::string Mismatch(const std::string& path, const Leftovers& left) {
  unsigned char header[100];
  if (!ReadAt(path, 0, header, sizeof header)) return {};
  if (!left.wal.empty() && header[18] == 1 && header[19] == 1) {
    return "the file is in rollback-journal mode, and such a file has no log";
  }
  if (left.journal.empty()) return {};
  // The journal's header, then its first page: the page number and the
  // page as it was before the cut-off transaction changed it.
  unsigned char journal[28];
  if (!ReadAt(left.journal, 0, journal, sizeof journal) ||
      std::memcmp(journal, kJournalMagic, sizeof kJournalMagic) != 0) {
    return {};  // SQLite ignores a journal it cannot read; so may we
  }
  const uint32_t sector = BigEndian32(journal + 20);
  unsigned char page[4 + 28];
  if (sector < 512 || sector > 65536 || !ReadAt(left.journal, sector, page, sizeof page) ||
      BigEndian32(page) != 1) {
    return {};  // the first page is not in it: only a rehearsal can tell
  }
  // A transaction raises the change counter once, as it commits; the file
  // holds the counter the journal saved, or that one plus one.
  const uint32_t saved = BigEndian32(page + 4 + 24), now = BigEndian32(header + 24);
  if (now == saved || now == saved + 1) return {};
  return "the journal was written for another state of the file (change counter " +
         std::to_string(saved) + ", the file's " + std::to_string(now) + ")";
}

RehearsalCopy::RehearsalCopy(const std::string& path, const Leftovers& left) {
  const char* tmp = ::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kav-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    Raise(kErrOpenFailed, "No temporary folder can be made to check " + left.Named() + " in (" +
                              std::strerror(errno) + ").");
  }
  dir_ = pattern;
  path_ = dir_ + "/" + std::filesystem::path(path).filename().string();
  std::error_code error;
  for (const auto& [from, to] : {std::pair{path, path_}, std::pair{left.wal, path_ + "-wal"},
                                 std::pair{left.journal, path_ + "-journal"}}) {
    if (from.empty()) continue;
    if (!std::filesystem::copy_file(from, to, error)) {
      std::filesystem::remove_all(dir_, error);
      Raise(kErrOpenFailed, "'" + from + "' cannot be copied to " + dir_ + " to check " +
                                left.Named() + " (" + error.message() + ").");
    }
  }
}

RehearsalCopy::~RehearsalCopy() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace dao::internal
