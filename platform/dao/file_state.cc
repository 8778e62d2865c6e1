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
//   - from the first write to the end of the update, other processes are
//     kept out of the file (BeforeWrite, HoldIndex): none may commit into
//     it meanwhile, and a reader holding an old state would stop every
//     merge half way;
//   - at the end of an update (FlushFiles) and at the last close of a file
//     in this process, every committed change is merged and the log emptied,
//     with the file synced, and the file goes back to rollback-journal mode,
//     so that no -wal or -shm stays beside it and others may read it again.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/file_header.h"
#include "platform/dao/internal/file_state.h"
#include "platform/dao/internal/progress.h"
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
// where it is shorter.  Returns SQLite's result: SQLITE_FULL when the disk
// has no room for that.
//
// SQLite's own file control does the growing, on its own descriptor of the
// file: a descriptor of ours, when closed, would drop the locks SQLite holds
// on the file.  It grows the file only while a chunk size is set; the chunk
// is one page, so the file ends where its last page ends, and it is unset
// again at once.  Where the chunk size cannot be set, the size hint would
// take no room: that is a failure of its own, not room taken.  The size
// hint fails only where the file cannot grow: the disk is full.
int TakeRoom(sqlite3* conn, int page_size, int64_t bytes) {
  int chunk = page_size;
  if (const int rc = sqlite3_file_control(conn, "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
      rc != SQLITE_OK) {
    return rc;
  }
  sqlite3_int64 size = bytes;
  const bool grown = sqlite3_file_control(conn, "main", SQLITE_FCNTL_SIZE_HINT, &size) == SQLITE_OK;
  chunk = 0;
  const int unset = sqlite3_file_control(conn, "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
  return !grown ? SQLITE_FULL : unset;
}

// The number of pages of the database after the commit that ends at frame
// `frames` of the log, from that frame's header, bounded by what the file
// and the log can make: every page past the file's end is written into the
// log first, so there are at most the file's pages and `frames` more (and
// the page of SQLite's lock bytes, never written).  0 when it cannot be
// read.  The log is read through a descriptor of its own, and the file's
// size taken by its name: SQLite locks the file and its -shm, never the
// log, and a descriptor of ours on the file would drop SQLite's locks when
// closed.
int64_t PagesAfterFrame(sqlite3* conn, int page_size, int frames) {
  const char* name = sqlite3_db_filename(conn, "main");
  const char* wal = sqlite3_filename_wal(name);
  unsigned char header[24];
  struct stat st;
  if (wal == nullptr || frames <= 0 || ::stat(name, &st) != 0 ||
      !ReadAt(wal, 32 + static_cast<off_t>(frames - 1) * (24 + page_size), header, sizeof header)) {
    return 0;
  }
  const int64_t bound = (st.st_size + page_size - 1) / page_size + frames + 1;
  return std::min<int64_t>(BigEndian32(header + 4), bound);
}

// A checkpoint of `mode` that first takes the room the file will need to
// hold `pages` pages.  Returns SQLite's result, SQLITE_FULL when there is
// no room.
int CheckpointWithRoom(sqlite3* conn, const WrittenFile& file, int mode, int64_t pages) {
  if (const int rc = TakeRoom(conn, file.page_size, pages * file.page_size); rc != SQLITE_OK) {
    return rc;
  }
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
// busy error while another process holds that byte exclusively.  From its
// first write to the end of the update the engine holds it so: no other
// process can then commit into the file, nor hold an old state of it, which
// would stop every merge of the log half way.  Where the lock cannot be
// had within the time SQLite waits for a lock, the update writes nothing
// and ends with the lock error; it never goes on in a mode in which others
// can write.  Connections of this process are not kept out: a process does
// not conflict with its own locks.
//
// The lock is taken through a descriptor of our own on the -shm.  Closing
// any descriptor of a file drops every lock the process holds on it,
// SQLite's own included, so ours is never closed while SQLite has that
// -shm open: to let others in again, the lock goes back to the shared lock
// SQLite itself holds there, and the descriptor is closed once SQLite has
// deleted the -shm.
constexpr off_t kShmDmsByte = 128;

using Clock = std::chrono::steady_clock;

struct Guard {
  FileDescriptor shm;
  ino_t shm_inode = 0;
};

std::map<std::pair<dev_t, ino_t>, Guard>& Guards() {
  static auto* guards = new std::map<std::pair<dev_t, ino_t>, Guard>;
  return *guards;
}

// Sets this process's lock on the DMS byte of the -shm open as `fd`;
// false where another process holds the byte.
bool LockDmsByte(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShmDmsByte;
  lock.l_len = 1;
  return ::fcntl(fd, F_SETLK, &lock) == 0;
}

// Holds the DMS byte of the -shm of the file `name` exclusively, trying
// until `deadline`; false where another process holds it all that time.
// The -shm is the one SQLite has open: it is opened by name while a
// connection of ours reads the file in WAL mode, and SQLite deletes a -shm
// only with the file's exclusive lock, which no one can take meanwhile.
bool HoldIndex(const std::string& name, const WrittenFile& file, Clock::time_point deadline) {
  const std::string shm = name + "-shm";
  Guard& guard = Guards()[{file.device, file.inode}];
  for (;;) {
    struct stat st;
    if (guard.shm.valid() && (::stat(shm.c_str(), &st) != 0 || st.st_ino != guard.shm_inode)) {
      guard.shm.Close();  // a -shm SQLite deleted: no lock of ours is on it
    }
    if (!guard.shm.valid()) {
      guard.shm = OpenRegularFile(shm, O_RDWR, &st);
      if (guard.shm.valid()) guard.shm_inode = st.st_ino;
    }
    if (guard.shm.valid() && LockDmsByte(guard.shm.get(), F_WRLCK)) return true;
    if (Clock::now() >= deadline) return false;
    ReportProgress();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Puts the file of `conn`, in rollback-journal mode, in WAL mode with its
// -shm's DMS byte held (HoldIndex); false where another process has the
// file open all the time SQLite waits for a lock, and the file is then as
// it was.  Raises on any other failure.
//
// Another process could come in between the switch and the lock, and then
// hold the -shm itself.  So the switch is made by a connection of its own
// in exclusive locking mode, which keeps the file's exclusive lock from the
// switch until it closes: meanwhile no other process can read the file.
// Under that lock `conn`'s file opens its -shm through SQLite's own steps
// (the file system layer's xShmMap, as SQLite's first read in WAL mode
// would call it), and the DMS byte is taken; only then is the lock given
// up.  `conn` itself holds no lock on the file meanwhile: it is outside any
// transaction.
bool SwitchToWalHoldingIndex(sqlite3* conn, const WrittenFile& file) {
  const std::string name = sqlite3_db_filename(conn, "main");
  sqlite3* switcher = nullptr;
  const ConnectionCloser closer{switcher};
  if (const int rc = OpenSqlite(name, SQLITE_OPEN_READWRITE, &switcher); rc != SQLITE_OK) {
    RaiseSqlite(switcher, rc);
  }
  sqlite3_extended_result_codes(switcher, 1);
  sqlite3_busy_timeout(switcher, kLockWaitMilliseconds);
  PrepareConnection(switcher);
  if (!HoldsFile(switcher, name, file.device, file.inode)) {
    Raise(kErrOpenFailed, "The file '" + name + "' was replaced by another while it was open.");
  }
  try {
    Exec(switcher, "PRAGMA locking_mode=EXCLUSIVE");
    // Stepped to its end, so that the switch's commit has been made, and
    // any error of it raised, before the file counts as in WAL mode.
    Statement mode(switcher, "PRAGMA journal_mode=WAL");
    const bool wal = mode.Step() && mode.Text(0) == "wal";
    mode.Run();
    if (!wal) Raise(kErrOpenFailed, "The file '" + name + "' cannot be put in WAL mode.");
  } catch (const SqliteError& error) {
    if ((error.code() & 0xFF) == SQLITE_BUSY) return false;
    throw;
  }
  sqlite3_file* db_file = nullptr;
  void volatile* region = nullptr;
  int rc = sqlite3_file_control(conn, "main", SQLITE_FCNTL_FILE_POINTER, &db_file);
  if (rc == SQLITE_OK && (db_file == nullptr || db_file->pMethods->iVersion < 2)) {
    rc = SQLITE_CANTOPEN;
  }
  if (rc == SQLITE_OK) rc = db_file->pMethods->xShmMap(db_file, 0, 32768, 0, &region);
  if (rc == SQLITE_OK && HoldIndex(name, file, Clock::now())) return true;
  // Back as it was, as far as can be: the -shm goes (no other process can
  // have it open under the exclusive lock), and the file leaves WAL mode.
  if (rc == SQLITE_OK) db_file->pMethods->xShmUnmap(db_file, 1);
  sqlite3_exec(switcher, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  RaiseSqlite(nullptr, rc == SQLITE_OK ? SQLITE_IOERR_LOCK : rc);
}

// The update's lock error where another process has the file open.
[[noreturn]] void RaiseOpenElsewhere(const std::string& name) {
  Raise(kErrLocked, "The database file '" + name +
                        "' is locked: another program has it open, and the update must have it "
                        "to itself while it writes. Close the other program and try again.");
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
    LockDmsByte(it->second.shm.get(), F_RDLCK);
    return;
  }
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

std::string LeftLogNote(const std::string& path) {
  const std::string wal = path + "-wal";
  if (RegularFileSize(wal) == 0) return {};
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
  const WrittenFile& file = *it->second;
  const std::string name = sqlite3_db_filename(conn, "main");
  // InWalMode reads, and SQLite opens the -shm at the first read in WAL
  // mode.
  const bool held =
      InWalMode(conn)
          ? HoldIndex(name, file, Clock::now() + std::chrono::milliseconds(kLockWaitMilliseconds))
          : SwitchToWalHoldingIndex(conn, file);
  if (!held) RaiseOpenElsewhere(name);
  it->second->wal_asked = true;
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
    // A merge that cannot be made (no room, or a reader holding an older
    // state, which the lock taken at the first write keeps out) makes the
    // end fail, and never leaves a log behind a success.
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
