// The objects behind Database and Workspace handles: a database's connection,
// its catalog, statement cache and savepoints, and a workspace with its
// databases and transactions; the savepoint every change runs in, and the
// frame of a schema change.

#ifndef KAV_PLATFORM_DAO_INTERNAL_DATABASE_H_
#define KAV_PLATFORM_DAO_INTERNAL_DATABASE_H_

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/dao/internal/catalog.h"

namespace dao::internal {

struct WorkspaceCore;
struct UpdateFacts;
struct RecordsetImpl;
struct WorkspaceImpl;

// The engine's savepoints: around a schema change, a statement, and the
// write of one row.
enum class Savepoint { kSchema, kStatement, kRow };

struct DatabaseImpl : std::enable_shared_from_this<DatabaseImpl> {
  DatabaseImpl() = default;
  ~DatabaseImpl();
  // It owns its connection and the statements cached on it: a copy would
  // close them twice.
  DatabaseImpl(const DatabaseImpl&) = delete;
  DatabaseImpl& operator=(const DatabaseImpl&) = delete;

  sqlite3* conn = nullptr;
  std::string path;
  std::shared_ptr<WorkspaceCore> workspace;
  std::vector<std::weak_ptr<RecordsetImpl>> recordsets;
  long records_affected = 0;

  // The catalog, loaded on demand; dropped by our own schema changes and
  // rollbacks, and reloaded when another connection has committed.
  std::shared_ptr<const Catalog> CurrentCatalog();
  void SchemaChanged() { catalog_.reset(); }
  // The catalog as last loaded, without asking whether another connection
  // has changed it since; null after a change of our own.
  const std::shared_ptr<Catalog>& LoadedCatalog() const { return catalog_; }

  // A statement of this connection's cache.
  sqlite3_stmt* Cached(const std::string& sql);
  void CloseConnection();

  // What execute.cc has found out about the file's schema, for the
  // catalog it found it with.
  std::shared_ptr<UpdateFacts> update_facts;

  // A savepoint (InSavepoint).  Its statements are prepared once, all
  // three before it is first begun, so that rolling back never has to
  // prepare anything.
  void BeginSavepoint(Savepoint s);
  void ReleaseSavepoint(Savepoint s);
  // Rolls back to the savepoint and releases it; never raises.  Where
  // SQLite has ended the whole transaction meanwhile (TransactionEnded),
  // there is nothing left to undo, and the catalog is loaded anew, for a
  // schema change of ours may have gone with the transaction.
  void RollBackSavepoint(Savepoint s);

  // Raises 3420 once the database is closed.
  void CheckOpen() const;

 private:
  std::shared_ptr<Catalog> catalog_;
  // Turns SQLite's recursive triggers on or off for the file's triggers.
  void SetTriggerRecursion();

  int64_t catalog_data_version_ = -1;
  bool recursive_triggers_ = false;  // as set on the connection
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  // SAVEPOINT, RELEASE and ROLLBACK TO of each savepoint, of the cache.
  sqlite3_stmt* savepoints_[3][3] = {};
};

// Runs `body` in savepoint `s`, so that it takes effect whole or leaves the
// file exactly as it was: the savepoint is released when `body` returns
// (true, where it returns whether to keep its changes) and rolled back when
// it returns false or raises.  Returns whether the changes were kept.
template <class F>
bool InSavepoint(DatabaseImpl& db, Savepoint s, F&& body) {
  db.BeginSavepoint(s);
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
      body();
    } else if (!body()) {
      db.RollBackSavepoint(s);
      return false;
    }
    db.ReleaseSavepoint(s);
  } catch (...) {
    db.RollBackSavepoint(s);
    throw;
  }
  return true;
}

// Whether SQLite has ended the transaction that a savepoint of ours, still
// open, had begun or joined: a trigger's RAISE(ROLLBACK) rolls back the
// whole transaction, the caller's own included, and so may an I/O error.
// A write after that would be committed on its own, so the engine writes
// nothing more and raises the error that ended it.
inline bool TransactionEnded(const DatabaseImpl& db) {
  return sqlite3_get_autocommit(db.conn) != 0;
}

// Where SQLite has ended the transaction of `db` (TransactionEnded) while
// a transaction of its workspace covered it, that transaction has ended:
// it and those nested in it are rolled back on the workspace's other
// databases too, and the workspace no longer counts them open.
void EndLostTransactions(DatabaseImpl& db);

// Runs `write`, the change of one row, so that it takes effect whole or
// leaves the file exactly as it was: in a savepoint that is rolled back on
// any error, so that neither a trigger's RAISE(FAIL) nor any other partial
// change stays.  Its statement says OR ABORT, so that no conflict clause of
// the table can replace a stored row or ignore the written one.
template <class F>
void WriteWholeRow(DatabaseImpl& db, F&& write) {
  InSavepoint(db, Savepoint::kRow, std::forward<F>(write));
}

// What a workspace is, shared by its handles and its databases.
struct WorkspaceCore {
  std::string name;
  std::string user;
  std::optional<std::string> workgroup_id;  // none: the default workspace
  bool closed = false;
  bool is_default = false;  // Workspaces(0) stays usable after Close
  std::vector<std::weak_ptr<DatabaseImpl>> databases;
  // One entry per open transaction: the databases it covers.
  std::vector<std::vector<std::weak_ptr<DatabaseImpl>>> transactions;
  std::weak_ptr<WorkspaceImpl> front;
};

// The object Workspace handles hold: it keeps the workspace's databases open
// while any handle to the workspace exists.
struct WorkspaceImpl {
  std::shared_ptr<WorkspaceCore> core;
  std::vector<std::shared_ptr<DatabaseImpl>> open;
};

// The handle object of `core`, made anew when every handle has gone.
std::shared_ptr<WorkspaceImpl> FrontOf(const std::shared_ptr<WorkspaceCore>& core);

// Runs `change` as one schema change of `db`: catalog and physical schema
// change in one savepoint, relation triggers are made again from the catalog
// afterwards, and a failure leaves everything as before.
void ChangeSchema(DatabaseImpl& db, const std::function<void()>& change);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_DATABASE_H_
