// Reading file headers through descriptors of our own.

#include "platform/dao/internal/file_header.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dao::internal {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void FileDescriptor::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FileDescriptor OpenRegularFile(const std::string& path, int flags, struct stat* status) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
  // writer for ever.  It changes nothing for a regular file.
  FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  if (status != nullptr) *status = st;
  return fd;
}

bool ReadAt(int fd, off_t at, void* out, size_t n) {
  auto* bytes = static_cast<unsigned char*>(out);
  while (n > 0) {
    const ssize_t got = ::pread(fd, bytes, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    at += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool ReadAt(const std::string& path, off_t at, void* out, size_t n) {
  const FileDescriptor fd = OpenRegularFile(path);
  return fd.valid() && ReadAt(fd.get(), at, out, n);
}

off_t RegularFileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

DatabaseHeader::DatabaseHeader(const std::string& path) {
  const FileDescriptor fd = OpenRegularFile(path);
  if (!fd.valid()) return;
  while (size_ < kSize) {
    const ssize_t got = ::pread(fd.get(), bytes_ + size_, kSize - size_, size_);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    size_ += static_cast<size_t>(got);
  }
}

bool DatabaseHeader::HasSqliteSignature() const {
  return size_ >= 16 && std::memcmp(bytes_, "SQLite format 3", 16) == 0;
}

uint32_t DatabaseHeader::PageSize() const {
  if (size_ < 18) return 0;
  const uint32_t field = (uint32_t{bytes_[16]} << 8) | bytes_[17];
  const uint32_t size = field == 1 ? 65536 : field;
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0 ? size : 0;
}

bool DatabaseHeader::InWalMode() const {
  return size_ >= 20 && (bytes_[18] == 2 || bytes_[19] == 2);
}

bool DatabaseHeader::InRollbackJournalMode() const {
  return size_ >= 20 && bytes_[18] == 1 && bytes_[19] == 1;
}

uint32_t DatabaseHeader::PageCount() const {
  if (size_ < kSize || std::memcmp(bytes_ + 24, bytes_ + 92, 4) != 0) return 0;
  return BigEndian32(bytes_ + 28);
}

}  // namespace dao::internal
