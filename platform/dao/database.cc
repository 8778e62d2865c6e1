// The object behind a database handle: its connection, the statements
// cached on it, its catalog and its savepoints.

#include <algorithm>
#include <functional>
#include <iterator>

#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/file_state.h"
#include "platform/dao/internal/recordset.h"
#include "platform/dao/internal/schema.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

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

}  // namespace dao::internal
