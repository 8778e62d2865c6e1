// The engine, its workspaces and databases: connections, transactions and
// the objects behind the public handles.

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#include "platform/dao/dao.h"
#include "platform/dao/internal/access.h"
#include "platform/dao/internal/call_frame.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/file_state.h"
#include "platform/dao/internal/leftovers.h"
#include "platform/dao/internal/logon.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/progress.h"
#include "platform/dao/internal/recordset.h"
#include "platform/dao/internal/schema.h"
#include "platform/dao/internal/sqlite.h"
#include "platform/text.h"

namespace dao {

namespace internal {

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

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0 where none
// begins there (a stray continuation byte, a sequence cut short, an overlong
// form, a surrogate, a code point beyond U+10FFFF).
size_t SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) -> unsigned {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
  const unsigned b0 = byte(0);
  if (b0 < 0x80) return 1;
  if (in(b0, 0xC2, 0xDF)) return in(byte(1), 0x80, 0xBF) ? 2 : 0;
  if (in(b0, 0xE0, 0xEF)) {
    const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
    return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
  }
  if (in(b0, 0xF0, 0xF4)) {
    const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
    return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

}  // namespace

// Each well-formed UTF-8 sequence counts as one character, and each byte
// that begins none counts as one of its own, as a decoder that puts a
// replacement character in its place counts it: no byte goes uncounted.
long CharacterCount(const std::string& utf8) {
  long n = 0;
  for (size_t i = 0; i < utf8.size(); ++n) {
    const size_t length = SequenceLength(utf8, i);
    i += length == 0 ? 1 : length;
  }
  return n;
}

// ---------------------------------------------------------------------------
// Databases.

DatabaseImpl::~DatabaseImpl() { CloseConnection(); }

std::shared_ptr<const Catalog> DatabaseImpl::CurrentCatalog() {
  CheckOpen();
  Statement version(conn, Cached("PRAGMA data_version"));
  version.Step();
  const int64_t v = version.Int(0);
  if (!catalog_ || v != catalog_data_version_) {
    catalog_ = LoadCatalog(conn);
    catalog_data_version_ = v;
    SetTriggerRecursion();
  }
  return catalog_;
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
  // The first write outside any transaction puts the file in WAL mode.
  if (sqlite3_get_autocommit(conn) != 0) BeforeWrite(conn);
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
  catalog_.reset();
  update_facts.reset();
  recursive_triggers_ = false;
  if (conn != nullptr) {
    FinishWriting(conn);
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
    if (!ReadOwnership(db.conn))
      return "played into the file, they leave no database of this engine";
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

void DBEngine::FlushFiles() {
  RunQuiet("DAO.DBEngine", [] { FlushWrittenFiles(); });
}

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
    PrepareConnection(db->conn);
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
