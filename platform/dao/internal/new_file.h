// The file a call makes for a new database, and takes away again when the
// call fails.  It is made exclusively, so that a file another process put
// at the path is never taken for this call's own, and it is removed only
// while the path still names the very file this call made, so that a file
// another process put there since stays.

#ifndef KAV_PLATFORM_DAO_INTERNAL_NEW_FILE_H_
#define KAV_PLATFORM_DAO_INTERNAL_NEW_FILE_H_

#include <sys/types.h>

#include <string>

namespace dao::internal {

class NewFile {
 public:
  // Makes the empty file at `path`, with the permissions SQLite gives a new
  // database (rw-r--r--, less the process's umask).  Raises 3204 with the
  // description `exists` where anything is at `path` already (a file, a
  // folder, a link, also one that leads nowhere), and 3051 with `cannot`
  // followed by SQLite's words for a file it cannot open where the file
  // cannot be made (no such folder, no permission, no room).
  void Make(const std::string& path, const std::string& exists, const std::string& cannot);

  // The call has succeeded: the file stays.
  void Keep() { made_ = false; }

  // Removes the file made, unless kept, while the path still names it.
  ~NewFile();

  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

 private:
  std::string path_;
  bool made_ = false;
  dev_t device_ = 0;  // the file made, as the file system knows it
  ino_t inode_ = 0;
};

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_NEW_FILE_H_
