// What a process that was cut off leaves beside a database file for SQLite
// to play into it at the next open: a log ("-wal") or a hot rollback journal
// ("-journal"); what their headers show of whether they can belong to the
// file as it stands (leftovers.cc says why they may not); and the copy of
// the file a leftover is tried on first.

#ifndef KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_
#define KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_

#include <string>

#include "platform/dao/internal/file_header.h"

namespace dao::internal {

// The files beside a database that SQLite would read or play into it.
struct Leftovers {
  std::string wal;          // the path of a non-empty -wal beside it, or nothing
  std::string journal;      // the path of a hot -journal beside it, or nothing
  std::string not_regular;  // a -journal, -wal or -shm that is no regular file

  bool empty() const { return wal.empty() && journal.empty(); }
  // "'…-wal'", "'…-journal'" or both joined by "and", for a box.
  std::string Named() const;
};

// What lies beside `path`.  Reads with descriptors of its own: only for a
// file that no connection of this process has open.
Leftovers FindLeftovers(const std::string& path);

// Whether another process holds one of SQLite's locks on the file: a log
// or journal beside it is then in use by that process, not left over.
bool LockedElsewhere(const std::string& path);

// What the headers of the file and of its leftovers show, read without
// playing anything.
struct LeftoverHeaders {
  // Why the leftovers cannot belong to the file as it stands: a log beside
  // a file in rollback-journal mode, a journal saved from another state of
  // it, or sizes that no state of the file can have; nothing where none of
  // that is so.
  std::string mismatch;
  // The journal saved the file's first page with the file's own change
  // counter: it was saved from this file.
  bool journal_saved_here = false;
  // The most bytes the file can have once a leftover is played into it.
  off_t largest_file = 0;
};
LeftoverHeaders ReadLeftoverHeaders(const std::string& path, const Leftovers& left);

// Removes the folders that copies of runs which were cut off left in the
// temporary folder; a folder that a running process still uses stays.
void RemoveAbandonedCopies();

// A copy of a database file and its leftovers, with the same names, in a
// private folder of its own that the object holds locked and removes when
// it goes.  A folder left by a process that was cut off is removed by the
// next run (RemoveAbandonedCopies).
class RehearsalCopy {
 public:
  // Raises when the copy cannot be made: no room for the file grown to
  // `largest_file` bytes (the box names the folder and the room it needs),
  // no temporary folder, a copy that fails.
  RehearsalCopy(const std::string& path, const Leftovers& left, off_t largest_file);
  ~RehearsalCopy();
  RehearsalCopy(const RehearsalCopy&) = delete;
  RehearsalCopy& operator=(const RehearsalCopy&) = delete;

  const std::string& path() const { return path_; }
  const std::string& folder() const { return dir_; }

 private:
  std::string dir_;
  FileDescriptor lock_;  // the folder, locked while the object lives
  std::string path_;
};

// Whether the files at `a` and `b` hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_
