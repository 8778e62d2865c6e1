// Logs and journals left beside a database file.
//
// SQLite plays a log or a hot journal that lies beside a file into it as
// soon as it reads the file, and it cannot know whether they belong to it:
// a backup copied over KAV.MDB after a run was cut off gets the cut-off
// run's log played into it, and is damaged for good (SQLite's
// howtocorrupt.html, "mispairing database files and hot journals").  So
// before SQLite opens a file that another process may have left that way,
// the checks at open (open_file.cc) read what lies beside it:
//   - a journal, log or index ("-shm") that is not a regular file (a FIFO,
//     a folder, a link) is refused: SQLite would wait on it, or follow it;
//   - a log or journal that another process holds the file for is in use,
//     not left over, and SQLite's locks handle it;
//   - their headers may show that they cannot belong (ReadLeftoverHeaders):
//     a non-empty log beside a file whose header says rollback-journal mode
//     (the engine leaves the file in WAL mode for as long as its log holds
//     anything), a journal whose saved first page carries another change
//     counter, or sizes no state of the file can have;
//   - every other leftover is played into a copy of the file first, and the
//     checks at open run on what that leaves; a journal must moreover show
//     that it belongs (its saved first page) or leave the copy exactly as
//     the file is.  Only then is the real file opened.
// A leftover that fails is named in the refusal, and the file and the
// leftover stay exactly as they were.

#include "platform/dao/internal/leftovers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/dao/internal/file_header.h"

namespace dao::internal {

namespace {

// SQLite's locks lie in the 512 bytes at 1 GiB of the file (the pending
// byte, the reserved byte and the shared range), whatever the file's size.
constexpr off_t kLockBytes = 0x40000000;
constexpr off_t kLockBytesLength = 512;

// A rollback journal, as the file format describes it: a header padded to
// the sector size, then records of a page number, the page as it was
// before the transaction changed it, and a checksum.
constexpr unsigned char kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr uint32_t kJournalRecordsToEnd = 0xffffffff;  // "as many as the file holds"

struct JournalHeader {
  uint32_t records = 0;        // in this segment; kJournalRecordsToEnd
  uint32_t nonce = 0;          // the checksums' starting value
  uint32_t initial_pages = 0;  // the file's size before the transaction
  uint32_t sector = 0;
  uint32_t page_size = 0;
};

bool PowerOfTwoIn(uint32_t value, uint32_t low, uint32_t high) {
  return value >= low && value <= high && (value & (value - 1)) == 0;
}

// The journal header at `at`; false where SQLite would stop reading there.
bool ReadJournalHeader(int fd, off_t at, JournalHeader& out) {
  unsigned char bytes[28];
  if (!ReadAt(fd, at, bytes, sizeof bytes) ||
      std::memcmp(bytes, kJournalMagic, sizeof kJournalMagic) != 0) {
    return false;
  }
  out.records = BigEndian32(bytes + 8);
  out.nonce = BigEndian32(bytes + 12);
  out.initial_pages = BigEndian32(bytes + 16);
  out.sector = BigEndian32(bytes + 20);
  out.page_size = BigEndian32(bytes + 24);
  return true;
}

// A log, as the file format describes it: a 32-byte header, then frames of
// a 24-byte header and a page.  Frames count only while they carry the
// header's salts.
constexpr uint32_t kWalMagic = 0x377f0682;  // the lowest bit: big-endian checksums
constexpr off_t kWalHeaderSize = 32;
constexpr off_t kWalFrameHeaderSize = 24;

// The log's checksum of `words` 32-bit words, read in the byte order the
// log's magic number gives.
void WalChecksum(const unsigned char* bytes, size_t words, bool big_endian, uint32_t& s1,
                 uint32_t& s2) {
  auto word = [&](size_t i) {
    const unsigned char* p = bytes + 4 * i;
    return big_endian ? BigEndian32(p)
                      : (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) |
                            uint32_t{p[0]};
  };
  for (size_t i = 0; i + 1 < words; i += 2) {
    s1 += word(i) + s2;
    s2 += word(i + 1) + s1;
  }
}

uint64_t PagesIn(off_t bytes, uint32_t page_size) {
  return (static_cast<uint64_t>(bytes) + page_size - 1) / page_size;
}

// What the log's headers show: a commit that claims more pages than the
// file and the log before it can make, or nothing; `largest` grows to the
// largest file a commit gives.
//
// A commit frame gives the size of the database after it.  Each page past
// the file's own end is written into the log before it counts, so after
// frame i the database has at most the file's pages and i more (and the
// page of SQLite's lock bytes, which is never written).  A log of SQLite's
// making never claims more; one that does was damaged, and merged it would
// grow the file to that size.
std::string ReadLogHeaders(const std::string& wal, off_t file_size, off_t& largest) {
  const FileDescriptor fd = OpenRegularFile(wal);
  struct stat st;
  unsigned char header[kWalHeaderSize];
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !ReadAt(fd.get(), 0, header, sizeof header)) {
    return {};
  }
  const uint32_t magic = BigEndian32(header);
  const uint32_t page_size = BigEndian32(header + 8);
  uint32_t s1 = 0, s2 = 0;
  WalChecksum(header, 6, magic & 1, s1, s2);
  // A log whose header SQLite does not take is ignored, and so is
  // everything in it.
  if ((magic & ~1u) != kWalMagic || !PowerOfTwoIn(page_size, 512, 65536) ||
      s1 != BigEndian32(header + 24) || s2 != BigEndian32(header + 28)) {
    return {};
  }
  const uint64_t file_pages = PagesIn(file_size, page_size);
  const off_t frame_size = kWalFrameHeaderSize + page_size;
  const off_t frames = (st.st_size - kWalHeaderSize) / frame_size;
  for (off_t i = 1; i <= frames; ++i) {
    unsigned char frame[kWalFrameHeaderSize];
    if (!ReadAt(fd.get(), kWalHeaderSize + (i - 1) * frame_size, frame, sizeof frame) ||
        std::memcmp(frame + 8, header + 16, 8) != 0) {
      break;  // the salts of an earlier log: SQLite reads no further
    }
    const uint32_t pages = BigEndian32(frame + 4);
    if (pages == 0) continue;  // not a commit
    if (pages > file_pages + static_cast<uint64_t>(i) + 1) {
      return "its commit at frame " + std::to_string(i) + " gives the file " +
             std::to_string(pages) + " pages, where the file and the log can make at most " +
             std::to_string(file_pages + static_cast<uint64_t>(i) + 1);
    }
    largest = std::max(largest, static_cast<off_t>(pages) * page_size);
  }
  return {};
}

// The change counter of the file's first page as the journal saved it,
// from the first record of page 1 that SQLite would play back; false where
// the journal holds none.  The records are read segment by segment, as
// SQLite plays them: a segment's header, then its records, up to a page
// number 0 or the end of the file; a record counts only with its checksum.
bool SavedChangeCounter(int fd, off_t size, const JournalHeader& first, uint32_t& counter) {
  const off_t record_size = first.page_size + 8;
  std::vector<unsigned char> page(first.page_size + 4);
  JournalHeader segment = first;
  for (off_t at = 0; at + first.sector <= size;) {
    if (at > 0 && !ReadJournalHeader(fd, at, segment)) return false;
    off_t record = at + first.sector;
    uint64_t records = segment.records;
    if (records == kJournalRecordsToEnd) records = (size - record) / record_size;
    for (uint64_t k = 0; k < records; ++k, record += record_size) {
      unsigned char number[4];
      if (record + record_size > size || !ReadAt(fd, record, number, sizeof number)) return false;
      const uint32_t page_number = BigEndian32(number);
      if (page_number == 0) return false;
      if (page_number != 1) continue;
      if (!ReadAt(fd, record + 4, page.data(), page.size())) return false;
      uint32_t checksum = segment.nonce;
      for (uint32_t i = first.page_size - 200; i > 0 && i < first.page_size; i -= 200) {
        checksum += page[i];
      }
      if (checksum != BigEndian32(page.data() + first.page_size)) return false;
      counter = BigEndian32(page.data() + 24);
      return true;
    }
    // The next segment's header starts on the next sector.
    at = (record + first.sector - 1) / first.sector * first.sector;
  }
  return false;
}

// What the journal's headers show; see LeftoverHeaders.
void ReadJournalHeaders(const std::string& journal, const DatabaseHeader& file, off_t file_size,
                        LeftoverHeaders& out) {
  const FileDescriptor fd = OpenRegularFile(journal);
  struct stat st;
  JournalHeader header;
  // SQLite ignores a journal it cannot read; so may we.
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !ReadJournalHeader(fd.get(), 0, header)) {
    return;
  }
  if (header.page_size == 0) header.page_size = file.PageSize();
  // A header that does not give these is one SQLite stops at, and plays
  // nothing of.
  if (!PowerOfTwoIn(header.page_size, 512, 65536) || !PowerOfTwoIn(header.sector, 32, 65536)) {
    return;
  }
  // The transaction began on a file of `initial_pages` pages.  Played back,
  // the journal gives the file that size again.  A transaction that made
  // the file shorter saved every page it cut off, so the file had at most
  // the pages it has now, those the journal can hold, and the page of the
  // lock bytes, which is never written.  An initial size beyond that is
  // no state the file had: the header is damaged.
  const uint64_t file_pages = PagesIn(file_size, header.page_size);
  const uint64_t records =
      st.st_size > header.sector ? (st.st_size - header.sector) / (header.page_size + 8) : 0;
  if (header.initial_pages > file_pages + records + 1) {
    out.mismatch = "the journal gives the file " + std::to_string(header.initial_pages) +
                   " pages before its transaction, more than the file and the journal can "
                   "ever have held (" +
                   std::to_string(file_pages + records + 1) + ")";
    return;
  }
  out.largest_file =
      std::max(out.largest_file, static_cast<off_t>(header.initial_pages) * header.page_size);
  // A transaction raises the change counter once, as it commits: the file
  // holds the counter the journal saved, or that one plus one.
  uint32_t saved = 0;
  if (!SavedChangeCounter(fd.get(), st.st_size, header, saved)) return;
  const uint32_t now = file.ChangeCounter();
  if (now == saved || now == saved + 1) {
    out.journal_saved_here = true;
    return;
  }
  out.mismatch = "the journal was written for another state of the file (change counter " +
                 std::to_string(saved) + ", the file's " + std::to_string(now) + ")";
}

// A journal SQLite would play back: non-empty and its header not zeroed
// (a journal whose first byte is zero has been committed and is ignored).
// One that cannot be read is taken for hot: nothing can say it is not.
bool IsHotJournal(const std::string& journal) {
  unsigned char first = 0;
  return RegularFileSize(journal) > 0 && (!ReadAt(journal, 0, &first, 1) || first != 0);
}

// Whether something lies at `path` that is not a regular file.
bool NotRegular(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
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
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    if (NotRegular(path + suffix)) {
      left.not_regular = path + suffix;
      return left;
    }
  }
  if (RegularFileSize(path + "-wal") > 0) left.wal = path + "-wal";
  if (IsHotJournal(path + "-journal")) left.journal = path + "-journal";
  return left;
}

bool LockedElsewhere(const std::string& path) {
  const FileDescriptor fd = OpenRegularFile(path);
  if (!fd.valid()) return false;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kLockBytes;
  lock.l_len = kLockBytesLength;
  return ::fcntl(fd.get(), F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

LeftoverHeaders ReadLeftoverHeaders(const std::string& path, const Leftovers& left) {
  LeftoverHeaders out;
  const DatabaseHeader header(path);
  const off_t file_size = RegularFileSize(path);
  out.largest_file = file_size;
  if (!header.IsSqlite()) return out;
  if (!left.wal.empty()) {
    if (header.InRollbackJournalMode()) {
      out.mismatch = "the file is in rollback-journal mode, and such a file has no log";
      return out;
    }
    out.mismatch = ReadLogHeaders(left.wal, file_size, out.largest_file);
    if (!out.mismatch.empty()) return out;
  }
  if (!left.journal.empty()) ReadJournalHeaders(left.journal, header, file_size, out);
  return out;
}

}  // namespace dao::internal
