// Opening a database file: the checks at open, which read one state of the
// file and write nothing, so that a file they refuse stays as it was.

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/file_state.h"
#include "platform/dao/internal/leftovers.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/open_file.h"
#include "platform/dao/internal/progress.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

sqlite3* OpenConnection(const std::string& path, int flags) {
  sqlite3* conn = nullptr;
  int rc = OpenSqlite(path, flags, &conn);
  if (rc != SQLITE_OK) {
    std::string message = conn ? sqlite3_errmsg(conn) : sqlite3_errstr(rc);
    sqlite3_close_v2(conn);
    Raise(kErrOpenFailed, "The file '" + path + "' cannot be opened: " + message);
  }
  sqlite3_extended_result_codes(conn, 1);
  sqlite3_busy_timeout(conn, 2000);
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

// Plays what is left beside `path` into a copy of the file and runs the
// checks at open on what that leaves: why the leftovers do not belong to
// the file, or nothing when the state they leave is whole.
std::string RehearseRecovery(const std::string& path, const Leftovers& left) {
  const RehearsalCopy copy(path, left);
  DatabaseImpl db;
  db.path = copy.path();
  db.conn = OpenConnection(copy.path(), SQLITE_OPEN_READWRITE);
  PrepareConnection(db.conn);
  try {
    Exec(db.conn, "BEGIN");
    if (!ReadOwnership(db.conn)) {
      return "played into the file, they leave no database of this engine";
    }
    if (std::string damage = DamageIn(db, true); !damage.empty()) {
      return "played into the file, they leave it damaged: " + damage;
    }
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) throw;
    return "played into the file, they leave it unreadable: " + error.description();
  }
  return {};
}

// Refuses a file beside which lies a log or journal that a cut-off process
// left and that does not belong to it; the file and the leftover are not
// touched.  A leftover that another process still holds the file for is
// in use, and SQLite's own locks see to it.
void CheckLeftovers(const std::string& path) {
  const Leftovers left = FindLeftovers(path);
  if (left.empty()) return;
  std::string why = Mismatch(path, left);
  if (why.empty() && !LockedElsewhere(path)) why = RehearseRecovery(path, left);
  if (why.empty()) return;
  Raise(kErrUnrecognizedFormat,
        "The database '" + path + "' cannot be opened as it stands: beside it lies " +
            left.Named() +
            ", left by a run or program that was cut off, and it does not belong to "
            "this file (" +
            why + "). If the database was restored from a backup, remove " + left.Named() +
            (left.wal.empty() ? "" : " and '" + path + "-shm'") +
            " and try again; otherwise restore the file that was beside it.");
}

}  // namespace

std::shared_ptr<DatabaseImpl> OpenFile(const std::string& path, WorkspaceCore& ws) {
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
  if (!written_here && !HasSqliteHeader(path)) {
    Raise(kErrUnrecognizedFormat,
          "'" + path + "' is not a database of this engine (unrecognized format).");
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
  if (!written_here) {
    // Reading a file in WAL mode, SQLite makes -wal and -shm beside it, and
    // files made for a read-only file are read-only too: every later open
    // fails, the file made writable or not.  Such a file is refused first.
    if (read_only && HeaderSaysWal(path)) {
      Raise(kErrNotUpdatable, "The database or object is read-only.");
    }
    CheckLeftovers(path);
  }
  // On any refusal below, `db` goes, and with it the connection and its
  // read transaction.
  auto db = std::make_shared<DatabaseImpl>();
  db->path = path;
  db->conn = OpenConnection(path, read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  PrepareConnection(db->conn);
  // The checks below read one state of the file, in one read transaction,
  // so that another connection's commit cannot fall between the catalog
  // and what it describes; and they write nothing, so a refused file and
  // the files beside it stay as they were.
  Exec(db->conn, "BEGIN");
  const std::optional<Ownership> ownership = ReadOwnership(db->conn);
  if (!ownership) {
    Raise(kErrUnrecognizedFormat, "'" + path +
                                      "' is not a database of this engine (unrecognized format)." +
                                      LeftLogNote(path));
  }
  if (ownership->workgroup_id &&
      (ws.workgroup_id != ownership->workgroup_id || !SameName(ownership->owner, ws.user))) {
    Raise(kErrNoPermission, "You do not have permission to open '" + path +
                                "': it belongs to another workgroup or another owner.");
  }
  // A file this process writes holds the state this process wrote and
  // checked at its first open; reading every page again would only double
  // the cost of the check.
  if (const std::string damage = DamageIn(*db, !written_here); !damage.empty()) {
    Raise(kErrUnrecognizedFormat,
          "The database '" + path + "' is damaged: " + damage + "." + LeftLogNote(path));
  }
  Exec(db->conn, "COMMIT");
  if (!read_only) SetConnectionModes(db->conn);
  return db;
}

}  // namespace dao::internal
