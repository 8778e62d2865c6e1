// ChangeFieldType: retypes one column by replacing it.
//
// The relations and indexes that include the column are saved and removed,
// the column is renamed to a free temporary name, a new column of the new
// type takes its name and ordinal position, the data is copied across with
// one statement, the temporary column is deleted, and the indexes and
// relations are rebuilt.  Relations and indexes are saved, and rebuilt, in
// the order found: from the last object of each collection to the first.
//
// The eight steps run in two nested transactions of the workspace in which
// `db` is open, so that a failure at any step puts the table back exactly as
// it was (name, type, data, indexes, relations).  Transactions of the
// engine's default workspace would not cover `db`, and a failed retyping
// would then leave the data under the temporary name, where no later run
// could find the column again.

#include <cctype>
#include <functional>
#include <string>
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

}  // namespace

void ChangeFieldType(dao::Database& db, const std::string& sTable, const std::string& sField,
                     int iType, long lSize, bool bAllowZeroLength, bool bNotRequired,
                     long lAttributes) {
  std::vector<SavedRelationField> colRelationInfo;
  std::vector<SavedIndexField> colIndexInfo;
  std::string sStep;
  std::string sDetail;
  std::string sTempField;
  dao::Workspace ws;
  // Declared before td and fld, so that on a failure they are released
  // before the rollback.
  OpenTransactions transactions(ws);
  dao::TableDef td;
  dao::Field fld;

  const auto begin_step = [&](std::string step) {
    sStep = std::move(step);
    sDetail.clear();
  };
  const auto next_inner = [&] {
    transactions.Commit();
    transactions.Begin();
  };

  try {
    ws = db.ParentWorkspace();
    transactions.Begin();
    transactions.Begin();

    begin_step("Removing relations on [" + sTable + "]![" + sField + "]");
    {
      dao::RelationCollection relations = db.Relations();
      for (int i = relations.Count() - 1; i >= 0; --i) {
        dao::Relation rel = relations.Item(i);
        std::function<std::string(const dao::Field&)> side;
        if (kav::EqualsIgnoringCase(rel.Table(), sTable)) {
          side = [](const dao::Field& f) { return f.Name(); };
        } else if (kav::EqualsIgnoringCase(rel.ForeignTable(), sTable)) {
          side = [](const dao::Field& f) { return f.ForeignName(); };
        } else {
          continue;
        }
        dao::FieldCollection fields = rel.Fields();
        for (int j = 0; j < fields.Count(); ++j) {
          if (kav::EqualsIgnoringCase(side(fields.Item(j)), sField)) {
            SaveRelationInfo(rel, colRelationInfo);
            sDetail = "Removing relation " + rel.Name();
            db.Relations().Delete(rel.Name());
            break;
          }
        }
      }
    }
    next_inner();

    begin_step("Removing indexes on [" + sTable + "]![" + sField + "]");
    db.TableDefs().Refresh();
    td = db.TableDefs().Item(sTable);
    td.Indexes().Refresh();
    for (int i = td.Indexes().Count() - 1; i >= 0; --i) {
      dao::Index idx = td.Indexes().Item(i);
      if (idx.Foreign()) continue;  // stands for a relation's foreign key
      dao::FieldCollection fields = idx.Fields();
      for (int j = 0; j < fields.Count(); ++j) {
        if (kav::EqualsIgnoringCase(fields.Item(j).Name(), sField)) {
          SaveIndexInfo(idx, colIndexInfo);
          sDetail = "Removing index " + idx.Name();
          td.Indexes().Delete(idx.Name());
          break;
        }
      }
    }
    next_inner();

    begin_step("Renaming field");
    td.Fields().Refresh();
    fld = td.Fields().Item(sField);
    const int ordinal_position = fld.OrdinalPosition();
    for (int n = 1;; ++n) {
      sTempField = "XXX" + std::to_string(n);
      if (!FieldExists(td, sTempField)) break;
    }
    sDetail = "to " + sTempField;
    fld.SetName(sTempField);
    fld = dao::Field();
    next_inner();

    begin_step("Adding new field");
    td.Fields().Refresh();
    fld = td.CreateField(sField, iType);
    if (lSize != 0) fld.SetSize(lSize);
    fld.SetAllowZeroLength(bAllowZeroLength);
    fld.SetRequired(!bNotRequired);
    fld.SetAttributes(lAttributes);
    fld.SetOrdinalPosition(ordinal_position);
    td.Fields().Append(fld);
    fld = dao::Field();
    td = dao::TableDef();
    next_inner();

    begin_step("Copying data from " + sTempField + " to " + sField);
    db.Execute("UPDATE [" + sTable + "] SET [" + sField + "]=[" + sTempField + "]",
               dao::dbFailOnError);
    next_inner();

    begin_step("Deleting temporary field " + sTempField);
    td = db.TableDefs().Item(sTable);
    td.Fields().Delete(sTempField);
    next_inner();

    begin_step("Adding indexes back into table");
    td = db.TableDefs().Item(sTable);
    td.Fields().Refresh();
    td.Indexes().Refresh();
    {
      dao::Index building;
      for (const SavedIndexField& row : colIndexInfo) {
        if (building.IsNothing() || !kav::EqualsIgnoringCase(row.name, building.Name())) {
          if (!building.IsNothing()) {
            sDetail = "Adding index " + building.Name();
            td.Indexes().Append(building);
          }
          building = td.CreateIndex(row.name);
          building.SetPrimary(row.primary);
          building.SetUnique(row.unique);
          building.SetRequired(row.required);
          building.SetIgnoreNulls(row.ignore_nulls);
          building.SetClustered(row.clustered);
        }
        fld = building.CreateField(row.field);
        fld.SetAttributes(row.attributes);
        building.Fields().Append(fld);
      }
      if (!building.IsNothing()) {
        sDetail = "Adding index " + building.Name();
        td.Indexes().Append(building);
      }
    }
    fld = dao::Field();
    td = dao::TableDef();
    next_inner();

    begin_step("Adding relations back into database");
    db.Relations().Refresh();
    {
      dao::Relation building;
      for (const SavedRelationField& row : colRelationInfo) {
        if (building.IsNothing() || !kav::EqualsIgnoringCase(row.name, building.Name())) {
          if (!building.IsNothing()) {
            sDetail = "Adding relation " + building.Name();
            db.Relations().Append(building);
          }
          building = db.CreateRelation(row.name, row.table, row.foreign_table, row.attributes);
        }
        fld = building.CreateField(row.field);
        fld.SetForeignName(row.foreign_name);
        building.Fields().Append(fld);
      }
      if (!building.IsNothing()) {
        sDetail = "Adding relation " + building.Name();
        db.Relations().Append(building);
      }
    }
    fld = dao::Field();
    transactions.Commit();
    transactions.Commit();
  } catch (const std::exception& failure) {
    std::string text = "Error " + sStep;
    if (!sDetail.empty()) text += "\r\n" + sDetail;
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
    // Release, then leave: `transactions` rolls back the inner transaction
    // and the outer one.
    fld = dao::Field();
    td = dao::TableDef();
    throw kav::Error(55555, text, "ChangeFieldType");
  }
}
