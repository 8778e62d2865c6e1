// The schema object model: table definitions, fields, indexes and relations,
// kept in the catalog and in the physical schema of the same file.
//
// An appended object is a view of its catalog row (by id): it reads its
// properties from the database's catalog each time, so a rollback or another
// connection's change shows at once, and a renamed field stays in the indexes
// and relations that hold it.  An object not appended yet keeps its
// properties itself.

#include <algorithm>
#include <set>

#include "platform/dao/internal/engine.h"

namespace dao {
namespace internal {

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

namespace {

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

std::shared_ptr<FieldImpl> AttachedTableField(const std::shared_ptr<DatabaseImpl>& db,
                                              int64_t table_id, int64_t field_id) {
  auto f = std::make_shared<FieldImpl>();
  f->home = FieldImpl::Home::kTable;
  f->db = db;
  f->table_id = table_id;
  f->field_id = field_id;
  return f;
}

// ---------------------------------------------------------------------------
// Building indexes and relations.

std::string PhysicalIndexName(int64_t id) { return "daosys_ix_" + std::to_string(id); }

// Unique keys ignore letter case, as the records system's stored keys
// expect: 'fuma' collides with 'FUMA'.  Other types keep SQLite's own.
bool FoldsCase(const FieldDef& f) { return f.type == dbText; }

std::string IndexColumns(const TableSchema& table, const std::vector<IndexFieldDef>& fields) {
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

void CreatePhysicalIndex(DatabaseImpl& db, const TableSchema& table, int64_t id,
                         bool unique, const std::vector<IndexFieldDef>& fields) {
  Exec(db.conn, std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                    QuoteName(PhysicalIndexName(id)) + " ON " +
                    QuoteName(table.name) + " (" + IndexColumns(table, fields) + ")");
}

// Adds an index to the table `table_id`; `def.fields` name the table fields
// by id.  Runs inside a schema change.  Returns the index's id.
int64_t AddIndex(DatabaseImpl& db, int64_t table_id, const IndexDef& def) {
  std::shared_ptr<const Schema> schema = db.CurrentSchema();
  const TableSchema& table = TableOf(*schema, table_id);
  if (table.FindIndex(def.name) != nullptr) {
    Raise(kErrIndexExists, "The index '" + def.name + "' already exists on table '" +
                               table.name + "'.");
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
        Raise(kErrIndexExists, "An index on those fields already exists on table '" +
                                   table.name + "' ('" + other.name + "').");
      }
    }
  }
  if (def.primary || def.required) {
    std::string where;
    for (const IndexFieldDef& x : def.fields) {
      if (!where.empty()) where += " OR ";
      where += QuoteName(FieldOf(table, x.field_id).name) + " IS NULL";
    }
    Statement nulls(db.conn, "SELECT 1 FROM " + QuoteName(table.name) + " WHERE " + where +
                                 " LIMIT 1");
    if (nulls.Step()) {
      Raise(kErrNullInIndex, "The index '" + def.name +
                                 "' cannot be built: a row holds Null in one of its fields.");
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
  for (size_t i = 0; i < def.fields.size(); ++i) {
    Statement f(db.conn,
                "INSERT INTO daosys_index_fields(index_id, position, field_id, attributes) "
                "VALUES (?, ?, ?, ?)");
    f.Bind(1, id).Bind(2, static_cast<int64_t>(i)).Bind(3, def.fields[i].field_id);
    f.Bind(4, static_cast<int64_t>(def.fields[i].attributes));
    f.Run();
  }
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
IndexDef ResolveIndex(const IndexImpl& impl, const TableSchema& table) {
  IndexDef def = impl.def;
  CheckName(def.name, "index");
  def.fields.clear();
  for (const std::shared_ptr<FieldImpl>& f : impl.fields) {
    const FieldDef* column = table.FindField(f->def.name);
    if (column == nullptr) {
      NotFound("field '" + f->def.name + "' of index '" + def.name + "' in table '" +
               table.name + "'");
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

// Related text compares without regard to case, as the keys do; other types
// compare as they are, so that their indexes serve the relation's look-ups.
std::string KeyCollation(const FieldDef& field) {
  return field.type == dbText ? " COLLATE NOCASE" : "";
}

std::string MatchCondition(const TableSchema& primary, const TableSchema& foreign,
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

// The name of a relation trigger: on the foreign table "fi" (insert) and
// "fu" (update), on the primary table "pd" (delete) and "pu" (update).
std::string RelationTriggerName(int64_t relation_id, const char* what) {
  return "daosys_rel_" + std::to_string(relation_id) + "_" + what;
}

}  // namespace

// ---------------------------------------------------------------------------
// Relation triggers.  The relations are enforced by triggers made from the
// catalog after every schema change, so a renamed or replaced column is
// always the one they name.  Their RAISE texts carry our error number.

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
  std::shared_ptr<const Schema> schema = db.CurrentSchema();
  for (const RelationDef& r : schema->relations) {
    if (r.attributes & dbRelationDontEnforce) continue;
    const TableSchema& p = TableOf(*schema, r.table_id);
    const TableSchema& f = TableOf(*schema, r.foreign_table_id);
    const std::string P = QuoteName(p.name), F = QuoteName(f.name);
    auto name = [&](const char* what) { return QuoteName(RelationTriggerName(r.id, what)); };
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
      join(old_differs, " OR ",
           "OLD." + pn + " IS NOT NEW." + pn + KeyCollation(FieldOf(p, pid)));
      join(set_new, ", ", fn + " = NEW." + pn);
    }
    const std::string required = QuoteText(TriggerMessage(
        kErrRelatedRecordRequired,
        "You cannot add or change a record because a related record is required in table '" +
            p.name + "' (relation '" + r.name + "')."));
    const std::string related = QuoteText(TriggerMessage(
        kErrRelatedRecordsExist, "The record cannot be deleted or changed because table '" +
                                     f.name + "' includes related records (relation '" +
                                     r.name + "')."));
    const std::string unmatched = "(" + any_new + ") AND NOT EXISTS (SELECT 1 FROM " + P +
                                  " WHERE " + MatchCondition(p, f, r, P + ".", "NEW.") + ")";
    Exec(db.conn, "CREATE TRIGGER " + name("fi") + " BEFORE INSERT ON " + F +
                      " WHEN " + unmatched + " BEGIN SELECT RAISE(ABORT, " + required +
                      "); END");
    Exec(db.conn, "CREATE TRIGGER " + name("fu") + " BEFORE UPDATE OF " +
                      foreign_cols + " ON " + F + " WHEN " + unmatched +
                      " BEGIN SELECT RAISE(ABORT, " + required + "); END");
    const std::string referenced = MatchCondition(p, f, r, "OLD.", F + ".");
    if (r.attributes & dbRelationDeleteCascade) {
      Exec(db.conn, "CREATE TRIGGER " + name("pd") + " AFTER DELETE ON " + P +
                        " BEGIN DELETE FROM " + F + " WHERE " + referenced + "; END");
    } else {
      Exec(db.conn, "CREATE TRIGGER " + name("pd") + " BEFORE DELETE ON " + P +
                        " WHEN EXISTS (SELECT 1 FROM " + F + " WHERE " + referenced +
                        ") BEGIN SELECT RAISE(ABORT, " + related + "); END");
    }
    if (r.attributes & dbRelationUpdateCascade) {
      Exec(db.conn, "CREATE TRIGGER " + name("pu") + " AFTER UPDATE OF " +
                        primary_cols + " ON " + P + " WHEN " + old_differs +
                        " BEGIN UPDATE " + F + " SET " + set_new + " WHERE " + referenced +
                        "; END");
    } else {
      Exec(db.conn, "CREATE TRIGGER " + name("pu") + " BEFORE UPDATE OF " +
                        primary_cols + " ON " + P + " WHEN (" + old_differs +
                        ") AND EXISTS (SELECT 1 FROM " + F + " WHERE " + referenced +
                        ") BEGIN SELECT RAISE(ABORT, " + related + "); END");
    }
  }
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
  Statement trigger(conn,
                    "SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = ? AND "
                    "tbl_name = ? COLLATE NOCASE");
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
    if (r.attributes & dbRelationDontEnforce) continue;
    for (const auto& [what, table] : {std::pair{"fi", f}, {"fu", f}, {"pd", p}, {"pu", p}}) {
      trigger.Reset();
      trigger.Bind(1, RelationTriggerName(r.id, what)).Bind(2, table->name);
      if (!trigger.Step()) {
        return "the rules of relation '" + r.name + "' are missing (trigger '" +
               RelationTriggerName(r.id, what) + "')";
      }
    }
  }
  return {};
}

// ---------------------------------------------------------------------------
// Values against fields.

Value ValueForField(const Value& value, const FieldDef& field) {
  Value v = ConvertToFieldType(value, field.type);
  if (field.type == dbText && v.kind() == Value::Kind::kText) {
    if (v.AsText().empty() && !field.allow_zero_length) {
      Raise(kErrZeroLength, "The field '" + field.name +
                                "' cannot be a zero-length string.");
    }
    if (CharacterCount(v.AsText()) > field.size) {
      Raise(kErrFieldTooSmall,
            "The field '" + field.name + "' is too small for the data: it holds at most " +
                std::to_string(field.size) + " characters.");
    }
  }
  return v;
}

void CheckRowBeforeWrite(const TableSchema& table, const std::vector<Value>& row) {
  for (size_t i = 0; i < table.fields.size() && i < row.size(); ++i) {
    if (table.fields[i].required && row[i].IsNull()) {
      Raise(kErrFieldRequired, "The field '" + table.name + "." + table.fields[i].name +
                                   "' cannot contain a Null value because it is required.");
    }
  }
  for (const IndexDef& index : table.indexes) {
    if (!index.primary && !index.required) continue;
    for (const IndexFieldDef& x : index.fields) {
      int i = table.FieldIndexById(x.field_id);
      if (i >= 0 && static_cast<size_t>(i) < row.size() && row[i].IsNull()) {
        Raise(kErrNullInIndex, "Index or primary key '" + index.name +
                                   "' cannot contain a Null value (field '" +
                                   table.fields[i].name + "').");
      }
    }
  }
}

void RaiseRowIgnored(const TableSchema& table) {
  Raise(kErrGeneric, "The record was not written: a trigger of table '" + table.name +
                         "' skipped it.");
}

// ---------------------------------------------------------------------------
// Field collections.

namespace {

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

void CheckFieldDef(const FieldDef& def) {
  CheckName(def.name, "field");
  if (!IsFieldType(def.type)) {
    Raise(kErrBadFieldType, "The field '" + def.name + "' has an unknown data type (" +
                                std::to_string(def.type) + ").");
  }
  if (def.type == dbText && (def.size < 1 || def.size > 255)) {
    Raise(kErrInvalidOperation, "The size of text field '" + def.name +
                                    "' must be from 1 to 255 characters.");
  }
}

// Writes the catalog row and the column of a new table field.
int64_t AddColumn(DatabaseImpl& db, const TableSchema& table, const FieldImpl& f,
                  bool create_column) {
  FieldDef def = f.def;
  if (def.type != dbText) def.size = DefaultSize(def.type);
  int ordinal = def.ordinal;
  if (!f.ordinal_set) {
    ordinal = 0;
    for (const FieldDef& other : table.fields) ordinal = std::max(ordinal, other.ordinal + 1);
  }
  if (create_column) {
    Exec(db.conn, "ALTER TABLE " + QuoteName(table.name) + " ADD COLUMN " +
                      QuoteName(def.name) + " " + StorageType(def.type));
  }
  Statement add(db.conn,
                "INSERT INTO daosys_fields(table_id, name, type, size, allow_zero_length, "
                "required, attributes, ordinal_position) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  add.Bind(1, table.id).Bind(2, def.name).Bind(3, int64_t{def.type});
  add.Bind(4, static_cast<int64_t>(def.size)).Bind(5, int64_t{def.allow_zero_length});
  add.Bind(6, int64_t{def.required}).Bind(7, static_cast<int64_t>(def.attributes));
  add.Bind(8, int64_t{ordinal});
  add.Run();
  return LastId(db);
}

void AttachField(FieldImpl& f, const std::shared_ptr<DatabaseImpl>& db, int64_t table_id,
                 int64_t id) {
  f.home = FieldImpl::Home::kTable;
  f.db = db;
  f.table_id = table_id;
  f.field_id = id;
}

struct TableFields : FieldOwner {
  explicit TableFields(std::shared_ptr<TableDefImpl> t) : td(std::move(t)) {}
  std::shared_ptr<TableDefImpl> td;

  bool Appended() const { return td->id != 0; }
  std::shared_ptr<const Schema> Current() const { return td->db->CurrentSchema(); }

  int Count() override {
    if (!Appended()) return static_cast<int>(td->fields.size());
    return static_cast<int>(TableOf(*Current(), td->id).fields.size());
  }
  Field Item(int index) override {
    if (!Appended()) {
      if (index < 0 || index >= static_cast<int>(td->fields.size())) {
        NotFound("field " + std::to_string(index));
      }
      return Access::MakeField(td->fields[index]);
    }
    std::shared_ptr<const Schema> s = Current();
    const TableSchema& t = TableOf(*s, td->id);
    if (index < 0 || index >= static_cast<int>(t.fields.size())) {
      NotFound("field " + std::to_string(index) + " of table '" + t.name + "'");
    }
    return Access::MakeField(AttachedTableField(td->db, t.id, t.fields[index].id));
  }
  Field Item(const std::string& name) override {
    if (!Appended()) {
      int i = FindLocal(td->fields, name);
      if (i < 0) NotFound("field '" + name + "'");
      return Access::MakeField(td->fields[i]);
    }
    std::shared_ptr<const Schema> s = Current();
    const TableSchema& t = TableOf(*s, td->id);
    const FieldDef* f = t.FindField(name);
    if (f == nullptr) NotFound("field '" + name + "' of table '" + t.name + "'");
    return Access::MakeField(AttachedTableField(td->db, t.id, f->id));
  }
  void Append(const Field& field) override {
    std::shared_ptr<FieldImpl> f = StandaloneOf(field);
    CheckFieldDef(f->def);
    if (!Appended()) {
      if (FindLocal(td->fields, f->def.name) >= 0) {
        Raise(kErrFieldExists, "The field '" + f->def.name + "' already exists.");
      }
      td->fields.push_back(f);
      return;
    }
    int64_t id = 0;
    DatabaseImpl& db = *td->db;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      const TableSchema& t = TableOf(*s, td->id);
      if (t.FindField(f->def.name) != nullptr) {
        Raise(kErrFieldExists, "The field '" + f->def.name + "' already exists in table '" +
                                   t.name + "'.");
      }
      id = AddColumn(db, t, *f, true);
    });
    AttachField(*f, td->db, td->id, id);
  }
  void Delete(const std::string& name) override {
    if (!Appended()) {
      int i = FindLocal(td->fields, name);
      if (i < 0) NotFound("field '" + name + "'");
      td->fields.erase(td->fields.begin() + i);
      return;
    }
    DatabaseImpl& db = *td->db;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      const TableSchema& t = TableOf(*s, td->id);
      const FieldDef* f = t.FindField(name);
      if (f == nullptr) NotFound("field '" + name + "' of table '" + t.name + "'");
      for (const RelationDef& r : s->relations) {
        for (const auto& [p, fk] : r.fields) {
          if ((r.table_id == t.id && p == f->id) ||
              (r.foreign_table_id == t.id && fk == f->id)) {
            Raise(kErrFieldInRelation, "The field '" + f->name +
                                           "' cannot be deleted: it is part of relation '" +
                                           r.name + "'.");
          }
        }
      }
      for (const IndexDef& index : t.indexes) {
        for (const IndexFieldDef& x : index.fields) {
          if (x.field_id == f->id) {
            Raise(kErrFieldInIndex, "The field '" + f->name +
                                        "' cannot be deleted: it is part of index '" +
                                        index.name + "'.");
          }
        }
      }
      if (t.fields.size() == 1) {
        Raise(kErrInvalidOperation, "The last field of table '" + t.name +
                                        "' cannot be deleted.");
      }
      Exec(db.conn, "ALTER TABLE " + QuoteName(t.name) + " DROP COLUMN " + QuoteName(f->name));
      Statement del(db.conn, "DELETE FROM daosys_fields WHERE id = ?");
      del.Bind(1, f->id).Run();
    });
  }
};

struct IndexFields : FieldOwner {
  explicit IndexFields(std::shared_ptr<IndexImpl> i) : index(std::move(i)) {}
  std::shared_ptr<IndexImpl> index;

  bool Appended() const { return index->def.id != 0; }
  const IndexDef& Def(const Schema& s) const {
    const IndexDef* d = TableOf(s, index->table_id).IndexById(index->def.id);
    if (d == nullptr) Gone("index");
    return *d;
  }
  Field Attached(int position) {
    auto f = std::make_shared<FieldImpl>();
    f->home = FieldImpl::Home::kIndex;
    f->db = index->db;
    f->table_id = index->table_id;
    f->owner_id = index->def.id;
    f->position = position;
    return Access::MakeField(f);
  }
  int Count() override {
    if (!Appended()) return static_cast<int>(index->fields.size());
    return static_cast<int>(Def(*index->db->CurrentSchema()).fields.size());
  }
  Field Item(int i) override {
    if (i < 0 || i >= Count()) NotFound("field " + std::to_string(i) + " of the index");
    if (!Appended()) return Access::MakeField(index->fields[i]);
    return Attached(i);
  }
  Field Item(const std::string& name) override {
    if (!Appended()) {
      int i = FindLocal(index->fields, name);
      if (i < 0) NotFound("field '" + name + "' of the index");
      return Access::MakeField(index->fields[i]);
    }
    std::shared_ptr<const Schema> s = index->db->CurrentSchema();
    const TableSchema& t = TableOf(*s, index->table_id);
    const IndexDef& d = Def(*s);
    for (size_t i = 0; i < d.fields.size(); ++i) {
      if (SameName(FieldOf(t, d.fields[i].field_id).name, name)) {
        return Attached(static_cast<int>(i));
      }
    }
    NotFound("field '" + name + "' of index '" + d.name + "'");
  }
  void Append(const Field& field) override {
    if (Appended()) Fixed();
    std::shared_ptr<FieldImpl> f = StandaloneOf(field);
    CheckName(f->def.name, "field");
    if (FindLocal(index->fields, f->def.name) >= 0) {
      Raise(kErrFieldExists, "The index already has the field '" + f->def.name + "'.");
    }
    index->fields.push_back(f);
  }
  void Delete(const std::string& name) override {
    if (Appended()) Fixed();
    int i = FindLocal(index->fields, name);
    if (i < 0) NotFound("field '" + name + "' of the index");
    index->fields.erase(index->fields.begin() + i);
  }
};

struct RelationFields : FieldOwner {
  explicit RelationFields(std::shared_ptr<RelationImpl> r) : rel(std::move(r)) {}
  std::shared_ptr<RelationImpl> rel;

  bool Appended() const { return rel->id != 0; }
  const RelationDef& Def(const Schema& s) const {
    const RelationDef* d = s.RelationById(rel->id);
    if (d == nullptr) Gone("relation");
    return *d;
  }
  Field Attached(int position) {
    auto f = std::make_shared<FieldImpl>();
    f->home = FieldImpl::Home::kRelation;
    f->db = rel->db;
    f->owner_id = rel->id;
    f->position = position;
    return Access::MakeField(f);
  }
  int Count() override {
    if (!Appended()) return static_cast<int>(rel->fields.size());
    return static_cast<int>(Def(*rel->db->CurrentSchema()).fields.size());
  }
  Field Item(int i) override {
    if (i < 0 || i >= Count()) NotFound("field " + std::to_string(i) + " of the relation");
    if (!Appended()) return Access::MakeField(rel->fields[i]);
    return Attached(i);
  }
  Field Item(const std::string& name) override {
    if (!Appended()) {
      int i = FindLocal(rel->fields, name);
      if (i < 0) NotFound("field '" + name + "' of the relation");
      return Access::MakeField(rel->fields[i]);
    }
    std::shared_ptr<const Schema> s = rel->db->CurrentSchema();
    const RelationDef& d = Def(*s);
    const TableSchema& t = TableOf(*s, d.table_id);
    for (size_t i = 0; i < d.fields.size(); ++i) {
      if (SameName(FieldOf(t, d.fields[i].first).name, name)) {
        return Attached(static_cast<int>(i));
      }
    }
    NotFound("field '" + name + "' of relation '" + d.name + "'");
  }
  void Append(const Field& field) override {
    if (Appended()) Fixed();
    std::shared_ptr<FieldImpl> f = StandaloneOf(field);
    CheckName(f->def.name, "field");
    if (FindLocal(rel->fields, f->def.name) >= 0) {
      Raise(kErrFieldExists, "The relation already has the field '" + f->def.name + "'.");
    }
    rel->fields.push_back(f);
  }
  void Delete(const std::string& name) override {
    if (Appended()) Fixed();
    int i = FindLocal(rel->fields, name);
    if (i < 0) NotFound("field '" + name + "' of the relation");
    rel->fields.erase(rel->fields.begin() + i);
  }
};

// The current definition of a field, wherever it lives.
FieldDef CurrentDef(const FieldImpl& f) {
  switch (f.home) {
    case FieldImpl::Home::kNone:
      return f.def;
    case FieldImpl::Home::kTable: {
      std::shared_ptr<const Schema> s = f.db->CurrentSchema();
      return FieldOf(TableOf(*s, f.table_id), f.field_id);
    }
    case FieldImpl::Home::kIndex: {
      std::shared_ptr<const Schema> s = f.db->CurrentSchema();
      const TableSchema& t = TableOf(*s, f.table_id);
      const IndexDef* index = t.IndexById(f.owner_id);
      if (index == nullptr || f.position >= static_cast<int>(index->fields.size())) {
        Gone("index");
      }
      FieldDef def = FieldOf(t, index->fields[f.position].field_id);
      def.attributes = index->fields[f.position].attributes;
      return def;
    }
    case FieldImpl::Home::kRelation: {
      std::shared_ptr<const Schema> s = f.db->CurrentSchema();
      const RelationDef* r = s->RelationById(f.owner_id);
      if (r == nullptr || f.position >= static_cast<int>(r->fields.size())) Gone("relation");
      return FieldOf(TableOf(*s, r->table_id), r->fields[f.position].first);
    }
  }
  return f.def;
}

const FieldImpl& FieldOrNothing(const std::shared_ptr<FieldImpl>& f) {
  if (!f) RaiseNothing();
  return *f;
}

// Changes one column of a table field's catalog row.
void UpdateFieldColumn(FieldImpl& f, const char* column, int64_t value) {
  DatabaseImpl& db = *f.db;
  ChangeSchema(db, [&] {
    std::shared_ptr<const Schema> s = db.CurrentSchema();
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
  return RunQuiet("DAO.Field", [&] { return CurrentDef(FieldOrNothing(impl_)).name; });
}

void Field::SetName(const std::string& name) {
  RunOther("Field.Name", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home == FieldImpl::Home::kNone) {
      f.def.name = name;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    CheckName(name, "field");
    DatabaseImpl& db = *f.db;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      const TableSchema& t = TableOf(*s, f.table_id);
      const FieldDef& current = FieldOf(t, f.field_id);
      const FieldDef* other = t.FindField(name);
      if (other != nullptr && other->id != current.id) {
        Raise(kErrFieldExists, "The field '" + name + "' already exists in table '" +
                                   t.name + "'.");
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
  return RunQuiet("DAO.Field", [&] { return CurrentDef(FieldOrNothing(impl_)).type; });
}

void Field::SetType(int type) {
  RunOther("Field.Type", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home != FieldImpl::Home::kNone) Fixed();
    f.def.type = type;
    if (type != dbText) f.def.size = DefaultSize(type);
  });
}

long Field::Size() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(FieldOrNothing(impl_)).size; });
}

void Field::SetSize(long size) {
  RunOther("Field.Size", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home != FieldImpl::Home::kNone) Fixed();
    if (f.def.type == dbText) f.def.size = size;
  });
}

bool Field::AllowZeroLength() const {
  return RunQuiet("DAO.Field",
                  [&] { return CurrentDef(FieldOrNothing(impl_)).allow_zero_length; });
}

void Field::SetAllowZeroLength(bool allow) {
  RunOther("Field.AllowZeroLength", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home == FieldImpl::Home::kNone) {
      f.def.allow_zero_length = allow;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    UpdateFieldColumn(f, "allow_zero_length", allow);
  });
}

bool Field::Required() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(FieldOrNothing(impl_)).required; });
}

void Field::SetRequired(bool required) {
  RunOther("Field.Required", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home == FieldImpl::Home::kNone) {
      f.def.required = required;
      return;
    }
    if (f.home != FieldImpl::Home::kTable) Fixed();
    UpdateFieldColumn(f, "required", required);
  });
}

long Field::Attributes() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(FieldOrNothing(impl_)).attributes; });
}

void Field::SetAttributes(long attributes) {
  RunOther("Field.Attributes", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home != FieldImpl::Home::kNone) Fixed();
    f.def.attributes = attributes;
  });
}

int Field::OrdinalPosition() const {
  return RunQuiet("DAO.Field", [&] { return CurrentDef(FieldOrNothing(impl_)).ordinal; });
}

void Field::SetOrdinalPosition(int position) {
  RunOther("Field.OrdinalPosition", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
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
    const FieldImpl& f = FieldOrNothing(impl_);
    if (f.home != FieldImpl::Home::kRelation) return f.foreign_name;
    std::shared_ptr<const Schema> s = f.db->CurrentSchema();
    const RelationDef* r = s->RelationById(f.owner_id);
    if (r == nullptr || f.position >= static_cast<int>(r->fields.size())) Gone("relation");
    return FieldOf(TableOf(*s, r->foreign_table_id), r->fields[f.position].second).name;
  });
}

void Field::SetForeignName(const std::string& name) {
  RunOther("Field.ForeignName", "DAO.Field", [&] {
    FieldImpl& f = const_cast<FieldImpl&>(FieldOrNothing(impl_));
    if (f.home != FieldImpl::Home::kNone) Fixed();
    f.foreign_name = name;
  });
}

// ---------------------------------------------------------------------------
// FieldCollection.

namespace {
FieldOwner& OwnerOrNothing(const std::shared_ptr<FieldOwner>& owner) {
  if (!owner) RaiseNothing();
  return *owner;
}
}  // namespace

int FieldCollection::Count() const {
  return RunQuiet("DAO.Fields", [&] { return OwnerOrNothing(owner_).Count(); });
}

Field FieldCollection::Item(int index) const {
  return RunOther("Fields.Item", "DAO.Fields", [&] { return OwnerOrNothing(owner_).Item(index); });
}

Field FieldCollection::Item(const std::string& name) const {
  return RunOther("Fields.Item", "DAO.Fields", [&] { return OwnerOrNothing(owner_).Item(name); });
}

void FieldCollection::Append(const Field& field) {
  RunOther("Fields.Append", "DAO.Fields", [&] { OwnerOrNothing(owner_).Append(field); });
}

void FieldCollection::Delete(const std::string& name) {
  RunOther("Fields.Delete", "DAO.Fields", [&] { OwnerOrNothing(owner_).Delete(name); });
}

void FieldCollection::Refresh() {
  RunOther("Fields.Refresh", "DAO.Fields", [&] { OwnerOrNothing(owner_); });
}

// ---------------------------------------------------------------------------
// Index.

namespace {

IndexImpl& IndexOrNothing(const std::shared_ptr<IndexImpl>& i) {
  if (!i) RaiseNothing();
  return *i;
}

IndexDef CurrentIndex(const IndexImpl& i) {
  if (i.def.id == 0) return i.def;
  std::shared_ptr<const Schema> s = i.db->CurrentSchema();
  const IndexDef* d = TableOf(*s, i.table_id).IndexById(i.def.id);
  if (d == nullptr) Gone("index");
  return *d;
}

template <class F>
void SetIndexProperty(const std::shared_ptr<IndexImpl>& impl, const char* name, F set) {
  RunOther(name, "DAO.Index", [&] {
    IndexImpl& i = IndexOrNothing(impl);
    if (i.def.id != 0) Fixed();
    set(i.def);
  });
}

}  // namespace

std::string Index::Name() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).name; });
}
void Index::SetName(const std::string& name) {
  SetIndexProperty(impl_, "Index.Name", [&](IndexDef& d) { d.name = name; });
}
bool Index::Primary() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).primary; });
}
void Index::SetPrimary(bool primary) {
  SetIndexProperty(impl_, "Index.Primary", [&](IndexDef& d) { d.primary = primary; });
}
bool Index::Unique() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).unique; });
}
void Index::SetUnique(bool unique) {
  SetIndexProperty(impl_, "Index.Unique", [&](IndexDef& d) { d.unique = unique; });
}
bool Index::Required() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).required; });
}
void Index::SetRequired(bool required) {
  SetIndexProperty(impl_, "Index.Required", [&](IndexDef& d) { d.required = required; });
}
bool Index::IgnoreNulls() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).ignore_nulls; });
}
void Index::SetIgnoreNulls(bool ignore) {
  SetIndexProperty(impl_, "Index.IgnoreNulls", [&](IndexDef& d) { d.ignore_nulls = ignore; });
}
bool Index::Clustered() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).clustered; });
}
void Index::SetClustered(bool clustered) {
  SetIndexProperty(impl_, "Index.Clustered", [&](IndexDef& d) { d.clustered = clustered; });
}
bool Index::Foreign() const {
  return RunQuiet("DAO.Index", [&] { return CurrentIndex(IndexOrNothing(impl_)).foreign; });
}

FieldCollection Index::Fields() const {
  return RunQuiet("DAO.Index", [&] {
    IndexOrNothing(impl_);
    return FieldOwner::Make(std::make_shared<IndexFields>(impl_));
  });
}

Field Index::CreateField(const std::string& name, int type, long size) {
  return RunOther("Index.CreateField", "DAO.Index", [&] {
    IndexOrNothing(impl_);
    auto f = std::make_shared<FieldImpl>();
    f->def = NewFieldDef(name, type == 0 ? dbText : type, size);
    f->def.attributes = 0;
    return Access::MakeField(f);
  });
}

// ---------------------------------------------------------------------------
// IndexCollection.

namespace {
TableDefImpl& TableOrNothing(const std::shared_ptr<TableDefImpl>& t) {
  if (!t) RaiseNothing();
  return *t;
}
}  // namespace

int IndexCollection::Count() const {
  return RunQuiet("DAO.Indexes", [&] {
    TableDefImpl& td = TableOrNothing(table_);
    if (td.id == 0) return static_cast<int>(td.indexes.size());
    return static_cast<int>(TableOf(*td.db->CurrentSchema(), td.id).indexes.size());
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
    TableDefImpl& td = TableOrNothing(table_);
    if (td.id == 0) {
      if (index < 0 || index >= static_cast<int>(td.indexes.size())) {
        NotFound("index " + std::to_string(index));
      }
      return Access::MakeIndex(td.indexes[index]);
    }
    std::shared_ptr<const Schema> s = td.db->CurrentSchema();
    const TableSchema& t = TableOf(*s, td.id);
    if (index < 0 || index >= static_cast<int>(t.indexes.size())) {
      NotFound("index " + std::to_string(index) + " of table '" + t.name + "'");
    }
    return AttachedIndex(td, t.indexes[index]);
  });
}

Index IndexCollection::Item(const std::string& name) const {
  return RunOther("Indexes.Item", "DAO.Indexes", [&] {
    TableDefImpl& td = TableOrNothing(table_);
    if (td.id == 0) {
      for (const auto& i : td.indexes) {
        if (SameName(i->def.name, name)) return Access::MakeIndex(i);
      }
      NotFound("index '" + name + "'");
    }
    std::shared_ptr<const Schema> s = td.db->CurrentSchema();
    const TableSchema& t = TableOf(*s, td.id);
    const IndexDef* d = t.FindIndex(name);
    if (d == nullptr) NotFound("index '" + name + "' of table '" + t.name + "'");
    return AttachedIndex(td, *d);
  });
}

void IndexCollection::Append(const Index& index) {
  RunOther("Indexes.Append", "DAO.Indexes", [&] {
    TableDefImpl& td = TableOrNothing(table_);
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
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      IndexDef def = ResolveIndex(*impl, TableOf(*s, td.id));
      def.foreign = false;
      id = AddIndex(db, td.id, def);
    });
    AttachIndex(*impl, td.db, td.id, id);
  });
}

void IndexCollection::Delete(const std::string& name) {
  RunOther("Indexes.Delete", "DAO.Indexes", [&] {
    TableDefImpl& td = TableOrNothing(table_);
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
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      const TableSchema& t = TableOf(*s, td.id);
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
          Raise(kErrFieldInRelation, "The index '" + d->name +
                                         "' cannot be deleted: relation '" + r.name +
                                         "' uses it.");
        }
      }
      RemoveIndex(db, d->id);
    });
  });
}

void IndexCollection::Refresh() {
  RunOther("Indexes.Refresh", "DAO.Indexes", [&] { TableOrNothing(table_); });
}

// ---------------------------------------------------------------------------
// TableDef.

std::string TableDef::Name() const {
  return RunQuiet("DAO.TableDef", [&] {
    TableDefImpl& td = TableOrNothing(impl_);
    if (td.id == 0) return td.name;
    return TableOf(*td.db->CurrentSchema(), td.id).name;
  });
}

void TableDef::SetName(const std::string& name) {
  RunOther("TableDef.Name", "DAO.TableDef", [&] {
    TableDefImpl& td = TableOrNothing(impl_);
    if (td.id != 0) Fixed();
    td.name = name;
  });
}

FieldCollection TableDef::Fields() const {
  return RunQuiet("DAO.TableDef", [&] {
    TableOrNothing(impl_);
    return FieldOwner::Make(std::make_shared<TableFields>(impl_));
  });
}

IndexCollection TableDef::Indexes() const {
  return RunQuiet("DAO.TableDef", [&] {
    TableOrNothing(impl_);
    return IndexCollection(impl_);
  });
}

Field TableDef::CreateField(const std::string& name, int type, long size) {
  return RunOther("TableDef.CreateField", "DAO.TableDef", [&] {
    TableOrNothing(impl_);
    auto f = std::make_shared<FieldImpl>();
    f->def = NewFieldDef(name, type, size);
    return Access::MakeField(f);
  });
}

Index TableDef::CreateIndex(const std::string& name) {
  return RunOther("TableDef.CreateIndex", "DAO.TableDef", [&] {
    TableOrNothing(impl_);
    auto i = std::make_shared<IndexImpl>();
    i->def.name = name;
    return Access::MakeIndex(i);
  });
}

// ---------------------------------------------------------------------------
// TableDefCollection.

namespace {
DatabaseImpl& OpenDatabaseOrNothing(const std::shared_ptr<DatabaseImpl>& db) {
  if (!db) RaiseNothing();
  db->CheckOpen();
  return *db;
}

TableDef AttachedTable(const std::shared_ptr<DatabaseImpl>& db, const TableSchema& t) {
  auto td = std::make_shared<TableDefImpl>();
  td->db = db;
  td->id = t.id;
  td->name = t.name;
  return Access::MakeTableDef(td);
}
}  // namespace

int TableDefCollection::Count() const {
  return RunQuiet("DAO.TableDefs", [&] {
    return static_cast<int>(OpenDatabaseOrNothing(db_).CurrentSchema()->tables.size());
  });
}

TableDef TableDefCollection::Item(int index) const {
  return RunOther("TableDefs.Item", "DAO.TableDefs", [&] {
    std::shared_ptr<const Schema> s = OpenDatabaseOrNothing(db_).CurrentSchema();
    if (index < 0 || index >= static_cast<int>(s->tables.size())) {
      NotFound("table " + std::to_string(index));
    }
    return AttachedTable(db_, s->tables[index]);
  });
}

TableDef TableDefCollection::Item(const std::string& name) const {
  return RunOther("TableDefs.Item", "DAO.TableDefs", [&] {
    std::shared_ptr<const Schema> s = OpenDatabaseOrNothing(db_).CurrentSchema();
    const TableSchema* t = s->FindTable(name);
    if (t == nullptr) NotFound("table '" + name + "'");
    return AttachedTable(db_, *t);
  });
}

void TableDefCollection::Append(const TableDef& table) {
  RunOther("TableDefs.Append", "DAO.TableDefs", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    const std::shared_ptr<TableDefImpl>& td = Access::ImplOf(table);
    if (!td) RaiseNothing();
    if (td->id != 0) {
      Raise(kErrInvalidOperation, "The table '" + td->name + "' is already appended.");
    }
    CheckName(td->name, "table");
    if (td->name.size() >= 7 && SameName(td->name.substr(0, 7), "daosys_")) {
      Raise(kErrBadName, "Table names starting with 'daosys_' are reserved for the engine.");
    }
    if (td->fields.empty()) {
      Raise(kErrNoFields, "The table '" + td->name + "' has no fields.");
    }
    for (const auto& f : td->fields) CheckFieldDef(f->def);
    int64_t table_id = 0;
    std::vector<int64_t> field_ids, index_ids;
    ChangeSchema(db, [&] {
      if (db.CurrentSchema()->FindTable(td->name) != nullptr) {
        Raise(kErrTableExists, "The table '" + td->name + "' already exists.");
      }
      std::string columns;
      for (const auto& f : td->fields) {
        if (!columns.empty()) columns += ", ";
        columns += QuoteName(f->def.name) + " " + StorageType(f->def.type);
      }
      Exec(db.conn, "CREATE TABLE " + QuoteName(td->name) + " (" + columns + ")");
      Statement add(db.conn, "INSERT INTO daosys_tables(name) VALUES (?)");
      add.Bind(1, td->name).Run();
      table_id = LastId(db);
      for (const auto& f : td->fields) {
        db.SchemaChanged();
        std::shared_ptr<const Schema> s = db.CurrentSchema();
        field_ids.push_back(AddColumn(db, TableOf(*s, table_id), *f, false));
      }
      for (const auto& i : td->indexes) {
        db.SchemaChanged();
        std::shared_ptr<const Schema> s = db.CurrentSchema();
        IndexDef def = ResolveIndex(*i, TableOf(*s, table_id));
        def.foreign = false;
        index_ids.push_back(AddIndex(db, table_id, def));
        db.SchemaChanged();
      }
    });
    td->db = db_;
    td->id = table_id;
    for (size_t i = 0; i < td->fields.size(); ++i) {
      AttachField(*td->fields[i], db_, table_id, field_ids[i]);
    }
    for (size_t i = 0; i < td->indexes.size(); ++i) {
      AttachIndex(*td->indexes[i], db_, table_id, index_ids[i]);
    }
    td->fields.clear();
    td->indexes.clear();
  });
}

void TableDefCollection::Delete(const std::string& name) {
  RunOther("TableDefs.Delete", "DAO.TableDefs", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    ChangeSchema(db, [&] {
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      const TableSchema* t = s->FindTable(name);
      if (t == nullptr) NotFound("table '" + name + "'");
      for (const RelationDef& r : s->relations) {
        if (r.table_id == t->id || r.foreign_table_id == t->id) {
          Raise(kErrFieldInRelation, "The table '" + t->name +
                                         "' cannot be deleted: it is part of relation '" +
                                         r.name + "'.");
        }
      }
      for (const IndexDef& i : t->indexes) RemoveIndex(db, i.id);
      Exec(db.conn, "DROP TABLE " + QuoteName(t->name));
      Statement f(db.conn, "DELETE FROM daosys_fields WHERE table_id = ?");
      f.Bind(1, t->id).Run();
      Statement d(db.conn, "DELETE FROM daosys_tables WHERE id = ?");
      d.Bind(1, t->id).Run();
    });
  });
}

void TableDefCollection::Refresh() {
  RunOther("TableDefs.Refresh", "DAO.TableDefs", [&] { OpenDatabaseOrNothing(db_); });
}

// ---------------------------------------------------------------------------
// Relation.

namespace {

RelationImpl& RelationOrNothing(const std::shared_ptr<RelationImpl>& r) {
  if (!r) RaiseNothing();
  return *r;
}

// name, table, foreign table, attributes as they are now.
RelationImpl CurrentRelation(const RelationImpl& r) {
  if (r.id == 0) return r;
  std::shared_ptr<const Schema> s = r.db->CurrentSchema();
  const RelationDef* d = s->RelationById(r.id);
  if (d == nullptr) Gone("relation");
  RelationImpl out;
  out.name = d->name;
  out.table = TableOf(*s, d->table_id).name;
  out.foreign_table = TableOf(*s, d->foreign_table_id).name;
  out.attributes = d->attributes;
  return out;
}

template <class F>
void SetRelationProperty(const std::shared_ptr<RelationImpl>& impl, const char* name, F set) {
  RunOther(name, "DAO.Relation", [&] {
    RelationImpl& r = RelationOrNothing(impl);
    if (r.id != 0) Fixed();
    set(r);
  });
}

}  // namespace

std::string Relation::Name() const {
  return RunQuiet("DAO.Relation", [&] { return CurrentRelation(RelationOrNothing(impl_)).name; });
}
std::string Relation::Table() const {
  return RunQuiet("DAO.Relation", [&] { return CurrentRelation(RelationOrNothing(impl_)).table; });
}
std::string Relation::ForeignTable() const {
  return RunQuiet("DAO.Relation",
                  [&] { return CurrentRelation(RelationOrNothing(impl_)).foreign_table; });
}
long Relation::Attributes() const {
  return RunQuiet("DAO.Relation",
                  [&] { return CurrentRelation(RelationOrNothing(impl_)).attributes; });
}
void Relation::SetName(const std::string& name) {
  SetRelationProperty(impl_, "Relation.Name", [&](RelationImpl& r) { r.name = name; });
}
void Relation::SetTable(const std::string& table) {
  SetRelationProperty(impl_, "Relation.Table", [&](RelationImpl& r) { r.table = table; });
}
void Relation::SetForeignTable(const std::string& table) {
  SetRelationProperty(impl_, "Relation.ForeignTable",
                      [&](RelationImpl& r) { r.foreign_table = table; });
}
void Relation::SetAttributes(long attributes) {
  SetRelationProperty(impl_, "Relation.Attributes",
                      [&](RelationImpl& r) { r.attributes = attributes; });
}

FieldCollection Relation::Fields() const {
  return RunQuiet("DAO.Relation", [&] {
    RelationOrNothing(impl_);
    return FieldOwner::Make(std::make_shared<RelationFields>(impl_));
  });
}

Field Relation::CreateField(const std::string& name) {
  return RunOther("Relation.CreateField", "DAO.Relation", [&] {
    RelationOrNothing(impl_);
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
    return static_cast<int>(OpenDatabaseOrNothing(db_).CurrentSchema()->relations.size());
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

Relation RelationCollection::Item(int index) const {
  return RunOther("Relations.Item", "DAO.Relations", [&] {
    std::shared_ptr<const Schema> s = OpenDatabaseOrNothing(db_).CurrentSchema();
    if (index < 0 || index >= static_cast<int>(s->relations.size())) {
      NotFound("relation " + std::to_string(index));
    }
    return AttachedRelation(db_, s->relations[index]);
  });
}

Relation RelationCollection::Item(const std::string& name) const {
  return RunOther("Relations.Item", "DAO.Relations", [&] {
    std::shared_ptr<const Schema> s = OpenDatabaseOrNothing(db_).CurrentSchema();
    const RelationDef* d = s->FindRelation(name);
    if (d == nullptr) NotFound("relation '" + name + "'");
    return AttachedRelation(db_, *d);
  });
}

void RelationCollection::Append(const Relation& relation) {
  RunOther("Relations.Append", "DAO.Relations", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    const std::shared_ptr<RelationImpl>& rel = Access::ImplOf(relation);
    if (!rel) RaiseNothing();
    if (rel->id != 0) {
      Raise(kErrInvalidOperation, "The relation '" + rel->name + "' is already appended.");
    }
    CheckName(rel->name, "relation");
    if (rel->fields.empty()) {
      Raise(kErrNoFields, "The relation '" + rel->name + "' has no fields.");
    }
    int64_t id = 0;
    ChangeSchema(db, [&] {
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      if (s->FindRelation(rel->name) != nullptr) {
        Raise(kErrIndexExists, "The relation '" + rel->name + "' already exists.");
      }
      const TableSchema* p = s->FindTable(rel->table);
      if (p == nullptr) NotFound("table '" + rel->table + "' of relation '" + rel->name + "'");
      const TableSchema* f = s->FindTable(rel->foreign_table);
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
          match += "y." + QuoteName(FieldOf(*p, pid).name) + " = " + fn +
                   KeyCollation(FieldOf(*p, pid));
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
      std::shared_ptr<const Schema> s = db.CurrentSchema();
      const RelationDef* d = s->FindRelation(name);
      if (d == nullptr) NotFound("relation '" + name + "'");
      const TableSchema& f = TableOf(*s, d->foreign_table_id);
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
