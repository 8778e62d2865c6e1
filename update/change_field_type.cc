// ChangeFieldType: retypes one column by replacing it.
//
// The relations and indexes that include the column are saved and removed,
// the column is renamed to a free temporary name, a new column of the new
// type takes its name and ordinal position, the data is copied across with
// one statement, the temporary column is deleted, and the indexes and
// relations are rebuilt.  Relations and indexes are saved, and rebuilt, in
// the order found: from the last object of each collection to the first.
// What other programs have made on the table (their indexes, views and
// triggers, none of them in the catalog) is set aside before the first step
// and made again after the last, so that it names the new column.
//
// The eight steps run in two nested transactions of the workspace in which
// `db` is open, so that a failure at any step puts the table back exactly as
// it was (name, type, data, indexes, relations, other programs' objects).
// Transactions of the engine's default workspace would not cover `db`, and
// a failed retyping would then leave the data under the temporary name,
// where no later run could find the column again.

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "update/update.h"

namespace {

struct SavedRelationField {
  std::string name;
  long attributes;
  std::string table;
  std::string foreign_table;
  std::string field;
  std::string foreign_name;
};

struct SavedIndexField {
  std::string name;
  bool primary, unique, required, ignore_nulls, clustered;
  std::string field;
  long attributes;
};

void SaveRelationInfo(const dao::Relation& relation, std::vector<SavedRelationField>& saved) {
  dao::FieldCollection fields = relation.Fields();
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field f = fields.Item(i);
    saved.push_back({relation.Name(), relation.Attributes(), relation.Table(),
                     relation.ForeignTable(), f.Name(), f.ForeignName()});
  }
}

void SaveIndexInfo(const dao::Index& index, std::vector<SavedIndexField>& saved) {
  dao::FieldCollection fields = index.Fields();
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field f = fields.Item(i);
    saved.push_back({index.Name(), index.Primary(), index.Unique(), index.Required(),
                     index.IgnoreNulls(), index.Clustered(), f.Name(), f.Attributes()});
  }
}

// The transactions of a workspace that a retyping has begun and not yet
// committed.  Whatever is still open when it goes out of scope is rolled
// back, inner first, with errors ignored: a rollback that fails leaves
// nothing more to undo here.
class OpenTransactions {
 public:
  explicit OpenTransactions(dao::Workspace& ws) : ws_(ws) {}
  OpenTransactions(const OpenTransactions&) = delete;
  OpenTransactions& operator=(const OpenTransactions&) = delete;
  ~OpenTransactions() {
    for (; count_ > 0; --count_) {
      try {
        ws_.Rollback();
      } catch (const kav::Error&) {
        // Ignored: see above.
      }
    }
  }

  void Begin() {
    ws_.BeginTrans();
    ++count_;
  }
  void Commit() {
    ws_.CommitTrans();
    --count_;
  }
  // Commits the inner transaction and begins a new one at once.
  void NextInner() {
    Commit();
    Begin();
  }

 private:
  dao::Workspace& ws_;
  int count_ = 0;
};

// Looks the field up with errors ignored.  A failed look-up stays in the
// engine's error list, where the error text may later report it.
bool FieldExists(const dao::TableDef& td, const std::string& name) {
  try {
    td.Fields().Item(name);
    return true;
  } catch (const kav::Error&) {
    return false;
  }
}

// Whether `fields` holds a field whose name, as `name_of` reads it, is
// `name`: looked for from the first field, up to the first that matches.
template <class NameOf>
bool HoldsField(const dao::FieldCollection& fields, NameOf name_of, const std::string& name) {
  for (int j = 0; j < fields.Count(); ++j) {
    if (kav::EqualsIgnoringCase(name_of(fields.Item(j)), name)) return true;
  }
  return false;
}

std::string NameOf(const dao::Field& f) { return f.Name(); }
std::string ForeignNameOf(const dao::Field& f) { return f.ForeignName(); }

// The new column, as the caller describes it.
struct NewField {
  int iType;
  long lSize;
  bool bAllowZeroLength;
  bool bNotRequired;
  long lAttributes;
};

// What the steps of one retyping share: the column and its new form, where
// the retyping stands (sStep and sDetail, the first lines of its error
// text), and what a step finds or saves for a later one.
struct Retyping {
  dao::Database& db;
  const std::string& sTable;
  const std::string& sField;
  NewField new_field;
  std::string sStep = {};
  std::string sDetail = {};
  std::string sTempField = {};
  int ordinal_position = 0;
  std::vector<SavedRelationField> colRelationInfo = {};
  std::vector<SavedIndexField> colIndexInfo = {};
  dao::OtherProgramsObjects others = {};
  dao::TableDef td = {};
  dao::Field fld = {};

  void BeginStep(std::string step) {
    sStep = std::move(step);
    sDetail.clear();
  }
};

// Before step 1: the indexes, views and triggers that other programs have
// made on the table are set aside, or the retyping is refused before it
// writes anything where one of them cannot be kept (dao.h).  Steps 3 and
// 6 would otherwise carry them off to the temporary column and then break
// them.  The engine's error names the object; on a file without such
// objects nothing is set aside, and step 1 follows at once.
void SetAsideOtherProgramsObjects(Retyping& r) {
  r.BeginStep("Setting aside other programs' objects on [" + r.sTable + "]![" + r.sField + "]");
  r.others = r.db.SetAsideOtherProgramsObjects(r.sTable, r.sField);
}

// After step 8, in its transaction: what was set aside is made again and
// names the column of the new type.  Without anything set aside this is no
// step at all, and a failure from here on is step 8's.
void PutBackOtherProgramsObjects(Retyping& r) {
  if (r.others.IsEmpty()) return;
  r.BeginStep("Adding other programs' objects back into database");
  r.others.PutBack();
}

// Step 1: each relation that includes the column, from the last to the
// first, is saved and deleted; the column is looked for on the relation's
// side that is the table.
void RemoveRelations(Retyping& r) {
  r.BeginStep("Removing relations on [" + r.sTable + "]![" + r.sField + "]");
  dao::RelationCollection relations = r.db.Relations();
  for (int i = relations.Count() - 1; i >= 0; --i) {
    dao::Relation rel = relations.Item(i);
    std::string (*side)(const dao::Field&) = nullptr;
    if (kav::EqualsIgnoringCase(rel.Table(), r.sTable)) {
      side = NameOf;
    } else if (kav::EqualsIgnoringCase(rel.ForeignTable(), r.sTable)) {
      side = ForeignNameOf;
    } else {
      continue;
    }
    if (HoldsField(rel.Fields(), side, r.sField)) {
      SaveRelationInfo(rel, r.colRelationInfo);
      r.sDetail = "Removing relation " + rel.Name();
      r.db.Relations().Delete(rel.Name());
    }
  }
}

// Step 2: each index of the table that includes the column, from the last
// to the first, is saved and deleted.  An index that stands for a
// relation's foreign key is left alone.
void RemoveIndexes(Retyping& r) {
  r.BeginStep("Removing indexes on [" + r.sTable + "]![" + r.sField + "]");
  r.db.TableDefs().Refresh();
  r.td = r.db.TableDefs().Item(r.sTable);
  r.td.Indexes().Refresh();
  for (int i = r.td.Indexes().Count() - 1; i >= 0; --i) {
    dao::Index idx = r.td.Indexes().Item(i);
    if (idx.Foreign()) continue;
    if (HoldsField(idx.Fields(), NameOf, r.sField)) {
      SaveIndexInfo(idx, r.colIndexInfo);
      r.sDetail = "Removing index " + idx.Name();
      r.td.Indexes().Delete(idx.Name());
    }
  }
}

// Step 3: the column takes the first free name "XXX<n>", its ordinal
// position remembered.
void RenameField(Retyping& r) {
  r.BeginStep("Renaming field");
  r.td.Fields().Refresh();
  r.fld = r.td.Fields().Item(r.sField);
  r.ordinal_position = r.fld.OrdinalPosition();
  for (int n = 1;; ++n) {
    r.sTempField = "XXX" + std::to_string(n);
    if (!FieldExists(r.td, r.sTempField)) break;
  }
  r.sDetail = "to " + r.sTempField;
  r.fld.SetName(r.sTempField);
  r.fld = dao::Field();
}

// Step 4: a column of the old name and the new type takes the old ordinal
// position.
void AddNewField(Retyping& r) {
  r.BeginStep("Adding new field");
  const NewField& n = r.new_field;
  r.td.Fields().Refresh();
  r.fld = r.td.CreateField(r.sField, n.iType);
  if (n.lSize != 0) r.fld.SetSize(n.lSize);
  r.fld.SetAllowZeroLength(n.bAllowZeroLength);
  r.fld.SetRequired(!n.bNotRequired);
  r.fld.SetAttributes(n.lAttributes);
  r.fld.SetOrdinalPosition(r.ordinal_position);
  r.td.Fields().Append(r.fld);
  r.fld = dao::Field();
  r.td = dao::TableDef();
}

// Step 5: one statement copies every row's value, converted by the engine;
// a value that does not convert fails it whole.
void CopyData(Retyping& r) {
  r.BeginStep("Copying data from " + r.sTempField + " to " + r.sField);
  r.db.Execute("UPDATE [" + r.sTable + "] SET [" + r.sField + "]=[" + r.sTempField + "]",
               dao::dbFailOnError);
}

// Step 6.
void DeleteTemporaryField(Retyping& r) {
  r.BeginStep("Deleting temporary field " + r.sTempField);
  r.td = r.db.TableDefs().Item(r.sTable);
  r.td.Fields().Delete(r.sTempField);
}

// Steps 7 and 8 make the saved objects again: consecutive rows of one name
// give one object, made by `make` from the first of them, with a field
// added by `add_field` for each row in order; an object is appended, with
// sDetail `adding` and its name, only once all its fields are in it.
template <class Object, class Row, class Make, class AddField, class Append>
void Rebuild(Retyping& r, const std::vector<Row>& rows, const std::string& adding, Make make,
             AddField add_field, Append append) {
  Object building;
  const auto append_building = [&] {
    r.sDetail = adding + building.Name();
    append(building);
  };
  for (const Row& row : rows) {
    if (building.IsNothing() || !kav::EqualsIgnoringCase(row.name, building.Name())) {
      if (!building.IsNothing()) append_building();
      building = make(row);
    }
    add_field(building, row);
  }
  if (!building.IsNothing()) append_building();
}

// Step 7.
void AddIndexesBack(Retyping& r) {
  r.BeginStep("Adding indexes back into table");
  r.td = r.db.TableDefs().Item(r.sTable);
  r.td.Fields().Refresh();
  r.td.Indexes().Refresh();
  Rebuild<dao::Index>(
      r, r.colIndexInfo, "Adding index ",
      [&](const SavedIndexField& row) {
        dao::Index index = r.td.CreateIndex(row.name);
        index.SetPrimary(row.primary);
        index.SetUnique(row.unique);
        index.SetRequired(row.required);
        index.SetIgnoreNulls(row.ignore_nulls);
        index.SetClustered(row.clustered);
        return index;
      },
      [&](dao::Index& index, const SavedIndexField& row) {
        r.fld = index.CreateField(row.field);
        r.fld.SetAttributes(row.attributes);
        index.Fields().Append(r.fld);
      },
      [&](const dao::Index& index) { r.td.Indexes().Append(index); });
  r.fld = dao::Field();
  r.td = dao::TableDef();
}

// Step 8.
void AddRelationsBack(Retyping& r) {
  r.BeginStep("Adding relations back into database");
  r.db.Relations().Refresh();
  Rebuild<dao::Relation>(
      r, r.colRelationInfo, "Adding relation ",
      [&](const SavedRelationField& row) {
        return r.db.CreateRelation(row.name, row.table, row.foreign_table, row.attributes);
      },
      [&](dao::Relation& relation, const SavedRelationField& row) {
        r.fld = relation.CreateField(row.field);
        r.fld.SetForeignName(row.foreign_name);
        relation.Fields().Append(r.fld);
      },
      [&](const dao::Relation& relation) { r.db.Relations().Append(relation); });
  r.fld = dao::Field();
}

// The description of the error the retyping raises: "Error " and the step,
// the object under way, then each error of the engine's list, or `failure`
// itself where the list is empty.
std::string ErrorText(const Retyping& r, const std::exception& failure) {
  std::string text = "Error " + r.sStep;
  if (!r.sDetail.empty()) text += "\r\n" + r.sDetail;
  const std::vector<kav::Error>& errors = dao::DBEngine::Instance().Errors();
  if (errors.empty()) {
    const auto* error = dynamic_cast<const kav::Error*>(&failure);
    text += "\r\nError " + std::to_string(error ? error->number() : 51) + " " + failure.what();
  } else {
    for (const kav::Error& e : errors) {
      text +=
          "\r\nError " + std::to_string(e.number()) + " (" + e.source() + ") " + e.description();
    }
  }
  return text;
}

}  // namespace

void ChangeFieldType(dao::Database& db, const std::string& sTable, const std::string& sField,
                     int iType, long lSize, bool bAllowZeroLength, bool bNotRequired,
                     long lAttributes) {
  dao::Workspace ws;
  // Declared before the retyping's table definition and field, so that on
  // a failure they are released before the rollback.
  OpenTransactions transactions(ws);
  Retyping r{db, sTable, sField, {iType, lSize, bAllowZeroLength, bNotRequired, lAttributes}};
  try {
    ws = db.ParentWorkspace();
    transactions.Begin();
    transactions.Begin();
    SetAsideOtherProgramsObjects(r);
    RemoveRelations(r);
    transactions.NextInner();
    RemoveIndexes(r);
    transactions.NextInner();
    RenameField(r);
    transactions.NextInner();
    AddNewField(r);
    transactions.NextInner();
    CopyData(r);
    transactions.NextInner();
    DeleteTemporaryField(r);
    transactions.NextInner();
    AddIndexesBack(r);
    transactions.NextInner();
    AddRelationsBack(r);
    PutBackOtherProgramsObjects(r);
    transactions.Commit();
    transactions.Commit();
  } catch (const std::exception& failure) {
    const std::string text = ErrorText(r, failure);
    // Release, then leave: `transactions` rolls back the inner transaction
    // and the outer one.
    r.fld = dao::Field();
    r.td = dao::TableDef();
    throw kav::Error(55555, text, "ChangeFieldType");
  }
}
