// How the engine keeps a database file whole on its own.
//
// While a file is written it is in SQLite's WAL mode with synchronous=NORMAL:
// thousands of small commits stay fast, and a killed process leaves the file
// and its log intact.  But a committed change may then lie in the log beside
// the file ("-wal"), which the people who keep these records do not know
// of: they copy, back up and restore the database file alone.  So:
//   - no connection merges the log into the file when it closes (SQLite
//     would, unasked, also for a file the checks at open refuse, and with no
//     room left it would stop half way and leave the file alone damaged);
//   - the log is merged (checkpointed) only by the engine, and only after
//     the room the merged file needs has been taken on the disk: a merge
//     never stops half way for lack of room;
//   - while the file is written, other processes are kept out of it
//     (KeepOthersOut): a reader holding an old state would stop every merge
//     half way;
//   - at the end of an update (FlushFiles) and at the last close of a file
//     in this process, every committed change is merged and the log emptied,
//     with the file synced, and the file goes back to rollback-journal mode,
//     so that no -wal or -shm stays beside it and others may read it again.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/dao/internal/file_state.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

namespace {

// A connection that writes its file: the file's identity (two paths of one
// file are one file) and what a checkpoint needs to know of it.
struct WrittenFile {
  dev_t device = 0;
  ino_t inode = 0;
  int page_size = 4096;
  bool wal_asked = false;  // whether this connection has asked for WAL mode
};

// Every writing connection of this process.  Never destroyed: connections
// held by objects of static storage close while the program ends, after
// every other static object of this file could have gone.
std::map<sqlite3*, std::unique_ptr<WrittenFile>>& Written() {
  static auto* written = new std::map<sqlite3*, std::unique_ptr<WrittenFile>>;
  return *written;
}

// Frames in the log after which a commit merges it into the file, as
// SQLite's own automatic checkpoint does.
constexpr int kCheckpointFrames = 1000;

// Takes the room on the disk for the file to be `bytes` long, growing it
// where it is shorter.  Returns false when the disk has no room for that.
//
// SQLite's own file control does the growing, on its own descriptor of the
// file: a descriptor of ours, when closed, would drop the locks SQLite holds
// on the file.  It grows the file only while a chunk size is set; the chunk
// is one page, so the file ends where its last page ends, and it is unset
// again at once.
bool TakeRoom(sqlite3* conn, int page_size, int64_t bytes) {
  int chunk = page_size;
  sqlite3_file_control(conn, "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
  sqlite3_int64 size = bytes;
  const int rc = sqlite3_file_control(conn, "main", SQLITE_FCNTL_SIZE_HINT, &size);
  chunk = 0;
  sqlite3_file_control(conn, "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
  return rc == SQLITE_OK;
}

// The number of pages of the database after the commit that ends at frame
// `frames` of the log, from that frame's header; 0 when it cannot be read.
// The log is read through a descriptor of its own: SQLite locks the file
// and its -shm, never the log.
int64_t PagesAfterFrame(sqlite3* conn, int page_size, int frames) {
  const char* wal = sqlite3_filename_wal(sqlite3_db_filename(conn, "main"));
  if (wal == nullptr || frames <= 0) return 0;
  const int fd = ::open(wal, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  unsigned char header[24];
  const off_t at = 32 + static_cast<off_t>(frames - 1) * (24 + page_size);
  const bool read = ::pread(fd, header, sizeof header, at) == static_cast<ssize_t>(sizeof header);
  ::close(fd);
  if (!read) return 0;
  return (int64_t{header[4]} << 24) | (int64_t{header[5]} << 16) | (int64_t{header[6]} << 8) |
         int64_t{header[7]};
}

// A checkpoint of `mode` that first takes the room the file will need to
// hold `pages` pages.  Returns SQLite's result, SQLITE_FULL when there is
// no room.
int CheckpointWithRoom(sqlite3* conn, const WrittenFile& file, int mode, int64_t pages) {
  if (!TakeRoom(conn, file.page_size, pages * file.page_size)) return SQLITE_FULL;
  return sqlite3_wal_checkpoint_v2(conn, "main", mode, nullptr, nullptr);
}

// In place of SQLite's automatic checkpoint, after every commit.
int OnCommit(void* arg, sqlite3* conn, const char*, int frames) {
  if (frames < kCheckpointFrames) return SQLITE_OK;
  const auto& file = *static_cast<const WrittenFile*>(arg);
  // Without the size the room cannot be taken: the log waits for the next
  // commit or the end.
  if (const int64_t pages = PagesAfterFrame(conn, file.page_size, frames); pages > 0) {
    CheckpointWithRoom(conn, file, SQLITE_CHECKPOINT_PASSIVE, pages);
  }
  return SQLITE_OK;
}

// Merges every committed change into the file and empties the log, the file
// synced.  Returns SQLite's result: SQLITE_FULL when the disk has no room
// (the file keeps the whole state it holds), SQLITE_BUSY when another
// connection keeps the log in use.
int MergeLog(sqlite3* conn, const WrittenFile& file) {
  int64_t pages = 0;
  try {
    Statement count(conn, "PRAGMA page_count");
    if (count.Step()) pages = count.Int(0);
  } catch (const SqliteError& error) {
    return error.code();
  }
  return CheckpointWithRoom(conn, file, SQLITE_CHECKPOINT_TRUNCATE, pages);
}

bool SameFile(const WrittenFile& a, const WrittenFile& b) {
  return a.device == b.device && a.inode == b.inode;
}

// Begins and ends a read.
void Touch(sqlite3* conn) {
  sqlite3_exec(conn, "SELECT 1 FROM sqlite_schema LIMIT 1", nullptr, nullptr, nullptr);
}

// Asked of the connection, not read from the file: a descriptor of ours on
// the file, when closed, would drop the locks SQLite holds on it.  A read
// first makes the connection look at the file's header: after a switch of
// mode that failed half way, the connection may think itself in
// rollback-journal mode while the header still says WAL.
bool InWalMode(sqlite3* conn) {
  Touch(conn);
  try {
    Statement mode(conn, "PRAGMA journal_mode");
    return mode.Step() && mode.Text(0) == "wal";
  } catch (const kav::Error&) {
    return false;
  }
}

// From WAL mode, its log merged, back to rollback-journal mode: SQLite
// deletes the emptied log and -shm.  Returns whether the file is in
// rollback-journal mode.
bool LeaveWalMode(sqlite3* conn) {
  // The switch rewrites the file's first page through the connection's
  // cache, which it does not check against the file first: where another
  // process committed since this connection last read, without changing
  // the first page's change counter (WAL commits leave it as it was), a
  // cached page would be written over the newer one, and the file damaged.
  // The cache goes first, so that every page comes from the file.
  sqlite3_db_release_memory(conn);
  sqlite3_exec(conn, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  return !InWalMode(conn);
}

// Keeping other processes out of a file in WAL mode.
//
// A process that reads a file in WAL mode first takes a shared lock on one
// byte of its -shm (SQLite's "DMS" byte), and SQLite answers it with the
// busy error while another process holds that byte exclusively.  The
// engine holds it so while it writes: no reader in another process can then
// hold an old state of the file, which would stop every merge of the log
// half way and leave a log behind the update.  Connections of this process
// are not kept out: a process does not conflict with its own locks.
//
// The lock is taken through a descriptor of our own on the -shm.  Closing
// any descriptor of a file drops every lock the process holds on it,
// SQLite's own included, so ours is never closed while SQLite has that
// -shm open: to let others in again, the lock goes back to the shared lock
// SQLite itself holds there, and the descriptor is closed once SQLite has
// deleted the -shm.
constexpr off_t kShmDmsByte = 128;

struct Guard {
  int fd = -1;
  ino_t shm_inode = 0;
};

std::map<std::pair<dev_t, ino_t>, Guard>& Guards() {
  static auto* guards = new std::map<std::pair<dev_t, ino_t>, Guard>;
  return *guards;
}

// Where the byte is held elsewhere, nothing changes.
void LockDmsByte(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShmDmsByte;
  lock.l_len = 1;
  ::fcntl(fd, F_SETLK, &lock);
}

// Where another process already reads the file, it cannot be kept out:
// the end of the update then waits for it (FlushWrittenFiles).
void KeepOthersOut(sqlite3* conn, const WrittenFile& file) {
  const std::string shm = std::string(sqlite3_db_filename(conn, "main")) + "-shm";
  struct stat st;
  if (::stat(shm.c_str(), &st) != 0) return;
  Guard& guard = Guards()[{file.device, file.inode}];
  if (guard.fd >= 0 && guard.shm_inode != st.st_ino) {
    ::close(guard.fd);  // a -shm SQLite deleted: no lock of ours is on it
    guard.fd = -1;
  }
  if (guard.fd < 0) {
    guard.fd = ::open(shm.c_str(), O_RDWR | O_CLOEXEC);
    if (guard.fd < 0) return;
    guard.shm_inode = st.st_ino;
  }
  LockDmsByte(guard.fd, F_WRLCK);
}

// After the switch back to rollback-journal mode (`left_wal`), SQLite has
// deleted the -shm and dropped its locks there: the descriptor is closed.
// Otherwise the lock goes back to SQLite's own shared one, and the
// descriptor stays open until SQLite deletes that -shm.
void LetOthersIn(const WrittenFile& file, bool left_wal) {
  auto& guards = Guards();
  auto it = guards.find({file.device, file.inode});
  if (it == guards.end()) return;
  if (!left_wal) {
    LockDmsByte(it->second.fd, F_RDLCK);
    return;
  }
  ::close(it->second.fd);
  guards.erase(it);
}

}  // namespace

void PrepareConnection(sqlite3* conn) {
  sqlite3_db_config(conn, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  // No automatic checkpoint until the connection writes (StartWriting).
  sqlite3_wal_hook(conn, nullptr, nullptr);
}

bool WrittenHere(dev_t device, ino_t inode) {
  for (const auto& [conn, file] : Written()) {
    if (file->device == device && file->inode == inode) return true;
  }
  return false;
}

bool HeaderSaysWal(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char versions[2] = {};
  const bool read = ::pread(fd, versions, sizeof versions, 18) == 2;
  ::close(fd);
  return read && (versions[0] == 2 || versions[1] == 2);
}

std::string LeftLogNote(const std::string& path) {
  struct stat st;
  const std::string wal = path + "-wal";
  if (::stat(wal.c_str(), &st) != 0 || st.st_size == 0) return {};
  return " Beside it lies '" + wal +
         "', a log of changes not yet written into the file, left by a run that was cut off. "
         "If the database was restored from a backup, that log is not the database's: remove '" +
         wal + "' and '" + path + "-shm' and try again.";
}

void StartWriting(sqlite3* conn) {
  sqlite3_exec(conn, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF", nullptr, nullptr,
               nullptr);
  auto file = std::make_unique<WrittenFile>();
  struct stat st;
  const char* name = sqlite3_db_filename(conn, "main");
  if (name != nullptr && ::stat(name, &st) == 0) {
    file->device = st.st_dev;
    file->inode = st.st_ino;
  }
  try {
    Statement size(conn, "PRAGMA page_size");
    if (size.Step() && size.Int(0) > 0) file->page_size = static_cast<int>(size.Int(0));
  } catch (const kav::Error&) {
    // The default page size; a wrong one only makes the room taken wrong.
  }
  sqlite3_wal_hook(conn, &OnCommit, file.get());
  Written()[conn] = std::move(file);
}

void BeforeWrite(sqlite3* conn) {
  auto& written = Written();
  auto it = written.find(conn);
  if (it == written.end() || it->second->wal_asked) return;
  it->second->wal_asked = true;
  // Where the mode cannot change now (another connection holds the file),
  // the connection writes in rollback-journal mode: slower, as safe.
  sqlite3_exec(conn, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // InWalMode reads, and SQLite opens the -shm at the first read in WAL mode.
  if (!InWalMode(conn)) return;
  KeepOthersOut(conn, *it->second);
}

void FinishWriting(sqlite3* conn) {
  auto& written = Written();
  auto it = written.find(conn);
  if (it == written.end()) return;
  std::unique_ptr<WrittenFile> file = std::move(it->second);
  written.erase(it);
  sqlite3_wal_hook(conn, nullptr, nullptr);
  for (const auto& [other, other_file] : written) {
    if (SameFile(*other_file, *file)) return;  // not the last in this process
  }
  if (sqlite3_get_autocommit(conn) == 0) {
    sqlite3_exec(conn, "ROLLBACK", nullptr, nullptr, nullptr);  // as closing would
  }
  if (!InWalMode(conn)) return;  // nothing to merge, and the mode is as it came
  if (MergeLog(conn, *file) != SQLITE_OK) {
    LetOthersIn(*file, false);
    return;
  }
  // Only a connection that is the file's last in every process can leave
  // WAL mode: where another program has the file open, the change is not
  // waited for, and the last to close it does it.
  sqlite3_busy_timeout(conn, 0);
  LetOthersIn(*file, LeaveWalMode(conn));
}

void FlushWrittenFiles() {
  std::vector<const WrittenFile*> done;
  for (const auto& [conn, file] : Written()) {
    bool seen = false;
    for (const WrittenFile* d : done) seen = seen || SameFile(*d, *file);
    if (seen) continue;
    done.push_back(file.get());
    // A transaction still open is ended by its owner, and the file's last
    // close merges what it commits.
    if (sqlite3_get_autocommit(conn) == 0 || !InWalMode(conn)) continue;
    // A reader that came in before the update wrote is waited for; one who
    // stays makes the end fail, never leaves a log behind a success.
    if (const int rc = MergeLog(conn, *file); rc != SQLITE_OK) {
      LetOthersIn(*file, false);
      RaiseSqlite(nullptr, rc);
    }
    // Back to rollback-journal mode, so that the file alone is the database
    // with nothing beside it while the tool sits idle; the next write goes
    // back to WAL mode.  The switch cannot be made while another process
    // has the file open (the last to close it makes it), nor when its
    // journal cannot be written: the file then stays in WAL mode with its
    // log empty, whole on its own, and the next run in place switches it.
    LetOthersIn(*file, LeaveWalMode(conn));
    file->wal_asked = false;
  }
}

}  // namespace dao::internal
