// Fields: Field, which reads an appended field from its catalog row
// wherever it lives (a table, an index, a relation), and FieldCollection,
// which hands each call to its owner's collection (tables.cc, indexes.cc,
// relations.cc).  Also the new-field and look-up helpers those collections
// share.

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

// ---------------------------------------------------------------------------
// Fields not appended yet, and the look-ups of their collections.

FieldDef NewFieldDef(const std::string& name, int type, long size) {
  FieldDef def;
  def.name = name;
  def.type = type;
  def.size = type == dbText ? (size > 0 ? size : 50) : DefaultSize(type);
  def.attributes = type == dbText ? dbVariableField : dbFixedField;
  return def;
}

std::shared_ptr<FieldImpl> StandaloneOf(const Field& field) {
  const std::shared_ptr<FieldImpl>& f = Access::ImplOf(field);
  if (!f) RaiseNothing();
  if (f->home != FieldImpl::Home::kNone) {
    Raise(kErrInvalidOperation, "The field '" + f->def.name + "' is already appended.");
  }
  return f;
}

int FindLocal(const std::vector<std::shared_ptr<FieldImpl>>& fields, const std::string& name) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (SameName(fields[i]->def.name, name)) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// The current definition of a field, wherever it lives.
FieldDef CurrentDef(const FieldImpl& f) {
  switch (f.home) {
    case FieldImpl::Home::kNone:
      return f.def;
    case FieldImpl::Home::kTable: {
      std::shared_ptr<const Catalog> s = f.db->CurrentCatalog();
      return FieldOf(TableOf(*s, f.table_id), f.field_id);
    }
    case FieldImpl::Home::kIndex: {
      std::shared_ptr<const Catalog> s = f.db->CurrentCatalog();
      const CatalogTable& t = TableOf(*s, f.table_id);
      const IndexDef* index = t.IndexById(f.owner_id);
      if (index == nullptr || f.position >= static_cast<int>(index->fields.size())) {
        Gone("index");
      }
      FieldDef def = FieldOf(t, index->fields[f.position].field_id);
      def.attributes = index->fields[f.position].attributes;
      return def;
    }
    case FieldImpl::Home::kRelation: {
      std::shared_ptr<const Catalog> s = f.db->CurrentCatalog();
      const RelationDef* r = s->RelationById(f.owner_id);
      if (r == nullptr || f.position >= static_cast<int>(r->fields.size())) Gone("relation");
      return FieldOf(TableOf(*s, r->table_id), r->fields[f.position].first);
    }
  }
  return f.def;
}

// Changes one column of a table field's catalog row.
void UpdateFieldColumn(FieldImpl& f, const char* column, int64_t value) {
  DatabaseImpl& db = *f.db;
  ChangeSchema(db, [&] {
    std::shared_ptr<const Catalog> s = db.CurrentCatalog();
    FieldOf(TableOf(*s, f.table_id), f.field_id);
    Statement st(db.conn, std::string("UPDATE daosys_fields SET ") + column + " = ? WHERE id = ?");
    st.Bind(1, value).Bind(2, f.field_id).Run();
  });
}

}  // namespace
}  // namespace internal

using namespace internal;

// ---------------------------------------------------------------------------
// Field.

std::string Field::Name() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(ObjectOrNothing(impl_)).name; });
}

void Field::SetName(const std::string& name) {
  RunOther("Field.Name", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home == FieldImpl::Home::kNone) {
      f.def.name = name;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    CheckName(name, "field");
    DatabaseImpl& db = *f.db;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const CatalogTable& t = TableOf(*s, f.table_id);
      const FieldDef& current = FieldOf(t, f.field_id);
      const FieldDef* other = t.FindField(name);
      if (other != nullptr && other->id != current.id) {
        Raise(kErrFieldExists,
              "The field '" + name + "' already exists in table '" + t.name + "'.");
      }
      if (current.name == name) return;
      Exec(db.conn, "ALTER TABLE " + QuoteName(t.name) + " RENAME COLUMN " +
                        QuoteName(current.name) + " TO " + QuoteName(name));
      Statement st(db.conn, "UPDATE daosys_fields SET name = ? WHERE id = ?");
      st.Bind(1, name).Bind(2, current.id).Run();
    });
  });
}

int Field::Type() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(ObjectOrNothing(impl_)).type; });
}

void Field::SetType(int type) {
  RunOther("Field.Type", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home != FieldImpl::Home::kNone) Fixed();
    f.def.type = type;
    if (type != dbText) f.def.size = DefaultSize(type);
  });
}

long Field::Size() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(ObjectOrNothing(impl_)).size; });
}

void Field::SetSize(long size) {
  RunOther("Field.Size", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home != FieldImpl::Home::kNone) Fixed();
    if (f.def.type == dbText) f.def.size = size;
  });
}

bool Field::AllowZeroLength() const {
  return RunQuiet("DAO.Field",
                  [&] { return CurrentDef(ObjectOrNothing(impl_)).allow_zero_length; });
}

void Field::SetAllowZeroLength(bool allow) {
  RunOther("Field.AllowZeroLength", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home == FieldImpl::Home::kNone) {
      f.def.allow_zero_length = allow;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    UpdateFieldColumn(f, "allow_zero_length", allow);
  });
}

bool Field::Required() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(ObjectOrNothing(impl_)).required; });
}

void Field::SetRequired(bool required) {
  RunOther("Field.Required", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home == FieldImpl::Home::kNone) {
      f.def.required = required;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    UpdateFieldColumn(f, "required", required);
  });
}

long Field::Attributes() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(ObjectOrNothing(impl_)).attributes; });
}

void Field::SetAttributes(long attributes) {
  RunOther("Field.Attributes", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home != FieldImpl::Home::kNone) Fixed();
    f.def.attributes = attributes;
  });
}

int Field::OrdinalPosition() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(ObjectOrNothing(impl_)).ordinal; });
}

void Field::SetOrdinalPosition(int position) {
  RunOther("Field.OrdinalPosition", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home == FieldImpl::Home::kNone) {
      f.def.ordinal = position;
      f.ordinal_set = true;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    UpdateFieldColumn(f, "ordinal_position", position);
  });
}

std::string Field::ForeignName() const {
  return RunQuiet("DAO.Field", [&] {
    const FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home != FieldImpl::Home::kRelation) return f.foreign_name;
    std::shared_ptr<const Catalog> s = f.db->CurrentCatalog();
    const RelationDef* r = s->RelationById(f.owner_id);
    if (r == nullptr || f.position >= static_cast<int>(r->fields.size())) Gone("relation");
    return FieldOf(TableOf(*s, r->foreign_table_id), r->fields[f.position].second).name;
  });
}

void Field::SetForeignName(const std::string& name) {
  RunOther("Field.ForeignName", "DAO.Field", [&] {
    FieldImpl& f = ObjectOrNothing(impl_);
    if (f.home != FieldImpl::Home::kNone) Fixed();
    f.foreign_name = name;
  });
}

// ---------------------------------------------------------------------------
// FieldCollection.

int FieldCollection::Count() const {
  return RunQuiet("DAO.Fields", [&] { return ObjectOrNothing(owner_).Count(); });
}

Field FieldCollection::Item(int index) const {
  return RunOther("Fields.Item", "DAO.Fields", [&] { return ObjectOrNothing(owner_).Item(index); });
}

Field FieldCollection::Item(const std::string& name) const {
  return RunOther("Fields.Item", "DAO.Fields", [&] { return ObjectOrNothing(owner_).Item(name); });
}

void FieldCollection::Append(const Field& field) {
  RunOther("Fields.Append", "DAO.Fields", [&] { ObjectOrNothing(owner_).Append(field); });
}

void FieldCollection::Delete(const std::string& name) {
  RunOther("Fields.Delete", "DAO.Fields", [&] { ObjectOrNothing(owner_).Delete(name); });
}

void FieldCollection::Refresh() {
  RunOther("Fields.Refresh", "DAO.Fields", [&] { ObjectOrNothing(owner_); });
}

}  // namespace dao
