// The catalog: its tables in a new file, reading it into memory, the
// look-ups in it, and the check of it against the file it describes.

#include <algorithm>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

bool IsFieldType(int type) {
  return type == dbBoolean || type == dbInteger || type == dbLong || type == dbDouble ||
         type == dbDate || type == dbText;
}

long DefaultSize(int type) {
  switch (type) {
    case dbBoolean:
      return 1;
    case dbInteger:
      return 2;
    case dbLong:
      return 4;
    case dbDouble:
    case dbDate:
      return 8;
    default:
      return 50;
  }
}

const char* StorageType(int type) {
  switch (type) {
    case dbBoolean:
    case dbInteger:
    case dbLong:
      return "INTEGER";
    case dbDouble:
      return "REAL";
    default:
      return "TEXT";  // text, and dates as ISO text
  }
}

// ---------------------------------------------------------------------------
// Look-ups.

namespace {

// The item of `items` named `name`, or null; names fold ASCII letters.
template <class T>
const T* FindByName(const std::vector<T>& items, const std::string& name) {
  for (const T& item : items) {
    if (SameName(item.name, name)) return &item;
  }
  return nullptr;
}

// The item of `items` with id `id`, or null.
template <class T>
const T* FindById(const std::vector<T>& items, int64_t id) {
  for (const T& item : items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

}  // namespace

const FieldDef* TableSchema::FindField(const std::string& n) const { return FindByName(fields, n); }

const FieldDef* TableSchema::FieldById(int64_t field_id) const {
  return FindById(fields, field_id);
}

int TableSchema::FieldIndexById(int64_t field_id) const {
  const FieldDef* f = FindById(fields, field_id);
  return f == nullptr ? -1 : static_cast<int>(f - fields.data());
}

const IndexDef* TableSchema::FindIndex(const std::string& n) const {
  return FindByName(indexes, n);
}

const IndexDef* TableSchema::IndexById(int64_t index_id) const {
  return FindById(indexes, index_id);
}

const TableSchema* Schema::FindTable(const std::string& n) const { return FindByName(tables, n); }

const TableSchema* Schema::TableById(int64_t table_id) const { return FindById(tables, table_id); }

const RelationDef* Schema::FindRelation(const std::string& n) const {
  return FindByName(relations, n);
}

const RelationDef* Schema::RelationById(int64_t relation_id) const {
  return FindById(relations, relation_id);
}

// ---------------------------------------------------------------------------
// The catalog in the file.

std::shared_ptr<Schema> LoadSchema(sqlite3* conn) {
  auto schema = std::make_shared<Schema>();
  {
    Statement st(conn, "SELECT id, name FROM daosys_tables ORDER BY name COLLATE NOCASE, id");
    while (st.Step()) {
      TableSchema t;
      t.id = st.Int(0);
      t.name = st.Text(1);
      schema->tables.push_back(std::move(t));
    }
  }
  auto table = [&](int64_t id) -> TableSchema* {
    for (TableSchema& t : schema->tables) {
      if (t.id == id) return &t;
    }
    return nullptr;
  };
  {
    Statement st(conn,
                 "SELECT id, table_id, name, type, size, allow_zero_length, required, "
                 "attributes, ordinal_position FROM daosys_fields "
                 "ORDER BY ordinal_position, id");
    while (st.Step()) {
      TableSchema* t = table(st.Int(1));
      if (t == nullptr) continue;
      FieldDef f;
      f.id = st.Int(0);
      f.name = st.Text(2);
      f.type = static_cast<int>(st.Int(3));
      f.size = static_cast<long>(st.Int(4));
      f.allow_zero_length = st.Int(5) != 0;
      f.required = st.Int(6) != 0;
      f.attributes = static_cast<long>(st.Int(7));
      f.ordinal = static_cast<int>(st.Int(8));
      t->fields.push_back(std::move(f));
    }
  }
  {
    Statement st(conn,
                 "SELECT id, table_id, name, is_primary, is_unique, required, "
                 "ignore_nulls, clustered, is_foreign FROM daosys_indexes "
                 "ORDER BY name COLLATE NOCASE, id");
    while (st.Step()) {
      TableSchema* t = table(st.Int(1));
      if (t == nullptr) continue;
      IndexDef i;
      i.id = st.Int(0);
      i.name = st.Text(2);
      i.primary = st.Int(3) != 0;
      i.unique = st.Int(4) != 0;
      i.required = st.Int(5) != 0;
      i.ignore_nulls = st.Int(6) != 0;
      i.clustered = st.Int(7) != 0;
      i.foreign = st.Int(8) != 0;
      t->indexes.push_back(std::move(i));
    }
  }
  {
    Statement st(conn,
                 "SELECT x.index_id, x.field_id, x.attributes, i.table_id "
                 "FROM daosys_index_fields x JOIN daosys_indexes i ON i.id = x.index_id "
                 "ORDER BY x.index_id, x.position");
    while (st.Step()) {
      TableSchema* t = table(st.Int(3));
      if (t == nullptr) continue;
      for (IndexDef& i : t->indexes) {
        if (i.id == st.Int(0)) {
          i.fields.push_back({st.Int(1), static_cast<long>(st.Int(2))});
        }
      }
    }
  }
  {
    Statement st(conn,
                 "SELECT id, name, table_id, foreign_table_id, attributes FROM "
                 "daosys_relations ORDER BY name COLLATE NOCASE, id");
    while (st.Step()) {
      RelationDef r;
      r.id = st.Int(0);
      r.name = st.Text(1);
      r.table_id = st.Int(2);
      r.foreign_table_id = st.Int(3);
      r.attributes = static_cast<long>(st.Int(4));
      schema->relations.push_back(std::move(r));
    }
  }
  {
    Statement st(conn,
                 "SELECT relation_id, field_id, foreign_field_id FROM "
                 "daosys_relation_fields ORDER BY relation_id, position");
    while (st.Step()) {
      for (RelationDef& r : schema->relations) {
        if (r.id == st.Int(0)) r.fields.emplace_back(st.Int(1), st.Int(2));
      }
    }
  }
  return schema;
}

void CreateCatalog(sqlite3* conn, const std::optional<std::string>& workgroup_id,
                   const std::string& owner) {
  Exec(conn,
       "CREATE TABLE daosys_database(id INTEGER PRIMARY KEY CHECK (id = 1), "
       "format TEXT NOT NULL, workgroup_id TEXT, owner TEXT);"
       "CREATE TABLE daosys_tables(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "name TEXT NOT NULL COLLATE NOCASE UNIQUE);"
       "CREATE TABLE daosys_fields(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "table_id INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, "
       "type INTEGER NOT NULL, size INTEGER NOT NULL, "
       "allow_zero_length INTEGER NOT NULL, required INTEGER NOT NULL, "
       "attributes INTEGER NOT NULL, ordinal_position INTEGER NOT NULL, "
       "UNIQUE (table_id, name));"
       "CREATE TABLE daosys_indexes(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "table_id INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, "
       "is_primary INTEGER NOT NULL, is_unique INTEGER NOT NULL, "
       "required INTEGER NOT NULL, ignore_nulls INTEGER NOT NULL, "
       "clustered INTEGER NOT NULL, is_foreign INTEGER NOT NULL, "
       "UNIQUE (table_id, name));"
       "CREATE TABLE daosys_index_fields(index_id INTEGER NOT NULL, "
       "position INTEGER NOT NULL, field_id INTEGER NOT NULL, "
       "attributes INTEGER NOT NULL, PRIMARY KEY (index_id, position));"
       "CREATE TABLE daosys_relations(id INTEGER PRIMARY KEY AUTOINCREMENT, "
       "name TEXT NOT NULL COLLATE NOCASE UNIQUE, table_id INTEGER NOT NULL, "
       "foreign_table_id INTEGER NOT NULL, attributes INTEGER NOT NULL);"
       "CREATE TABLE daosys_relation_fields(relation_id INTEGER NOT NULL, "
       "position INTEGER NOT NULL, field_id INTEGER NOT NULL, "
       "foreign_field_id INTEGER NOT NULL, PRIMARY KEY (relation_id, position));");
  Statement st(conn,
               "INSERT INTO daosys_database(id, format, workgroup_id, owner) "
               "VALUES (1, ?, ?, ?)");
  st.Bind(1, std::string(kFormat));
  if (workgroup_id) {
    st.Bind(2, *workgroup_id);
  } else {
    st.BindNull(2);
  }
  st.Bind(3, owner);
  st.Run();
}

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

}  // namespace internal
}  // namespace dao
