// Indexes: building them (the catalog rows and the SQLite index made from
// them, named "daosys_ix_<id>"), Index, the fields of an index and
// IndexCollection.

#include <set>

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

// ---------------------------------------------------------------------------
// Building indexes.

namespace {

std::string IndexColumns(const CatalogTable& table, const std::vector<IndexFieldDef>& fields) {
  std::string out;
  for (const IndexFieldDef& x : fields) {
    const FieldDef& f = FieldOf(table, x.field_id);
    if (!out.empty()) out += ", ";
    out += QuoteName(f.name);
    if (FoldsCase(f)) out += " COLLATE NOCASE";
    if (x.attributes & dbDescending) out += " DESC";
  }
  return out;
}

void CreatePhysicalIndex(DatabaseImpl& db, const CatalogTable& table, int64_t id, bool unique,
                         const std::vector<IndexFieldDef>& fields) {
  Exec(db.conn, std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                    QuoteName(PhysicalIndexName(id)) + " ON " + QuoteName(table.name) + " (" +
                    IndexColumns(table, fields) + ")");
}

}  // namespace

// Adds an index to the table `table_id`; `def.fields` name the table fields
// by id.  Runs inside a schema change.  Returns the index's id.
int64_t AddIndex(DatabaseImpl& db, int64_t table_id, const IndexDef& def) {
  std::shared_ptr<const Catalog> catalog = db.CurrentCatalog();
  const CatalogTable& table = TableOf(*catalog, table_id);
  if (table.FindIndex(def.name) != nullptr) {
    Raise(kErrIndexExists,
          "The index '" + def.name + "' already exists on table '" + table.name + "'.");
  }
  if (def.fields.empty()) {
    Raise(kErrNoFields, "The index '" + def.name + "' has no fields.");
  }
  if (def.primary) {
    for (const IndexDef& other : table.indexes) {
      if (other.primary) {
        Raise(kErrPrimaryExists, "Table '" + table.name + "' already has a primary key.");
      }
    }
  }
  if (!def.foreign) {
    for (const IndexDef& other : table.indexes) {
      if (other.foreign || other.fields.size() != def.fields.size()) continue;
      bool same = true;
      for (size_t i = 0; i < def.fields.size(); ++i) {
        same = same && other.fields[i].field_id == def.fields[i].field_id;
      }
      if (same) {
        Raise(kErrIndexExists, "An index on those fields already exists on table '" + table.name +
                                   "' ('" + other.name + "').");
      }
    }
  }
  if (def.primary || def.required) {
    std::string where;
    for (const IndexFieldDef& x : def.fields) {
      if (!where.empty()) where += " OR ";
      where += QuoteName(FieldOf(table, x.field_id).name) + " IS NULL";
    }
    Statement nulls(db.conn,
                    "SELECT 1 FROM " + QuoteName(table.name) + " WHERE " + where + " LIMIT 1");
    if (nulls.Step()) {
      Raise(kErrNullInIndex,
            "The index '" + def.name + "' cannot be built: a row holds Null in one of its fields.");
    }
  }
  Statement add(db.conn,
                "INSERT INTO daosys_indexes(table_id, name, is_primary, is_unique, required, "
                "ignore_nulls, clustered, is_foreign) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  add.Bind(1, table_id).Bind(2, def.name).Bind(3, int64_t{def.primary});
  add.Bind(4, int64_t{def.unique || def.primary}).Bind(5, int64_t{def.required || def.primary});
  add.Bind(6, int64_t{def.ignore_nulls}).Bind(7, int64_t{def.clustered});
  add.Bind(8, int64_t{def.foreign});
  add.Run();
  const int64_t id = LastId(db);
  std::vector<std::pair<int64_t, int64_t>> fields;
  for (const IndexFieldDef& f : def.fields) fields.emplace_back(f.field_id, f.attributes);
  InsertListRows(db,
                 "INSERT INTO daosys_index_fields(index_id, position, field_id, attributes) "
                 "VALUES (?, ?, ?, ?)",
                 id, fields);
  CreatePhysicalIndex(db, table, id, def.unique || def.primary, def.fields);
  return id;
}

void RemoveIndex(DatabaseImpl& db, int64_t id) {
  Exec(db.conn, "DROP INDEX IF EXISTS " + QuoteName(PhysicalIndexName(id)));
  Statement a(db.conn, "DELETE FROM daosys_index_fields WHERE index_id = ?");
  a.Bind(1, id).Run();
  Statement b(db.conn, "DELETE FROM daosys_indexes WHERE id = ?");
  b.Bind(1, id).Run();
}

// The index definition of an IndexImpl not appended yet, on `table`.
IndexDef ResolveIndex(const IndexImpl& impl, const CatalogTable& table) {
  IndexDef def = impl.def;
  CheckName(def.name, "index");
  def.fields.clear();
  for (const std::shared_ptr<FieldImpl>& f : impl.fields) {
    const FieldDef* column = table.FindField(f->def.name);
    if (column == nullptr) {
      NotFound("field '" + f->def.name + "' of index '" + def.name + "' in table '" + table.name +
               "'");
    }
    def.fields.push_back({column->id, f->def.attributes});
  }
  return def;
}

void AttachIndex(IndexImpl& impl, const std::shared_ptr<DatabaseImpl>& db, int64_t table_id,
                 int64_t id) {
  impl.db = db;
  impl.table_id = table_id;
  impl.def.id = id;
  for (size_t i = 0; i < impl.fields.size(); ++i) {
    FieldImpl& f = *impl.fields[i];
    f.home = FieldImpl::Home::kIndex;
    f.db = db;
    f.table_id = table_id;
    f.owner_id = id;
    f.position = static_cast<int>(i);
  }
}

// ---------------------------------------------------------------------------
// The fields of an index.

namespace {

// The catalog's row of appended index `i`; Gone when it has been deleted.
const IndexDef& IndexDefOf(const Catalog& s, const IndexImpl& i) {
  const IndexDef* d = TableOf(s, i.table_id).IndexById(i.def.id);
  if (d == nullptr) Gone("index");
  return *d;
}

// The properties of index `i` as they are now.
IndexDef CurrentIndex(const IndexImpl& i) {
  if (i.def.id == 0) return i.def;
  return IndexDefOf(*i.db->CurrentCatalog(), i);
}

class IndexFields : public MemberFields {
 public:
  explicit IndexFields(std::shared_ptr<IndexImpl> i)
      : MemberFields("index", FieldImpl::Home::kIndex), index(std::move(i)) {}

 private:
  Place PlaceNow() const override { return {index->db, index->table_id, index->def.id}; }
  std::vector<std::shared_ptr<FieldImpl>>& Local() override { return index->fields; }
  Listed ListedIn(const Catalog& s) const override {
    const IndexDef& d = IndexDefOf(s, *index);
    std::vector<int64_t> ids;
    for (const IndexFieldDef& f : d.fields) ids.push_back(f.field_id);
    return {d.name, index->table_id, std::move(ids)};
  }

  std::shared_ptr<IndexImpl> index;
};

}  // namespace
}  // namespace internal

using namespace internal;

// ---------------------------------------------------------------------------
// Index.

namespace {

template <class F>
void SetIndexProperty(const std::shared_ptr<IndexImpl>& impl, const char* name, F set) {
  SetBeforeAppend(impl, name, "DAO.Index", [&](IndexImpl& i) { set(i.def); });
}

}  // namespace

std::string Index::Name() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).name; });
}
void Index::SetName(const std::string& name) {
  SetIndexProperty(impl_, "Index.Name", [&](IndexDef& d) { d.name = name; });
}
bool Index::Primary() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).primary; });
}
void Index::SetPrimary(bool primary) {
  SetIndexProperty(impl_, "Index.Primary", [&](IndexDef& d) { d.primary = primary; });
}
bool Index::Unique() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).unique; });
}
void Index::SetUnique(bool unique) {
  SetIndexProperty(impl_, "Index.Unique", [&](IndexDef& d) { d.unique = unique; });
}
bool Index::Required() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).required; });
}
void Index::SetRequired(bool required) {
  SetIndexProperty(impl_, "Index.Required", [&](IndexDef& d) { d.required = required; });
}
bool Index::IgnoreNulls() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).ignore_nulls; });
}
void Index::SetIgnoreNulls(bool ignore) {
  SetIndexProperty(impl_, "Index.IgnoreNulls", [&](IndexDef& d) { d.ignore_nulls = ignore; });
}
bool Index::Clustered() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).clustered; });
}
void Index::SetClustered(bool clustered) {
  SetIndexProperty(impl_, "Index.Clustered", [&](IndexDef& d) { d.clustered = clustered; });
}
bool Index::Foreign() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(ObjectOrNothing(impl_)).foreign; });
}

FieldCollection Index::Fields() const {
  return RunQuiet("DAO.Index", [&] {
    ObjectOrNothing(impl_);
    return FieldOwner::Make(std::make_shared<IndexFields>(impl_));
  });
}

Field Index::CreateField(const std::string& name, int type, long size) {
  return RunOther("Index.CreateField", "DAO.Index", [&] {
    ObjectOrNothing(impl_);
    auto f = std::make_shared<FieldImpl>();
    f->def = NewFieldDef(name, type == 0 ? dbText : type, size);
    f->def.attributes = 0;
    return Access::MakeField(f);
  });
}

// ---------------------------------------------------------------------------
// IndexCollection.

int IndexCollection::Count() const {
  return RunQuiet("DAO.Indexes", [&] {
    TableDefImpl& td = ObjectOrNothing(table_);
    if (td.id == 0) return static_cast<int>(td.indexes.size());
    return static_cast<int>(TableOf(*td.db->CurrentCatalog(), td.id).indexes.size());
  });
}

namespace {
Index AttachedIndex(TableDefImpl& td, const IndexDef& d) {
  auto impl = std::make_shared<IndexImpl>();
  impl->def.id = d.id;
  impl->def.name = d.name;
  impl->db = td.db;
  impl->table_id = td.id;
  return Access::MakeIndex(impl);
}
}  // namespace

Index IndexCollection::Item(int index) const {
  return RunOther("Indexes.Item", "DAO.Indexes", [&] {
    TableDefImpl& td = ObjectOrNothing(table_);
    if (td.id == 0) {
      if (index < 0 || index >= static_cast<int>(td.indexes.size())) {
        NotFound("index " + std::to_string(index));
      }
      return Access::MakeIndex(td.indexes[index]);
    }
    std::shared_ptr<const Catalog> s = td.db->CurrentCatalog();
    const CatalogTable& t = TableOf(*s, td.id);
    if (index < 0 || index >= static_cast<int>(t.indexes.size())) {
      NotFound("index " + std::to_string(index) + " of table '" + t.name + "'");
    }
    return AttachedIndex(td, t.indexes[index]);
  });
}

Index IndexCollection::Item(const std::string& name) const {
  return RunOther("Indexes.Item", "DAO.Indexes", [&] {
    TableDefImpl& td = ObjectOrNothing(table_);
    if (td.id == 0) {
      for (const auto& i : td.indexes) {
        if (SameName(i->def.name, name)) return Access::MakeIndex(i);
      }
      NotFound("index '" + name + "'");
    }
    std::shared_ptr<const Catalog> s = td.db->CurrentCatalog();
    const CatalogTable& t = TableOf(*s, td.id);
    const IndexDef* d = t.FindIndex(name);
    if (d == nullptr) NotFound("index '" + name + "' of table '" + t.name + "'");
    return AttachedIndex(td, *d);
  });
}

void IndexCollection::Append(const Index& index) {
  RunOther("Indexes.Append", "DAO.Indexes", [&] {
    TableDefImpl& td = ObjectOrNothing(table_);
    const std::shared_ptr<IndexImpl>& impl = Access::ImplOf(index);
    if (!impl) RaiseNothing();
    if (impl->def.id != 0) {
      Raise(kErrInvalidOperation, "The index '" + impl->def.name + "' is already appended.");
    }
    CheckName(impl->def.name, "index");
    if (impl->fields.empty()) {
      Raise(kErrNoFields, "The index '" + impl->def.name + "' has no fields.");
    }
    if (td.id == 0) {
      for (const auto& i : td.indexes) {
        if (SameName(i->def.name, impl->def.name)) {
          Raise(kErrIndexExists, "The index '" + impl->def.name + "' already exists.");
        }
      }
      td.indexes.push_back(impl);
      return;
    }
    DatabaseImpl& db = *td.db;
    int64_t id = 0;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      IndexDef def = ResolveIndex(*impl, TableOf(*s, td.id));
      def.foreign = false;
      id = AddIndex(db, td.id, def);
    });
    AttachIndex(*impl, td.db, td.id, id);
  });
}

void IndexCollection::Delete(const std::string& name) {
  RunOther("Indexes.Delete", "DAO.Indexes", [&] {
    TableDefImpl& td = ObjectOrNothing(table_);
    if (td.id == 0) {
      for (size_t i = 0; i < td.indexes.size(); ++i) {
        if (SameName(td.indexes[i]->def.name, name)) {
          td.indexes.erase(td.indexes.begin() + static_cast<long>(i));
          return;
        }
      }
      NotFound("index '" + name + "'");
    }
    DatabaseImpl& db = *td.db;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const CatalogTable& t = TableOf(*s, td.id);
      const IndexDef* d = t.FindIndex(name);
      if (d == nullptr) NotFound("index '" + name + "' of table '" + t.name + "'");
      std::set<int64_t> fields;
      for (const IndexFieldDef& x : d->fields) fields.insert(x.field_id);
      for (const RelationDef& r : s->relations) {
        std::set<int64_t> primary, foreign;
        for (const auto& [p, f] : r.fields) {
          primary.insert(p);
          foreign.insert(f);
        }
        const bool used = (d->foreign && r.foreign_table_id == t.id && SameName(r.name, d->name)) ||
                          ((d->unique || d->primary) && r.table_id == t.id && primary == fields &&
                           !(r.attributes & dbRelationDontEnforce));
        if (used) {
          Raise(kErrFieldInRelation, "The index '" + d->name + "' cannot be deleted: relation '" +
                                         r.name + "' uses it.");
        }
      }
      RemoveIndex(db, d->id);
    });
  });
}

void IndexCollection::Refresh() {
  RunOther("Indexes.Refresh", "DAO.Indexes", [&] { ObjectOrNothing(table_); });
}

}  // namespace dao
