// Relations: the triggers that enforce them, Relation, the fields of a
// relation, RelationCollection, and the database's schema calls
// (TableDefs, Relations, CreateTableDef, CreateRelation).

#include <set>

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

// ---------------------------------------------------------------------------
// Relation triggers.  The relations are enforced by triggers made from the
// catalog after every schema change, so a renamed or replaced column is
// always the one they name.  Their RAISE texts carry our error number.

namespace {

// Related keys compare as the keys of their indexes do (FoldsCase), so that
// those indexes serve the relation's look-ups.
std::string KeyCollation(const FieldDef& field) {
  return FoldsCase(field) ? " COLLATE NOCASE" : "";
}

std::string MatchCondition(const CatalogTable& primary, const CatalogTable& foreign,
                           const RelationDef& r, const std::string& primary_ref,
                           const std::string& foreign_ref) {
  std::string out;
  for (const auto& [p, f] : r.fields) {
    if (!out.empty()) out += " AND ";
    out += primary_ref + QuoteName(FieldOf(primary, p).name) + " = " + foreign_ref +
           QuoteName(FieldOf(foreign, f).name) + KeyCollation(FieldOf(primary, p));
  }
  return out;
}

}  // namespace

// The name of a relation trigger: on the foreign table "fi" (insert) and
// "fu" (update), on the primary table "pd" (delete) and "pu" (update).
std::string RelationTriggerName(int64_t relation_id, const char* what) {
  return "daosys_rel_" + std::to_string(relation_id) + "_" + what;
}

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

std::vector<RelationTrigger> RelationTriggers(const Catalog& catalog) {
  std::vector<RelationTrigger> triggers;
  for (const RelationDef& r : catalog.relations) {
    if (r.attributes & dbRelationDontEnforce) continue;
    const CatalogTable& p = TableOf(catalog, r.table_id);
    const CatalogTable& f = TableOf(catalog, r.foreign_table_id);
    const std::string P = QuoteName(p.name), F = QuoteName(f.name);
    // Each trigger's text is kept with its name and table, so that a
    // trigger of that name with any other text is known for one that is not
    // the engine's.
    auto add = [&](const char* what, const CatalogTable& table, const std::string& rest) {
      const std::string name = RelationTriggerName(r.id, what);
      triggers.push_back({name, table.name, "CREATE TRIGGER " + QuoteName(name) + rest, r.name});
    };
    std::string any_new, foreign_cols, primary_cols, old_differs, set_new;
    for (const auto& [pid, fid] : r.fields) {
      const std::string pn = QuoteName(FieldOf(p, pid).name);
      const std::string fn = QuoteName(FieldOf(f, fid).name);
      auto join = [](std::string& s, const char* sep, const std::string& part) {
        if (!s.empty()) s += sep;
        s += part;
      };
      join(any_new, " OR ", "NEW." + fn + " IS NOT NULL");
      join(foreign_cols, ", ", fn);
      join(primary_cols, ", ", pn);
      join(old_differs, " OR ", "OLD." + pn + " IS NOT NEW." + pn + KeyCollation(FieldOf(p, pid)));
      join(set_new, ", ", fn + " = NEW." + pn);
    }
    const std::string required = QuoteText(TriggerMessage(
        kErrRelatedRecordRequired,
        "You cannot add or change a record because a related record is required in table '" +
            p.name + "' (relation '" + r.name + "')."));
    const std::string related = QuoteText(TriggerMessage(
        kErrRelatedRecordsExist, "The record cannot be deleted or changed because table '" +
                                     f.name + "' includes related records (relation '" + r.name +
                                     "')."));
    const std::string unmatched = "(" + any_new + ") AND NOT EXISTS (SELECT 1 FROM " + P +
                                  " WHERE " + MatchCondition(p, f, r, P + ".", "NEW.") + ")";
    add("fi", f,
        " BEFORE INSERT ON " + F + " WHEN " + unmatched + " BEGIN SELECT RAISE(ABORT, " + required +
            "); END");
    add("fu", f,
        " BEFORE UPDATE OF " + foreign_cols + " ON " + F + " WHEN " + unmatched +
            " BEGIN SELECT RAISE(ABORT, " + required + "); END");
    const std::string referenced = MatchCondition(p, f, r, "OLD.", F + ".");
    if (r.attributes & dbRelationDeleteCascade) {
      add("pd", p,
          " AFTER DELETE ON " + P + " BEGIN DELETE FROM " + F + " WHERE " + referenced + "; END");
    } else {
      add("pd", p,
          " BEFORE DELETE ON " + P + " WHEN EXISTS (SELECT 1 FROM " + F + " WHERE " + referenced +
              ") BEGIN SELECT RAISE(ABORT, " + related + "); END");
    }
    if (r.attributes & dbRelationUpdateCascade) {
      add("pu", p,
          " AFTER UPDATE OF " + primary_cols + " ON " + P + " WHEN " + old_differs +
              " BEGIN UPDATE " + F + " SET " + set_new + " WHERE " + referenced + "; END");
    } else {
      add("pu", p,
          " BEFORE UPDATE OF " + primary_cols + " ON " + P + " WHEN (" + old_differs +
              ") AND EXISTS (SELECT 1 FROM " + F + " WHERE " + referenced +
              ") BEGIN SELECT RAISE(ABORT, " + related + "); END");
    }
  }
  return triggers;
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
    for (const auto& [primary, foreign] : d.fields) listed.field_ids.push_back(primary);
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

void RelationCollection::Append(const Relation& relation) {
  RunOther("Relations.Append", "DAO.Relations", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    RelationImpl* rel = &ToAppend(Access::ImplOf(relation), "relation");
    if (rel->fields.empty()) {
      Raise(kErrNoFields, "The relation '" + rel->name + "' has no fields.");
    }
    int64_t id = 0;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      if (s->FindRelation(rel->name) != nullptr) {
        Raise(kErrIndexExists, "The relation '" + rel->name + "' already exists.");
      }
      const CatalogTable* p = s->FindTable(rel->table);
      if (p == nullptr) NotFound("table '" + rel->table + "' of relation '" + rel->name + "'");
      const CatalogTable* f = s->FindTable(rel->foreign_table);
      if (f == nullptr) {
        NotFound("table '" + rel->foreign_table + "' of relation '" + rel->name + "'");
      }
      RelationDef def;
      def.name = rel->name;
      def.table_id = p->id;
      def.foreign_table_id = f->id;
      def.attributes = rel->attributes;
      std::set<int64_t> primary_ids;
      for (const auto& field : rel->fields) {
        const FieldDef* pf = p->FindField(field->def.name);
        if (pf == nullptr) NotFound("field '" + field->def.name + "' in table '" + p->name + "'");
        const std::string foreign_name =
            field->foreign_name.empty() ? field->def.name : field->foreign_name;
        const FieldDef* ff = f->FindField(foreign_name);
        if (ff == nullptr) NotFound("field '" + foreign_name + "' in table '" + f->name + "'");
        CheckRelatedTypes(*pf, *ff, rel->name);
        def.fields.emplace_back(pf->id, ff->id);
        primary_ids.insert(pf->id);
      }
      const bool enforced = !(def.attributes & dbRelationDontEnforce);
      if (enforced) {
        bool keyed = false;
        for (const IndexDef& i : p->indexes) {
          if (i.foreign || !(i.unique || i.primary)) continue;
          std::set<int64_t> ids;
          for (const IndexFieldDef& x : i.fields) ids.insert(x.field_id);
          keyed = keyed || ids == primary_ids;
        }
        if (!keyed) {
          Raise(kErrRelationInvalid, "The relation '" + rel->name +
                                         "' needs a unique index on its fields in table '" +
                                         p->name + "'.");
        }
        std::string any, match;
        for (const auto& [pid, fid] : def.fields) {
          const std::string fn = "x." + QuoteName(FieldOf(*f, fid).name);
          if (!any.empty()) any += " OR ", match += " AND ";
          any += fn + " IS NOT NULL";
          match +=
              "y." + QuoteName(FieldOf(*p, pid).name) + " = " + fn + KeyCollation(FieldOf(*p, pid));
        }
        Statement orphans(db.conn, "SELECT 1 FROM " + QuoteName(f->name) + " x WHERE (" + any +
                                       ") AND NOT EXISTS (SELECT 1 FROM " + QuoteName(p->name) +
                                       " y WHERE " + match + ") LIMIT 1");
        if (orphans.Step()) {
          Raise(kErrRelatedRecordRequired,
                "The relation '" + rel->name + "' cannot be made: rows of table '" + f->name +
                    "' have no related record in table '" + p->name + "'.");
        }
      }
      Statement add(db.conn,
                    "INSERT INTO daosys_relations(name, table_id, foreign_table_id, attributes) "
                    "VALUES (?, ?, ?, ?)");
      add.Bind(1, def.name).Bind(2, def.table_id).Bind(3, def.foreign_table_id);
      add.Bind(4, static_cast<int64_t>(def.attributes)).Run();
      id = LastId(db);
      for (size_t i = 0; i < def.fields.size(); ++i) {
        Statement x(db.conn,
                    "INSERT INTO daosys_relation_fields(relation_id, position, field_id, "
                    "foreign_field_id) VALUES (?, ?, ?, ?)");
        x.Bind(1, id).Bind(2, static_cast<int64_t>(i)).Bind(3, def.fields[i].first);
        x.Bind(4, def.fields[i].second).Run();
      }
      // The index that stands for the foreign key, named after the relation.
      IndexDef foreign_index;
      foreign_index.name = def.name;
      foreign_index.foreign = true;
      foreign_index.unique = (def.attributes & dbRelationUnique) != 0;
      for (const auto& [pid, fid] : def.fields) foreign_index.fields.push_back({fid, 0});
      db.SchemaChanged();
      AddIndex(db, f->id, foreign_index);
    });
    rel->db = db_;
    rel->id = id;
    for (size_t i = 0; i < rel->fields.size(); ++i) {
      FieldImpl& f = *rel->fields[i];
      f.home = FieldImpl::Home::kRelation;
      f.db = db_;
      f.owner_id = id;
      f.position = static_cast<int>(i);
    }
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

TableDefCollection Database::TableDefs() const {
  return RunQuiet("DAO.Database", [&] {
    OpenDatabaseOrNothing(impl_);
    return TableDefCollection(impl_);
  });
}

RelationCollection Database::Relations() const {
  return RunQuiet("DAO.Database", [&] {
    OpenDatabaseOrNothing(impl_);
    return RelationCollection(impl_);
  });
}

TableDef Database::CreateTableDef(const std::string& name) {
  return RunOther("CreateTableDef", "DAO.Database", [&] {
    OpenDatabaseOrNothing(impl_);
    auto td = std::make_shared<TableDefImpl>();
    td->name = name;
    td->db = impl_;
    return Access::MakeTableDef(td);
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
