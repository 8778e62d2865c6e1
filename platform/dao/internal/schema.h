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

#include "platform/dao/dao.h"
#include "platform/dao/internal/access.h"
#include "platform/dao/internal/call_frame.h"
#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/schema_objects.h"
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

// The fields of an index or a relation (`kind`): before it is appended, the
// fields it keeps itself, which Append and Delete change; once appended, views
// of the table fields its catalog row lists, in its order, and fixed.
class MemberFields : public FieldOwner {
 public:
  int Count() override;
  Field Item(int index) override;
  Field Item(const std::string& name) override;
  void Append(const Field& field) override;
  void Delete(const std::string& name) override;

 protected:
  MemberFields(const char* kind, FieldImpl::Home home) : kind_(kind), home_(home) {}
  // Where the owner is: its database, its table (an index's) and its id, 0
  // until it is appended.
  struct Place {
    std::shared_ptr<DatabaseImpl> db;
    int64_t table_id = 0;
    int64_t id = 0;
  };
  // The owner as its catalog row has it: its name, the table its fields
  // are fields of, and their ids in order.
  struct Listed {
    std::string name;
    int64_t table_id = 0;
    std::vector<int64_t> field_ids;
  };
  virtual Place PlaceNow() const = 0;
  virtual std::vector<std::shared_ptr<FieldImpl>>& Local() = 0;
  // Gone when the owner has been deleted.
  virtual Listed ListedIn(const Catalog& catalog) const = 0;

 private:
  bool Appended() const { return PlaceNow().id != 0; }
  // The view of the field at `position` of the appended owner.
  Field Attached(int position) const;
  // The place of `name` among the fields not appended yet; NotFound when absent.
  int LocalPlace(const std::string& name);
  const char* kind_;
  FieldImpl::Home home_;
};

// ---------------------------------------------------------------------------
// Errors, the name check, the catalog rows of a list, and the collections
// (schema.cc).  The name rule and the catalog look-ups by id are the
// catalog's (internal/catalog.h).

[[noreturn]] void NotFound(const std::string& what);  // 3265
[[noreturn]] void Fixed();  // 3219: a property that is fixed once appended
// 3125 for a name the catalog refuses; `what` names the kind of object.
void CheckName(const std::string& name, const char* what);
int64_t LastId(DatabaseImpl& db);  // the id of the catalog row just inserted
// The catalog rows of an index's or relation's fields: `insert` (of the
// owner's id, the position and two values) run for each pair of `values`.
void InsertListRows(DatabaseImpl& db, const std::string& insert, int64_t owner_id,
                    const std::vector<std::pair<int64_t, int64_t>>& values);

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

int64_t AddIndex(DatabaseImpl& db, int64_t table_id, const IndexDef& def);
// Drops the SQLite index and the catalog rows of index `id`.
void RemoveIndex(DatabaseImpl& db, int64_t id);
IndexDef ResolveIndex(const IndexImpl& impl, const CatalogTable& table);
// Makes `impl` and its fields views of the catalog row `id` of table `table_id`.
void AttachIndex(IndexImpl& impl, const std::shared_ptr<DatabaseImpl>& db, int64_t table_id,
                 int64_t id);

// ---------------------------------------------------------------------------
// Tables and the database (tables.cc).

// The object behind a handle; 91 when the handle is Nothing.
template <class T>
T& ObjectOrNothing(const std::shared_ptr<T>& object) {
  if (!object) RaiseNothing();
  return *object;
}

// The catalog id of an index or relation, 0 until it is appended.
inline int64_t AppendedId(const IndexImpl& i) { return i.def.id; }
inline int64_t AppendedId(const RelationImpl& r) { return r.id; }

// Call `name` of `source` that sets a property of the object behind
// `impl` with `set`: 91 when Nothing, 3219 once the object is appended, as
// the property is fixed then.
template <class T, class F>
void SetBeforeAppend(const std::shared_ptr<T>& impl, const char* name, const char* source, F set) {
  RunOther(name, source, [&] {
    T& object = ObjectOrNothing(impl);
    if (AppendedId(object) != 0) Fixed();
    set(object);
  });
}
// 91 when null, 3420 when closed.
DatabaseImpl& OpenDatabaseOrNothing(const std::shared_ptr<DatabaseImpl>& db);

// The database's tables or relations as a collection: the call that looks
// an item up, its source, what an item is called, the catalog's list and
// its look-up by name.
template <class Def>
struct CatalogCollection {
  const char* item_call;  // "TableDefs.Item"
  const char* source;     // "DAO.TableDefs"
  const char* what;       // "table"
  std::vector<Def> Catalog::*items;
  const Def* (Catalog::*find)(const std::string&) const;
};

// Item(index) of collection `c` of `db`: the handle `attach` makes of the
// catalog's item at that place; 3265 where there is none.
template <class Def, class Attach>
auto ItemAt(const std::shared_ptr<DatabaseImpl>& db, const CatalogCollection<Def>& c, int index,
            Attach attach) {
  return RunOther(c.item_call, c.source, [&] {
    std::shared_ptr<const Catalog> s = OpenDatabaseOrNothing(db).CurrentCatalog();
    const std::vector<Def>& items = (*s).*c.items;
    if (index < 0 || index >= static_cast<int>(items.size())) {
      NotFound(std::string(c.what) + " " + std::to_string(index));
    }
    return attach(db, items[index]);
  });
}

// Item(name) of collection `c` of `db`, as ItemAt.
template <class Def, class Attach>
auto ItemNamed(const std::shared_ptr<DatabaseImpl>& db, const CatalogCollection<Def>& c,
               const std::string& name, Attach attach) {
  return RunOther(c.item_call, c.source, [&] {
    std::shared_ptr<const Catalog> s = OpenDatabaseOrNothing(db).CurrentCatalog();
    const Def* d = ((*s).*c.find)(name);
    if (d == nullptr) NotFound(std::string(c.what) + " '" + name + "'");
    return attach(db, *d);
  });
}

// The object behind a table or relation handle to append (`what`): 91 when
// null, 3219 when it is appended already, 3125 for a name the catalog
// refuses.
template <class Impl>
Impl& ToAppend(const std::shared_ptr<Impl>& impl, const char* what) {
  if (!impl) RaiseNothing();
  if (impl->id != 0) {
    Raise(kErrInvalidOperation,
          std::string("The ") + what + " '" + impl->name + "' is already appended.");
  }
  CheckName(impl->name, what);
  return *impl;
}

// ---------------------------------------------------------------------------
// Relations (relations.cc).

// Drops the relation triggers of the whole database, and makes them again
// from the catalog.
void DropRelationTriggers(DatabaseImpl& db);
void CreateRelationTriggers(DatabaseImpl& db);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_SCHEMA_H_
