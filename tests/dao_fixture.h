// A small fixture for the engine layer's suites: a workgroup with one fast
// account, a database in it, and helpers that build tables, indexes and
// relations and read rows back, through the engine or as another SQLite
// program would.

#ifndef KAV_TESTS_DAO_FIXTURE_H_
#define KAV_TESTS_DAO_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/workgroup.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"

namespace dao_test {

struct Column {
  const char* name;
  int type;
  long size = 0;
};

// The number of the error `body` raises, or 0 when it raises none.
inline long ErrorOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const kav::Error& e) {
    return e.number();
  }
  return 0;
}

using kav::testing::FileBytes;

// The rows of `sql` on the file at `path`, read through a plain SQLite
// connection, each row's values joined by '|'.
inline std::vector<std::string> Query(const std::string& path, const std::string& sql) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    rows.push_back(std::string("<") + sqlite3_errmsg(raw) + ">");
  }
  while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (i > 0) row += "|";
      const unsigned char* text = sqlite3_column_text(st, i);
      row += text ? reinterpret_cast<const char*>(text) : "<null>";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(raw);
  return rows;
}

// Runs `sql` on the file at `path` as another program would; returns
// SQLite's message where a statement failed, "" where every one ran.
inline std::string SqliteError(const std::string& path, const std::string& sql) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  char* error = nullptr;
  const int rc = sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &error);
  std::string out;
  if (rc != SQLITE_OK) out = error != nullptr ? error : sqlite3_errstr(rc);
  sqlite3_free(error);
  sqlite3_close(raw);
  return out;
}

// Runs `sql` on the file at `path` as another program would, and expects
// every statement to run.
inline void Sqlite(const std::string& path, const std::string& sql) {
  EXPECT_EQ(SqliteError(path, sql), "") << sql;
}

// Every table of the file at `path` with every row (rowid first), and the
// schema.
inline std::vector<std::string> FileState(const std::string& path) {
  std::vector<std::string> out =
      Query(path, "SELECT type, name, sql FROM sqlite_master ORDER BY name");
  for (const std::string& table :
       Query(path, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    out.push_back("table " + table);
    for (const std::string& row : Query(path, "SELECT rowid, * FROM \"" + table + "\"")) {
      out.push_back(row);
    }
  }
  return out;
}

class DaoTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateAndLogOn({{"Owner", "Secret1"}, {"Other", "Secret2"}}); }

  // Writes a workgroup T.mdw holding `accounts` (fast hashing), logs on as
  // the first of them into `ws`, and creates the database T.mdb into `db`.
  void CreateAndLogOn(const std::vector<dao::Account>& accounts) {
    mdw = dir.File("T.mdw");
    mdb = dir.File("T.mdb");
    dao::CreateWorkgroupFile(mdw, accounts, dao::PasswordCost::kMinimum);
    dao::DBEngine::Instance().SetSystemDB(mdw);
    ws = dao::DBEngine::Instance().CreateWorkspace("", accounts.front().user,
                                                   accounts.front().password);
    db = ws.CreateDatabase(mdb);
  }

  void Table(const char* name, std::vector<Column> columns) {
    dao::TableDef td = db.CreateTableDef(name);
    for (const Column& c : columns) td.Fields().Append(td.CreateField(c.name, c.type, c.size));
    db.TableDefs().Append(td);
  }

  void Key(const char* table, const char* name, std::vector<const char*> fields,
           bool primary = true, bool unique = true) {
    dao::TableDef td = db.TableDefs().Item(table);
    dao::Index ix = td.CreateIndex(name);
    ix.SetPrimary(primary);
    ix.SetUnique(unique);
    for (const char* f : fields) ix.Fields().Append(ix.CreateField(f));
    td.Indexes().Append(ix);
  }

  void Relate(const char* name, const char* table, const char* foreign,
              std::vector<std::pair<const char*, const char*>> pairs, long attributes = 0) {
    dao::Relation rel = db.CreateRelation(name, table, foreign, attributes);
    for (auto [f, ff] : pairs) {
      dao::Field field = rel.CreateField(f);
      field.SetForeignName(ff);
      rel.Fields().Append(field);
    }
    db.Relations().Append(rel);
  }

  void Insert(const char* table, std::vector<dao::Value> values) {
    dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
    rs.AddNew();
    for (size_t i = 0; i < values.size(); ++i) rs.Fields(static_cast<int>(i)).SetValue(values[i]);
    rs.Update();
  }

  // Every row of the table in insertion order, values joined by '|'.
  std::vector<std::string> RowsOf(const char* table) {
    dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
    return kav::testing::Rows(rs);
  }

  std::vector<std::string> FieldNames(const char* table) {
    std::vector<std::string> out;
    dao::TableDef td = db.TableDefs().Item(table);
    for (int i = 0; i < td.Fields().Count(); ++i) out.push_back(td.Fields().Item(i).Name());
    return out;
  }

  kav::testing::TempDir dir;
  std::string mdw, mdb;
  dao::Workspace ws;
  dao::Database db;
};

}  // namespace dao_test

#endif  // KAV_TESTS_DAO_FIXTURE_H_
