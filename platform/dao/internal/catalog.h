// The catalog: the engine's own tables that describe every table, field,
// index and relation of a database file, and their image in memory.
//
// Catalog tables in every database file (the prefix "daosys_" is reserved):
//   daosys_database        one row: format marker, workgroup id, owner
//   daosys_tables          id, name
//   daosys_fields          id, table_id, name, type, size, allow_zero_length,
//                          required, attributes, ordinal_position
//   daosys_indexes         id, table_id, name, is_primary, is_unique, required,
//                          ignore_nulls, clustered, is_foreign
//   daosys_index_fields    index_id, position, field_id, attributes
//   daosys_relations       id, name, table_id, foreign_table_id, attributes
//   daosys_relation_fields relation_id, position, field_id, foreign_field_id
// Ids grow with every row, so an id is also the creation sequence.  Index
// and relation fields refer to table fields by id, so a renamed field stays
// in them.  Physical indexes are named "daosys_ix_<id>", relation triggers
// "daosys_rel_<id>_<what>".

#ifndef KAV_PLATFORM_DAO_INTERNAL_CATALOG_H_
#define KAV_PLATFORM_DAO_INTERNAL_CATALOG_H_

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dao/value.h"

namespace dao::internal {

// The marker in daosys_database that makes a file one of this engine's.
inline constexpr char kFormat[] = "kav-dao 1";

// ---------------------------------------------------------------------------
// The catalog in memory.

struct FieldDef {
  int64_t id = 0;
  std::string name;
  int type = dbText;
  long size = 50;
  bool allow_zero_length = false;
  bool required = false;
  long attributes = 0;
  int ordinal = 0;
};

struct IndexFieldDef {
  int64_t field_id = 0;
  long attributes = 0;
};

struct IndexDef {
  int64_t id = 0;
  std::string name;
  bool primary = false, unique = false, required = false, ignore_nulls = false, clustered = false,
       foreign = false;
  std::vector<IndexFieldDef> fields;
};

struct CatalogTable {
  int64_t id = 0;
  std::string name;
  std::vector<FieldDef> fields;   // by OrdinalPosition, then creation
  std::vector<IndexDef> indexes;  // by name
  const FieldDef* FindField(const std::string& name) const;
  const FieldDef* FieldById(int64_t id) const;
  int FieldIndexById(int64_t id) const;
  const IndexDef* FindIndex(const std::string& name) const;
  const IndexDef* IndexById(int64_t id) const;
};

struct RelationDef {
  int64_t id = 0;
  std::string name;
  int64_t table_id = 0, foreign_table_id = 0;
  long attributes = 0;
  std::vector<std::pair<int64_t, int64_t>> fields;  // primary, foreign
};

struct Catalog {
  std::vector<CatalogTable> tables;    // by name
  std::vector<RelationDef> relations;  // by name
  const CatalogTable* FindTable(const std::string& name) const;
  const CatalogTable* TableById(int64_t id) const;
  const RelationDef* FindRelation(const std::string& name) const;
  const RelationDef* RelationById(int64_t id) const;
};

// Field types and sizes.
bool IsFieldType(int type);

// Whether `name` starts with "daosys_", the prefix of the engine's own
// tables, indexes and triggers.
bool HasReservedPrefix(const std::string& name);
long DefaultSize(int type);
const char* StorageType(int type);
// Whether the keys of field `f` ignore letter case (kav::FoldCase says which
// letters fold): text does, 'fuma' collides with 'FUMA'; other types keep
// SQLite's own comparison.
bool FoldsCase(const FieldDef& f);

// Whether the catalog takes `name` for a table, field, index or relation.
bool ValidName(const std::string& name);
// The SQLite index of catalog index `id`.
std::string PhysicalIndexName(int64_t id);

// 3420: the object was deleted.
[[noreturn]] void Gone(const char* what);
// The table or field of that id; Gone when it has been deleted.
const CatalogTable& TableOf(const Catalog& catalog, int64_t id);
const FieldDef& FieldOf(const CatalogTable& table, int64_t id);

// ---------------------------------------------------------------------------
// The catalog in the file.

// The catalog tables and the identity row of a new database.
void CreateCatalog(sqlite3* conn, const std::optional<std::string>& workgroup_id,
                   const std::string& owner);

// Reads the catalog of `conn`.
std::shared_ptr<Catalog> LoadCatalog(sqlite3* conn);

// What makes the file `conn` one the engine cannot go on with, in words;
// empty when nothing.  First the catalog against itself: its tables as
// CreateCatalog makes them, each value of its declared type and in range,
// every reference resolving, names valid and distinct, keys and relations
// as appending them makes them, and no object of the engine's reserved
// names that the catalog does not make.  Then what `catalog`
// promises and the file lacks (a table's column; an index with its
// columns, order, collation and uniqueness; a relation's tables, fields and
// triggers).
std::string MissingFromFile(sqlite3* conn, const Catalog& catalog);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_CATALOG_H_
