// The SQLite wrapper: opening a connection, SQLite's result codes mapped
// to the engine's errors, statements, and the test for a SQLite file.

#include "platform/dao/internal/sqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <limits>
#include <optional>

namespace dao::internal {

int OpenSqlite(const std::string& path, int flags, sqlite3** conn) {
  *conn = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), conn, flags, nullptr);
  if (rc != SQLITE_OK) return rc;
  for (const int option : {SQLITE_DBCONFIG_DQS_DDL, SQLITE_DBCONFIG_DQS_DML}) {
    int now = 1;
    if (sqlite3_db_config(*conn, option, 0, &now) != SQLITE_OK || now != 0) return SQLITE_ERROR;
  }
  return SQLITE_OK;
}

bool HoldsFile(sqlite3* conn, const std::string& path, dev_t device, ino_t inode) {
  const auto leads_there = [&] {
    struct stat now;
    return ::stat(path.c_str(), &now) == 0 && now.st_dev == device && now.st_ino == inode;
  };
  int moved = 1;
  return leads_there() &&
         sqlite3_file_control(conn, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
         moved == 0 && leads_there();
}

MemoryDatabase::MemoryDatabase() {
  if (const int rc = OpenSqlite(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &conn_);
      rc != SQLITE_OK) {
    sqlite3_close(conn_);
    RaiseSqlite(nullptr, rc);
  }
}

MemoryDatabase::~MemoryDatabase() { sqlite3_close(conn_); }

namespace {

// The engine's own triggers raise "daosys:<number>:<description>".
constexpr char kTriggerTag[] = "daosys:";
constexpr size_t kTriggerTagSize = sizeof kTriggerTag - 1;

// The number of a message raised by one of the engine's own triggers, or 0.
//
// Anyone who opens the file with another SQLite program may add triggers of
// their own, with any text in their RAISE, the tag included.  So a message
// counts as the engine's only when SQLite reports it as a trigger's RAISE,
// it begins with the tag, and the tag is followed by a number that the
// engine's triggers raise (TriggerNumber: the relation errors) and ':'.  A
// message that carries the tag anywhere else keeps SQLite's own mapping;
// and a message copied from the engine's triggers word for word can at most
// raise a relation error, which every caller reports as a failure: no
// trigger text can make a refused write pass for a duplicate key (3022)
// that callers skip without a word.
long EngineTriggerNumber(int rc, const std::string& message) {
  if (rc != SQLITE_CONSTRAINT_TRIGGER || message.compare(0, kTriggerTagSize, kTriggerTag) != 0) {
    return 0;
  }
  for (long number : TriggerNumber::kAll) {
    const std::string prefix = std::to_string(number) + ":";
    if (message.compare(kTriggerTagSize, prefix.size(), prefix) == 0) return number;
  }
  return 0;
}

struct Mapped {
  long number;
  std::string description;
};

// The engine's error for SQLite's result code `rc` and its `message`.
Mapped MapSqlite(int rc, const std::string& message) {
  if (const long number = EngineTriggerNumber(rc, message)) {
    return {number, message.substr(message.find(':', kTriggerTagSize) + 1)};
  }
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
      return {kErrDuplicateKey,
              "The changes were not made because they would create duplicate "
              "values in a unique index or primary key."};
    case SQLITE_CONSTRAINT_NOTNULL:
      return {kErrFieldRequired, "A required field cannot hold a Null value."};
    default:
      break;
  }
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {kErrLocked, "The database file is locked by another connection; try again later."};
    case SQLITE_READONLY:
      return {kErrNotUpdatable, "The database or object is read-only."};
    case SQLITE_NOMEM:
      return {kErrOutOfMemory, "Out of memory"};
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return {kErrUnrecognizedFormat,
              "The file is not a database of this engine, or it is damaged."};
    default:
      return {kErrGeneric, "Database engine error: " + message};
  }
}

}  // namespace

std::string TriggerMessage(TriggerNumber number, const std::string& description) {
  return kTriggerTag + std::to_string(number.value()) + ":" + description;
}

void RaiseSqlite(sqlite3* db, int rc) {
  Mapped mapped = MapSqlite(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  // Raise gives the error the source of the public call under way.
  try {
    Raise(mapped.number, mapped.description);
  } catch (kav::Error& error) {
    throw SqliteError(std::move(error), rc);
  }
}

void Exec(sqlite3* db, const std::string& sql) {
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) RaiseSqlite(db, sqlite3_extended_errcode(db));
}

Statement::Statement(sqlite3* db, const std::string& sql) : db_(db) {
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) RaiseSqlite(db, sqlite3_extended_errcode(db));
}

Statement::~Statement() {
  if (owned_) {
    sqlite3_finalize(stmt_);
  } else {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
}

namespace {

// A bind that fails (a text or blob past the connection's longest, no
// memory, no such parameter) leaves the parameter Null: it raises, as a
// failed step does, so that no statement runs with a Null in place of the
// value.
void CheckBind(sqlite3* db, int rc) {
  if (rc != SQLITE_OK) RaiseSqlite(db, sqlite3_extended_errcode(db));
}

}  // namespace

Statement& Statement::Bind(int index, int64_t value) {
  CheckBind(db_, sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  CheckBind(db_, sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                   SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::BindNull(int index) {
  CheckBind(db_, sqlite3_bind_null(stmt_, index));
  return *this;
}

Statement& Statement::BindBlob(int index, const std::string& bytes) {
  CheckBind(db_, sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                                   SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::BindValue(int index, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      return BindNull(index);
    case Value::Kind::kBoolean:
      return Bind(index, int64_t{value.AsBoolean() ? 1 : 0});
    case Value::Kind::kInteger:
      return Bind(index, int64_t{value.AsInteger()});
    case Value::Kind::kLong:
      return Bind(index, int64_t{value.AsLong()});
    case Value::Kind::kDouble:
      CheckBind(db_, sqlite3_bind_double(stmt_, index, value.AsDouble()));
      return *this;
    case Value::Kind::kText:
      return Bind(index, value.AsText());
    case Value::Kind::kDate:
      return Bind(index, value.AsDate().ToIso());
  }
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  rc = sqlite3_extended_errcode(db_);
  sqlite3_reset(stmt_);
  RaiseSqlite(db_, rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

void Statement::Rewind() { sqlite3_reset(stmt_); }

int Statement::StoredType(int column) const { return sqlite3_column_type(stmt_, column); }

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::Real(int column) const { return sqlite3_column_double(stmt_, column); }

std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

namespace {

// Every whole number up to 2^53 is a Double exactly.
constexpr int64_t kExactInDouble = int64_t{1} << 53;

}  // namespace

Value Statement::StoredValue(int column) const {
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_NULL:
      return Value();
    case SQLITE_INTEGER: {
      const int64_t i = Int(column);
      if (i >= std::numeric_limits<int32_t>::min() && i <= std::numeric_limits<int32_t>::max()) {
        return Value(static_cast<int32_t>(i));
      }
      if (i >= -kExactInDouble && i <= kExactInDouble) return Value(static_cast<double>(i));
      return Value(std::to_string(i));
    }
    case SQLITE_FLOAT:
      return Value(Real(column));
    default:
      return Value(Text(column));  // text, and the bytes of a blob
  }
}

Value Statement::ReadValue(int column, int type) const {
  const int stored = sqlite3_column_type(stmt_, column);
  if (stored == SQLITE_NULL) return Value();
  const auto integer_in = [&](int64_t lo, int64_t hi) {
    return stored == SQLITE_INTEGER && Int(column) >= lo && Int(column) <= hi;
  };
  switch (type) {
    case dbBoolean:
      // The engine stores Yes as 1 and No as 0.
      if (integer_in(0, 1)) return Value(Int(column) != 0);
      break;
    case dbInteger:
      if (integer_in(std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max())) {
        return Value(static_cast<int16_t>(Int(column)));
      }
      break;
    case dbLong:
      if (integer_in(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())) {
        return Value(static_cast<int32_t>(Int(column)));
      }
      break;
    case dbDouble:
      if (stored == SQLITE_FLOAT) return Value(Real(column));
      if (integer_in(-kExactInDouble, kExactInDouble)) {
        return Value(static_cast<double>(Int(column)));
      }
      break;
    case dbDate:
      // A date is its text as the engine writes it, and only that: other
      // text, "2006-01-01" included, would be written back changed.
      if (stored == SQLITE_TEXT) {
        const std::string text = Text(column);
        std::optional<DateTime> d = DateTime::FromIso(text);
        if (d && d->ToIso() == text) return Value(*d);
      }
      break;
    default:
      return Value(Text(column));
  }
  return StoredValue(column);
}

namespace {

// The full path of `path` by SQLite's own routine, into `full`; false where
// it cannot be made.  With room for any path it fails only where the path
// cannot be resolved, and an open then says what is wrong.
bool FullPathAsSqliteMakesIt(const std::string& path, std::string& full) {
  sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
  if (vfs == nullptr) return false;
  full.assign(8192, '\0');
  const int rc = vfs->xFullPathname(vfs, path.c_str(), static_cast<int>(full.size()), full.data());
  if (rc != SQLITE_OK && rc != SQLITE_OK_SYMLINK) return false;
  full.resize(std::strlen(full.c_str()));
  return true;
}

}  // namespace

std::string SqliteFullPath(const std::string& path) {
  std::string full;
  return FullPathAsSqliteMakesIt(path, full) ? full : path;
}

std::string ImmutableUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("/-._~", c) != nullptr) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri + "?mode=ro&immutable=1";
}

std::string PathTooLongForSqlite(const std::string& path) {
  std::string full;
  if (!FullPathAsSqliteMakesIt(path, full)) return {};
  // SQLite opens no file whose journal's name, the full path and
  // "-journal", would pass the longest name its file system layer takes:
  // it could not look for a journal to play back before reading the file.
  sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
  const size_t length = full.size();
  const size_t longest = static_cast<size_t>(vfs->mxPathname) - std::strlen("-journal");
  if (length <= longest) return {};
  return "its path is too long (" + std::to_string(length) +
         " bytes in full, where the database engine opens files whose full path is at most " +
         std::to_string(longest) +
         " bytes long). Move it to a folder with a shorter path and "
         "try again";
}

}  // namespace dao::internal
