// Planning a statement: its table and columns looked up in the catalog, its
// literals converted to their columns' types, its WHERE clause built, and an
// UPDATE's assignments checked once for every row (internal/statement_plan.h).

#include <utility>
#include <variant>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/row_rules.h"
#include "platform/dao/internal/statement_plan.h"

namespace dao::internal {
namespace {

Value LiteralValue(const sql::Literal& literal, const DateTime& now) {
  switch (literal.kind) {
    case sql::Literal::Kind::kText:
      return Value(literal.text);
    case sql::Literal::Kind::kInteger:
      if (literal.integer >= INT32_MIN && literal.integer <= INT32_MAX) {
        return Value(static_cast<int32_t>(literal.integer));
      }
      return Value(static_cast<double>(literal.integer));
    case sql::Literal::Kind::kNow:
      return Value(now);
  }
  return Value();
}

// The literal as the statement writes it, for the errors that name it.
std::string LiteralText(const sql::Literal& literal) {
  switch (literal.kind) {
    case sql::Literal::Kind::kText:
      return literal.text;
    case sql::Literal::Kind::kInteger:
      return std::to_string(literal.integer);
    case sql::Literal::Kind::kNow:
      return "now()";
  }
  return {};
}

}  // namespace

const CatalogTable& FindStatementTable(const Catalog& catalog, const std::string& name) {
  const CatalogTable* t = catalog.FindTable(name);
  if (t == nullptr) {
    Raise(kErrTableNotFound, "The engine cannot find the table '" + name + "'.");
  }
  return *t;
}

const FieldDef& FindColumn(const CatalogTable& t, const sql::ColumnRef& c) {
  const std::string shown = c.table.empty() ? c.column : c.table + "." + c.column;
  if (!c.table.empty() && !SameName(c.table, t.name)) {
    Raise(kErrTooFewParameters,
          "Too few parameters: '" + shown + "' is not a column of table '" + t.name + "'.");
  }
  const FieldDef* f = t.FindField(c.column);
  if (f == nullptr) {
    Raise(kErrTooFewParameters,
          "Too few parameters: '" + shown + "' is not a column of table '" + t.name + "'.");
  }
  return *f;
}

// Text compares as the stored keys do (FoldsCase).
Where BuildWhere(const CatalogTable& t, const std::vector<sql::Condition>& conditions,
                 const DateTime& now) {
  Where where;
  for (const sql::Condition& c : conditions) {
    const FieldDef& f = FindColumn(t, c.column);
    std::string term = QuoteName(f.name);
    if (FoldsCase(f)) term += " COLLATE NOCASE";
    if (c.op == sql::Condition::Op::kEquals) {
      term += " = ?";
    } else {
      term += " IN (";
      for (size_t i = 0; i < c.values.size(); ++i) term += i == 0 ? "?" : ", ?";
      term += ")";
    }
    for (const sql::Literal& literal : c.values) {
      try {
        where.values.push_back(ConvertToFieldType(LiteralValue(literal, now), f.type));
      } catch (const kav::Error&) {
        Raise(kErrCriteriaMismatch, "Data type mismatch in criteria expression: '" +
                                        LiteralText(literal) + "' for column '" + f.name + "'.");
      }
    }
    where.sql += where.sql.empty() ? " WHERE " : " AND ";
    where.sql += term;
  }
  return where;
}

UpdatePlan PlanUpdate(const Catalog& catalog, const sql::UpdateStatement& u) {
  const DateTime now = DateTime::Now();
  UpdatePlan plan;
  plan.t = &FindStatementTable(catalog, u.table);
  const CatalogTable& t = *plan.t;
  plan.table = QuoteName(t.name);
  for (const sql::Assignment& a : u.assignments) {
    Assignment x;
    x.target = t.FieldIndexById(FindColumn(t, a.column).id);
    const std::string target = QuoteName(t.fields[x.target].name);
    const char* comma = plan.set_bound.empty() ? "" : ", ";
    plan.set_bound += comma + target + " = ?";
    if (const auto* literal = std::get_if<sql::Literal>(&a.value)) {
      x.value = LiteralValue(*literal, now);
      try {
        x.value = ValueForField(x.value, t.fields[x.target]);
      } catch (const kav::Error& error) {
        x.refused = error;
        plan.literal_refused = true;
      }
      plan.set_copying += comma + target + " = ?";
    } else {
      x.source = t.FieldIndexById(FindColumn(t, std::get<sql::ColumnRef>(a.value)).id);
      const std::string source = QuoteName(t.fields[x.source].name);
      plan.sources += (plan.sources.empty() ? "" : ", ") + source;
      plan.set_copying += comma + target + " = " + source;
    }
    plan.assignments.push_back(std::move(x));
  }
  plan.where = BuildWhere(t, u.where, now);
  if (!plan.copies()) {
    std::vector<Value> check(t.fields.size(), Value(true));
    for (const Assignment& a : plan.assignments) {
      if (a.refused && !plan.refused) plan.refused = a.refused;
      check[a.target] = a.value;
    }
    try {
      if (!plan.refused) CheckRowBeforeWrite(t, check);
    } catch (const kav::Error& error) {
      plan.refused = error;
    }
  }
  return plan;
}

}  // namespace dao::internal
