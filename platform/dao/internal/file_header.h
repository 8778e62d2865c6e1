// Reading the header of a database file, and of the files beside it, through
// descriptors of our own that close on every path.

#ifndef KAV_PLATFORM_DAO_INTERNAL_FILE_HEADER_H_
#define KAV_PLATFORM_DAO_INTERNAL_FILE_HEADER_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace dao::internal {

// An open file descriptor, closed when the object goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close();

 private:
  int fd_ = -1;
};

// Opens the regular file at `path` with `flags` (O_RDONLY, O_RDWR), its
// status in `*status` where given; an invalid descriptor where the path
// cannot be opened or names anything but a regular file.  It never waits:
// a FIFO in a file's place is refused, not read.
FileDescriptor OpenRegularFile(const std::string& path, int flags = O_RDONLY,
                               struct stat* status = nullptr);

// Reads exactly `n` bytes at `at` into `out`; false on an error or a short
// read.
bool ReadAt(int fd, off_t at, void* out, size_t n);
// The same, of the regular file at `path`.
bool ReadAt(const std::string& path, off_t at, void* out, size_t n);

// The size of the regular file at `path`, or 0 where it is none.
off_t RegularFileSize(const std::string& path);

inline uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The first 100 bytes of an SQLite database file, as the file format
// describes them.
class DatabaseHeader {
 public:
  static constexpr size_t kSize = 100;

  // Reads the header of the file at `path`; a file that cannot be read, or
  // is shorter, gives fewer bytes (size()).
  explicit DatabaseHeader(const std::string& path);

  size_t size() const { return size_; }
  // The file begins with "SQLite format 3\0".
  bool HasSqliteSignature() const;
  // The signature and the whole header are there.
  bool IsSqlite() const { return size_ == kSize && HasSqliteSignature(); }
  // The page size in bytes, or 0 where the header gives none.
  uint32_t PageSize() const;
  // Bytes 18 and 19, the file's read and write versions: 2 for WAL mode.
  bool InWalMode() const;
  bool InRollbackJournalMode() const;
  // The change counter, raised by every commit in rollback-journal mode.
  uint32_t ChangeCounter() const { return BigEndian32(bytes_ + 24); }
  // The number of pages the header gives, where it counts: written with the
  // change counter beside it; 0 otherwise.
  uint32_t PageCount() const;

 private:
  unsigned char bytes_[kSize] = {};
  size_t size_ = 0;
};

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_FILE_HEADER_H_
