// What a process that was cut off leaves beside a database file for SQLite
// to play into it at the next open: a log ("-wal") or a hot rollback journal
// ("-journal"); and whether such a leftover can belong to the file as it
// stands (leftovers.cc says why it may not).

#ifndef KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_
#define KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_

#include <string>

namespace dao::internal {

// The files beside a database that SQLite would play into it.
struct Leftovers {
  std::string wal;      // the path of a non-empty -wal beside it, or nothing
  std::string journal;  // the path of a hot -journal beside it, or nothing

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

// Why the leftovers cannot belong to the file as it now stands, read from
// the file's and their headers alone; nothing when they may.
std::string Mismatch(const std::string& path, const Leftovers& left);

// A copy of a database file and its leftovers, with the same names, in a
// private folder of its own; the folder goes with the object.
class RehearsalCopy {
 public:
  // Raises when the copy cannot be made (no room, no temporary folder).
  RehearsalCopy(const std::string& path, const Leftovers& left);
  ~RehearsalCopy();
  RehearsalCopy(const RehearsalCopy&) = delete;
  RehearsalCopy& operator=(const RehearsalCopy&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_LEFTOVERS_H_
