// The parts of the schema object model that every other part uses: the
// errors of a gone, missing or fixed object, the name rule, and the catalog
// look-ups by id (declared in internal/schema.h).  Also the check of the
// catalog against the file, which looks at tables, indexes and relation
// triggers alike, and the comparison of the file's triggers with the
// engine's own that both that check and the statements use.

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

void CheckName(const std::string& name, const char* what) {
  if (name.empty() || name.size() > 64 || name.find_first_of("\"[]!.`") != std::string::npos ||
      name.front() == ' ') {
    Raise(kErrBadName, "'" + name + "' is not a valid name for a " + what + ".");
  }
}

const TableSchema& TableOf(const Schema& schema, int64_t id) {
  const TableSchema* t = schema.TableById(id);
  if (t == nullptr) Gone("table");
  return *t;
}

const FieldDef& FieldOf(const TableSchema& table, int64_t id) {
  const FieldDef* f = table.FieldById(id);
  if (f == nullptr) Gone("field");
  return *f;
}

int64_t LastId(DatabaseImpl& db) { return sqlite3_last_insert_rowid(db.conn); }

// ---------------------------------------------------------------------------
// The catalog against the file.  Another SQLite program can change the file
// behind the catalog's back (a table rebuilt without its indexes, a trigger
// dropped), and then the engine would no longer refuse what it promises to.

std::string MissingFromFile(sqlite3* conn, const Schema& schema) {
  Statement columns(conn, "SELECT name FROM pragma_table_info(?)");
  Statement index(conn, "SELECT \"unique\", partial FROM pragma_index_list(?) WHERE name = ?");
  Statement keys(conn,
                 "SELECT name, \"desc\", coll FROM pragma_index_xinfo(?) WHERE key "
                 "ORDER BY seqno");
  for (const TableSchema& t : schema.tables) {
    const std::string of_table = " of table '" + t.name + "'";
    std::vector<std::string> names;
    columns.Reset();
    columns.Bind(1, t.name);
    while (columns.Step()) names.push_back(columns.Text(0));
    for (const FieldDef& f : t.fields) {
      if (std::none_of(names.begin(), names.end(),
                       [&](const std::string& n) { return SameName(n, f.name); })) {
        return "the column of field '" + f.name + "'" + of_table + " is missing";
      }
    }
    for (const IndexDef& i : t.indexes) {
      const std::string physical = PhysicalIndexName(i.id);
      const std::string wrong = "the index '" + i.name + "'" + of_table +
                                " is missing or not as its catalog describes it";
      index.Reset();
      index.Bind(1, t.name).Bind(2, physical);
      if (!index.Step() || (index.Int(0) != 0) != (i.unique || i.primary) || index.Int(1) != 0) {
        return wrong;
      }
      keys.Reset();
      keys.Bind(1, physical);
      for (const IndexFieldDef& x : i.fields) {
        const FieldDef* f = t.FieldById(x.field_id);
        if (f == nullptr || !keys.Step() || !SameName(keys.Text(0), f->name) ||
            (keys.Int(1) != 0) != ((x.attributes & dbDescending) != 0) ||
            !SameName(keys.Text(2), FoldsCase(*f) ? "NOCASE" : "BINARY")) {
          return wrong;
        }
      }
      if (i.fields.empty() || keys.Step()) return wrong;
    }
  }
  for (const RelationDef& r : schema.relations) {
    const TableSchema* p = schema.TableById(r.table_id);
    const TableSchema* f = schema.TableById(r.foreign_table_id);
    const bool fields_there =
        p != nullptr && f != nullptr && !r.fields.empty() &&
        std::all_of(r.fields.begin(), r.fields.end(), [&](const auto& pair) {
          return p->FieldById(pair.first) != nullptr && f->FieldById(pair.second) != nullptr;
        });
    if (!fields_there) return "the tables or fields of relation '" + r.name + "' are missing";
  }
  if (const std::optional<RelationTrigger> wrong = CompareTriggers(conn, schema).wrong) {
    return "the rules of relation '" + wrong->relation + "' are missing or altered (trigger '" +
           wrong->name + "')";
  }
  return {};
}

TriggersInFile CompareTriggers(sqlite3* conn, const Schema& schema) {
  const std::vector<RelationTrigger> ours = RelationTriggers(schema);
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
