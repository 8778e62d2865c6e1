// The engine, its workspaces and databases: connections, transactions and
// the SQLite helpers the rest builds on.

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "platform/dao/internal/engine.h"
#include "platform/text.h"

namespace dao {

namespace internal {
namespace {

constexpr char kFormat[] = "kav-dao 1";

}  // namespace

// Names fold ASCII letters only, like the stored keys: "fuma" is "FUMA".
bool SameName(const std::string& a, const std::string& b) { return kav::EqualsIgnoringCase(a, b); }

std::string QuoteName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

long CharacterCount(const std::string& utf8) {
  long n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

bool IsFieldType(int type) {
  return type == dbBoolean || type == dbInteger || type == dbLong || type == dbDouble ||
         type == dbDate || type == dbText;
}

long DefaultSize(int type) {
  switch (type) {
    case dbBoolean:
      return 1;
    case dbInteger:
      return 2;
    case dbLong:
      return 4;
    case dbDouble:
    case dbDate:
      return 8;
    default:
      return 50;
  }
}

const char* StorageType(int type) {
  switch (type) {
    case dbBoolean:
    case dbInteger:
    case dbLong:
      return "INTEGER";
    case dbDouble:
      return "REAL";
    default:
      return "TEXT";  // text, and dates as ISO text
  }
}

// ---------------------------------------------------------------------------
// SQLite.

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
  throw SqliteError(kav::Error(mapped.number, std::move(mapped.description), CurrentSource()), rc);
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

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(stmt_, index);
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
      sqlite3_bind_double(stmt_, index, value.AsDouble());
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

Value Statement::ReadValue(int column, int type) const {
  const int stored = sqlite3_column_type(stmt_, column);
  if (stored == SQLITE_NULL) return Value();
  switch (type) {
    case dbBoolean:
      return Value(Int(column) != 0);
    case dbInteger:
      return Value(static_cast<int16_t>(Int(column)));
    case dbLong:
      return Value(static_cast<int32_t>(Int(column)));
    case dbDouble:
      return Value(Real(column));
    case dbDate: {
      std::optional<DateTime> d = DateTime::FromIso(Text(column));
      if (d) return Value(*d);
      return Value(Text(column));
    }
    default:
      return Value(Text(column));
  }
}

bool HasSqliteHeader(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char header[100];
  ssize_t n = ::read(fd, header, sizeof header);
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof header) &&
         std::memcmp(header, "SQLite format 3", 16) == 0;
}

// ---------------------------------------------------------------------------
// The catalog.

const FieldDef* TableSchema::FindField(const std::string& n) const {
  for (const FieldDef& f : fields) {
    if (SameName(f.name, n)) return &f;
  }
  return nullptr;
}

const FieldDef* TableSchema::FieldById(int64_t field_id) const {
  for (const FieldDef& f : fields) {
    if (f.id == field_id) return &f;
  }
  return nullptr;
}

int TableSchema::FieldIndexById(int64_t field_id) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].id == field_id) return static_cast<int>(i);
  }
  return -1;
}

const IndexDef* TableSchema::FindIndex(const std::string& n) const {
  for (const IndexDef& i : indexes) {
    if (SameName(i.name, n)) return &i;
  }
  return nullptr;
}

const IndexDef* TableSchema::IndexById(int64_t index_id) const {
  for (const IndexDef& i : indexes) {
    if (i.id == index_id) return &i;
  }
  return nullptr;
}

const TableSchema* Schema::FindTable(const std::string& n) const {
  for (const TableSchema& t : tables) {
    if (SameName(t.name, n)) return &t;
  }
  return nullptr;
}

const TableSchema* Schema::TableById(int64_t table_id) const {
  for (const TableSchema& t : tables) {
    if (t.id == table_id) return &t;
  }
  return nullptr;
}

const RelationDef* Schema::FindRelation(const std::string& n) const {
  for (const RelationDef& r : relations) {
    if (SameName(r.name, n)) return &r;
  }
  return nullptr;
}

const RelationDef* Schema::RelationById(int64_t relation_id) const {
  for (const RelationDef& r : relations) {
    if (r.id == relation_id) return &r;
  }
  return nullptr;
}

namespace {

std::shared_ptr<Schema> LoadSchema(sqlite3* conn) {
  auto schema = std::make_shared<Schema>();
  {
    Statement st(conn, "SELECT id, name FROM daosys_tables ORDER BY name COLLATE NOCASE, id");
    while (st.Step()) {
      TableSchema t;
      t.id = st.Int(0);
      t.name = st.Text(1);
      schema->tables.push_back(std::move(t));
    }
  }
  auto table = [&](int64_t id) -> TableSchema* {
    for (TableSchema& t : schema->tables) {
      if (t.id == id) return &t;
    }
    return nullptr;
  };
  {
    Statement st(conn,
                 "SELECT id, table_id, name, type, size, allow_zero_length, required, "
                 "attributes, ordinal_position FROM daosys_fields "
                 "ORDER BY ordinal_position, id");
    while (st.Step()) {
      TableSchema* t = table(st.Int(1));
      if (t == nullptr) continue;
      FieldDef f;
      f.id = st.Int(0);
      f.name = st.Text(2);
      f.type = static_cast<int>(st.Int(3));
      f.size = static_cast<long>(st.Int(4));
      f.allow_zero_length = st.Int(5) != 0;
      f.required = st.Int(6) != 0;
      f.attributes = static_cast<long>(st.Int(7));
      f.ordinal = static_cast<int>(st.Int(8));
      t->fields.push_back(std::move(f));
    }
  }
  {
    Statement st(conn,
                 "SELECT id, table_id, name, is_primary, is_unique, required, "
                 "ignore_nulls, clustered, is_foreign FROM daosys_indexes "
                 "ORDER BY name COLLATE NOCASE, id");
    while (st.Step()) {
      TableSchema* t = table(st.Int(1));
      if (t == nullptr) continue;
      IndexDef i;
      i.id = st.Int(0);
      i.name = st.Text(2);
      i.primary = st.Int(3) != 0;
      i.unique = st.Int(4) != 0;
      i.required = st.Int(5) != 0;
      i.ignore_nulls = st.Int(6) != 0;
      i.clustered = st.Int(7) != 0;
      i.foreign = st.Int(8) != 0;
      t->indexes.push_back(std::move(i));
    }
  }
  {
    Statement st(conn,
                 "SELECT x.index_id, x.field_id, x.attributes, i.table_id "
                 "FROM daosys_index_fields x JOIN daosys_indexes i ON i.id = x.index_id "
                 "ORDER BY x.index_id, x.position");
    while (st.Step()) {
      TableSchema* t = table(st.Int(3));
      if (t == nullptr) continue;
      for (IndexDef& i : t->indexes) {
        if (i.id == st.Int(0)) {
          i.fields.push_back({st.Int(1), static_cast<long>(st.Int(2))});
        }
      }
    }
  }
  {
    Statement st(conn,
                 "SELECT id, name, table_id, foreign_table_id, attributes FROM "
                 "daosys_relations ORDER BY name COLLATE NOCASE, id");
    while (st.Step()) {
      RelationDef r;
      r.id = st.Int(0);
      r.name = st.Text(1);
      r.table_id = st.Int(2);
      r.foreign_table_id = st.Int(3);
      r.attributes = static_cast<long>(st.Int(4));
      schema->relations.push_back(std::move(r));
    }
  }
  {
    Statement st(conn,
                 "SELECT relation_id, field_id, foreign_field_id FROM "
                 "daosys_relation_fields ORDER BY relation_id, position");
    while (st.Step()) {
      for (RelationDef& r : schema->relations) {
        if (r.id == st.Int(0)) r.fields.emplace_back(st.Int(1), st.Int(2));
      }
    }
  }
  return schema;
}

}  // namespace

void CreateCatalog(sqlite3* conn, const std::optional<std::string>& workgroup_id,
                   const std::string& owner) {
  Exec(conn,
       "CREATE TABLE daosys_database(id INTEGER PRIMARY KEY CHECK (id = 1), "
       "format TEXT NOT NULL, workgroup_id TEXT, owner TEXT);"
       "CREATE TABLE daosys_tables(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "name TEXT NOT NULL COLLATE NOCASE UNIQUE);"
       "CREATE TABLE daosys_fields(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "table_id INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, "
       "type INTEGER NOT NULL, size INTEGER NOT NULL, "
       "allow_zero_length INTEGER NOT NULL, required INTEGER NOT NULL, "
       "attributes INTEGER NOT NULL, ordinal_position INTEGER NOT NULL, "
       "UNIQUE (table_id, name));"
       "CREATE TABLE daosys_indexes(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "table_id INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, "
       "is_primary INTEGER NOT NULL, is_unique INTEGER NOT NULL, "
       "required INTEGER NOT NULL, ignore_nulls INTEGER NOT NULL, "
       "clustered INTEGER NOT NULL, is_foreign INTEGER NOT NULL, "
       "UNIQUE (table_id, name));"
       "CREATE TABLE daosys_index_fields(index_id INTEGER NOT NULL, "
       "position INTEGER NOT NULL, field_id INTEGER NOT NULL, "
       "attributes INTEGER NOT NULL, PRIMARY KEY (index_id, position));"
       "CREATE TABLE daosys_relations(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "name TEXT NOT NULL COLLATE NOCASE UNIQUE, table_id INTEGER NOT NULL, "
       "foreign_table_id INTEGER NOT NULL, attributes INTEGER NOT NULL);"
       "CREATE TABLE daosys_relation_fields(relation_id INTEGER NOT NULL, "
       "position INTEGER NOT NULL, field_id INTEGER NOT NULL, "
       "foreign_field_id INTEGER NOT NULL, PRIMARY KEY (relation_id, position));");
  Statement st(conn,
               "INSERT INTO daosys_database(id, format, workgroup_id, owner) "
               "VALUES (1, ?, ?, ?)");
  st.Bind(1, std::string(kFormat));
  if (workgroup_id) {
    st.Bind(2, *workgroup_id);
  } else {
    st.BindNull(2);
  }
  st.Bind(3, owner);
  st.Run();
}

// ---------------------------------------------------------------------------
// Databases.

DatabaseImpl::~DatabaseImpl() { CloseConnection(); }

std::shared_ptr<const Schema> DatabaseImpl::CurrentSchema() {
  CheckOpen();
  Statement version(conn, Cached("PRAGMA data_version"));
  version.Step();
  const int64_t v = version.Int(0);
  if (!schema_ || v != schema_data_version_) {
    schema_ = LoadSchema(conn);
    schema_data_version_ = v;
    SetTriggerRecursion();
  }
  return schema_;
}

// A cascading delete on a table related to itself (or through a cycle of
// tables) goes on through every level only where SQLite lets a trigger
// fire itself again.  That is turned on only while the file holds no
// trigger but the engine's: another program's trigger may update its own
// table and would then fire itself without end.
void DatabaseImpl::SetTriggerRecursion() {
  Statement others(conn, Cached("SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type = "
                                "'trigger' AND name NOT LIKE 'daosys\\_rel\\_%' ESCAPE '\\')"));
  others.Step();
  const bool recursive = others.Int(0) == 0;
  others.Reset();
  if (recursive == recursive_triggers_) return;
  Exec(conn, recursive ? "PRAGMA recursive_triggers = ON" : "PRAGMA recursive_triggers = OFF");
  recursive_triggers_ = recursive;
}

sqlite3_stmt* DatabaseImpl::Cached(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(conn, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) RaiseSqlite(conn, sqlite3_extended_errcode(conn));
  statements_.emplace(sql, stmt);
  return stmt;
}

void DatabaseImpl::BeginSavepoint(Savepoint s) {
  sqlite3_stmt** statements = savepoints_[static_cast<int>(s)];
  if (statements[0] == nullptr) {
    static const char* const kNames[] = {"daosys_schema", "daosys_exec", "daosys_row"};
    const std::string name = kNames[static_cast<int>(s)];
    statements[0] = Cached("SAVEPOINT " + name);
    statements[1] = Cached("RELEASE " + name);
    statements[2] = Cached("ROLLBACK TO " + name);
  }
  Statement(conn, statements[0]).Run();
}

void DatabaseImpl::ReleaseSavepoint(Savepoint s) {
  Statement(conn, savepoints_[static_cast<int>(s)][1]).Run();
}

void DatabaseImpl::RollBackSavepoint(Savepoint s) {
  if (TransactionEnded(*this)) {
    SchemaChanged();
    EndLostTransactions(*this);
    return;
  }
  // Errors are ignored: the error that made the rollback is the one raised.
  for (int i : {2, 1}) {
    sqlite3_stmt* stmt = savepoints_[static_cast<int>(s)][i];
    sqlite3_step(stmt);
    sqlite3_reset(stmt);
  }
}

void EndLostTransactions(DatabaseImpl& db) {
  if (!db.workspace) return;
  auto& stack = db.workspace->transactions;
  auto covers = [&](const std::vector<std::weak_ptr<DatabaseImpl>>& level) {
    return std::any_of(level.begin(), level.end(),
                       [&](const std::weak_ptr<DatabaseImpl>& w) { return w.lock().get() == &db; });
  };
  const size_t lost =
      static_cast<size_t>(std::find_if(stack.begin(), stack.end(), covers) - stack.begin());
  // From the innermost level out to the outermost that covered `db`: each
  // goes on every other database it covers too.  Errors are ignored, as in
  // any rollback: the error that ended the transaction is the one raised.
  while (stack.size() > lost) {
    for (const std::weak_ptr<DatabaseImpl>& w : stack.back()) {
      std::shared_ptr<DatabaseImpl> other = w.lock();
      if (!other || other.get() == &db || other->conn == nullptr) continue;
      sqlite3_exec(other->conn, "ROLLBACK TO daosys_trans; RELEASE daosys_trans", nullptr, nullptr,
                   nullptr);
      other->SchemaChanged();
    }
    stack.pop_back();
  }
}

void DatabaseImpl::CloseConnection() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  statements_.clear();
  for (auto& statements : savepoints_) {
    std::fill(std::begin(statements), std::end(statements), nullptr);
  }
  schema_.reset();
  update_facts.reset();
  recursive_triggers_ = false;
  if (conn != nullptr) {
    sqlite3_close_v2(conn);
    conn = nullptr;
  }
}

void DatabaseImpl::CheckOpen() const {
  if (conn == nullptr) {
    Raise(kErrObjectInvalid, "Object invalid or no longer set: the database is closed.");
  }
}

void ChangeSchema(DatabaseImpl& db, const std::function<void()>& change) {
  db.CheckOpen();
  // Whether the change is kept or undone, the catalog is loaded anew.
  struct Reload {
    DatabaseImpl& db;
    ~Reload() { db.SchemaChanged(); }
  } reload{db};
  InSavepoint(db, Savepoint::kSchema, [&] {
    DropRelationTriggers(db);
    change();
    db.SchemaChanged();
    CreateRelationTriggers(db);
  });
}

// ---------------------------------------------------------------------------
// Workspaces.

std::shared_ptr<WorkspaceImpl> FrontOf(const std::shared_ptr<WorkspaceCore>& core) {
  if (std::shared_ptr<WorkspaceImpl> front = core->front.lock()) return front;
  auto front = std::make_shared<WorkspaceImpl>();
  front->core = core;
  for (const std::weak_ptr<DatabaseImpl>& w : core->databases) {
    if (std::shared_ptr<DatabaseImpl> db = w.lock(); db && db->conn) {
      front->open.push_back(db);
    }
  }
  core->front = front;
  return front;
}

namespace {

void CheckWorkspace(const std::shared_ptr<WorkspaceImpl>& ws) {
  if (!ws) RaiseNothing();
  if (ws->core->closed) {
    Raise(kErrObjectInvalid, "Object invalid or no longer set: the workspace is closed.");
  }
}

std::vector<std::shared_ptr<DatabaseImpl>> OpenDatabasesOf(WorkspaceCore& core) {
  std::vector<std::shared_ptr<DatabaseImpl>> out;
  std::vector<std::weak_ptr<DatabaseImpl>> keep;
  for (const std::weak_ptr<DatabaseImpl>& w : core.databases) {
    std::shared_ptr<DatabaseImpl> db = w.lock();
    if (db && db->conn) {
      out.push_back(db);
      keep.push_back(w);
    }
  }
  core.databases = std::move(keep);
  return out;
}

sqlite3* OpenConnection(const std::string& path, int flags) {
  sqlite3* conn = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &conn, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = conn ? sqlite3_errmsg(conn) : sqlite3_errstr(rc);
    sqlite3_close_v2(conn);
    Raise(kErrOpenFailed, "The file '" + path + "' cannot be opened: " + message);
  }
  sqlite3_extended_result_codes(conn, 1);
  sqlite3_busy_timeout(conn, 2000);
  return conn;
}

// WAL and synchronous=NORMAL: every operation commits, thousands of small
// commits stay fast, and a killed process leaves an intact file.
void SetConnectionModes(sqlite3* conn) {
  sqlite3_exec(conn, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(conn, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF", nullptr, nullptr,
               nullptr);
}

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
  // Look at the file before SQLite does: SQLite would make a database of an
  // empty file, and a refused open must leave the file as it was.
  if (!HasSqliteHeader(path)) {
    Raise(kErrUnrecognizedFormat,
          "'" + path + "' is not a database of this engine (unrecognized format).");
  }
  // A file marked read-only is opened read-only, also for a user (root)
  // whom the permission bits would not stop: every write then fails 3027.
  const bool read_only =
      ::access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  auto db = std::make_shared<DatabaseImpl>();
  db->path = path;
  db->conn = OpenConnection(path, read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  std::optional<std::string> workgroup_id;
  std::string owner;
  bool ours = false;
  try {
    Statement id(db->conn, "SELECT format, workgroup_id, owner FROM daosys_database WHERE id = 1");
    if (id.Step() && id.Text(0) == kFormat) {
      ours = true;
      if (!id.IsNull(1)) workgroup_id = id.Text(1);
      owner = id.Text(2);
    }
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) {
      db->CloseConnection();
      throw;
    }
  }
  if (!ours) {
    db->CloseConnection();
    Raise(kErrUnrecognizedFormat,
          "'" + path + "' is not a database of this engine (unrecognized format).");
  }
  if (workgroup_id && (ws.workgroup_id != workgroup_id || !SameName(owner, ws.user))) {
    db->CloseConnection();
    Raise(kErrNoPermission, "You do not have permission to open '" + path +
                                "': it belongs to another workgroup or another owner.");
  }
  // The keys and rules the catalog names must be in the file: a table
  // rebuilt by another program may have lost the unique index that refuses
  // duplicates, and no update may run on keys it cannot trust.  The
  // catalog loaded for the check is the one the database goes on with.
  std::string missing;
  try {
    missing = MissingFromFile(db->conn, *db->CurrentSchema());
  } catch (const kav::Error& error) {
    if (!MalformedCatalog(error)) {
      db->CloseConnection();
      throw;
    }
    missing = "its catalog cannot be read (" + error.description() + ")";
  }
  if (!missing.empty()) {
    db->CloseConnection();
    Raise(kErrUnrecognizedFormat, "The database '" + path + "' is damaged: " + missing + ".");
  }
  if (!read_only) SetConnectionModes(db->conn);
  return db;
}

void Register(const std::shared_ptr<WorkspaceImpl>& ws, const std::shared_ptr<DatabaseImpl>& db) {
  db->workspace = ws->core;
  ws->core->databases.push_back(db);
  ws->open.push_back(db);
}

void CloseDatabase(DatabaseImpl& db) {
  for (const std::weak_ptr<RecordsetImpl>& w : db.recordsets) {
    if (std::shared_ptr<RecordsetImpl> rs = w.lock()) {
      rs->closed = true;
      rs->mode = RecordsetImpl::Mode::kNone;
      rs->buffer.clear();
      rs->rows.clear();
    }
  }
  db.recordsets.clear();
  db.CloseConnection();
  if (db.workspace) {
    if (std::shared_ptr<WorkspaceImpl> front = db.workspace->front.lock()) {
      std::erase_if(front->open, [&](const auto& p) { return p.get() == &db; });
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Access.

Field Access::MakeField(std::shared_ptr<FieldImpl> impl) { return Field(std::move(impl)); }
Index Access::MakeIndex(std::shared_ptr<IndexImpl> impl) { return Index(std::move(impl)); }
TableDef Access::MakeTableDef(std::shared_ptr<TableDefImpl> impl) {
  return TableDef(std::move(impl));
}
Relation Access::MakeRelation(std::shared_ptr<RelationImpl> impl) {
  return Relation(std::move(impl));
}
Database Access::MakeDatabase(std::shared_ptr<DatabaseImpl> impl) {
  return Database(std::move(impl));
}
Workspace Access::MakeWorkspace(std::shared_ptr<WorkspaceImpl> impl) {
  return Workspace(std::move(impl));
}
Recordset Access::MakeRecordset(std::shared_ptr<RecordsetImpl> impl) {
  return Recordset(std::move(impl));
}
const std::shared_ptr<FieldImpl>& Access::ImplOf(const Field& f) { return f.impl_; }
const std::shared_ptr<IndexImpl>& Access::ImplOf(const Index& i) { return i.impl_; }
const std::shared_ptr<TableDefImpl>& Access::ImplOf(const TableDef& t) { return t.impl_; }
const std::shared_ptr<RelationImpl>& Access::ImplOf(const Relation& r) { return r.impl_; }

}  // namespace internal

using namespace internal;

// ---------------------------------------------------------------------------
// DBEngine.

struct DBEngine::State {
  std::string system_db;
  std::shared_ptr<WorkspaceImpl> default_workspace;
};

DBEngine::DBEngine() : state_(std::make_unique<State>()) {
  if (sodium_init() < 0) throw kav::Error(kErrGeneric, "libsodium cannot start", "DAO");
  auto core = std::make_shared<WorkspaceCore>();
  core->name = "#Default Workspace#";
  core->user = "admin";
  core->is_default = true;
  state_->default_workspace = FrontOf(core);
}

DBEngine& DBEngine::Instance() {
  static DBEngine engine;
  return engine;
}

void DBEngine::SetSystemDB(const std::string& path) {
  RunOther("SystemDB", "DAO.DBEngine", [&] { state_->system_db = path; });
}

std::string DBEngine::SystemDB() const { return state_->system_db; }

Workspace DBEngine::CreateWorkspace(const std::string& name, const std::string& user,
                                    const std::string& password, int type) {
  return RunOther("CreateWorkspace", "DAO.DBEngine", [&] {
    (void)type;  // one kind of workspace
    auto core = std::make_shared<WorkspaceCore>();
    core->name = name;
    core->workgroup_id = LogOnToWorkgroup(state_->system_db, user, password, core->user);
    return Access::MakeWorkspace(FrontOf(core));
  });
}

Workspace DBEngine::Workspaces(int index) {
  return RunOther("Workspaces", "DAO.DBEngine", [&] {
    if (index != 0) {
      Raise(kErrItemNotFound,
            "Item not found in this collection: workspace " + std::to_string(index) + ".");
    }
    return Access::MakeWorkspace(state_->default_workspace);
  });
}

const std::vector<Error>& DBEngine::Errors() const { return ErrorList(); }

// ---------------------------------------------------------------------------
// Workspace.

std::string Workspace::Name() const {
  return RunQuiet("DAO.Workspace", [&] {
    if (!impl_) RaiseNothing();
    return impl_->core->name;
  });
}

std::string Workspace::UserName() const {
  return RunQuiet("DAO.Workspace", [&] {
    if (!impl_) RaiseNothing();
    return impl_->core->user;
  });
}

Database Workspace::OpenDatabase(const std::string& path) {
  return RunOther("OpenDatabase", "DAO.Workspace", [&] {
    CheckWorkspace(impl_);
    std::shared_ptr<DatabaseImpl> db = OpenFile(path, *impl_->core);
    Register(impl_, db);
    return Access::MakeDatabase(db);
  });
}

Database Workspace::CreateDatabase(const std::string& path) {
  return RunOther("CreateDatabase", "DAO.Workspace", [&] {
    CheckWorkspace(impl_);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      Raise(kErrDatabaseExists, "The database '" + path + "' already exists.");
    }
    auto db = std::make_shared<DatabaseImpl>();
    db->path = path;
    db->conn = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
      SetConnectionModes(db->conn);
      Exec(db->conn, "BEGIN");
      CreateCatalog(db->conn, impl_->core->workgroup_id, impl_->core->user);
      Exec(db->conn, "COMMIT");
    } catch (...) {
      db->CloseConnection();
      ::unlink(path.c_str());
      throw;
    }
    Register(impl_, db);
    return Access::MakeDatabase(db);
  });
}

void Workspace::BeginTrans() {
  RunOther("BeginTrans", "DAO.Workspace", [&] {
    CheckWorkspace(impl_);
    std::vector<std::shared_ptr<DatabaseImpl>> dbs = OpenDatabasesOf(*impl_->core);
    std::vector<std::weak_ptr<DatabaseImpl>> covered;
    for (const std::shared_ptr<DatabaseImpl>& db : dbs) {
      Exec(db->conn, "SAVEPOINT daosys_trans");
      covered.push_back(db);
    }
    impl_->core->transactions.push_back(std::move(covered));
  });
}

void Workspace::CommitTrans() {
  RunOther("CommitTrans", "DAO.Workspace", [&] {
    CheckWorkspace(impl_);
    auto& stack = impl_->core->transactions;
    if (stack.empty()) {
      Raise(kErrNoTransaction, "CommitTrans without BeginTrans: no transaction is open.");
    }
    for (const std::weak_ptr<DatabaseImpl>& w : stack.back()) {
      std::shared_ptr<DatabaseImpl> db = w.lock();
      if (db && db->conn) Exec(db->conn, "RELEASE daosys_trans");
    }
    stack.pop_back();
  });
}

void Workspace::Rollback() {
  RunOther("Rollback", "DAO.Workspace", [&] {
    CheckWorkspace(impl_);
    auto& stack = impl_->core->transactions;
    if (stack.empty()) {
      Raise(kErrNoTransaction, "Rollback without BeginTrans: no transaction is open.");
    }
    std::vector<std::weak_ptr<DatabaseImpl>> covered = std::move(stack.back());
    stack.pop_back();
    for (const std::weak_ptr<DatabaseImpl>& w : covered) {
      std::shared_ptr<DatabaseImpl> db = w.lock();
      if (!db || !db->conn) continue;
      Exec(db->conn, "ROLLBACK TO daosys_trans; RELEASE daosys_trans");
      db->SchemaChanged();
    }
  });
}

void Workspace::Close() {
  RunOther("Close", "DAO.Workspace", [&] {
    if (!impl_) RaiseNothing();
    if (impl_->core->closed) return;
    impl_->core->transactions.clear();  // closing the connections rolls them back
    for (const std::shared_ptr<DatabaseImpl>& db : OpenDatabasesOf(*impl_->core)) {
      CloseDatabase(*db);
    }
    impl_->open.clear();
    impl_->core->closed = !impl_->core->is_default;
  });
}

// ---------------------------------------------------------------------------
// Database.

std::string Database::Name() const {
  return RunQuiet("DAO.Database", [&] {
    if (!impl_) RaiseNothing();
    return impl_->path;
  });
}

long Database::RecordsAffected() const {
  return RunQuiet("DAO.Database", [&] {
    if (!impl_) RaiseNothing();
    return impl_->records_affected;
  });
}

Workspace Database::ParentWorkspace() const {
  return RunOther("ParentWorkspace", "DAO.Database", [&] {
    if (!impl_) RaiseNothing();
    impl_->CheckOpen();
    return Access::MakeWorkspace(FrontOf(impl_->workspace));
  });
}

void Database::Close() {
  RunOther("Close", "DAO.Database", [&] {
    if (!impl_) RaiseNothing();
    if (impl_->conn == nullptr) return;
    CloseDatabase(*impl_);
  });
}

}  // namespace dao
