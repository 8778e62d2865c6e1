// The triggers that enforce the catalog's relations: their names, their
// texts as the engine makes them from the catalog, and the file's triggers
// held against them (internal/relation_triggers.h).  Their RAISE texts carry
// the engine's error numbers.

#include <algorithm>

#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/names.h"
#include "platform/dao/internal/relation_triggers.h"
#include "platform/dao/internal/sqlite.h"

namespace dao::internal {

namespace {

// Related keys compare as the keys of their indexes do (FoldsCase), so that
// those indexes serve the relation's look-ups.
std::string KeyCollation(const FieldDef& field) {
  return FoldsCase(field) ? " COLLATE NOCASE" : "";
}

}  // namespace

std::string MatchCondition(const CatalogTable& primary, const CatalogTable& foreign,
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

std::string AnyForeignKey(const CatalogTable& foreign, const RelationDef& r,
                          const std::string& foreign_ref) {
  std::string out;
  for (const auto& [p, f] : r.fields) {
    if (!out.empty()) out += " OR ";
    out += foreign_ref + QuoteName(FieldOf(foreign, f).name) + " IS NOT NULL";
  }
  return out;
}

std::string RelationTriggerName(int64_t relation_id, const char* what) {
  return "daosys_rel_" + std::to_string(relation_id) + "_" + what;
}

std::vector<RelationTrigger> RelationTriggers(const Catalog& catalog) {
  std::vector<RelationTrigger> triggers;
  for (const RelationDef& r : catalog.relations) {
    if (r.attributes & dbRelationDontEnforce) continue;
    const CatalogTable& p = TableOf(catalog, r.table_id);
    const CatalogTable& f = TableOf(catalog, r.foreign_table_id);
    const std::string P = QuoteName(p.name), F = QuoteName(f.name);
    // Each trigger's text is kept with its name and table, so that a
    // trigger of that name with any other text is known for one that is not
    // the engine's.
    auto add = [&](const char* what, const CatalogTable& table, const std::string& rest) {
      const std::string name = RelationTriggerName(r.id, what);
      triggers.push_back({name, table.name, "CREATE TRIGGER " + QuoteName(name) + rest, r.name});
    };
    std::string foreign_cols, primary_cols, old_differs, set_new;
    for (const auto& [pid, fid] : r.fields) {
      const std::string pn = QuoteName(FieldOf(p, pid).name);
      const std::string fn = QuoteName(FieldOf(f, fid).name);
      auto join = [](std::string& s, const char* sep, const std::string& part) {
        if (!s.empty()) s += sep;
        s += part;
      };
      join(foreign_cols, ", ", fn);
      join(primary_cols, ", ", pn);
      join(old_differs, " OR ", "OLD." + pn + " IS NOT NEW." + pn + KeyCollation(FieldOf(p, pid)));
      join(set_new, ", ", fn + " = NEW." + pn);
    }
    const std::string required = QuoteText(TriggerMessage(
        kErrRelatedRecordRequired,
        "You cannot add or change a record because a related record is required in table '" +
            p.name + "' (relation '" + r.name + "')."));
    const std::string related = QuoteText(TriggerMessage(
        kErrRelatedRecordsExist, "The record cannot be deleted or changed because table '" +
                                     f.name + "' includes related records (relation '" + r.name +
                                     "')."));
    const std::string unmatched = "(" + AnyForeignKey(f, r, "NEW.") +
                                  ") AND NOT EXISTS (SELECT 1 FROM " + P + " WHERE " +
                                  MatchCondition(p, f, r, P + ".", "NEW.") + ")";
    add("fi", f,
        " BEFORE INSERT ON " + F + " WHEN " + unmatched + " BEGIN SELECT RAISE(ABORT, " + required +
            "); END");
    add("fu", f,
        " BEFORE UPDATE OF " + foreign_cols + " ON " + F + " WHEN " + unmatched +
            " BEGIN SELECT RAISE(ABORT, " + required + "); END");
    const std::string referenced = MatchCondition(p, f, r, "OLD.", F + ".");
    if (r.attributes & dbRelationDeleteCascade) {
      add("pd", p,
          " AFTER DELETE ON " + P + " BEGIN DELETE FROM " + F + " WHERE " + referenced + "; END");
    } else {
      add("pd", p,
          " BEFORE DELETE ON " + P + " WHEN EXISTS (SELECT 1 FROM " + F + " WHERE " + referenced +
              ") BEGIN SELECT RAISE(ABORT, " + related + "); END");
    }
    if (r.attributes & dbRelationUpdateCascade) {
      add("pu", p,
          " AFTER UPDATE OF " + primary_cols + " ON " + P + " WHEN " + old_differs +
              " BEGIN UPDATE " + F + " SET " + set_new + " WHERE " + referenced + "; END");
    } else {
      add("pu", p,
          " BEFORE UPDATE OF " + primary_cols + " ON " + P + " WHEN (" + old_differs +
              ") AND EXISTS (SELECT 1 FROM " + F + " WHERE " + referenced +
              ") BEGIN SELECT RAISE(ABORT, " + related + "); END");
    }
  }
  return triggers;
}

TriggersInFile CompareTriggers(sqlite3* conn, const Catalog& catalog) {
  const std::vector<RelationTrigger> ours = RelationTriggers(catalog);
  std::vector<bool> there(ours.size(), false);
  TriggersInFile out;
  Statement st(conn, "SELECT name, tbl_name, sql FROM sqlite_master WHERE type = 'trigger'");
  while (st.Step()) {
    const std::string name = st.Text(0);
    const auto same_name = [&](const RelationTrigger& t) { return SameName(t.name, name); };
    const auto it = std::find_if(ours.begin(), ours.end(), same_name);
    if (it != ours.end() && SameName(it->table, st.Text(1)) && it->sql == st.Text(2)) {
      there[it - ours.begin()] = true;
    } else {
      out.others = true;
    }
  }
  for (size_t i = 0; i < ours.size() && !out.wrong; ++i) {
    if (!there[i]) out.wrong = ours[i];
  }
  return out;
}

}  // namespace dao::internal
