// The copy of a database file and its leftovers that the leftovers are
// tried on first (rehearsal_copy.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_REHEARSAL_COPY_H_
#define KAV_PLATFORM_DAO_INTERNAL_REHEARSAL_COPY_H_

#include <sys/types.h>

#include <string>

#include "platform/dao/internal/file_header.h"
#include "platform/dao/internal/leftovers.h"

namespace dao::internal {

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

#endif  // KAV_PLATFORM_DAO_INTERNAL_REHEARSAL_COPY_H_
