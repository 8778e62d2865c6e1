// Relations: making again the triggers that enforce them, Relation, the
// fields of a relation, RelationCollection, and the database's calls for them
// (Relations, CreateRelation).

#include <algorithm>
#include <iterator>
#include <set>

#include "platform/dao/internal/relation_triggers.h"
#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

// ---------------------------------------------------------------------------
// Relation triggers (internal/relation_triggers.h), dropped and made again
// from the catalog after every schema change.

void DropRelationTriggers(DatabaseImpl& db) {
  std::vector<std::string> names;
  {
    Statement st(db.conn,
                 "SELECT name FROM sqlite_master WHERE type = 'trigger' AND "
                 "name LIKE 'daosys\\_rel\\_%' ESCAPE '\\'");
    while (st.Step()) names.push_back(st.Text(0));
  }
  for (const std::string& n : names) Exec(db.conn, "DROP TRIGGER " + QuoteName(n));
}

void CreateRelationTriggers(DatabaseImpl& db) {
  for (const RelationTrigger& t : RelationTriggers(*db.CurrentCatalog())) Exec(db.conn, t.sql);
}

// ---------------------------------------------------------------------------
// The fields of a relation.

namespace {

// The catalog's row of appended relation `id`; Gone when it has been deleted.
const RelationDef& RelationDefOf(const Catalog& s, int64_t id) {
  const RelationDef* d = s.RelationById(id);
  if (d == nullptr) Gone("relation");
  return *d;
}

class RelationFields : public MemberFields {
 public:
  explicit RelationFields(std::shared_ptr<RelationImpl> r)
      : MemberFields("relation", FieldImpl::Home::kRelation), rel(std::move(r)) {}

 private:
  Place PlaceNow() const override { return {rel->db, 0, rel->id}; }
  std::vector<std::shared_ptr<FieldImpl>>& Local() override { return rel->fields; }
  // A relation's fields are named by its primary table's fields.
  Listed ListedIn(const Catalog& s) const override {
    const RelationDef& d = RelationDefOf(s, rel->id);
    Listed listed{d.name, d.table_id, {}};
    std::transform(d.fields.begin(), d.fields.end(), std::back_inserter(listed.field_ids),
                   [](const auto& pair) { return pair.first; });
    return listed;
  }

  std::shared_ptr<RelationImpl> rel;
};

}  // namespace
}  // namespace internal

using namespace internal;

// ---------------------------------------------------------------------------
// Relation.

namespace {

// name, table, foreign table, attributes as they are now.
RelationImpl CurrentRelation(const RelationImpl& r) {
  if (r.id == 0) return r;
  std::shared_ptr<const Catalog> s = r.db->CurrentCatalog();
  const RelationDef* d = &RelationDefOf(*s, r.id);
  RelationImpl out;
  out.name = d->name;
  out.table = TableOf(*s, d->table_id).name;
  out.foreign_table = TableOf(*s, d->foreign_table_id).name;
  out.attributes = d->attributes;
  return out;
}

}  // namespace

std::string Relation::Name() const {
  return RunQuiet("DAO.Relation", [&] { return CurrentRelation(ObjectOrNothing(impl_)).name; });
}
std::string Relation::Table() const {
  return RunQuiet("DAO.Relation", [&] { return CurrentRelation(ObjectOrNothing(impl_)).table; });
}
std::string Relation::ForeignTable() const {
  return RunQuiet("DAO.Relation",
                  [&] { return CurrentRelation(ObjectOrNothing(impl_)).foreign_table; });
}
long Relation::Attributes() const {
  return RunQuiet("DAO.Relation",
                  [&] { return CurrentRelation(ObjectOrNothing(impl_)).attributes; });
}
void Relation::SetName(const std::string& name) {
  SetBeforeAppend(impl_, "Relation.Name", "DAO.Relation", [&](RelationImpl& r) { r.name = name; });
}
void Relation::SetTable(const std::string& table) {
  SetBeforeAppend(impl_, "Relation.Table", "DAO.Relation",
                  [&](RelationImpl& r) { r.table = table; });
}
void Relation::SetForeignTable(const std::string& table) {
  SetBeforeAppend(impl_, "Relation.ForeignTable", "DAO.Relation",
                  [&](RelationImpl& r) { r.foreign_table = table; });
}
void Relation::SetAttributes(long attributes) {
  SetBeforeAppend(impl_, "Relation.Attributes", "DAO.Relation",
                  [&](RelationImpl& r) { r.attributes = attributes; });
}

FieldCollection Relation::Fields() const {
  return RunQuiet("DAO.Relation", [&] {
    ObjectOrNothing(impl_);
    return FieldOwner::Make(std::make_shared<RelationFields>(impl_));
  });
}

Field Relation::CreateField(const std::string& name) {
  return RunOther("Relation.CreateField", "DAO.Relation", [&] {
    ObjectOrNothing(impl_);
    auto f = std::make_shared<FieldImpl>();
    f->def = NewFieldDef(name, dbText, 0);
    f->def.attributes = 0;
    return Access::MakeField(f);
  });
}

// ---------------------------------------------------------------------------
// RelationCollection and the database's schema calls.

int RelationCollection::Count() const {
  return RunQuiet("DAO.Relations", [&] {
    return static_cast<int>(OpenDatabaseOrNothing(db_).CurrentCatalog()->relations.size());
  });
}

namespace {
Relation AttachedRelation(const std::shared_ptr<DatabaseImpl>& db, const RelationDef& d) {
  auto r = std::make_shared<RelationImpl>();
  r->db = db;
  r->id = d.id;
  r->name = d.name;
  return Access::MakeRelation(r);
}

void CheckRelatedTypes(const FieldDef& p, const FieldDef& f, const std::string& relation) {
  // Text fields of different sizes may be related: a retyping widens one
  // side before the other.
  if (p.type != f.type) {
    Raise(kErrRelationInvalid, "The relation '" + relation + "' relates fields '" + p.name +
                                   "' and '" + f.name + "' of different data types.");
  }
}
}  // namespace

namespace {
constexpr CatalogCollection<RelationDef> kRelations = {
    "Relations.Item", "DAO.Relations", "relation", &Catalog::relations, &Catalog::FindRelation};
}  // namespace

Relation RelationCollection::Item(int index) const {
  return ItemAt(db_, kRelations, index, AttachedRelation);
}

Relation RelationCollection::Item(const std::string& name) const {
  return ItemNamed(db_, kRelations, name, AttachedRelation);
}

namespace {

// A relation being appended, as the catalog will hold it, and its tables.
struct NewRelation {
  RelationDef def;
  const CatalogTable* primary = nullptr;
  const CatalogTable* foreign = nullptr;
};

// The relation's tables and fields, found in `s`: 3284 for a relation of
// that name already there, 3265 for a table or field that is not, 3368 for
// two related fields of different types.  A field's foreign name defaults
// to its own.
NewRelation ResolveFields(const Catalog& s, const RelationImpl& rel) {
  if (s.FindRelation(rel.name) != nullptr) {
    Raise(kErrIndexExists, "The relation '" + rel.name + "' already exists.");
  }
  NewRelation r;
  r.primary = s.FindTable(rel.table);
  if (r.primary == nullptr) NotFound("table '" + rel.table + "' of relation '" + rel.name + "'");
  r.foreign = s.FindTable(rel.foreign_table);
  if (r.foreign == nullptr) {
    NotFound("table '" + rel.foreign_table + "' of relation '" + rel.name + "'");
  }
  r.def.name = rel.name;
  r.def.table_id = r.primary->id;
  r.def.foreign_table_id = r.foreign->id;
  r.def.attributes = rel.attributes;
  for (const auto& field : rel.fields) {
    const FieldDef* pf = r.primary->FindField(field->def.name);
    if (pf == nullptr) {
      NotFound("field '" + field->def.name + "' in table '" + r.primary->name + "'");
    }
    const std::string foreign_name =
        field->foreign_name.empty() ? field->def.name : field->foreign_name;
    const FieldDef* ff = r.foreign->FindField(foreign_name);
    if (ff == nullptr) NotFound("field '" + foreign_name + "' in table '" + r.foreign->name + "'");
    CheckRelatedTypes(*pf, *ff, rel.name);
    r.def.fields.emplace_back(pf->id, ff->id);
  }
  return r;
}

// An enforced relation needs a unique index (or the primary key) of the
// primary table on exactly its fields: 3368 without one.
void RequireUniqueKey(const NewRelation& r) {
  std::set<int64_t> primary_ids;
  for (const auto& [primary, foreign] : r.def.fields) primary_ids.insert(primary);
  for (const IndexDef& i : r.primary->indexes) {
    if (i.foreign || !(i.unique || i.primary)) continue;
    std::set<int64_t> ids;
    for (const IndexFieldDef& x : i.fields) ids.insert(x.field_id);
    if (ids == primary_ids) return;
  }
  Raise(kErrRelationInvalid, "The relation '" + r.def.name +
                                 "' needs a unique index on its fields in table '" +
                                 r.primary->name + "'.");
}

// An enforced relation is refused (3201) while a row of the foreign table
// has no related record.
void RefuseOrphans(DatabaseImpl& db, const NewRelation& r) {
  Statement orphans(
      db.conn, "SELECT 1 FROM " + QuoteName(r.foreign->name) + " x WHERE (" +
                   AnyForeignKey(*r.foreign, r.def, "x.") + ") AND NOT EXISTS (SELECT 1 FROM " +
                   QuoteName(r.primary->name) + " y WHERE " +
                   MatchCondition(*r.primary, *r.foreign, r.def, "y.", "x.") + ") LIMIT 1");
  if (orphans.Step()) {
    Raise(kErrRelatedRecordRequired,
          "The relation '" + r.def.name + "' cannot be made: rows of table '" + r.foreign->name +
              "' have no related record in table '" + r.primary->name + "'.");
  }
}

// The catalog rows of relation `def` and of its fields; returns its id.
int64_t WriteCatalogRows(DatabaseImpl& db, const RelationDef& def) {
  Statement add(db.conn,
                "INSERT INTO daosys_relations(name, table_id, foreign_table_id, attributes) "
                "VALUES (?, ?, ?, ?)");
  add.Bind(1, def.name).Bind(2, def.table_id).Bind(3, def.foreign_table_id);
  add.Bind(4, static_cast<int64_t>(def.attributes)).Run();
  const int64_t id = LastId(db);
  InsertListRows(db,
                 "INSERT INTO daosys_relation_fields(relation_id, position, field_id, "
                 "foreign_field_id) VALUES (?, ?, ?, ?)",
                 id, def.fields);
  return id;
}

// The index of the foreign table that stands for the foreign key, named
// after the relation, unique for a one-to-one relation.
void AddForeignIndex(DatabaseImpl& db, const NewRelation& r) {
  IndexDef foreign_index;
  foreign_index.name = r.def.name;
  foreign_index.foreign = true;
  foreign_index.unique = (r.def.attributes & dbRelationUnique) != 0;
  for (const auto& [primary, foreign] : r.def.fields) foreign_index.fields.push_back({foreign, 0});
  db.SchemaChanged();
  AddIndex(db, r.foreign->id, foreign_index);
}

// Makes `rel` and its fields views of the catalog row `id`.
void AttachRelation(RelationImpl& rel, const std::shared_ptr<DatabaseImpl>& db, int64_t id) {
  rel.db = db;
  rel.id = id;
  for (size_t i = 0; i < rel.fields.size(); ++i) {
    FieldImpl& f = *rel.fields[i];
    f.home = FieldImpl::Home::kRelation;
    f.db = db;
    f.owner_id = id;
    f.position = static_cast<int>(i);
  }
}

}  // namespace

void RelationCollection::Append(const Relation& relation) {
  RunOther("Relations.Append", "DAO.Relations", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    RelationImpl& rel = ToAppend(Access::ImplOf(relation), "relation");
    if (rel.fields.empty()) {
      Raise(kErrNoFields, "The relation '" + rel.name + "' has no fields.");
    }
    int64_t id = 0;
    ChangeSchema(db, [&] {
      const std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const NewRelation r = ResolveFields(*s, rel);
      if (!(r.def.attributes & dbRelationDontEnforce)) {
        RequireUniqueKey(r);
        RefuseOrphans(db, r);
      }
      id = WriteCatalogRows(db, r.def);
      AddForeignIndex(db, r);
    });
    AttachRelation(rel, db_, id);
  });
}

void RelationCollection::Delete(const std::string& name) {
  RunOther("Relations.Delete", "DAO.Relations", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    ChangeSchema(db, [&] {
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const RelationDef* d = s->FindRelation(name);
      if (d == nullptr) NotFound("relation '" + name + "'");
      const CatalogTable& f = TableOf(*s, d->foreign_table_id);
      for (const IndexDef& i : f.indexes) {
        if (i.foreign && SameName(i.name, d->name)) RemoveIndex(db, i.id);
      }
      Statement a(db.conn, "DELETE FROM daosys_relation_fields WHERE relation_id = ?");
      a.Bind(1, d->id).Run();
      Statement b(db.conn, "DELETE FROM daosys_relations WHERE id = ?");
      b.Bind(1, d->id).Run();
    });
  });
}

void RelationCollection::Refresh() {
  RunOther("Relations.Refresh", "DAO.Relations", [&] { OpenDatabaseOrNothing(db_); });
}

RelationCollection Database::Relations() const {
  return RunQuiet("DAO.Database", [&] {
    OpenDatabaseOrNothing(impl_);
    return RelationCollection(impl_);
  });
}

Relation Database::CreateRelation(const std::string& name, const std::string& table,
                                  const std::string& foreign_table, long attributes) {
  return RunOther("CreateRelation", "DAO.Database", [&] {
    OpenDatabaseOrNothing(impl_);
    auto r = std::make_shared<RelationImpl>();
    r->name = name;
    r->table = table;
    r->foreign_table = foreign_table;
    r->attributes = attributes;
    return Access::MakeRelation(r);
  });
}

}  // namespace dao
