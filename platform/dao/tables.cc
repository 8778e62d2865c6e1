// Table definitions: the fields of a table (adding and dropping its
// columns), TableDef, TableDefCollection, and the database's calls for its
// tables (TableDefs, CreateTableDef).

#include <algorithm>

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {

// ---------------------------------------------------------------------------
// The fields of a table.

namespace {

std::shared_ptr<FieldImpl> AttachedTableField(const std::shared_ptr<DatabaseImpl>& db,
                                              int64_t table_id, int64_t field_id) {
  auto f = std::make_shared<FieldImpl>();
  f->home = FieldImpl::Home::kTable;
  f->db = db;
  f->table_id = table_id;
  f->field_id = field_id;
  return f;
}

void CheckFieldDef(const FieldDef& def) {
  CheckName(def.name, "field");
  if (!IsFieldType(def.type)) {
    Raise(kErrBadFieldType, "The field '" + def.name + "' has an unknown data type (" +
                                std::to_string(def.type) + ").");
  }
  if (def.type == dbText && (def.size < 1 || def.size > 255)) {
    Raise(kErrInvalidOperation,
          "The size of text field '" + def.name + "' must be from 1 to 255 characters.");
  }
}

// Writes the catalog row and the column of a new table field.
int64_t AddColumn(DatabaseImpl& db, const CatalogTable& table, const FieldImpl& f,
                  bool create_column) {
  FieldDef def = f.def;
  if (def.type != dbText) def.size = DefaultSize(def.type);
  int ordinal = def.ordinal;
  if (!f.ordinal_set) {
    ordinal = 0;
    for (const FieldDef& other : table.fields) ordinal = std::max(ordinal, other.ordinal + 1);
  }
  if (create_column) {
    Exec(db.conn, "ALTER TABLE " + QuoteName(table.name) + " ADD COLUMN " + QuoteName(def.name) +
                      " " + StorageType(def.type));
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
  std::shared_ptr<const Catalog> Current() const { return td->db->CurrentCatalog(); }

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
    std::shared_ptr<const Catalog> s = Current();
    const CatalogTable& t = TableOf(*s, td->id);
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
    std::shared_ptr<const Catalog> s = Current();
    const CatalogTable& t = TableOf(*s, td->id);
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
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const CatalogTable& t = TableOf(*s, td->id);
      if (t.FindField(f->def.name) != nullptr) {
        Raise(kErrFieldExists,
              "The field '" + f->def.name + "' already exists in table '" + t.name + "'.");
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
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const CatalogTable& t = TableOf(*s, td->id);
      const FieldDef* f = t.FindField(name);
      if (f == nullptr) NotFound("field '" + name + "' of table '" + t.name + "'");
      for (const RelationDef& r : s->relations) {
        for (const auto& [p, fk] : r.fields) {
          if ((r.table_id == t.id && p == f->id) || (r.foreign_table_id == t.id && fk == f->id)) {
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
                                        "' cannot be deleted: it is part of index '" + index.name +
                                        "'.");
          }
        }
      }
      if (t.fields.size() == 1) {
        Raise(kErrInvalidOperation, "The last field of table '" + t.name + "' cannot be deleted.");
      }
      Exec(db.conn, "ALTER TABLE " + QuoteName(t.name) + " DROP COLUMN " + QuoteName(f->name));
      Statement del(db.conn, "DELETE FROM daosys_fields WHERE id = ?");
      del.Bind(1, f->id).Run();
    });
  }
};

}  // namespace

DatabaseImpl& OpenDatabaseOrNothing(const std::shared_ptr<DatabaseImpl>& db) {
  if (!db) RaiseNothing();
  db->CheckOpen();
  return *db;
}

}  // namespace internal

using namespace internal;

// ---------------------------------------------------------------------------
// TableDef.

std::string TableDef::Name() const {
  return RunQuiet("DAO.TableDef", [&] {
    TableDefImpl& td = ObjectOrNothing(impl_);
    if (td.id == 0) return td.name;
    return TableOf(*td.db->CurrentCatalog(), td.id).name;
  });
}

void TableDef::SetName(const std::string& name) {
  RunOther("TableDef.Name", "DAO.TableDef", [&] {
    TableDefImpl& td = ObjectOrNothing(impl_);
    if (td.id != 0) Fixed();
    td.name = name;
  });
}

FieldCollection TableDef::Fields() const {
  return RunQuiet("DAO.TableDef", [&] {
    ObjectOrNothing(impl_);
    return FieldOwner::Make(std::make_shared<TableFields>(impl_));
  });
}

IndexCollection TableDef::Indexes() const {
  return RunQuiet("DAO.TableDef", [&] {
    ObjectOrNothing(impl_);
    return IndexCollection(impl_);
  });
}

Field TableDef::CreateField(const std::string& name, int type, long size) {
  return RunOther("TableDef.CreateField", "DAO.TableDef", [&] {
    ObjectOrNothing(impl_);
    auto f = std::make_shared<FieldImpl>();
    f->def = NewFieldDef(name, type, size);
    return Access::MakeField(f);
  });
}

Index TableDef::CreateIndex(const std::string& name) {
  return RunOther("TableDef.CreateIndex", "DAO.TableDef", [&] {
    ObjectOrNothing(impl_);
    auto i = std::make_shared<IndexImpl>();
    i->def.name = name;
    return Access::MakeIndex(i);
  });
}

// ---------------------------------------------------------------------------
// TableDefCollection.

namespace {
TableDef AttachedTable(const std::shared_ptr<DatabaseImpl>& db, const CatalogTable& t) {
  auto td = std::make_shared<TableDefImpl>();
  td->db = db;
  td->id = t.id;
  td->name = t.name;
  return Access::MakeTableDef(td);
}
}  // namespace

int TableDefCollection::Count() const {
  return RunQuiet("DAO.TableDefs", [&] {
    return static_cast<int>(OpenDatabaseOrNothing(db_).CurrentCatalog()->tables.size());
  });
}

namespace {
constexpr CatalogCollection<CatalogTable> kTableDefs = {"TableDefs.Item", "DAO.TableDefs", "table",
                                                        &Catalog::tables, &Catalog::FindTable};
}  // namespace

TableDef TableDefCollection::Item(int index) const {
  return ItemAt(db_, kTableDefs, index, AttachedTable);
}

TableDef TableDefCollection::Item(const std::string& name) const {
  return ItemNamed(db_, kTableDefs, name, AttachedTable);
}

void TableDefCollection::Append(const TableDef& table) {
  RunOther("TableDefs.Append", "DAO.TableDefs", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    TableDefImpl* td = &ToAppend(Access::ImplOf(table), "table");
    if (HasReservedPrefix(td->name)) {
      Raise(kErrBadName, "Table names starting with 'daosys_' are reserved for the engine.");
    }
    if (td->fields.empty()) {
      Raise(kErrNoFields, "The table '" + td->name + "' has no fields.");
    }
    for (const auto& f : td->fields) CheckFieldDef(f->def);
    int64_t table_id = 0;
    std::vector<int64_t> field_ids, index_ids;
    ChangeSchema(db, [&] {
      if (db.CurrentCatalog()->FindTable(td->name) != nullptr) {
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
        std::shared_ptr<const Catalog> s = db.CurrentCatalog();
        field_ids.push_back(AddColumn(db, TableOf(*s, table_id), *f, false));
      }
      for (const auto& i : td->indexes) {
        db.SchemaChanged();
        std::shared_ptr<const Catalog> s = db.CurrentCatalog();
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
      std::shared_ptr<const Catalog> s = db.CurrentCatalog();
      const CatalogTable* t = s->FindTable(name);
      if (t == nullptr) NotFound("table '" + name + "'");
      for (const RelationDef& r : s->relations) {
        if (r.table_id == t->id || r.foreign_table_id == t->id) {
          Raise(kErrFieldInRelation, "The table '" + t->name +
                                         "' cannot be deleted: it is part of relation '" + r.name +
                                         "'.");
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
// The database's calls for its tables.

TableDefCollection Database::TableDefs() const {
  return RunQuiet("DAO.Database", [&] {
    OpenDatabaseOrNothing(impl_);
    return TableDefCollection(impl_);
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

}  // namespace dao
