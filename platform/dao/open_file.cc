// Opening a database file: the checks at open, which read one state of the
// file and write nothing, so that a file they refuse stays as it was.

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <string>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/file_header.h"
#include "platform/dao/internal/file_state.h"
#include "platform/dao/internal/leftovers.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/open_file.h"
#include "platform/dao/internal/progress.h"
#include "platform/dao/internal/rehearsal_copy.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

sqlite3* OpenConnection(const std::string& path, int flags, bool immutable) {
  sqlite3* conn = nullptr;
  int rc = immutable ? OpenSqlite(ImmutableUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, &conn)
                     : OpenSqlite(path, flags, &conn);
  if (rc != SQLITE_OK) {
    std::string message = conn ? sqlite3_errmsg(conn) : sqlite3_errstr(rc);
    sqlite3_close_v2(conn);
    Raise(kErrOpenFailed, "The file '" + path + "' cannot be opened: " + message);
  }
  sqlite3_extended_result_codes(conn, 1);
  sqlite3_busy_timeout(conn, kLockWaitMilliseconds);
  WatchProgress(conn);
  return conn;
}

// WAL and synchronous=NORMAL: every operation commits, thousands of small
// commits stay fast, and a killed process leaves an intact file
// (StartWriting).
void SetConnectionModes(sqlite3* conn) { StartWriting(conn); }

namespace {

// Whether `error`, met reading the catalog as the file opens, says that
// the catalog is not as the engine makes it (a table or column of it
// missing, the file damaged), so that the file is refused as damaged.  A
// read that failed for any other reason (memory, the disk, a lock) says
// nothing of the file and keeps its own error.
bool MalformedCatalog(const kav::Error& error) {
  const auto* sqlite = dynamic_cast<const SqliteError*>(&error);
  if (sqlite == nullptr) return true;
  switch (sqlite->code() & 0xFF) {
    case SQLITE_ERROR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return true;
    default:
      return false;
  }
}

// The owner row of the engine's catalog: who may open the file.
struct Ownership {
  std::optional<std::string> workgroup_id;  // none: any workgroup
  std::string owner;
};

// The owner row, where the file is a database of this engine; nothing
// where it is not, or where its catalog is not as the engine makes it.
std::optional<Ownership> ReadOwnership(sqlite3* conn) {
  try {
    Statement id(conn, "SELECT format, workgroup_id, owner FROM daosys_database WHERE id = 1");
    if (!id.Step() || id.Text(0) != kFormat) return std::nullopt;
    Ownership ownership;
    if (!id.IsNull(1)) ownership.workgroup_id = id.Text(1);
    ownership.owner = id.Text(2);
    return ownership;
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) throw;
    return std::nullopt;
  }
}

// SQLite's integrity check of the state the connection reads: its first
// finding, or nothing when the file is whole.  It reads every page, so that
// an index entry or a table row damaged on the disk or in a copy is found
// before the update trusts a key or copies a value.
std::string IntegrityFault(sqlite3* conn) {
  try {
    Statement check(conn, "PRAGMA integrity_check(1)");
    if (!check.Step()) return "SQLite's integrity check reports nothing";
    std::string found = check.Text(0);
    if (found == "ok") return {};
    // "*** in database main ***" heads the first finding; it says nothing.
    if (const size_t end = found.find("***\n"); found.starts_with("*** ") && end != found.npos) {
      found.erase(0, end + 4);
    }
    return "SQLite's integrity check found \"" + found + "\"";
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) throw;
    return "SQLite's integrity check stopped: " + error.description();
  }
}

// What the checks at open find damaged in the state `db` reads: a key or
// rule its catalog names that is not in the file, or what SQLite's
// integrity check finds (unless `integrity` is false); nothing when the
// state is whole.  The catalog loaded for the check is the one the
// database goes on with.
std::string DamageIn(DatabaseImpl& db, bool integrity) {
  std::string missing;
  try {
    // A table rebuilt by another program may have lost the unique index
    // that refuses duplicates, and no update may run on keys it cannot
    // trust.
    missing = MissingFromFile(db.conn, *db.CurrentCatalog());
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) throw;
    missing = "its catalog cannot be read (" + error.description() + ")";
  }
  if (!missing.empty() || !integrity) return missing;
  return IntegrityFault(db.conn);
}

// The box of a file beside which lies a leftover that does not belong to
// it: the file and the leftover stay as they are.
[[noreturn]] void RefuseMispaired(const std::string& path, const Leftovers& left,
                                  const std::string& why) {
  Raise(kErrUnrecognizedFormat,
        "The database '" + path + "' cannot be opened as it stands: beside it lies " +
            left.Named() +
            ", left by a run or program that was cut off, and it does not belong to "
            "this file (" +
            why + "). If the database was restored from a backup, remove " + left.Named() +
            (left.wal.empty() ? "" : " and '" + path + "-shm'") +
            " and try again; otherwise restore the file that was beside it.");
}

// The box of a journal that nothing shows to belong to the file, and that
// played into it would change it.  Whether a backup was restored over the
// file after a program was cut off, or the file is the very one the program
// was changing, cannot be told apart: the user knows, and each case has
// its remedy.
[[noreturn]] void RefuseUnprovenJournal(const std::string& path, const Leftovers& left) {
  Raise(kErrUnrecognizedFormat,
        "The database '" + path + "' cannot be opened as it stands: beside it lies '" +
            left.journal +
            "', the journal of a change that a program was making when it was cut off, and "
            "nothing shows that it belongs to this file: played back, it would change the "
            "file. If the database was restored from a backup, remove '" +
            left.journal +
            "' and try again. If not, let the program that was cut off (or sqlite3) open the "
            "file once, so that it plays its journal back, and try again.");
}

// Plays what is left beside `path` into a copy of the file and runs the
// checks at open on what that leaves; refuses the file where the leftovers
// do not belong to it.  A journal must moreover show that it was saved
// from this file (`headers`), or leave the copy exactly as the file is:
// only then can playing it lose nothing.
void RehearseRecovery(const std::string& path, const Leftovers& left,
                      const LeftoverHeaders& headers) {
  const RehearsalCopy copy(path, left, headers.largest_file);
  DatabaseImpl db;
  db.path = copy.path();
  std::string why;
  bool unproven = false;
  try {
    db.conn = OpenConnection(copy.path(), SQLITE_OPEN_READWRITE);
    PrepareConnection(db.conn);
    if (!left.journal.empty() && !headers.journal_saved_here) {
      // SQLite plays the journal back at the first read.  What that read
      // makes of the copy is judged by the bytes alone: any change at all,
      // damage included, is one that nothing shows to belong.
      sqlite3_exec(db.conn, "PRAGMA user_version", nullptr, nullptr, nullptr);
      unproven = !SameBytes(copy.path(), path);
    }
    if (!unproven) {
      // The first read plays the journal into the copy, or reads the log.
      Exec(db.conn, "BEGIN");
      if (!ReadOwnership(db.conn)) {
        why = "played into the file, they leave no database of this engine";
      } else if (std::string damage = DamageIn(db, true); !damage.empty()) {
        why = "played into the file, they leave it damaged: " + damage;
      }
    }
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) {
      Raise(kErrOpenFailed, "'" + path + "' cannot be checked on a copy in '" + copy.folder() +
                                "': " + error.description());
    }
    why = "played into the file, they leave it unreadable: " + error.description();
  }
  if (unproven) RefuseUnprovenJournal(path, left);
  if (!why.empty()) RefuseMispaired(path, left, why);
}

// Refuses a file beside which lies what SQLite must not read: a leftover
// that is not a regular file, or a log or journal that a cut-off process
// left and that does not belong to it; the file and the leftover are not
// touched.  A leftover that another process still holds the file for is
// in use, and SQLite's own locks see to it.
void CheckLeftovers(const std::string& path) {
  const Leftovers left = FindLeftovers(path);
  if (!left.not_regular.empty()) {
    Raise(kErrUnrecognizedFormat,
          "The database '" + path + "' cannot be opened: beside it lies '" + left.not_regular +
              "', which is not a regular file, where the database engine keeps a journal or "
              "log of the file. Remove it (it holds nothing of the database) and try again.");
  }
  if (left.empty()) return;
  const LeftoverHeaders headers = ReadLeftoverHeaders(path, left);
  if (!headers.mismatch.empty()) RefuseMispaired(path, left, headers.mismatch);
  if (!LockedElsewhere(path)) RehearseRecovery(path, left, headers);
}

// The checks at open on the state `db` reads, in one read transaction, so
// that another connection's commit cannot fall between the catalog and
// what it describes; they write nothing.  Raises what refuses the file:
// not a database of this engine, one that the workspace may not open, or
// one damaged (SQLite's integrity check only where `integrity`).
void CheckState(DatabaseImpl& db, const std::string& path, const WorkspaceCore& ws,
                bool integrity) {
  Exec(db.conn, "BEGIN");
  const std::optional<Ownership> ownership = ReadOwnership(db.conn);
  if (!ownership) {
    Raise(kErrUnrecognizedFormat, "'" + path +
                                      "' is not a database of this engine (unrecognized format)." +
                                      LeftLogNote(SqliteFullPath(path)));
  }
  if (ownership->workgroup_id &&
      (ws.workgroup_id != ownership->workgroup_id || !SameName(ownership->owner, ws.user))) {
    Raise(kErrNoPermission, "You do not have permission to open '" + path +
                                "': it belongs to another workgroup or another owner.");
  }
  if (const std::string damage = DamageIn(db, integrity); !damage.empty()) {
    Raise(kErrUnrecognizedFormat, "The database '" + path + "' is damaged: " + damage + "." +
                                      LeftLogNote(SqliteFullPath(path)));
  }
  Exec(db.conn, "COMMIT");
}

// What the file at `full_path` is, as far as a change to it shows: a
// checkpoint into it changes its size or its times.
struct FileMarks {
  bool alone = false;  // no log and no index beside it
  struct stat status = {};

  explicit FileMarks(const std::string& full_path) {
    struct stat beside;
    alone = ::lstat((full_path + "-wal").c_str(), &beside) != 0 &&
            ::lstat((full_path + "-shm").c_str(), &beside) != 0 &&
            ::stat(full_path.c_str(), &status) == 0;
  }
  bool SameAs(const FileMarks& other) const {
    const auto same_time = [](const timespec& a, const timespec& b) {
      return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return alone && other.alone && status.st_dev == other.status.st_dev &&
           status.st_ino == other.status.st_ino && status.st_size == other.status.st_size &&
           same_time(status.st_mtim, other.status.st_mtim) &&
           same_time(status.st_ctim, other.status.st_ctim);
  }
};

// A file in WAL mode with nothing beside it, neither log nor index, is the
// whole database alone, and no process has it open: SQLite keeps both
// beside the file while any connection has it open.  Such a file is checked
// as a file that nothing changes (ImmutableUri), which makes no file beside
// it, so that a refused file gains none; only a file that passes gets the
// log and index that SQLite keeps beside a file in WAL mode.  Returns
// whether that check was made and holds; false where the file is not alone,
// or another program opened or changed it meanwhile (the check read no
// locks, and its finding, refusal included, counts for nothing): the
// checks then run on the connection that opens the file.
bool CheckedAlone(const std::string& path, const std::string& full_path, WorkspaceCore& ws) {
  const FileMarks before(full_path);
  if (!before.alone) return false;
  try {
    DatabaseImpl alone;
    alone.path = path;
    alone.conn = OpenConnection(path, SQLITE_OPEN_READONLY, /*immutable=*/true);
    PrepareConnection(alone.conn);
    CheckState(alone, path, ws, /*integrity=*/true);
  } catch (const kav::Error&) {
    if (FileMarks(full_path).SameAs(before)) throw;
    return false;
  }
  return FileMarks(full_path).SameAs(before);
}

}  // namespace

std::shared_ptr<DatabaseImpl> OpenFile(const std::string& path, WorkspaceCore& ws) {
  // What a copy of a run that was cut off left in the temporary folder goes
  // at the first open of every run.
  static std::once_flag swept;
  std::call_once(swept, RemoveAbandonedCopies);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Raise(kErrFileNotFound, "The file '" + path + "' cannot be found.");
  }
  if (!S_ISREG(st.st_mode)) {
    Raise(kErrUnrecognizedFormat, "'" + path + "' is not a database file.");
  }
  if (::access(path.c_str(), R_OK) != 0) {
    Raise(kErrOpenFailed, "The file '" + path + "' cannot be read.");
  }
  if (const std::string why = PathTooLongForSqlite(path); !why.empty()) {
    Raise(kErrOpenFailed, "The file '" + path + "' cannot be opened: " + why + ".");
  }
  // Look at the file before SQLite does: SQLite would make a database of an
  // empty file, and play into it whatever log or journal lies beside it,
  // and a refused open must leave the file as it was.  A file this process
  // already writes is a database whose log is its own, and is not opened
  // by us (WrittenHere).
  const bool written_here = WrittenHere(st.st_dev, st.st_ino);
  // SQLite keeps its journal and log beside the file its name leads to.
  const std::string full_path = SqliteFullPath(path);
  std::optional<DatabaseHeader> header;
  if (!written_here) {
    header.emplace(full_path);
    if (!header->IsSqlite()) {
      Raise(kErrUnrecognizedFormat,
            "'" + path + "' is not a database of this engine (unrecognized format).");
    }
  }
  // Each name of a file would get a log of its own beside it, and two runs
  // through two names would each take the other's changes for damage.
  if (st.st_nlink > 1) {
    Raise(kErrOpenFailed, "The file '" + path + "' has " + std::to_string(st.st_nlink) +
                              " names (hard links); a database file must have one name only. "
                              "Copy it to a file of its own and open that copy.");
  }
  // A file marked read-only is opened read-only, also for a user (root)
  // whom the permission bits would not stop: every write then fails 3027.
  const bool read_only =
      ::access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  bool file_alone = false;
  if (!written_here) {
    // Reading a file in WAL mode, SQLite makes -wal and -shm beside it, and
    // files made for a read-only file are read-only too: every later open
    // fails, the file made writable or not.  Such a file is refused first.
    if (read_only && header->InWalMode()) {
      Raise(kErrNotUpdatable, "The database or object is read-only.");
    }
    CheckLeftovers(full_path);
    if (header->InWalMode()) file_alone = CheckedAlone(path, full_path, ws);
  }
  // On any refusal below, `db` goes, and with it the connection and its
  // read transaction.
  auto db = std::make_shared<DatabaseImpl>();
  db->path = path;
  db->conn = OpenConnection(path, read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  PrepareConnection(db->conn);
  if (!HoldsFile(db->conn, path, st.st_dev, st.st_ino)) {
    Raise(kErrOpenFailed,
          "The file '" + path + "' was replaced by another while it was being opened. Try again.");
  }
  // A file this process writes holds the state this process wrote and
  // checked at its first open, and a file checked alone (CheckedAlone)
  // holds the state just checked; reading every page again would only
  // double the cost of the check.
  CheckState(*db, path, ws, /*integrity=*/!written_here && !file_alone);
  if (!read_only) SetConnectionModes(db->conn);
  return db;
}

}  // namespace dao::internal
