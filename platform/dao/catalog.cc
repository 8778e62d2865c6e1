// The catalog: field types and sizes, the look-ups in its image in memory,
// reading it from the file, and its tables in a new file.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/sqlite.h"

namespace dao {
namespace internal {

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

bool FoldsCase(const FieldDef& f) { return f.type == dbText; }

// ---------------------------------------------------------------------------
// Look-ups.

namespace {

// The item of `items` named `name` (SameName), or null.
template <class T>
const T* FindByName(const std::vector<T>& items, const std::string& name) {
  for (const T& item : items) {
    if (SameName(item.name, name)) return &item;
  }
  return nullptr;
}

// The item of `items` with id `id`, or null.
template <class T>
const T* FindById(const std::vector<T>& items, int64_t id) {
  for (const T& item : items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

}  // namespace

const FieldDef* CatalogTable::FindField(const std::string& n) const {
  return FindByName(fields, n);
}

const FieldDef* CatalogTable::FieldById(int64_t field_id) const {
  return FindById(fields, field_id);
}

int CatalogTable::FieldIndexById(int64_t field_id) const {
  const FieldDef* f = FindById(fields, field_id);
  return f == nullptr ? -1 : static_cast<int>(f - fields.data());
}

const IndexDef* CatalogTable::FindIndex(const std::string& n) const {
  return FindByName(indexes, n);
}

const IndexDef* CatalogTable::IndexById(int64_t index_id) const {
  return FindById(indexes, index_id);
}

const CatalogTable* Catalog::FindTable(const std::string& n) const { return FindByName(tables, n); }

const CatalogTable* Catalog::TableById(int64_t table_id) const {
  return FindById(tables, table_id);
}

const RelationDef* Catalog::FindRelation(const std::string& n) const {
  return FindByName(relations, n);
}

const RelationDef* Catalog::RelationById(int64_t relation_id) const {
  return FindById(relations, relation_id);
}

// ---------------------------------------------------------------------------
// The catalog in the file.

namespace {

// Runs `sql` on `conn` and hands each row to `read`.
template <class Read>
void ForEachRow(sqlite3* conn, const char* sql, Read read) {
  Statement st(conn, sql);
  while (st.Step()) read(st);
}

// The table of `catalog` with id `id`, or null: the rows of a table that is
// not there are passed over.
CatalogTable* TableIn(Catalog& catalog, int64_t id) {
  for (CatalogTable& t : catalog.tables) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

// A row of daosys_fields as the statement in LoadCatalog selects it.
FieldDef FieldRow(const Statement& st) {
  FieldDef f;
  f.id = st.Int(0);
  f.name = st.Text(2);
  f.type = static_cast<int>(st.Int(3));
  f.size = static_cast<long>(st.Int(4));
  f.allow_zero_length = st.Int(5) != 0;
  f.required = st.Int(6) != 0;
  f.attributes = static_cast<long>(st.Int(7));
  f.ordinal = static_cast<int>(st.Int(8));
  return f;
}

// A row of daosys_indexes, likewise.
IndexDef IndexRow(const Statement& st) {
  IndexDef i;
  i.id = st.Int(0);
  i.name = st.Text(2);
  i.primary = st.Int(3) != 0;
  i.unique = st.Int(4) != 0;
  i.required = st.Int(5) != 0;
  i.ignore_nulls = st.Int(6) != 0;
  i.clustered = st.Int(7) != 0;
  i.foreign = st.Int(8) != 0;
  return i;
}

// A row of daosys_relations, likewise.
RelationDef RelationRow(const Statement& st) {
  RelationDef r;
  r.id = st.Int(0);
  r.name = st.Text(1);
  r.table_id = st.Int(2);
  r.foreign_table_id = st.Int(3);
  r.attributes = static_cast<long>(st.Int(4));
  return r;
}

// Reads the rows of `sql`, whose column 1 is a table id, into the list
// `list` of that table, each as `row` makes it.
template <class Def>
void ReadTableRows(sqlite3* conn, Catalog& catalog, const char* sql,
                   std::vector<Def> CatalogTable::*list, Def (*row)(const Statement&)) {
  ForEachRow(conn, sql, [&](const Statement& st) {
    CatalogTable* t = TableIn(catalog, st.Int(1));
    if (t != nullptr) (t->*list).push_back(row(st));
  });
}

}  // namespace

std::shared_ptr<Catalog> LoadCatalog(sqlite3* conn) {
  auto catalog = std::make_shared<Catalog>();
  ForEachRow(conn, "SELECT id, name FROM daosys_tables ORDER BY name COLLATE NOCASE, id",
             [&](const Statement& st) {
               CatalogTable t;
               t.id = st.Int(0);
               t.name = st.Text(1);
               catalog->tables.push_back(std::move(t));
             });
  ReadTableRows(conn, *catalog,
                "SELECT id, table_id, name, type, size, allow_zero_length, required, "
                "attributes, ordinal_position FROM daosys_fields "
                "ORDER BY ordinal_position, id",
                &CatalogTable::fields, FieldRow);
  ReadTableRows(conn, *catalog,
                "SELECT id, table_id, name, is_primary, is_unique, required, "
                "ignore_nulls, clustered, is_foreign FROM daosys_indexes "
                "ORDER BY name COLLATE NOCASE, id",
                &CatalogTable::indexes, IndexRow);
  ForEachRow(conn,
             "SELECT x.index_id, x.field_id, x.attributes, i.table_id "
             "FROM daosys_index_fields x JOIN daosys_indexes i ON i.id = x.index_id "
             "ORDER BY x.index_id, x.position",
             [&](const Statement& st) {
               CatalogTable* t = TableIn(*catalog, st.Int(3));
               if (t == nullptr) return;
               for (IndexDef& i : t->indexes) {
                 if (i.id != st.Int(0)) continue;
                 i.fields.push_back({st.Int(1), static_cast<long>(st.Int(2))});
               }
             });
  ForEachRow(conn,
             "SELECT id, name, table_id, foreign_table_id, attributes FROM "
             "daosys_relations ORDER BY name COLLATE NOCASE, id",
             [&](const Statement& st) { catalog->relations.push_back(RelationRow(st)); });
  ForEachRow(conn,
             "SELECT relation_id, field_id, foreign_field_id FROM "
             "daosys_relation_fields ORDER BY relation_id, position",
             [&](const Statement& st) {
               for (RelationDef& r : catalog->relations) {
                 if (r.id == st.Int(0)) r.fields.emplace_back(st.Int(1), st.Int(2));
               }
             });
  return catalog;
}

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

[[noreturn]] void Gone(const char* what) {
  Raise(kErrObjectInvalid,
        std::string("Object invalid or no longer set: the ") + what + " no longer exists.");
}

bool ValidName(const std::string& name) {
  return !name.empty() && name.size() <= 64 && name.find_first_of("\"[]!.`") == std::string::npos &&
         name.front() != ' ';
}

const CatalogTable& TableOf(const Catalog& catalog, int64_t id) {
  const CatalogTable* t = catalog.TableById(id);
  if (t == nullptr) Gone("table");
  return *t;
}

const FieldDef& FieldOf(const CatalogTable& table, int64_t id) {
  const FieldDef* f = table.FieldById(id);
  if (f == nullptr) Gone("field");
  return *f;
}

std::string PhysicalIndexName(int64_t id) { return "daosys_ix_" + std::to_string(id); }

bool HasReservedPrefix(const std::string& name) {
  return name.size() >= 7 && SameName(name.substr(0, 7), "daosys_");
}

}  // namespace internal
}  // namespace dao
