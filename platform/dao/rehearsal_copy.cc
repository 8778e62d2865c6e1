// The copy of a database file that its leftovers are tried on before they
// are played into the file itself (leftovers.cc says why), in a folder of
// its own in the temporary folder.  The folder is locked while a process
// uses it, so that the next run knows the folders of runs that were cut off
// and removes them: nothing of a killed run stays there past the next run.

#include "platform/dao/internal/rehearsal_copy.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/dao/internal/errors.h"

namespace dao::internal {

namespace {

// The folder copies are made in: TMPDIR, else /tmp.
std::string TemporaryFolder() {
  const char* tmp = ::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Copies are made in folders of this name, which RemoveAbandonedCopies
// knows.
constexpr char kCopyFolderPrefix[] = "kav-check-";

// Locks the folder `dir` for this process, without waiting; an invalid
// descriptor where another process holds it.  An flock, unlike SQLite's
// record locks, is held by the open descriptor, so that even another
// descriptor of this process does not get it.
FileDescriptor LockFolder(const std::string& dir) {
  FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return {};
  return fd;
}

// Copies the regular file `from` to the new file `to`; why it failed, or
// nothing.
std::string CopyRegularFile(const std::string& from, const std::string& to) {
  const FileDescriptor in = OpenRegularFile(from);
  if (!in.valid()) return "it cannot be read";
  const FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out.valid()) return std::strerror(errno);
  std::vector<char> buffer(1 << 20);
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(in.get(), buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::strerror(errno);
    if (got == 0) return {};
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = ::pwrite(out.get(), buffer.data() + put, got - put, at + put);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return std::strerror(errno);
      put += n;
    }
    at += got;
  }
}

// "12 MB", rounded up or down.
std::string Megabytes(uint64_t bytes, bool up) {
  constexpr uint64_t kMegabyte = 1000 * 1000;
  return std::to_string((bytes + (up ? kMegabyte - 1 : 0)) / kMegabyte) + " MB";
}

}  // namespace

void RemoveAbandonedCopies() {
  const std::string folder = TemporaryFolder();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, kCopyFolderPrefix, sizeof kCopyFolderPrefix - 1) == 0) {
      names.emplace_back(entry->d_name);
    }
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat st;
    // Only this user's own folders; another user's are not ours to judge.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    // A folder whose lock nobody holds belongs to a process that is gone.
    if (const FileDescriptor held = LockFolder(path); held.valid()) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  }
}

RehearsalCopy::RehearsalCopy(const std::string& path, const Leftovers& left, off_t largest_file) {
  const std::string folder = TemporaryFolder();
  // The room the copy needs: the file at the largest size a leftover gives
  // it, the leftovers, and SQLite's index of a log (-shm) at most 64 KiB
  // and a sixty-fourth of the log.
  const auto blocks = [](off_t bytes) {
    return (static_cast<uint64_t>(bytes) + 4095) / 4096 * 4096;
  };
  const off_t wal = RegularFileSize(left.wal);
  const uint64_t needed = blocks(largest_file) + blocks(wal) +
                          blocks(RegularFileSize(left.journal)) + 65536 + blocks(wal / 64);
  struct statvfs room;
  if (::statvfs(folder.c_str(), &room) == 0 &&
      static_cast<uint64_t>(room.f_bavail) * room.f_frsize < needed) {
    Raise(kErrOpenFailed,
          "'" + path + "' cannot be opened yet: " + left.Named() +
              " lies beside it, and to try it on a copy first the folder '" + folder + "' needs " +
              Megabytes(needed, true) + " of room, where it has " +
              Megabytes(static_cast<uint64_t>(room.f_bavail) * room.f_frsize, false) +
              ". Make room there, or set TMPDIR to a folder with room, and "
              "try again.");
  }
  // A folder of mkdtemp's is locked at once; where an abandoned copy's
  // removal took it in between, another is made.
  for (int attempt = 0; attempt < 3 && !lock_.valid(); ++attempt) {
    std::string pattern = folder + "/" + kCopyFolderPrefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      Raise(kErrOpenFailed, "No temporary folder can be made in '" + folder + "' to check " +
                                left.Named() + " in (" + std::strerror(errno) + ").");
    }
    dir_ = pattern;
    lock_ = LockFolder(dir_);
  }
  if (!lock_.valid()) {
    Raise(kErrOpenFailed, "No temporary folder of its own can be held in '" + folder +
                              "' to check " + left.Named() + " in.");
  }
  path_ = dir_ + "/" + std::filesystem::path(path).filename().string();
  for (const auto& [from, to] : {std::pair{path, path_}, std::pair{left.wal, path_ + "-wal"},
                                 std::pair{left.journal, path_ + "-journal"}}) {
    if (from.empty()) continue;
    if (const std::string why = CopyRegularFile(from, to); !why.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
      Raise(kErrOpenFailed, "'" + from + "' cannot be copied to '" + dir_ + "' to check " +
                                left.Named() + " (" + why + ").");
    }
  }
}

RehearsalCopy::~RehearsalCopy() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool SameBytes(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  const FileDescriptor fa = OpenRegularFile(a, O_RDONLY, &sa);
  const FileDescriptor fb = OpenRegularFile(b, O_RDONLY, &sb);
  if (!fa.valid() || !fb.valid() || sa.st_size != sb.st_size) return false;
  constexpr size_t kChunk = 1 << 20;
  std::vector<unsigned char> ba(kChunk), bb(kChunk);
  for (off_t at = 0; at < sa.st_size; at += kChunk) {
    const size_t n = static_cast<size_t>(std::min<off_t>(kChunk, sa.st_size - at));
    if (!ReadAt(fa.get(), at, ba.data(), n) || !ReadAt(fb.get(), at, bb.data(), n) ||
        std::memcmp(ba.data(), bb.data(), n) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace dao::internal
