#include "tests/support/dump.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/dao/dao.h"
#include "tests/support/harness.h"

namespace kav::testing {

namespace {

const char* const kRunTime = "<run time>";
const char* const kExpiryComment = "Expriration date set by ZURA5 Update";

bool SameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string FieldNames(const dao::FieldCollection& fields) {
  std::string out;
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field f = fields.Item(i);
    if (i > 0) out += ",";
    out += f.Name();
    if (!f.ForeignName().empty()) out += "=" + f.ForeignName();
  }
  return out;
}

void DumpTable(dao::Database& db, dao::TableDef td, std::vector<std::string>& out) {
  const std::string table = td.Name();
  out.push_back("table " + table);
  dao::FieldCollection fields = td.Fields();
  int expiry = -1, comments = -1, note = -1;
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field f = fields.Item(i);
    out.push_back("field " + table + " " + std::to_string(f.OrdinalPosition()) + " " + f.Name() +
                  " type=" + std::to_string(f.Type()) + " size=" + std::to_string(f.Size()) +
                  " azl=" + std::to_string(f.AllowZeroLength()) + " required=" +
                  std::to_string(f.Required()) + " attributes=" + std::to_string(f.Attributes()));
    if (SameName(table, "tbl_kav_persons_quals")) {
      if (SameName(f.Name(), "pq_expiration_date")) expiry = i;
      if (SameName(f.Name(), "pq_comments")) comments = i;
    }
    if (SameName(table, "tbl_kav_version_info") && SameName(f.Name(), "kav_database_update_note")) {
      note = i;
    }
  }
  dao::IndexCollection indexes = td.Indexes();
  for (int i = 0; i < indexes.Count(); ++i) {
    dao::Index x = indexes.Item(i);
    out.push_back("index " + table + " " + x.Name() + " primary=" + std::to_string(x.Primary()) +
                  " unique=" + std::to_string(x.Unique()) + " required=" +
                  std::to_string(x.Required()) + " ignorenulls=" + std::to_string(x.IgnoreNulls()) +
                  " foreign=" + std::to_string(x.Foreign()) + " (" + FieldNames(x.Fields()) + ")");
  }

  std::vector<std::string> rows;
  dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
  while (!rs.IsEOF()) {
    std::vector<std::string> values;
    for (int f = 0; f < rs.FieldCount(); ++f) {
      values.push_back(rs.Fields(f).GetValue().ToString());
    }
    if (note >= 0) values[note] = kRunTime;
    if (expiry >= 0 && comments >= 0 && values[comments] == kExpiryComment) {
      values[expiry] = kRunTime;
    }
    std::string row = "row " + table + " ";
    for (size_t f = 0; f < values.size(); ++f) {
      if (f > 0) row += "|";
      row += values[f];
    }
    rows.push_back(row);
    rs.MoveNext();
  }
  rs.Close();
  std::sort(rows.begin(), rows.end());
  out.insert(out.end(), rows.begin(), rows.end());
}

}  // namespace

std::vector<std::string> DumpDatabase(const std::string& mdb_path) {
  dao::Database db = OpenForCheck(mdb_path);
  std::vector<std::string> out;
  dao::TableDefCollection tables = db.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) DumpTable(db, tables.Item(i), out);
  dao::RelationCollection relations = db.Relations();
  std::vector<std::string> relation_lines;
  for (int i = 0; i < relations.Count(); ++i) {
    dao::Relation r = relations.Item(i);
    relation_lines.push_back("relation " + r.Name() + " " + r.Table() + " -> " + r.ForeignTable() +
                             " attributes=" + std::to_string(r.Attributes()) + " (" +
                             FieldNames(r.Fields()) + ")");
  }
  std::sort(relation_lines.begin(), relation_lines.end());
  out.insert(out.end(), relation_lines.begin(), relation_lines.end());
  db.Close();
  return out;
}

std::string DumpDifference(const std::vector<std::string>& expected,
                           const std::vector<std::string>& actual, size_t limit) {
  std::map<std::string, long> count;
  for (const std::string& line : expected) ++count[line];
  for (const std::string& line : actual) --count[line];
  std::string out;
  size_t listed = 0, total = 0;
  for (const auto& [line, n] : count) {
    if (n == 0) continue;
    for (long i = 0; i < (n > 0 ? n : -n); ++i) {
      ++total;
      if (listed < limit) {
        out += (n > 0 ? "- " : "+ ") + line + "\n";
        ++listed;
      }
    }
  }
  if (total > listed) out += "... and " + std::to_string(total - listed) + " more\n";
  return out;
}

}  // namespace kav::testing
