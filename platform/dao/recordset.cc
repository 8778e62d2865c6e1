// Recordsets.  A table-type recordset holds its table's id and the rowid of
// its current row, never an SQLite statement between calls; rows are visited
// in rowid order, which is the order they were added.  The new or edited
// record lives in the recordset's buffer until Update writes it in one
// statement, so a refused record simply stays in the buffer (pending) and a
// dropped one needs no undoing.  A forward-only recordset holds the rows it
// read when it opened (forward_only.cc).

#include <algorithm>
#include <limits>

#include "platform/dao/dao.h"
#include "platform/dao/internal/access.h"
#include "platform/dao/internal/call_frame.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/forward_only.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/recordset.h"
#include "platform/dao/internal/row_rules.h"
#include "platform/dao/internal/sqlite.h"

namespace dao {
namespace internal {

void RecordsetImpl::CheckOpen() const {
  if (closed || db == nullptr || db->conn == nullptr) {
    Raise(kErrObjectInvalid, "Object invalid or no longer set: the recordset is closed.");
  }
}

namespace {

RecordsetImpl& Open(const std::shared_ptr<RecordsetImpl>& rs) {
  if (!rs) RaiseNothing();
  rs->CheckOpen();
  return *rs;
}

std::shared_ptr<const Catalog> TableSchemaOf(RecordsetImpl& rs, const CatalogTable*& table) {
  if (!rs.catalog || rs.catalog != rs.db->LoadedCatalog()) rs.catalog = rs.db->CurrentCatalog();
  std::shared_ptr<const Catalog> s = rs.catalog;
  table = s->TableById(rs.table_id);
  if (table == nullptr) {
    Raise(kErrObjectInvalid, "Object invalid or no longer set: the recordset's table is gone.");
  }
  return s;
}

void RequireWritable(const RecordsetImpl& rs) {
  if (!rs.table_type) {
    Raise(kErrNotUpdatable, "The recordset is read-only: it cannot be updated.");
  }
}

std::optional<int64_t> RowAfter(DatabaseImpl& db, const CatalogTable& t,
                                std::optional<int64_t> after) {
  const std::string sql =
      "SELECT rowid FROM " + QuoteName(t.name) + " WHERE rowid > ? ORDER BY rowid LIMIT 1";
  Statement st(db.conn, db.Cached(sql));
  st.Bind(1, after ? *after : std::numeric_limits<int64_t>::min());
  if (!st.Step()) return std::nullopt;
  return st.Int(0);
}

std::string ColumnList(const CatalogTable& t) {
  std::string out;
  for (const FieldDef& f : t.fields) {
    if (!out.empty()) out += ", ";
    out += QuoteName(f.name);
  }
  return out;
}

// The values of one row, in field order; none when the row is gone.
std::optional<std::vector<Value>> ReadRow(DatabaseImpl& db, const CatalogTable& t, int64_t rowid) {
  Statement st(db.conn, db.Cached("SELECT " + ColumnList(t) + " FROM " + QuoteName(t.name) +
                                  " WHERE rowid = ?"));
  st.Bind(1, rowid);
  if (!st.Step()) return std::nullopt;
  std::vector<Value> row;
  for (size_t i = 0; i < t.fields.size(); ++i) {
    row.push_back(st.ReadValue(static_cast<int>(i), t.fields[i].type));
  }
  return row;
}

// A letter, digit, '_' or a byte of a multi-byte character: what goes on
// a word of SQL or a name.
bool IsNameCharacter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x80 || u == '_' || (u >= '0' && u <= '9') ||
         ((u | 0x20) >= 'a' && (u | 0x20) <= 'z');
}

[[noreturn]] void NoCurrentRecord() { Raise(kErrNoCurrentRecord, "No current record."); }

void DropRecord(RecordsetImpl& rs) {
  rs.mode = RecordsetImpl::Mode::kNone;
  rs.buffer.clear();
  rs.buffer_fields.clear();
  rs.edited_row.clear();
}

void BeginRecord(RecordsetImpl& rs, const CatalogTable& t, RecordsetImpl::Mode mode) {
  rs.mode = mode;
  rs.buffer_fields = t.fields;
}

// Whether the table's fields are still those the pending record was begun
// with: the same fields in the same places, of the same type, size and
// AllowZeroLength, so that each buffered value still belongs to the field
// it was checked for.  A renamed field or a changed Required is no change
// here (Update writes by the fields' present names and checks Required).
bool SameFields(const std::vector<FieldDef>& a, const std::vector<FieldDef>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const FieldDef& x, const FieldDef& y) {
                      return x.id == y.id && x.type == y.type && x.size == y.size &&
                             x.allow_zero_length == y.allow_zero_length;
                    });
}

// The pending record of `rs` on its table `t`: when the table's fields
// have changed since AddNew or Edit (by this database, another handle or
// another program), the record is dropped and 3219 raised.
void CheckPendingFields(RecordsetImpl& rs, const CatalogTable& t) {
  if (rs.mode == RecordsetImpl::Mode::kNone || SameFields(rs.buffer_fields, t.fields)) return;
  DropRecord(rs);
  Raise(kErrInvalidOperation, "Invalid operation: the fields of table '" + t.name +
                                  "' changed after AddNew or Edit; the record is dropped.");
}

}  // namespace

void RaiseRecordDeleted() { Raise(kErrRecordDeleted, "The current record has been deleted."); }

std::vector<Value> ReadRowValues(DatabaseImpl& db, const CatalogTable& t, int64_t rowid) {
  std::optional<std::vector<Value>> row = ReadRow(db, t, rowid);
  if (!row) RaiseRecordDeleted();
  return *row;
}

bool RowExists(DatabaseImpl& db, const CatalogTable& t, int64_t rowid) {
  Statement st(db.conn, db.Cached("SELECT 1 FROM " + QuoteName(t.name) + " WHERE rowid = ?"));
  st.Bind(1, rowid);
  return st.Step();
}

}  // namespace internal

using namespace internal;

Recordset Database::OpenRecordset(const std::string& source, int type) {
  auto open = [&]() -> Recordset {
    if (!impl_) RaiseNothing();
    impl_->CheckOpen();
    std::shared_ptr<RecordsetImpl> rs;
    std::string name = source;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    // A query begins with the word SELECT; "selections" names a table.
    size_t first = source.find_first_not_of(" \t\r\n");
    const bool is_select = first != std::string::npos && source.size() - first >= 6 &&
                           SameName(source.substr(first, 6), "select") &&
                           (source.size() - first == 6 || !IsNameCharacter(source[first + 6]));
    if (type == dbOpenTable || !is_select) {
      std::shared_ptr<const Catalog> s = impl_->CurrentCatalog();
      const CatalogTable* t = s->FindTable(name);
      if (t == nullptr) {
        Raise(kErrTableNotFound, "The engine cannot find the table '" + name + "'.");
      }
      if (type == dbOpenTable) {
        rs = std::make_shared<RecordsetImpl>();
        rs->db = impl_;
        rs->table_id = t->id;
        rs->catalog = s;
        rs->current = RowAfter(*impl_, *t, std::nullopt);
      } else {
        rs = OpenAllRows(impl_, *t);
      }
    } else {
      rs = OpenQuery(impl_, source);
    }
    std::erase_if(impl_->recordsets, [](const auto& w) { return w.expired(); });
    impl_->recordsets.push_back(rs);
    return Access::MakeRecordset(rs);
  };
  if (type == dbOpenTable) {
    Call call;
    call.kind = CallKind::kOpenTable;
    call.text = source;
    return RunCall(call, "DAO.Database", open);
  }
  return RunOther("OpenRecordset", "DAO.Database", open);
}

void Recordset::AddNew() {
  Call call;
  call.kind = CallKind::kAddNew;
  RunCall(call, "DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    RequireWritable(rs);
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    // A record still pending from a refused Update is dropped here.
    DropRecord(rs);
    rs.buffer.assign(t->fields.size(), Value());
    BeginRecord(rs, *t, RecordsetImpl::Mode::kAddNew);
  });
}

void Recordset::Edit() {
  Call call;
  call.kind = CallKind::kEdit;
  RunCall(call, "DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    RequireWritable(rs);
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    if (!rs.current) NoCurrentRecord();
    DropRecord(rs);
    rs.edited_row = ReadRowValues(*rs.db, *t, *rs.current);
    rs.buffer = rs.edited_row;
    BeginRecord(rs, *t, RecordsetImpl::Mode::kEdit);
  });
}

void Recordset::Update(int type, bool force) {
  Call call;
  call.kind = CallKind::kUpdate;
  RunCall(call, "DAO.Recordset", [&] {
    (void)type;
    (void)force;
    RecordsetImpl& rs = Open(impl_);
    RequireWritable(rs);
    if (rs.mode == RecordsetImpl::Mode::kNone) {
      Raise(kErrUpdateWithoutEdit, "Update without AddNew or Edit.");
    }
    // The catalog as it is now, also where another connection has changed
    // it since.
    rs.catalog = rs.db->CurrentCatalog();
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    CheckPendingFields(rs, *t);
    rs.buffer.resize(t->fields.size());
    CheckRowBeforeWrite(*t, rs.buffer);
    DatabaseImpl& db = *rs.db;
    if (rs.mode == RecordsetImpl::Mode::kAddNew) {
      std::string marks;
      for (size_t i = 0; i < t->fields.size(); ++i) marks += i == 0 ? "?" : ", ?";
      Statement st(db.conn, db.Cached("INSERT OR ABORT INTO " + QuoteName(t->name) + " (" +
                                      ColumnList(*t) + ") VALUES (" + marks + ")"));
      for (size_t i = 0; i < rs.buffer.size(); ++i) {
        st.BindValue(static_cast<int>(i + 1), rs.buffer[i]);
      }
      WriteWholeRow(db, [&] {
        st.Run();
        if (sqlite3_changes(db.conn) == 0) RaiseRowIgnored(*t);
      });
    } else {
      if (!rs.current) NoCurrentRecord();
      std::string sets;
      for (const FieldDef& f : t->fields) {
        if (!sets.empty()) sets += ", ";
        sets += QuoteName(f.name) + " = ?";
      }
      Statement st(db.conn, db.Cached("UPDATE OR ABORT " + QuoteName(t->name) + " SET " + sets +
                                      " WHERE rowid = ?"));
      for (size_t i = 0; i < rs.buffer.size(); ++i) {
        st.BindValue(static_cast<int>(i + 1), rs.buffer[i]);
      }
      st.Bind(static_cast<int>(rs.buffer.size() + 1), *rs.current);
      WriteWholeRow(db, [&] {
        // A row changed since Edit (by a statement, another handle or
        // another program) is not written over with the values read then.
        if (std::optional<std::vector<Value>> now = ReadRow(db, *t, *rs.current);
            now && *now != rs.edited_row) {
          DropRecord(rs);
          Raise(kErrDataChanged,
                "The record has changed since Edit; the edit is dropped. Edit the record again.");
        }
        st.Run();
        if (sqlite3_changes(db.conn) > 0) return;
        // Still there, a trigger skipped it; else it has been deleted.
        if (RowExists(db, *t, *rs.current)) RaiseRowIgnored(*t);
        RaiseRecordDeleted();
      });
    }
    DropRecord(rs);
  });
}

void Recordset::CancelUpdate() {
  RunOther("CancelUpdate", "DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    DropRecord(rs);
  });
}

void Recordset::Close() {
  RunOther("Close", "DAO.Recordset", [&] {
    if (!impl_) RaiseNothing();
    impl_->closed = true;
    DropRecord(*impl_);
    impl_->rows.clear();
  });
}

RecordsetField Recordset::Fields(int index) const {
  Call call;
  call.kind = CallKind::kFieldLookup;
  call.index = index;
  return RunLookup(call, "DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    size_t count = rs.columns.size();
    if (rs.table_type) {
      const CatalogTable* t = nullptr;
      std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
      count = t->fields.size();
    }
    if (index < 0 || static_cast<size_t>(index) >= count) {
      Raise(kErrItemNotFound,
            "Item not found in this collection: field " + std::to_string(index) + ".");
    }
    return RecordsetField(impl_, index);
  });
}

RecordsetField Recordset::Fields(const std::string& name) const {
  Call call;
  call.kind = CallKind::kFieldLookup;
  call.text = name;
  return RunLookup(call, "DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    if (rs.table_type) {
      const CatalogTable* t = nullptr;
      std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
      for (size_t i = 0; i < t->fields.size(); ++i) {
        if (SameName(t->fields[i].name, name)) {
          return RecordsetField(impl_, static_cast<int>(i));
        }
      }
    } else {
      for (size_t i = 0; i < rs.columns.size(); ++i) {
        if (SameName(rs.columns[i].name, name)) {
          return RecordsetField(impl_, static_cast<int>(i));
        }
      }
    }
    Raise(kErrItemNotFound, "Item not found in this collection: field '" + name + "'.");
  });
}

int Recordset::FieldCount() const {
  return RunQuiet("DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    if (!rs.table_type) return static_cast<int>(rs.columns.size());
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    return static_cast<int>(t->fields.size());
  });
}

bool Recordset::IsEOF() const {
  return RunQuiet("DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    if (rs.table_type) return !rs.current.has_value();
    return rs.row >= rs.rows.size();
  });
}

void Recordset::MoveNext() {
  RunOther("MoveNext", "DAO.Recordset", [&] {
    RecordsetImpl& rs = Open(impl_);
    if (rs.table_type) {
      if (!rs.current) NoCurrentRecord();
      const CatalogTable* t = nullptr;
      std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
      DropRecord(rs);
      rs.current = RowAfter(*rs.db, *t, rs.current);
    } else {
      if (rs.row >= rs.rows.size()) NoCurrentRecord();
      ++rs.row;
    }
  });
}

// ---------------------------------------------------------------------------
// RecordsetField.

namespace {
struct ColumnInfo {
  RecordsetColumn column;
  FieldDef def;
};

ColumnInfo ColumnOf(RecordsetImpl& rs, int index) {
  ColumnInfo info;
  if (rs.table_type) {
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    if (index < 0 || static_cast<size_t>(index) >= t->fields.size()) {
      Raise(kErrItemNotFound,
            "Item not found in this collection: field " + std::to_string(index) + ".");
    }
    info.def = t->fields[index];
    info.column = {info.def.name, info.def.type, info.def.size};
  } else {
    if (index < 0 || static_cast<size_t>(index) >= rs.columns.size()) {
      Raise(kErrItemNotFound,
            "Item not found in this collection: field " + std::to_string(index) + ".");
    }
    info.column = rs.columns[index];
  }
  return info;
}
}  // namespace

std::string RecordsetField::Name() const {
  return RunQuiet("DAO.Field", [&] { return ColumnOf(Open(rs_), index_).column.name; });
}

int RecordsetField::Type() const {
  return RunQuiet("DAO.Field", [&] { return ColumnOf(Open(rs_), index_).column.type; });
}

long RecordsetField::Size() const {
  return RunQuiet("DAO.Field", [&] { return ColumnOf(Open(rs_), index_).column.size; });
}

Value RecordsetField::GetValue() const {
  return RunQuiet("DAO.Field", [&] {
    RecordsetImpl& rs = Open(rs_);
    ColumnOf(rs, index_);
    if (!rs.table_type) {
      if (rs.row >= rs.rows.size()) NoCurrentRecord();
      return rs.rows[rs.row][index_];
    }
    if (rs.mode != RecordsetImpl::Mode::kNone) {
      const CatalogTable* t = nullptr;
      std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
      CheckPendingFields(rs, *t);
      if (static_cast<size_t>(index_) >= rs.buffer.size()) return Value();
      return rs.buffer[index_];
    }
    if (!rs.current) NoCurrentRecord();
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    return ReadRowValues(*rs.db, *t, *rs.current)[index_];
  });
}

void RecordsetField::SetValue(const Value& value) {
  Call call;
  call.kind = CallKind::kSetField;
  call.index = index_;
  call.value = value;
  RunCall(call, "DAO.Field", [&] {
    RecordsetImpl& rs = Open(rs_);
    RequireWritable(rs);
    ColumnInfo info = ColumnOf(rs, index_);
    if (rs.mode == RecordsetImpl::Mode::kNone) {
      Raise(kErrUpdateWithoutEdit, "The field cannot be set without AddNew or Edit.");
    }
    const CatalogTable* t = nullptr;
    std::shared_ptr<const Catalog> s = TableSchemaOf(rs, t);
    CheckPendingFields(rs, *t);
    Value v = ValueForField(value, info.def);
    if (static_cast<size_t>(index_) >= rs.buffer.size()) rs.buffer.resize(index_ + 1);
    rs.buffer[index_] = std::move(v);
  });
}

}  // namespace dao
