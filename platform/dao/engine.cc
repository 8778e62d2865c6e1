// The engine, its workspaces and databases: the public calls, and the
// handles made of the objects behind them.

#include <sodium.h>

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
#include "platform/dao/internal/new_file.h"
#include "platform/dao/internal/open_file.h"
#include "platform/dao/internal/progress.h"
#include "platform/dao/internal/recordset.h"
#include "platform/dao/internal/schema.h"
#include "platform/dao/internal/sqlite.h"
#include "platform/text.h"

namespace dao {

namespace internal {

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
    NewFile file;
    file.Make(path, "The database '" + path + "' already exists.",
              "The file '" + path + "' cannot be opened: ");
    auto db = std::make_shared<DatabaseImpl>();
    db->path = path;
    // The file is there, made above: SQLite opens it and makes no other.
    db->conn = OpenConnection(path, SQLITE_OPEN_READWRITE);
    PrepareConnection(db->conn);
    try {
      SetConnectionModes(db->conn);
      Exec(db->conn, "BEGIN");
      CreateCatalog(db->conn, impl_->core->workgroup_id, impl_->core->user);
      Exec(db->conn, "COMMIT");
    } catch (...) {
      db->CloseConnection();  // before `file` goes, and with it the file
      throw;
    }
    file.Keep();
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
