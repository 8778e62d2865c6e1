// The engine's private plumbing: the objects behind the public handles.
// The frame every public call runs in (observer notification and the
// engine's error list) is in internal/call_frame.h, the SQLite wrapper the
// engine builds on in internal/sqlite.h, and the catalog, its tables in the
// file and its image in memory, in internal/catalog.h.

#ifndef KAV_PLATFORM_DAO_INTERNAL_ENGINE_H_
#define KAV_PLATFORM_DAO_INTERNAL_ENGINE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/internal/call_frame.h"
#include "platform/dao/internal/catalog.h"
#include "platform/dao/observer.h"
#include "platform/dao/value.h"
#include "platform/error.h"

namespace dao::internal {

// Numbers of our own beyond those in dao.h.
enum : long {
  kErrGeneric = 3000,
  kErrTableExists = 3010,
  kErrNotUpdatable = 3027,
  kErrNoTransaction = 3034,
  kErrOpenFailed = 3051,
  kErrNullInIndex = 3058,
  kErrSelectExecuted = 3065,
  kErrBadName = 3125,
  kErrRecordDeleted = 3167,
  kErrDataChanged = 3197,
  kErrRelatedRecordsExist = 3200,
  kErrDatabaseExists = 3204,
  kErrInvalidOperation = 3219,
  kErrBadFieldType = 3259,
  kErrLocked = 3260,
  kErrNoFields = 3264,
  kErrFieldInIndex = 3280,
  kErrPrimaryExists = 3283,
  kErrIndexExists = 3284,
  kErrFieldInRelation = 3303,
  kErrRelationInvalid = 3368,
  kErrObjectInvalid = 3420,
  kErrCriteriaMismatch = 3464,
};

// ---------------------------------------------------------------------------
// Names.

// Whether two names of tables, fields, indexes or relations are the same
// (kav::EqualsIgnoringCase).
bool SameName(const std::string& a, const std::string& b);
std::string QuoteName(const std::string& name);  // "name" for SQLite
std::string QuoteText(const std::string& text);  // 'text' for SQLite
long CharacterCount(const std::string& utf8);

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Objects behind the handles.

struct WorkspaceCore;
struct UpdateFacts;

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

struct FieldImpl {
  enum class Home { kNone, kTable, kIndex, kRelation };
  // Properties of a field that is not appended yet.
  FieldDef def;
  bool ordinal_set = false;
  std::string foreign_name;
  // Where an appended field lives.
  Home home = Home::kNone;
  std::shared_ptr<DatabaseImpl> db;
  int64_t table_id = 0;  // kTable, kIndex: the table
  int64_t field_id = 0;  // kTable, kIndex: the table field
  int64_t owner_id = 0;  // kIndex: the index; kRelation: the relation
  int position = 0;      // kIndex, kRelation: place in the owner's fields
};

struct TableDefImpl {
  std::string name;
  std::shared_ptr<DatabaseImpl> db;  // the database that made it
  int64_t id = 0;                    // 0 until appended
  std::vector<std::shared_ptr<FieldImpl>> fields;
  std::vector<std::shared_ptr<IndexImpl>> indexes;
};

struct IndexImpl {
  IndexDef def;  // fields empty until appended
  std::vector<std::shared_ptr<FieldImpl>> fields;
  std::shared_ptr<DatabaseImpl> db;
  int64_t table_id = 0;  // the table once appended
};

struct RelationImpl {
  std::string name, table, foreign_table;
  long attributes = 0;
  std::vector<std::shared_ptr<FieldImpl>> fields;
  std::shared_ptr<DatabaseImpl> db;
  int64_t id = 0;
};

struct RecordsetColumn {
  std::string name;
  int type = dbText;
  long size = 0;
};

struct RecordsetImpl {
  enum class Mode { kNone, kAddNew, kEdit };
  std::shared_ptr<DatabaseImpl> db;
  bool closed = false;
  bool table_type = true;
  // Table type: the table and the current row.
  int64_t table_id = 0;
  // The catalog the recordset works with.  It is checked against other
  // connections when the recordset opens, and reloaded when this
  // connection changes the schema; the operations between an open and the
  // next change of our own need not ask again.
  std::shared_ptr<const Catalog> catalog;
  std::optional<int64_t> current;  // none: EOF
  Mode mode = Mode::kNone;
  std::vector<Value> buffer;
  // The table's fields when AddNew or Edit began the record, and for Edit
  // the row as it was read then: Update writes neither across a change of
  // the fields nor over a row that has changed since.
  std::vector<FieldDef> buffer_fields;
  std::vector<Value> edited_row;
  // Forward-only: the rows of the query, read at open.
  std::vector<RecordsetColumn> columns;
  std::vector<std::vector<Value>> rows;
  size_t row = 0;

  void CheckOpen() const;
};

// The values of a row in field order; 3167 when it is gone.
std::vector<Value> ReadRowValues(DatabaseImpl& db, const CatalogTable& t, int64_t rowid);
// Whether row `rowid` of `t` is there.
bool RowExists(DatabaseImpl& db, const CatalogTable& t, int64_t rowid);
[[noreturn]] void RaiseRecordDeleted();  // 3167
void ExecuteStatement(DatabaseImpl& db, const std::string& text, int options);
// Whether ExecuteStatement may write an UPDATE's rows with one set-based
// statement where that gives the row-by-row result by construction
// (execute.cc), how many statements it has written so, and how many it
// tried to but wrote row by row because a row would be refused.  Tests turn
// it off to hold the two ways against each other.
struct SetBasedWrites {
  bool allowed = true;
  long statements = 0;
  long fell_back = 0;
};
SetBasedWrites& SetBasedStatementWrites();

// Makes the relation triggers of the whole database from the catalog.
void DropRelationTriggers(DatabaseImpl& db);
void CreateRelationTriggers(DatabaseImpl& db);
// A trigger that enforces a relation: its name, its table, the statement
// that makes it, and the relation's name.
struct RelationTrigger {
  std::string name, table, sql, relation;
};
// The triggers of the catalog's enforced relations, in the order they are
// made.  3420 when a relation names a table or field that is gone.
std::vector<RelationTrigger> RelationTriggers(const Catalog& catalog);
// The file's triggers against those the catalog's relations make: the
// first of the engine's that is missing, or not the same in name, table
// and text (none when all are there), and whether the file holds any
// trigger of anyone else's (one under an engine trigger's name included).
struct TriggersInFile {
  std::optional<RelationTrigger> wrong;
  bool others = false;
};
TriggersInFile CompareTriggers(sqlite3* conn, const Catalog& catalog);

// Logs `user` on to the workgroup file at `path`: returns the workgroup's
// id and sets `stored_user` to the account's name as stored.  3028 for a
// file that is missing or no workgroup file, 3029 for a refused account.
std::string LogOnToWorkgroup(const std::string& path, const std::string& user,
                             const std::string& password, std::string& stored_user);

// A value checked against a field at assignment: converted to its type,
// refused when too long (3163) or empty where not allowed (3315).
Value ValueForField(const Value& value, const FieldDef& field);
// Required fields and required or primary index fields of a row (3314,
// 3058) before it is written.
void CheckRowBeforeWrite(const CatalogTable& table, const std::vector<Value>& row);
// A write of one row that changed nothing although the row was there: a
// trigger of the table skipped it (RAISE(IGNORE)).  Raises 3000.
[[noreturn]] void RaiseRowIgnored(const CatalogTable& table);

// Access to the private parts of the public classes.
struct Access {
  static Field MakeField(std::shared_ptr<FieldImpl> impl);
  static Index MakeIndex(std::shared_ptr<IndexImpl> impl);
  static TableDef MakeTableDef(std::shared_ptr<TableDefImpl> impl);
  static Relation MakeRelation(std::shared_ptr<RelationImpl> impl);
  static Database MakeDatabase(std::shared_ptr<DatabaseImpl> impl);
  static Workspace MakeWorkspace(std::shared_ptr<WorkspaceImpl> impl);
  static Recordset MakeRecordset(std::shared_ptr<RecordsetImpl> impl);
  static const std::shared_ptr<FieldImpl>& ImplOf(const Field& f);
  static const std::shared_ptr<IndexImpl>& ImplOf(const Index& i);
  static const std::shared_ptr<TableDefImpl>& ImplOf(const TableDef& t);
  static const std::shared_ptr<RelationImpl>& ImplOf(const Relation& r);
};

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_ENGINE_H_
