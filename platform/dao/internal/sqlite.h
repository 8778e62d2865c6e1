// The SQLite wrapper the engine builds on: opening a connection,
// SQLite's errors as the engine's (SqliteError, RaiseSqlite, and the
// messages of the engine's own triggers), statements that are never left
// running, and the test for a SQLite file.

#ifndef KAV_PLATFORM_DAO_INTERNAL_SQLITE_H_
#define KAV_PLATFORM_DAO_INTERNAL_SQLITE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

#include "platform/dao/constants.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/value.h"
#include "platform/error.h"

namespace dao::internal {

// Opens the connection `*conn` as sqlite3_open_v2 does and returns its
// result code; on failure `*conn` may hold a connection to close.  Every
// connection of the engine is opened here.  A double-quoted word is a name
// on it, in statements and in the schema alike, and a name that does not
// resolve is an error: SQLite's fallback would take it for text, and a
// view or trigger of another program whose column has gone would go on
// returning or writing its name instead of failing.
int OpenSqlite(const std::string& path, int flags, sqlite3** conn);

// Closes the connection `conn` refers to when it goes, on every way out;
// nothing where it is null.
struct ConnectionCloser {
  sqlite3*& conn;
  ~ConnectionCloser() { sqlite3_close_v2(conn); }
};

// Whether the file `conn` holds open as "main" is the file `device`,
// `inode`, which the name `path` led to when it was looked at before the
// open: the name leads to it still, before and after SQLite compares the
// file it holds with the name (SQLITE_FCNTL_HAS_MOVED).  A file put in its
// place in between is not the file that was looked at.
bool HoldsFile(sqlite3* conn, const std::string& path, dev_t device, ino_t inode);

// A new database in memory on a connection opened by OpenSqlite, closed
// with the object; SQLite's error is raised where it cannot be opened.
class MemoryDatabase {
 public:
  MemoryDatabase();
  ~MemoryDatabase();
  MemoryDatabase(const MemoryDatabase&) = delete;
  MemoryDatabase& operator=(const MemoryDatabase&) = delete;

  sqlite3* conn() const { return conn_; }

 private:
  sqlite3* conn_ = nullptr;
};

// An error that SQLite reported, with SQLite's result code beside the
// engine's number.
class SqliteError : public kav::Error {
 public:
  SqliteError(kav::Error error, int code) : kav::Error(std::move(error)), code_(code) {}
  int code() const { return code_; }  // extended

 private:
  int code_;
};

// Raises SqliteError for SQLite's result code `rc`.
[[noreturn]] void RaiseSqlite(sqlite3* db, int rc);

// A number that the engine's own triggers raise: a relation's refusal,
// 3200 or 3201, and no other (a number outside kAll does not compile).
// RaiseSqlite takes no other number from a trigger's message.
class TriggerNumber {
 public:
  static constexpr long kAll[] = {kErrRelatedRecordsExist, kErrRelatedRecordRequired};
  consteval TriggerNumber(long number) : number_(number) {
    if (std::find(std::begin(kAll), std::end(kAll), number) == std::end(kAll)) {
      throw "not a number that the engine's triggers raise";
    }
  }
  long value() const { return number_; }

 private:
  long number_;
};

// The text of a RAISE in the engine's own triggers, which RaiseSqlite turns
// back into `number` and `description`.
std::string TriggerMessage(TriggerNumber number, const std::string& description);
void Exec(sqlite3* db, const std::string& sql);

// A prepared statement, reset (never left running) when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql);
  // A statement of `db`'s cache: prepared once, reset after every use.
  Statement(sqlite3* db, sqlite3_stmt* cached) : db_(db), stmt_(cached), owned_(false) {}
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, const std::string& value);
  Statement& BindNull(int index);
  Statement& BindBlob(int index, const std::string& bytes);
  // Binds a value already converted to a field of type `type`.
  Statement& BindValue(int index, const Value& value);
  bool Step();  // true while a row is there
  void Run();   // steps to the end
  void Reset();
  // Makes the statement ready to run again with the values bound so far.
  void Rewind();

  // The stored class of a column (SQLITE_INTEGER ...), before any reading
  // converts it.
  int StoredType(int column) const;

  bool IsNull(int column) const;
  int64_t Int(int column) const;
  double Real(int column) const;
  std::string Text(int column) const;
  // The stored value read as a field of type `type`.  A stored value that
  // does not fit the field, as another program may have stored it (70000
  // in an Integer field, 'abc' in a Long, 5 or 'yes' in a Yes/No field,
  // text in a Date field that is not a date as the engine writes it), is
  // read as it is (StoredValue), never changed on the way: written back,
  // it stores the same value, and converted, it converts what is stored.
  // A text field reads every stored value as its text.
  Value ReadValue(int column, int type) const;
  // The stored value as a value of its own: an integer as a Long, or
  // beyond that as a Double or, past 2^53, as its digits; a real as a
  // Double; text and the bytes of a blob as Text.
  Value StoredValue(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool owned_ = true;
};

// The full path of `path` as SQLite makes it, by its own routine: the
// working directory before a relative path, symbolic links followed.  The
// files SQLite keeps beside a database ("-journal", "-wal", "-shm") lie
// beside this path.  `path` itself where it cannot be resolved.
std::string SqliteFullPath(const std::string& path);

// The URI that opens the file at `path` read-only as immutable: SQLite then
// reads the file alone, takes no lock and makes no file beside it.
std::string ImmutableUri(const std::string& path);

// Where SQLite cannot open the file at `path` for the length of its path,
// the words that say so for a box ("its path is too long (...). Move it
// ... and try again", without a full stop); nothing where the length is no
// bar.
std::string PathTooLongForSqlite(const std::string& path);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_SQLITE_H_
