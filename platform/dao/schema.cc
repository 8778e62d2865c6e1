// The parts of the schema object model that every other part uses: the
// errors of a missing or fixed object, the name check, the catalog rows of
// an index's or relation's fields, and the fields of an index or relation
// as a collection (declared in internal/schema.h).

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

[[noreturn]] void NotFound(const std::string& what) {
  Raise(kErrItemNotFound, "Item not found in this collection: " + what + ".");
}

[[noreturn]] void Fixed() {
  Raise(kErrInvalidOperation,
        "Invalid operation: this property cannot be changed once the object is appended.");
}

void CheckName(const std::string& name, const char* what) {
  if (!ValidName(name)) {
    Raise(kErrBadName, "'" + name + "' is not a valid name for a " + what + ".");
  }
}

int64_t LastId(DatabaseImpl& db) { return sqlite3_last_insert_rowid(db.conn); }

void InsertListRows(DatabaseImpl& db, const std::string& insert, int64_t owner_id,
                    const std::vector<std::pair<int64_t, int64_t>>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    Statement row(db.conn, insert);
    row.Bind(1, owner_id).Bind(2, static_cast<int64_t>(i)).Bind(3, values[i].first);
    row.Bind(4, values[i].second).Run();
  }
}

int MemberFields::LocalPlace(const std::string& name) {
  const int i = FindLocal(Local(), name);
  if (i < 0) NotFound("field '" + name + "' of the " + kind_);
  return i;
}

Field MemberFields::Attached(int position) const {
  const Place place = PlaceNow();
  auto f = std::make_shared<FieldImpl>();
  f->home = home_;
  f->db = place.db;
  f->table_id = place.table_id;
  f->owner_id = place.id;
  f->position = position;
  return Access::MakeField(f);
}

int MemberFields::Count() {
  if (!Appended()) return static_cast<int>(Local().size());
  return static_cast<int>(ListedIn(*PlaceNow().db->CurrentCatalog()).field_ids.size());
}

Field MemberFields::Item(int index) {
  if (index < 0 || index >= Count()) {
    NotFound("field " + std::to_string(index) + " of the " + kind_);
  }
  if (!Appended()) return Access::MakeField(Local()[index]);
  return Attached(index);
}

Field MemberFields::Item(const std::string& name) {
  if (!Appended()) return Access::MakeField(Local()[LocalPlace(name)]);
  std::shared_ptr<const Catalog> catalog = PlaceNow().db->CurrentCatalog();
  const Listed listed = ListedIn(*catalog);
  const CatalogTable& table = TableOf(*catalog, listed.table_id);
  for (size_t i = 0; i < listed.field_ids.size(); ++i) {
    if (SameName(FieldOf(table, listed.field_ids[i]).name, name)) {
      return Attached(static_cast<int>(i));
    }
  }
  NotFound("field '" + name + "' of " + kind_ + " '" + listed.name + "'");
}

void MemberFields::Append(const Field& field) {
  if (Appended()) Fixed();
  std::shared_ptr<FieldImpl> f = StandaloneOf(field);
  CheckName(f->def.name, "field");
  if (FindLocal(Local(), f->def.name) >= 0) {
    Raise(kErrFieldExists,
          std::string("The ") + kind_ + " already has the field '" + f->def.name + "'.");
  }
  Local().push_back(f);
}

void MemberFields::Delete(const std::string& name) {
  if (Appended()) Fixed();
  const int i = LocalPlace(name);
  Local().erase(Local().begin() + i);
}

}  // namespace internal
}  // namespace dao
