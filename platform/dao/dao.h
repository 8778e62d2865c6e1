// The database engine layer: a DAO-shaped object model on SQLite.
//
// A database file is an ordinary SQLite database.  Every user table is an
// SQLite table of the same name and column names; what SQLite does not keep
// of the object model (field types and sizes, AllowZeroLength, Required,
// Attributes, OrdinalPosition, index and relation properties) lives in
// catalog tables of the engine's own, named "daosys_...", in the same file.
// Catalog and physical schema change together inside one SQLite transaction.
// A workgroup file, also SQLite, holds the workgroup's identity and its
// accounts; a database records the workgroup it belongs to and its owner.
//
// Objects are handles, as in the records system's runtime: copying a handle
// copies the reference, and an object lives while a handle or its parent
// holds it.  A handle that refers to nothing ("Nothing") raises Error 91 on
// every call.  Every failing call raises kav::Error with the engine's number,
// a description and a source, and fills DBEngine::Errors().
//
// Names, unique keys, related keys and WHERE comparisons ignore letter case
// as kav::FoldCase (platform/text.h) folds it.
//
// One thread: nothing here is safe to share between threads.

#ifndef KAV_PLATFORM_DAO_DAO_H_
#define KAV_PLATFORM_DAO_DAO_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/dao/constants.h"
#include "platform/dao/value.h"
#include "platform/error.h"

namespace dao {

using kav::Error;

class Workspace;
class Database;
class Recordset;
class TableDef;
class Field;
class Index;
class Relation;

namespace internal {
struct WorkspaceImpl;
struct DatabaseImpl;
struct RecordsetImpl;
struct TableDefImpl;
struct FieldImpl;
struct IndexImpl;
struct RelationImpl;
struct FieldOwner;
struct Access;
}  // namespace internal

// ---------------------------------------------------------------------------
// Schema objects.  An object made by a Create... call stands alone until it is
// appended to its collection; its properties are then fixed, except a table
// field's Name (which renames the column), OrdinalPosition, AllowZeroLength
// and Required.  Setting another property of an appended object raises 3219.

// A field of a table definition, of an index or of a relation.
class Field {
 public:
  Field() = default;
  std::string Name() const;
  void SetName(const std::string& name);
  int Type() const;
  void SetType(int type);
  long Size() const;  // characters of a text field; bytes of other types
  void SetSize(long size);
  bool AllowZeroLength() const;
  void SetAllowZeroLength(bool allow);
  bool Required() const;
  void SetRequired(bool required);
  long Attributes() const;
  void SetAttributes(long attributes);
  int OrdinalPosition() const;
  void SetOrdinalPosition(int position);
  // Of a relation field: the matching field in the foreign table.
  std::string ForeignName() const;
  void SetForeignName(const std::string& name);

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend struct internal::FieldOwner;
  explicit Field(std::shared_ptr<internal::FieldImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::FieldImpl> impl_;
};

// The fields of a table definition (in OrdinalPosition order, ties in the
// order the fields were appended), of an index or of a relation (in the order
// they were appended).
class FieldCollection {
 public:
  int Count() const;
  Field Item(int index) const;                // 3265 when out of range
  Field Item(const std::string& name) const;  // 3265 when unknown
  // 3191 when a field of that name exists.  A table field is added to the
  // table at once, its column holding Null in every row.
  void Append(const Field& field);
  // Removes a table field with its column; 3280 when an index includes it,
  // 3303 when a relation does.
  void Delete(const std::string& name);
  void Refresh();

 private:
  friend struct internal::Access;
  friend struct internal::FieldOwner;
  explicit FieldCollection(std::shared_ptr<internal::FieldOwner> owner)
      : owner_(std::move(owner)) {}
  std::shared_ptr<internal::FieldOwner> owner_;
};

class Index {
 public:
  Index() = default;
  std::string Name() const;
  void SetName(const std::string& name);
  bool Primary() const;
  void SetPrimary(bool primary);
  bool Unique() const;
  void SetUnique(bool unique);
  bool Required() const;
  void SetRequired(bool required);
  bool IgnoreNulls() const;
  void SetIgnoreNulls(bool ignore);
  bool Clustered() const;
  void SetClustered(bool clustered);
  // True for the index that stands for the foreign key of a relation; made
  // and removed with the relation, never by Indexes().Append.
  bool Foreign() const;
  FieldCollection Fields() const;
  Field CreateField(const std::string& name, int type = 0, long size = 0);

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend struct internal::FieldOwner;
  friend class IndexCollection;
  explicit Index(std::shared_ptr<internal::IndexImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::IndexImpl> impl_;
};

class IndexCollection {
 public:
  int Count() const;
  Index Item(int index) const;
  Index Item(const std::string& name) const;
  // Builds the index on the table; 3022 when the rows already break a unique
  // index, 3284 when an index of that name or of those fields exists.
  void Append(const Index& index);
  void Delete(const std::string& name);
  void Refresh();

 private:
  friend struct internal::Access;
  friend class TableDef;
  explicit IndexCollection(std::shared_ptr<internal::TableDefImpl> table)
      : table_(std::move(table)) {}
  std::shared_ptr<internal::TableDefImpl> table_;
};

class TableDef {
 public:
  TableDef() = default;
  std::string Name() const;
  void SetName(const std::string& name);
  FieldCollection Fields() const;
  IndexCollection Indexes() const;
  // size 0 gives the type's default size (50 characters for text).
  Field CreateField(const std::string& name, int type, long size = 0);
  Index CreateIndex(const std::string& name);

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend struct internal::FieldOwner;
  friend class TableDefCollection;
  friend class IndexCollection;
  friend class Database;
  explicit TableDef(std::shared_ptr<internal::TableDefImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::TableDefImpl> impl_;
};

// The user tables of a database; the engine's own catalog tables are not
// among them.
class TableDefCollection {
 public:
  int Count() const;
  TableDef Item(int index) const;
  TableDef Item(const std::string& name) const;  // 3265 when unknown
  // Creates the table with the fields (and indexes) appended to the
  // definition; 3010 when a table of that name exists.
  void Append(const TableDef& table);
  void Delete(const std::string& name);
  void Refresh();

 private:
  friend struct internal::Access;
  friend class Database;
  explicit TableDefCollection(std::shared_ptr<internal::DatabaseImpl> db) : db_(std::move(db)) {}
  std::shared_ptr<internal::DatabaseImpl> db_;
};

// A relation between a primary table (`Table`, whose fields must carry a
// unique index) and a foreign table.  Unless its attributes hold
// dbRelationDontEnforce, the engine refuses a foreign row whose fields are
// not all Null and match no primary row (3201), and a change or deletion of a
// primary row that foreign rows still refer to (3200), unless the cascade
// attributes say to carry it over.  A cascade carries on through every
// level (a table related to itself, or tables related in a ring), except
// while the file holds a trigger of another program: SQLite then lets no
// trigger fire itself again, lest such a trigger fire itself without end,
// and a cascade through a table related to itself goes one level only.  The
// related fields must be of one type; text fields of different sizes may be
// related.
class Relation {
 public:
  Relation() = default;
  std::string Name() const;
  std::string Table() const;
  std::string ForeignTable() const;
  long Attributes() const;
  void SetName(const std::string& name);
  void SetTable(const std::string& table);
  void SetForeignTable(const std::string& table);
  void SetAttributes(long attributes);
  FieldCollection Fields() const;
  Field CreateField(const std::string& name);

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend struct internal::FieldOwner;
  friend class RelationCollection;
  friend class Database;
  explicit Relation(std::shared_ptr<internal::RelationImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::RelationImpl> impl_;
};

class RelationCollection {
 public:
  int Count() const;
  Relation Item(int index) const;
  Relation Item(const std::string& name) const;
  // Checks tables, fields and types, and that the existing rows keep the
  // relation; creates the foreign index (Foreign true) on the foreign table.
  void Append(const Relation& relation);
  // Removes the relation and its foreign index.
  void Delete(const std::string& name);
  void Refresh();

 private:
  friend struct internal::Access;
  friend class Database;
  explicit RelationCollection(std::shared_ptr<internal::DatabaseImpl> db) : db_(std::move(db)) {}
  std::shared_ptr<internal::DatabaseImpl> db_;
};

// ---------------------------------------------------------------------------
// Recordsets.

// One field of a recordset's current or new record.
class RecordsetField {
 public:
  std::string Name() const;
  int Type() const;
  long Size() const;
  // The value of the record in the edit buffer, or of the current row; 3021
  // when there is no current row.  A stored value that does not fit the
  // field, as another program may have stored it (70000 in an Integer
  // field, text in a Date field), is read as it is, of its own kind, and
  // an Edit writes it back unchanged; the accessor of the field's kind
  // raises 3421 for it (value.h).
  Value GetValue() const;
  // Converts `value` to the field's type at once: 3421 when it cannot be
  // converted, 3163 when text is longer than the field's size, 3315 for the
  // empty text where AllowZeroLength is false (the empty text written to a
  // non-text field becomes Null).  3020 without AddNew or Edit.
  void SetValue(const Value& value);

 private:
  friend struct internal::Access;
  friend class Recordset;
  RecordsetField(std::shared_ptr<internal::RecordsetImpl> rs, int index)
      : rs_(std::move(rs)), index_(index) {}
  std::shared_ptr<internal::RecordsetImpl> rs_;
  int index_;
};

// A table-type recordset (OpenRecordset(table, dbOpenTable)) starts on the
// first row of the table in insertion order and can add and edit rows.  A
// forward-only recordset (OpenRecordset(sql, dbOpenForwardOnly)) holds the
// rows of its query, read when it opens, and holds no lock afterwards.
//
// A new record begun by AddNew is written only by Update.  When Update
// refuses it (3022, 3314, ...) it stays pending: a later AddNew drops it and
// starts a fresh record without an error, and so do CancelUpdate, Close and
// the release of the last handle.
//
// A pending record belongs to the table's fields as they were at AddNew or
// Edit.  Once they have changed (a field appended, deleted or moved, its
// type, size or AllowZeroLength changed, here or through another handle or
// program), reading, setting or updating the record drops it and raises
// 3219; a renamed field or a changed Required is no such change.  Update
// after Edit writes the row only while it is as Edit read it: a row that a
// statement, another handle or another program has changed since drops the
// edit with 3197, and Edit reads the row anew.
class Recordset {
 public:
  Recordset() = default;
  void AddNew();
  void Edit();  // the current row; 3021 when there is none
  // Writes the new or edited record.  3022 when it collides with a unique
  // index, 3314 when a required field is Null, 3201 when a relation refuses
  // it, 3020 without AddNew or Edit, 3027 on a forward-only recordset,
  // 3219 and 3197 as said above the class.  A
  // refused record leaves the file exactly as it was, also where another
  // program has given the table a conflict clause (it never replaces a
  // stored row or drops the record) or triggers of its own (one that
  // refuses or skips the record raises 3000 with SQLite's text; 3167 only
  // when the edited row is gone).
  void Update(int type = dbUpdateRegular, bool force = false);
  void CancelUpdate();
  void Close();
  RecordsetField Fields(int index) const;                // 3265 out of range
  RecordsetField Fields(const std::string& name) const;  // 3265 unknown
  int FieldCount() const;
  bool IsEOF() const;
  void MoveNext();

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend class Database;
  explicit Recordset(std::shared_ptr<internal::RecordsetImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::RecordsetImpl> impl_;
};

// ---------------------------------------------------------------------------
// Databases and workspaces.

// The indexes, views and triggers that other SQLite programs have made in a
// database file (the catalog knows nothing of them), set aside while a
// column is replaced: renamed to a free name, a column of its name added
// and filled from it, and the renamed one deleted, as a change of a
// column's type does it.  Left in place, they would follow the rename and
// then break as the renamed column goes: SQLite rewrites every reference
// to a renamed column, refuses to drop a column that an index holds, and
// checks every view and trigger of the file at each rename or drop.  Set
// aside, they are made again from their own SQL once the column of their
// name is back, and name it as before.
//
// The call observer hears of neither call, so that the trace of an update
// holds no line for them; on a file that holds no such object neither
// writes anything.  A failure fills the engine's error list.
class OtherProgramsObjects {
 public:
  // One object set aside: its type ("index", "view" or "trigger"), its
  // name, and the SQL that made it.
  struct Saved {
    std::string type, name, sql;
  };

  OtherProgramsObjects() = default;
  bool IsEmpty() const { return saved_.empty(); }
  // Makes every object set aside again from its SQL, in the order they were
  // first made, all or none; raises the error of the first that cannot be
  // made, naming it (3022 for a unique index that the rows no longer fit).
  // Afterwards nothing is set aside.
  void PutBack();

 private:
  friend class Database;
  std::shared_ptr<internal::DatabaseImpl> db_;
  std::vector<Saved> saved_;
};

class Database {
 public:
  Database() = default;
  std::string Name() const;  // the path it was opened with

  // source: a table name (dbOpenTable; trailing blanks are ignored, 3078
  // when there is no such table) or, with dbOpenForwardOnly, an SQL SELECT
  // (a text whose first word is SELECT) or a table name, all of whose rows
  // the recordset holds.
  Recordset OpenRecordset(const std::string& source, int type = dbOpenTable);

  // Runs an UPDATE or DELETE in the engine's SQL dialect.  The WHERE clause
  // is evaluated on the rows as they were before the statement.  Without
  // dbFailOnError, a row the engine cannot change (a key collision, a value
  // its column refuses, a relation, a trigger of the table that refuses or
  // skips it) is left exactly as it was, without an error, and the other
  // rows change.  With dbFailOnError such a row fails the whole statement,
  // which is undone, and its error is raised.  A fault of the statement as
  // a whole (syntax, unknown table or column) always raises, and so does a
  // trigger that rolls back SQLite's whole transaction (RAISE(ROLLBACK)):
  // the statement stops at once, nothing of it stays, and neither does
  // anything else of the transaction it ran in (Workspace::BeginTrans).
  void Execute(const std::string& sql, int options = 0);
  // The rows the last Execute changed; 0 after one that failed, also where
  // it failed before it ran (syntax, unknown table or column, a value of
  // the wrong type).
  long RecordsAffected() const;

  TableDefCollection TableDefs() const;
  RelationCollection Relations() const;
  TableDef CreateTableDef(const std::string& name);
  Relation CreateRelation(const std::string& name, const std::string& table,
                          const std::string& foreign_table, long attributes = 0);

  // The workspace the database was opened in; its transactions cover it.
  Workspace ParentWorkspace() const;

  // Sets aside (drops, keeping their SQL) the objects of other programs
  // that replacing field `field` of table `table` would break: their
  // indexes on the table, and all their views and triggers, since SQLite
  // checks each of them at a rename or drop and a view or trigger may reach
  // the table through another view.  Call it in a transaction of the
  // workspace, so that a failure on the way takes the setting aside back
  // with the rest.  Refuses, changing nothing, with 3303 where a foreign
  // key of a table names the field (a table cannot be set aside, and the
  // rename would carry its key off to the renamed column), and with 3219
  // where replacing the field, rehearsed first on a copy of the file's
  // tables and indexes in memory, would fail on what is written in the
  // file: a table or index that could not be made again as it is written
  // (one that takes a double-quoted word for text, say), or a generated
  // column or a table's CHECK that names the field; the error names the
  // object.  Sets aside nothing for a table or field that is not there.
  OtherProgramsObjects SetAsideOtherProgramsObjects(const std::string& table,
                                                    const std::string& field);

  // Raises what SetAsideOtherProgramsObjects would refuse with, and does
  // nothing else: it reads the file and writes nothing, so that a caller
  // about to replace several fields can refuse the file before it changes
  // any of them.
  void CheckOtherProgramsObjects(const std::string& table, const std::string& field);

  // Closes the database and every recordset opened on it.  Closing a closed
  // database does nothing.
  void Close();

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend class Workspace;
  friend class TableDefCollection;
  friend class RelationCollection;
  explicit Database(std::shared_ptr<internal::DatabaseImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::DatabaseImpl> impl_;
};

// A session of one workgroup account.  The workspace keeps the databases
// opened in it open until they are closed or the workspace goes.
class Workspace {
 public:
  Workspace() = default;
  std::string Name() const;
  std::string UserName() const;

  // Opens shared and read-write.  3024 when the file does not exist, 3343
  // when it is not a database of this engine or is damaged (a column, an
  // index or a relation's rule that its catalog names is not in the file),
  // 3033 when it belongs to another workgroup or another owner.  A refused
  // open writes nothing to the file.  The same file may be open more than
  // once at a time.
  Database OpenDatabase(const std::string& path);
  // A new, empty database owned by this workspace's workgroup and user.
  Database CreateDatabase(const std::string& path);

  // Transactions nest; each covers exactly the databases open in this
  // workspace when it begins.  CommitTrans and Rollback without a
  // transaction raise 3034.
  //
  // Each handle of a file is a connection of its own, and SQLite lets one
  // connection at a time write to a file: while a transaction has written
  // through one handle, a write through another handle of the same file
  // fails with 3260 until that transaction ends, in this workspace as in
  // any other.  And a transaction that has read a file which another
  // connection has written to since cannot write to it at all: each of its
  // writes there fails with 3260 until it is rolled back.
  //
  // A trigger of another program that rolls back SQLite's transaction
  // (RAISE(ROLLBACK)) ends the transaction it ran in, with the transactions
  // nested in it: nothing of them stays in any database they cover, the
  // workspace no longer counts them open (so CommitTrans and Rollback then
  // raise 3034 where no other is open), and what follows runs outside them.
  void BeginTrans();
  void CommitTrans();
  void Rollback();

  void Close();

  bool IsNothing() const { return impl_ == nullptr; }

 private:
  friend struct internal::Access;
  friend class DBEngine;
  explicit Workspace(std::shared_ptr<internal::WorkspaceImpl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<internal::WorkspaceImpl> impl_;
};

// The process's one engine.
class DBEngine {
 public:
  static DBEngine& Instance();

  // The workgroup file the next CreateWorkspace logs on with.
  void SetSystemDB(const std::string& path);
  std::string SystemDB() const;

  // Logs `user` on to the workgroup of SystemDB(), writing nothing.  3028
  // when the workgroup file is missing, unreadable, damaged or not a
  // workgroup file, or cannot be read as it stands (a journal or a log of
  // changes beside it); 3029 for an unknown user or a wrong password.
  Workspace CreateWorkspace(const std::string& name, const std::string& user,
                            const std::string& password, int type = dbUseJet);
  // Workspaces(0) is the default workspace, logged on to no workgroup; it
  // opens no secured database but has transactions like any other.
  Workspace Workspaces(int index);

  // The errors of the last failing engine call, oldest first.
  const std::vector<Error>& Errors() const;

  // Writes every change committed through this engine into the database
  // files themselves, on disk, so that each file alone holds its whole
  // database, and puts each back in rollback-journal mode with nothing
  // beside it, open to other programs again (where no other program has it
  // open).  Not a call of the update's: the call observer does not hear of
  // it.  Raises the engine's error when the disk has no room for that, or
  // when another program holds an older state of the file; the file then
  // keeps the last whole state it holds.
  void FlushFiles();

 private:
  friend struct internal::Access;
  DBEngine();
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dao

#endif  // KAV_PLATFORM_DAO_DAO_H_
