// The schema object model's shared internals: table definitions, fields,
// indexes and relations, kept in the catalog and in the physical schema of
// the same file.
//
// An appended object is a view of its catalog row (by id): it reads its
// properties from the database's catalog each time, so a rollback or another
// connection's change shows at once, and a renamed field stays in the indexes
// and relations that hold it.  An object not appended yet keeps its
// properties itself.
//
// The model lives in schema.cc (what every part uses), fields.cc, indexes.cc,
// tables.cc and relations.cc; this header declares what more than one of
// them needs.

#ifndef KAV_PLATFORM_DAO_INTERNAL_SCHEMA_H_
#define KAV_PLATFORM_DAO_INTERNAL_SCHEMA_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dao/internal/engine.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

// The collections of fields: of a table, of an index, of a relation.
struct FieldOwner {
  virtual ~FieldOwner() = default;
  virtual int Count() = 0;
  virtual Field Item(int index) = 0;
  virtual Field Item(const std::string& name) = 0;
  virtual void Append(const Field& field) = 0;
  virtual void Delete(const std::string& name) = 0;
  static FieldCollection Make(std::shared_ptr<FieldOwner> owner) {
    return FieldCollection(std::move(owner));
  }
};

// ---------------------------------------------------------------------------
// Errors, names and catalog look-ups (schema.cc).

[[noreturn]] void Gone(const char* what);             // 3420: the object was deleted
[[noreturn]] void NotFound(const std::string& what);  // 3265
[[noreturn]] void Fixed();  // 3219: a property that is fixed once appended
// Whether the catalog takes `name` for a table, field, index or relation.
bool ValidName(const std::string& name);
// 3125 for a name the catalog refuses; `what` names the kind of object.
void CheckName(const std::string& name, const char* what);
const CatalogTable& TableOf(const Catalog& catalog, int64_t id);  // Gone when deleted
const FieldDef& FieldOf(const CatalogTable& table, int64_t id);   // Gone when deleted
int64_t LastId(DatabaseImpl& db);  // the id of the catalog row just inserted

// ---------------------------------------------------------------------------
// Fields (fields.cc).

// A field not appended yet, with the default size and attributes of `type`.
FieldDef NewFieldDef(const std::string& name, int type, long size);
// The object behind `field`; 91 when null, 3219 when it is appended already.
std::shared_ptr<FieldImpl> StandaloneOf(const Field& field);
// The place of `name` among fields not appended yet; -1 when absent.
int FindLocal(const std::vector<std::shared_ptr<FieldImpl>>& fields, const std::string& name);

// ---------------------------------------------------------------------------
// Indexes (indexes.cc).

std::string PhysicalIndexName(int64_t id);
bool FoldsCase(const FieldDef& f);
int64_t AddIndex(DatabaseImpl& db, int64_t table_id, const IndexDef& def);
// Drops the SQLite index and the catalog rows of index `id`.
void RemoveIndex(DatabaseImpl& db, int64_t id);
IndexDef ResolveIndex(const IndexImpl& impl, const CatalogTable& table);
// Makes `impl` and its fields views of the catalog row `id` of table `table_id`.
void AttachIndex(IndexImpl& impl, const std::shared_ptr<DatabaseImpl>& db, int64_t table_id,
                 int64_t id);

// ---------------------------------------------------------------------------
// Tables and the database (tables.cc).

TableDefImpl& TableOrNothing(const std::shared_ptr<TableDefImpl>& t);  // 91 when null
// 91 when null, 3420 when closed.
DatabaseImpl& OpenDatabaseOrNothing(const std::shared_ptr<DatabaseImpl>& db);

// ---------------------------------------------------------------------------
// Relations (relations.cc).

std::string RelationTriggerName(int64_t relation_id, const char* what);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_SCHEMA_H_
