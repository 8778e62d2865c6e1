// Forward-only recordsets: the rows of a query, or of a whole table, read
// when the recordset opens.

#include "platform/dao/internal/forward_only.h"

#include <variant>
#include <vector>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/sqlite.h"
#include "platform/dao/internal/statement_plan.h"
#include "platform/dao/sql_parser.h"

namespace dao::internal {

namespace {

// A recordset of `columns` of the rows of `t` that meet `where`.
std::shared_ptr<RecordsetImpl> ReadRows(const std::shared_ptr<DatabaseImpl>& db,
                                        const CatalogTable& t,
                                        const std::vector<const FieldDef*>& columns,
                                        const Where& where) {
  auto rs = std::make_shared<RecordsetImpl>();
  rs->db = db;
  rs->table_type = false;
  std::string list;
  for (const FieldDef* f : columns) {
    if (!list.empty()) list += ", ";
    list += QuoteName(f->name);
    rs->columns.push_back({f->name, f->type, f->size});
  }
  // Every row is read now: the recordset holds no statement, and so no lock,
  // while it stays open.
  Statement st(db->conn,
               "SELECT " + list + " FROM " + QuoteName(t.name) + where.sql + " ORDER BY rowid");
  for (size_t i = 0; i < where.values.size(); ++i) {
    st.BindValue(static_cast<int>(i + 1), where.values[i]);
  }
  while (st.Step()) {
    std::vector<Value> row;
    for (size_t i = 0; i < columns.size(); ++i) {
      row.push_back(st.ReadValue(static_cast<int>(i), columns[i]->type));
    }
    rs->rows.push_back(std::move(row));
  }
  return rs;
}

}  // namespace

std::shared_ptr<RecordsetImpl> OpenAllRows(const std::shared_ptr<DatabaseImpl>& db,
                                           const CatalogTable& table) {
  std::vector<const FieldDef*> columns;
  for (const FieldDef& f : table.fields) columns.push_back(&f);
  return ReadRows(db, table, columns, Where{});
}

std::shared_ptr<RecordsetImpl> OpenQuery(const std::shared_ptr<DatabaseImpl>& db,
                                         const std::string& text) {
  sql::Statement statement = sql::Parse(text);
  const auto* select = std::get_if<sql::SelectStatement>(&statement);
  if (select == nullptr) {
    Raise(kErrInvalidOperation, "Invalid operation: only a SELECT statement opens a recordset.");
  }
  std::shared_ptr<const Catalog> catalog = db->CurrentCatalog();
  const CatalogTable& t = FindStatementTable(*catalog, select->table);
  std::vector<const FieldDef*> columns;
  for (const sql::ColumnRef& c : select->columns) columns.push_back(&FindColumn(t, c));
  return ReadRows(db, t, columns, BuildWhere(t, select->where, DateTime::Now()));
}

}  // namespace dao::internal
