// The check of a file's catalog, against itself and against the file it
// describes (MissingFromFile in internal/catalog.h).

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/relation_triggers.h"
#include "platform/dao/internal/sqlite.h"

namespace dao {
namespace internal {

// ---------------------------------------------------------------------------
// The catalog against itself.  Another SQLite program can change the
// catalog's rows and tables as well as the tables they describe.  The
// engine goes on only with a catalog it could have written itself: a later
// step that relies on it (a retyping that makes an index or a relation
// again, an insert that takes the next id) would otherwise find out half
// way and leave a changed file behind.

namespace {

// The rows of `sql`, `columns` values each, with `bind` bound to ?1 when
// given; every value as text, Null as "<null>".
std::vector<std::string> Rows(sqlite3* conn, const std::string& sql, int columns,
                              const std::optional<std::string>& bind = {}) {
  Statement st(conn, sql);
  if (bind) st.Bind(1, *bind);
  std::vector<std::string> rows;
  while (st.Step()) {
    std::string row;
    for (int i = 0; i < columns; ++i) row += (st.IsNull(i) ? "<null>" : st.Text(i)) + "|";
    rows.push_back(std::move(row));
  }
  return rows;
}

// The shape of the catalog table `table` of `conn` in words that compare:
// what kind of object it is, its columns (name, declared type, NOT NULL,
// default, place in the primary key), its unique keys (whether made by a
// constraint or the primary key, partial, and their columns with order and
// collation) and how many triggers act on it.
std::vector<std::string> CatalogTableShape(sqlite3* conn, const std::string& table) {
  std::vector<std::string> out =
      Rows(conn, "SELECT type FROM sqlite_master WHERE name = ?1 COLLATE NOCASE", 1, table);
  for (const std::string& column : Rows(conn,
                                        "SELECT upper(name), upper(type), \"notnull\", "
                                        "dflt_value, pk FROM pragma_table_info(?1)",
                                        5, table)) {
    out.push_back("column " + column);
  }
  std::vector<std::string> keys;
  for (const std::string& index :
       Rows(conn, "SELECT name, origin, partial FROM pragma_index_list(?1) WHERE \"unique\"", 3,
            table)) {
    const std::string name = index.substr(0, index.find('|'));
    std::string key = "key " + index.substr(name.size() + 1);
    for (const std::string& column : Rows(conn,
                                          "SELECT upper(name), \"desc\", upper(coll) FROM "
                                          "pragma_index_xinfo(?1) WHERE key ORDER BY seqno",
                                          3, name)) {
      key += " " + column;
    }
    keys.push_back(std::move(key));
  }
  std::sort(keys.begin(), keys.end());
  out.insert(out.end(), keys.begin(), keys.end());
  out.push_back(Rows(conn,
                     "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                     "tbl_name = ?1 COLLATE NOCASE",
                     1, table)
                    .at(0));
  return out;
}

// A catalog table as CreateCatalog makes it: its name, its shape, and the
// condition under which one of its rows holds a value of another type than
// its column declares.
struct CatalogTableAsMade {
  std::string name;
  std::vector<std::string> shape;
  std::string wrong_type;
};

// The catalog tables as CreateCatalog makes them, found out once on a
// database in memory, so that the check cannot differ from what is made.
const std::vector<CatalogTableAsMade>& CatalogTablesAsMade() {
  static const std::vector<CatalogTableAsMade> tables = [] {
    const MemoryDatabase memory;
    sqlite3* mem = memory.conn();
    std::vector<CatalogTableAsMade> out;
    CreateCatalog(mem, std::nullopt, "");
    for (std::string name : Rows(mem,
                                 "SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                 "name LIKE 'daosys\\_%' ESCAPE '\\' ORDER BY name",
                                 1)) {
      name.pop_back();
      CatalogTableAsMade t{name, CatalogTableShape(mem, name), {}};
      Statement columns(mem, "SELECT name, type, \"notnull\" FROM pragma_table_info(?1)");
      columns.Bind(1, name);
      while (columns.Step()) {
        const std::string column = QuoteName(columns.Text(0));
        const std::string type = columns.Text(1) == "INTEGER" ? "integer" : "text";
        if (!t.wrong_type.empty()) t.wrong_type += " OR ";
        t.wrong_type += "typeof(" + column + ") NOT IN ('" + type + "'" +
                        (columns.Int(2) != 0 ? "" : ", 'null'") + ")";
      }
      out.push_back(std::move(t));
    }
    return out;
  }();
  return tables;
}

bool IsCatalogTable(const std::string& name) {
  const auto& tables = CatalogTablesAsMade();
  return std::any_of(tables.begin(), tables.end(),
                     [&](const CatalogTableAsMade& t) { return SameName(t.name, name); });
}

// The first row of `sql` (its first value), or none.
std::optional<std::string> First(sqlite3* conn, const std::string& sql) {
  Statement st(conn, sql);
  if (!st.Step()) return std::nullopt;
  return st.IsNull(0) ? std::string("<null>") : st.Text(0);
}

// The catalog's rows: each value in range, each reference resolving.
std::string CatalogRowFault(sqlite3* conn) {
  struct RowCheck {
    const char* sql;  // the name of the first row at fault
    const char* fault;
  };
  static const RowCheck kChecks[] = {
      {"SELECT name FROM daosys_fields WHERE table_id NOT IN (SELECT id FROM daosys_tables)",
       "belongs to no table"},
      {"SELECT name FROM daosys_indexes WHERE table_id NOT IN (SELECT id FROM daosys_tables)",
       "belongs to no table"},
      {"SELECT index_id FROM daosys_index_fields "
       "WHERE index_id NOT IN (SELECT id FROM daosys_indexes)",
       "belongs to no index"},
      {"SELECT relation_id FROM daosys_relation_fields "
       "WHERE relation_id NOT IN (SELECT id FROM daosys_relations)",
       "belongs to no relation"},
      {"SELECT name FROM daosys_relations WHERE table_id NOT IN (SELECT id FROM daosys_tables) "
       "OR foreign_table_id NOT IN (SELECT id FROM daosys_tables)",
       "names a table that is not there"},
      {"SELECT i.name FROM daosys_index_fields x JOIN daosys_indexes i ON i.id = x.index_id "
       "WHERE NOT EXISTS (SELECT 1 FROM daosys_fields f WHERE f.id = x.field_id AND "
       "f.table_id = i.table_id)",
       "names a field that is not in its table"},
      {"SELECT i.name FROM daosys_index_fields x JOIN daosys_indexes i ON i.id = x.index_id "
       "GROUP BY x.index_id, x.field_id HAVING count(*) > 1",
       "holds a field twice"},
      {"SELECT r.name FROM daosys_relation_fields x JOIN daosys_relations r ON r.id = "
       "x.relation_id WHERE NOT EXISTS (SELECT 1 FROM daosys_fields f WHERE f.id = x.field_id "
       "AND f.table_id = r.table_id) OR NOT EXISTS (SELECT 1 FROM daosys_fields f WHERE f.id = "
       "x.foreign_field_id AND f.table_id = r.foreign_table_id)",
       "names a field that is not in its table"},
      {"SELECT name FROM daosys_fields WHERE type NOT IN (1, 3, 4, 7, 8, 10)",
       "has no type of the engine's"},
      {"SELECT name FROM daosys_fields WHERE CASE type WHEN 10 THEN size NOT BETWEEN 1 AND 255 "
       "WHEN 1 THEN size <> 1 WHEN 3 THEN size <> 2 WHEN 4 THEN size <> 4 ELSE size <> 8 END",
       "has a size its type does not take"},
      {"SELECT name FROM daosys_fields WHERE allow_zero_length NOT IN (0, 1) OR required NOT IN "
       "(0, 1) OR ordinal_position NOT BETWEEN -2147483648 AND 2147483647 OR attributes NOT "
       "BETWEEN -2147483648 AND 2147483647",
       "has a property out of range"},
      {"SELECT name FROM daosys_indexes WHERE is_primary NOT IN (0, 1) OR is_unique NOT IN (0, 1) "
       "OR required NOT IN (0, 1) OR ignore_nulls NOT IN (0, 1) OR clustered NOT IN (0, 1) OR "
       "is_foreign NOT IN (0, 1) OR (is_primary AND NOT (is_unique AND required)) OR "
       "(is_foreign AND (is_primary OR required))",
       "has properties out of range or contradicting each other"},
      {"SELECT name FROM daosys_relations WHERE attributes NOT BETWEEN -2147483648 AND "
       "2147483647",
       "has attributes out of range"},
      {"SELECT i.name FROM daosys_index_fields x JOIN daosys_indexes i ON i.id = x.index_id "
       "WHERE x.attributes NOT BETWEEN -2147483648 AND 2147483647",
       "has a field with attributes out of range"},
  };
  for (const RowCheck& check : kChecks) {
    if (const std::optional<std::string> name = First(conn, check.sql)) {
      return "its catalog is contradictory: '" + *name + "' " + check.fault;
    }
  }
  return {};
}

// The steps of CatalogModelFault.  Each returns the first fault it finds,
// in words, or nothing.

std::string Contradiction(const std::string& what, const std::string& name,
                          const std::string& why) {
  return "its catalog is contradictory: " + what + " '" + name + "' " + why;
}

// Whether two of `items` have one name.
template <class T>
bool HasSameNames(const std::vector<T>& items) {
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t j = i + 1; j < items.size(); ++j) {
      if (SameName(items[i].name, items[j].name)) return true;
    }
  }
  return false;
}

// Index `i` of table `t`: its name valid, not the fields of an earlier
// index but for foreign ones, and a foreign index standing for a relation
// of the table.
std::string IndexFault(const Catalog& catalog, const CatalogTable& t, size_t i) {
  const IndexDef& index = t.indexes[i];
  if (!ValidName(index.name)) {
    return Contradiction("index", index.name, "has a name the engine does not take");
  }
  const auto same_field = [](const IndexFieldDef& a, const IndexFieldDef& b) {
    return a.field_id == b.field_id;
  };
  for (size_t j = 0; j < i && !index.foreign; ++j) {
    const IndexDef& other = t.indexes[j];
    if (!other.foreign && std::equal(index.fields.begin(), index.fields.end(), other.fields.begin(),
                                     other.fields.end(), same_field)) {
      return Contradiction("index", index.name, "has the fields of index '" + other.name + "'");
    }
  }
  if (!index.foreign) return {};
  const RelationDef* r = catalog.FindRelation(index.name);
  if (r == nullptr || r->foreign_table_id != t.id) {
    return Contradiction("index", index.name, "stands for a relation that is not there");
  }
  return {};
}

// Table `t`: its name one the engine takes, fields of valid and distinct
// names, indexes of distinct names (IndexFault for each), one primary key
// at the most.
std::string TableFault(const Catalog& catalog, const CatalogTable& t) {
  if (!ValidName(t.name) || HasReservedPrefix(t.name)) {
    return Contradiction("table", t.name, "has a name the engine does not take");
  }
  if (t.fields.empty()) return Contradiction("table", t.name, "has no fields");
  if (HasSameNames(t.fields)) return Contradiction("table", t.name, "has two fields of one name");
  if (HasSameNames(t.indexes)) {
    return Contradiction("table", t.name, "has two indexes of one name");
  }
  for (const FieldDef& f : t.fields) {
    if (!ValidName(f.name)) {
      return Contradiction("field", f.name, "has a name the engine does not take");
    }
  }
  for (size_t i = 0; i < t.indexes.size(); ++i) {
    if (std::string fault = IndexFault(catalog, t, i); !fault.empty()) return fault;
  }
  if (std::count_if(t.indexes.begin(), t.indexes.end(),
                    [](const IndexDef& i) { return i.primary; }) > 1) {
    return Contradiction("table", t.name, "has more than one primary key");
  }
  return {};
}

// Whether table `p` has a unique index (or its primary key), not a foreign
// one, on exactly the fields `primary_ids` (sorted).
bool HasUniqueKeyOn(const CatalogTable& p, const std::vector<int64_t>& primary_ids) {
  return std::any_of(p.indexes.begin(), p.indexes.end(), [&](const IndexDef& i) {
    std::vector<int64_t> ids;
    for (const IndexFieldDef& x : i.fields) ids.push_back(x.field_id);
    std::sort(ids.begin(), ids.end());
    return !i.foreign && (i.unique || i.primary) && ids == primary_ids;
  });
}

// Relation `r`: its name valid, its tables and fields there, related
// fields of one type, the unique key an enforced relation needs, and the
// foreign index that appending it makes.
std::string RelationFault(const Catalog& catalog, const RelationDef& r) {
  if (!ValidName(r.name)) {
    return Contradiction("relation", r.name, "has a name the engine does not take");
  }
  const CatalogTable* p = catalog.TableById(r.table_id);
  const CatalogTable* f = catalog.TableById(r.foreign_table_id);
  if (p == nullptr || f == nullptr || r.fields.empty()) {
    return Contradiction("relation", r.name, "has no tables or fields");
  }
  std::vector<int64_t> primary_ids;
  std::vector<int64_t> foreign_ids;
  for (const auto& [pid, fid] : r.fields) {
    const FieldDef* pf = p->FieldById(pid);
    const FieldDef* ff = f->FieldById(fid);
    if (pf == nullptr || ff == nullptr) return Contradiction("relation", r.name, "has no fields");
    if (pf->type != ff->type) {
      return Contradiction("relation", r.name, "relates fields of different types");
    }
    primary_ids.push_back(pid);
    foreign_ids.push_back(fid);
  }
  std::sort(primary_ids.begin(), primary_ids.end());
  if (!(r.attributes & dbRelationDontEnforce) && !HasUniqueKeyOn(*p, primary_ids)) {
    return Contradiction("relation", r.name, "has no unique index on its fields");
  }
  const IndexDef* i = f->FindIndex(r.name);
  if (i == nullptr || !i->foreign || i->unique != ((r.attributes & dbRelationUnique) != 0) ||
      !std::equal(i->fields.begin(), i->fields.end(), foreign_ids.begin(), foreign_ids.end(),
                  [](const IndexFieldDef& a, int64_t id) { return a.field_id == id; })) {
    return Contradiction("relation", r.name, "has no foreign index as its fields make it");
  }
  return {};
}

// The catalog in memory: names valid and distinct, every table with
// fields, keys the engine could have made, every relation with the types,
// the key and the foreign index that appending it takes.
std::string CatalogModelFault(const Catalog& catalog) {
  if (HasSameNames(catalog.tables)) return "its catalog is contradictory: two tables of one name";
  if (HasSameNames(catalog.relations)) {
    return "its catalog is contradictory: two relations of one name";
  }
  for (const CatalogTable& t : catalog.tables) {
    if (std::string fault = TableFault(catalog, t); !fault.empty()) return fault;
  }
  for (const RelationDef& r : catalog.relations) {
    if (std::string fault = RelationFault(catalog, r); !fault.empty()) return fault;
  }
  return {};
}

// The file's objects of the engine's reserved names that the catalog does
// not make: a table that is no catalog table, an index "daosys_ix_<id>" of
// no catalog index, a trigger that no relation makes, anything else.
std::string UnknownEngineObject(sqlite3* conn, const Catalog& catalog) {
  std::vector<std::string> triggers;
  for (const RelationTrigger& t : RelationTriggers(catalog)) triggers.push_back(t.name);
  Statement st(conn,
               "SELECT type, name FROM sqlite_master "
               "WHERE name LIKE 'daosys\\_%' ESCAPE '\\'");
  while (st.Step()) {
    const std::string type = st.Text(0), name = st.Text(1);
    bool known = false;
    if (type == "table") {
      known = IsCatalogTable(name);
    } else if (type == "index") {
      for (const CatalogTable& t : catalog.tables) {
        for (const IndexDef& i : t.indexes)
          known = known || SameName(PhysicalIndexName(i.id), name);
      }
    } else if (type == "trigger") {
      known = std::any_of(triggers.begin(), triggers.end(),
                          [&](const std::string& t) { return SameName(t, name); });
    }
    if (!known) return "the " + type + " '" + name + "' is not one its catalog makes";
  }
  return {};
}

// What makes the catalog of `conn` one the engine could not have written,
// in words; empty when nothing.  `catalog` is the catalog as loaded.
std::string CatalogFault(sqlite3* conn, const Catalog& catalog) {
  for (const CatalogTableAsMade& t : CatalogTablesAsMade()) {
    if (CatalogTableShape(conn, t.name) != t.shape) {
      return "its catalog table '" + t.name + "' is not as the engine makes it";
    }
    if (First(conn, "SELECT 1 FROM " + QuoteName(t.name) + " WHERE " + t.wrong_type)) {
      return "its catalog table '" + t.name + "' holds a value of another type than declared";
    }
  }
  std::string fault = CatalogRowFault(conn);
  if (fault.empty()) fault = CatalogModelFault(catalog);
  if (fault.empty()) fault = UnknownEngineObject(conn, catalog);
  return fault;
}

}  // namespace

// ---------------------------------------------------------------------------
// The catalog against the file.  Another SQLite program can change the file
// behind the catalog's back (a table rebuilt without its indexes, a trigger
// dropped), and then the engine would no longer refuse what it promises to.

std::string MissingFromFile(sqlite3* conn, const Catalog& catalog) {
  if (std::string fault = CatalogFault(conn, catalog); !fault.empty()) return fault;
  Statement columns(conn, "SELECT name, type FROM pragma_table_info(?)");
  Statement index(conn, "SELECT \"unique\", partial FROM pragma_index_list(?) WHERE name = ?");
  Statement keys(conn,
                 "SELECT name, \"desc\", coll FROM pragma_index_xinfo(?) WHERE key "
                 "ORDER BY seqno");
  for (const CatalogTable& t : catalog.tables) {
    const std::string of_table = " of table '" + t.name + "'";
    std::vector<std::pair<std::string, std::string>> names;  // name, declared type
    columns.Reset();
    columns.Bind(1, t.name);
    while (columns.Step()) names.emplace_back(columns.Text(0), columns.Text(1));
    for (const FieldDef& f : t.fields) {
      if (std::none_of(names.begin(), names.end(), [&](const auto& n) {
            return SameName(n.first, f.name) && SameName(n.second, StorageType(f.type));
          })) {
        return "the column of field '" + f.name + "'" + of_table + " is missing or of another type";
      }
    }
    // Every column is a field's (field names are distinct): the engine
    // writes and reads a table's rows by its fields.
    if (names.size() != t.fields.size()) {
      return "table '" + t.name + "' has a column that is not in its catalog";
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
  for (const RelationDef& r : catalog.relations) {
    const CatalogTable* p = catalog.TableById(r.table_id);
    const CatalogTable* f = catalog.TableById(r.foreign_table_id);
    const bool fields_there =
        p != nullptr && f != nullptr && !r.fields.empty() &&
        std::all_of(r.fields.begin(), r.fields.end(), [&](const auto& pair) {
          return p->FieldById(pair.first) != nullptr && f->FieldById(pair.second) != nullptr;
        });
    if (!fields_there) return "the tables or fields of relation '" + r.name + "' are missing";
  }
  if (const std::optional<RelationTrigger> wrong = CompareTriggers(conn, catalog).wrong) {
    return "the rules of relation '" + wrong->relation + "' are missing or altered (trigger '" +
           wrong->name + "')";
  }
  return {};
}

}  // namespace internal
}  // namespace dao
