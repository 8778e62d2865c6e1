// The parts of the schema object model that every other part uses: the
// errors of a gone, missing or fixed object, the name rule, and the catalog
// look-ups by id (declared in internal/schema.h).  Also the comparison of
// the file's triggers with the engine's own, which both the check of the
// catalog against the file and the statements use.

#include <algorithm>

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

[[noreturn]] void Gone(const char* what) {
  Raise(kErrObjectInvalid,
        std::string("Object invalid or no longer set: the ") + what + " no longer exists.");
}

[[noreturn]] void NotFound(const std::string& what) {
  Raise(kErrItemNotFound, "Item not found in this collection: " + what + ".");
}

[[noreturn]] void Fixed() {
  Raise(kErrInvalidOperation,
        "Invalid operation: this property cannot be changed once the object is appended.");
}

bool ValidName(const std::string& name) {
  return !name.empty() && name.size() <= 64 && name.find_first_of("\"[]!.`") == std::string::npos &&
         name.front() != ' ';
}

void CheckName(const std::string& name, const char* what) {
  if (!ValidName(name)) {
    Raise(kErrBadName, "'" + name + "' is not a valid name for a " + what + ".");
  }
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

int64_t LastId(DatabaseImpl& db) { return sqlite3_last_insert_rowid(db.conn); }

TriggersInFile CompareTriggers(sqlite3* conn, const Catalog& catalog) {
  const std::vector<RelationTrigger> ours = RelationTriggers(catalog);
  std::vector<bool> there(ours.size(), false);
  TriggersInFile out;
  Statement st(conn, "SELECT name, tbl_name, sql FROM sqlite_master WHERE type = 'trigger'");
  while (st.Step()) {
    const std::string name = st.Text(0);
    const auto same_name = [&](const RelationTrigger& t) { return SameName(t.name, name); };
    const auto it = std::find_if(ours.begin(), ours.end(), same_name);
    if (it != ours.end() && SameName(it->table, st.Text(1)) && it->sql == st.Text(2)) {
      there[it - ours.begin()] = true;
    } else {
      out.others = true;
    }
  }
  for (size_t i = 0; i < ours.size() && !out.wrong; ++i) {
    if (!there[i]) out.wrong = ours[i];
  }
  return out;
}

}  // namespace internal
}  // namespace dao
