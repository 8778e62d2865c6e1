// What a process that was cut off leaves beside a database file for SQLite
// to play into it at the next open: a log ("-wal") or a hot rollback journal
// ("-journal"); and what their headers show of whether they can belong to
// the file as it stands (leftovers.cc says why they may not).

#ifndef KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_
#define KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_

#include <string>

#include <sys/types.h>

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
  // The most bytes the file can have once a leftover is played into it:
  // never fewer than it has now.
  off_t largest_file = 0;
};
LeftoverHeaders ReadLeftoverHeaders(const std::string& path, const Leftovers& left);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_
