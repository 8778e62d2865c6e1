// Other programs' indexes, views and triggers, set aside while a column is
// replaced and made again from their own SQL afterwards (dao.h).

#include "platform/dao/internal/schema.h"

namespace dao {
namespace internal {
namespace {

// The check at open refuses a file that holds any object of the engine's
// reserved names that its catalog does not make, so an object is another
// program's exactly when its name lacks the prefix.
bool OtherProgramsName(const std::string& name) { return !HasReservedPrefix(name); }

std::string Named(const std::string& type, const std::string& name) {
  return "the " + type + " '" + name + "' of another program";
}

// How each refusal to replace `field` of `table` begins.
std::string CannotReplace(const CatalogTable& table, const FieldDef& field) {
  return "The field '" + field.name + "' of table '" + table.name + "' cannot be replaced: ";
}

// 3303 where a foreign key of a table of the file names `field` of `table`:
// as the key of another table that refers to it, or as the table's own key
// that refers elsewhere.
void RefuseForeignKeys(DatabaseImpl& db, const CatalogTable& table, const FieldDef& field) {
  Statement keys(db.conn,
                 "SELECT m.name, k.\"table\", k.\"from\", k.\"to\" FROM sqlite_master m, "
                 "pragma_foreign_key_list(m.name) k WHERE m.type = 'table' ORDER BY m.rowid");
  while (keys.Step()) {
    const std::string owner = keys.Text(0);
    const bool refers_to_it =
        SameName(keys.Text(1), table.name) && SameName(keys.Text(3), field.name);
    const bool is_its_own = SameName(owner, table.name) && SameName(keys.Text(2), field.name);
    if (refers_to_it || is_its_own) {
      Raise(kErrFieldInRelation, CannotReplace(table, field) + "a foreign key of table '" + owner +
                                     "', made by another program, names it.");
    }
  }
}

// 3219 where replacing `field` of `table` would break on what is written in
// the file, rehearsed first on a copy of the file's tables in memory, where
// nothing of the file changes.  SQLite checks every table and index of the
// file at a rename or drop of a column, on the engine's connections a
// double-quoted word is a name, and a generated column or a table's CHECK
// that names the column keeps the column from being dropped.  So the copy
// holds every table and the indexes of the other tables, the column is
// renamed, made anew and dropped as the retyping does, and then the indexes
// of `saved` are made again as they are written.  Views and triggers are
// left out: those of other programs are set aside and made again whatever
// names they hold, and the engine's own are the engine's to keep.
void RehearseReplacing(DatabaseImpl& db, const CatalogTable& table, const FieldDef& field,
                       const std::vector<OtherProgramsObjects::Saved>& saved) {
  const MemoryDatabase copy;
  sqlite3* memory = copy.conn();
  auto make = [&](const std::string& type, const std::string& name, const std::string& sql) {
    try {
      Exec(memory, sql);
    } catch (const kav::Error& error) {
      Raise(kErrInvalidOperation, CannotReplace(table, field) + Named(type, name) +
                                      " could not be made again as it is written (" +
                                      error.description() + ").");
    }
  };
  // Tables first, then indexes; SQLite's own tables and the tables of
  // virtual tables, which need their module, are not copied.
  Statement objects(db.conn,
                    "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE type IN "
                    "('table', 'index') AND sql IS NOT NULL AND name NOT LIKE 'sqlite\\_%' "
                    "ESCAPE '\\' AND sql NOT LIKE 'CREATE VIRTUAL TABLE%' "
                    "ORDER BY type = 'index', rowid");
  while (objects.Step()) {
    if (objects.Text(0) == "index" && SameName(objects.Text(2), table.name)) continue;
    make(objects.Text(0), objects.Text(1), objects.Text(3));
  }
  const std::string alter = "ALTER TABLE " + QuoteName(table.name);
  const std::string aside = QuoteName("daosys_replaced_" + field.name);
  try {
    Exec(memory, alter + " RENAME COLUMN " + QuoteName(field.name) + " TO " + aside);
    Exec(memory, alter + " ADD COLUMN " + QuoteName(field.name));
    Exec(memory, alter + " DROP COLUMN " + aside);
  } catch (const kav::Error& error) {
    Raise(kErrInvalidOperation, CannotReplace(table, field) + error.description() + ".");
  }
  for (const OtherProgramsObjects::Saved& o : saved) {
    if (o.type == "index") make(o.type, o.name, o.sql);
  }
}

// Runs `change` in a savepoint, and has the catalog loaded anew afterwards,
// whether the change is kept or undone: whether the file holds triggers of
// other programs decides how the engine's own cascades run.
template <class F>
void ChangeOtherProgramsObjects(DatabaseImpl& db, F&& change) {
  struct Reload {
    DatabaseImpl& db;
    ~Reload() { db.SchemaChanged(); }
  } reload{db};
  InSavepoint(db, Savepoint::kSchema, std::forward<F>(change));
}

// Field `field` of table `table` in `catalog`; nulls where either is not
// there.
std::pair<const CatalogTable*, const FieldDef*> FindColumn(const Catalog& catalog,
                                                           const std::string& table,
                                                           const std::string& field) {
  const CatalogTable* t = catalog.FindTable(table);
  return {t, t == nullptr ? nullptr : t->FindField(field)};
}

// The objects of other programs that replacing `field` of `table` would
// break, after the refusals that keep the file as it is.
std::vector<OtherProgramsObjects::Saved> ObjectsToSetAside(DatabaseImpl& db,
                                                           const CatalogTable& table,
                                                           const FieldDef& field) {
  RefuseForeignKeys(db, table, field);
  std::vector<OtherProgramsObjects::Saved> saved;
  Statement objects(db.conn,
                    "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE type IN "
                    "('index', 'view', 'trigger') AND sql IS NOT NULL ORDER BY rowid");
  while (objects.Step()) {
    const std::string type = objects.Text(0), name = objects.Text(1);
    if (!OtherProgramsName(name)) continue;
    if (type == "index" && !SameName(objects.Text(2), table.name)) continue;
    saved.push_back({type, name, objects.Text(3)});
  }
  RehearseReplacing(db, table, field, saved);
  return saved;
}

}  // namespace
}  // namespace internal

using namespace internal;

void Database::CheckOtherProgramsObjects(const std::string& table, const std::string& field) {
  RunQuiet("DAO.Database", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(impl_);
    std::shared_ptr<const Catalog> catalog = db.CurrentCatalog();
    const auto [t, f] = FindColumn(*catalog, table, field);
    if (f != nullptr) ObjectsToSetAside(db, *t, *f);
  });
}

OtherProgramsObjects Database::SetAsideOtherProgramsObjects(const std::string& table,
                                                            const std::string& field) {
  return RunQuiet("DAO.Database", [&] {
    DatabaseImpl& db = OpenDatabaseOrNothing(impl_);
    OtherProgramsObjects out;
    out.db_ = impl_;
    std::shared_ptr<const Catalog> catalog = db.CurrentCatalog();
    const auto [t, f] = FindColumn(*catalog, table, field);
    if (f == nullptr) return out;
    out.saved_ = ObjectsToSetAside(db, *t, *f);
    if (out.saved_.empty()) return out;
    // Last made, first dropped: a view's triggers go with the view.
    ChangeOtherProgramsObjects(db, [&] {
      for (auto o = out.saved_.rbegin(); o != out.saved_.rend(); ++o) {
        Exec(db.conn, "DROP " + o->type + " IF EXISTS " + QuoteName(o->name));
      }
    });
    return out;
  });
}

void OtherProgramsObjects::PutBack() {
  RunQuiet("DAO.Database", [&] {
    if (saved_.empty()) return;
    DatabaseImpl& db = OpenDatabaseOrNothing(db_);
    ChangeOtherProgramsObjects(db, [&] {
      for (const Saved& o : saved_) {
        try {
          Exec(db.conn, o.sql);
        } catch (const kav::Error& error) {
          Raise(error.number(),
                Named(o.type, o.name) + " cannot be made again: " + error.description());
        }
      }
    });
    saved_.clear();
  });
}

}  // namespace dao
