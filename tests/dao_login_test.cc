// Logging on to a workgroup and opening databases: the refusals, and that a
// refused open changes no file.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "platform/dao/dao.h"
#include "platform/dao/workgroup.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

dao::DBEngine& Engine() { return dao::DBEngine::Instance(); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// An SQLite file of another program.
void ForeignSqliteFile(const std::string& path) {
  sqlite3* raw = nullptr;
  sqlite3_open(path.c_str(), &raw);
  sqlite3_exec(raw, "CREATE TABLE things(a); INSERT INTO things VALUES (1);", nullptr, nullptr,
               nullptr);
  sqlite3_close(raw);
}

TEST_F(DaoTest, LogOnRefusals) {
  const std::string garbage = dir.File("garbage.mdw");
  WriteFile(garbage, std::string(4096, 'x'));
  const std::string empty = dir.File("empty.mdw");
  WriteFile(empty, "");
  const std::string foreign = dir.File("foreign.mdw");
  ForeignSqliteFile(foreign);
  struct Case {
    const char* name;
    std::string system_db;
    const char* user;
    const char* password;
    long error;
  };
  const std::vector<Case> cases = {
      {"account", mdw, "Owner", "Secret1", 0},
      {"user name in another case", mdw, "OWNER", "Secret1", 0},
      {"second account", mdw, "Other", "Secret2", 0},
      {"wrong password", mdw, "Owner", "secret1", dao::kErrBadAccount},
      {"other account's password", mdw, "Owner", "Secret2", dao::kErrBadAccount},
      {"unknown user", mdw, "Nobody", "Secret1", dao::kErrBadAccount},
      {"missing file", dir.File("none.mdw"), "Owner", "Secret1", dao::kErrWorkgroupMissing},
      {"directory", dir.path(), "Owner", "Secret1", dao::kErrWorkgroupMissing},
      {"garbage", garbage, "Owner", "Secret1", dao::kErrWorkgroupMissing},
      {"empty file", empty, "Owner", "Secret1", dao::kErrWorkgroupMissing},
      {"another program's SQLite file", foreign, "Owner", "Secret1", dao::kErrWorkgroupMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = c.system_db == dir.path() ? "" : FileBytes(c.system_db);
    Engine().SetSystemDB(c.system_db);
    EXPECT_EQ(ErrorOf([&] { Engine().CreateWorkspace("", c.user, c.password); }), c.error);
    if (c.error != 0) {
      ASSERT_EQ(Engine().Errors().size(), 1u);
      EXPECT_EQ(Engine().Errors()[0].number(), c.error);
      EXPECT_FALSE(Engine().Errors()[0].description().empty());
      EXPECT_EQ(Engine().Errors()[0].source(), "DAO.DBEngine");
    }
    if (c.system_db != dir.path()) {
      EXPECT_TRUE(FileBytes(c.system_db) == before);
    }
  }
  Engine().SetSystemDB(mdw);
  EXPECT_EQ(Engine().CreateWorkspace("", "owner", "Secret1").UserName(), "Owner");
}

TEST_F(DaoTest, OpenRefusalsWriteNothing) {
  db.Close();
  const std::string empty = dir.File("empty.mdb");
  WriteFile(empty, "");
  const std::string garbage = dir.File("garbage.mdb");
  WriteFile(garbage, "Standard Jet DB, or so it says");
  const std::string damaged = dir.File("damaged.mdb");
  WriteFile(damaged, std::string("SQLite format 3\0", 16) + std::string(4000, '\x7f'));
  const std::string foreign = dir.File("foreign.mdb");
  ForeignSqliteFile(foreign);
  // A database of another workgroup (same account names) and one of another owner.
  const std::string other_mdw = dir.File("other.mdw");
  dao::CreateWorkgroupFile(other_mdw, {{"Owner", "Secret1"}}, dao::PasswordCost::kMinimum);
  Engine().SetSystemDB(other_mdw);
  const std::string other_group = dir.File("group.mdb");
  Engine().CreateWorkspace("", "Owner", "Secret1").CreateDatabase(other_group).Close();
  Engine().SetSystemDB(mdw);
  const std::string other_owner = dir.File("owner.mdb");
  Engine().CreateWorkspace("", "Other", "Secret2").CreateDatabase(other_owner).Close();

  struct Case {
    const char* name;
    std::string path;
    long error;
  };
  const std::vector<Case> cases = {
      {"missing", dir.File("none.mdb"), dao::kErrFileNotFound},
      {"empty file", empty, dao::kErrUnrecognizedFormat},
      {"not SQLite", garbage, dao::kErrUnrecognizedFormat},
      {"damaged SQLite", damaged, dao::kErrUnrecognizedFormat},
      {"another program's SQLite file", foreign, dao::kErrUnrecognizedFormat},
      {"another workgroup", other_group, dao::kErrNoPermission},
      {"another owner", other_owner, dao::kErrNoPermission},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = FileBytes(c.path);
    EXPECT_EQ(ErrorOf([&] { ws.OpenDatabase(c.path); }), c.error);
    EXPECT_EQ(Engine().Errors().at(0).source(), "DAO.Workspace");
    EXPECT_TRUE(FileBytes(c.path) == before) << "the file changed";
    EXPECT_EQ(std::filesystem::exists(c.path), c.error != dao::kErrFileNotFound);
  }
  // The default workspace opens no secured database.
  EXPECT_EQ(ErrorOf([&] { Engine().Workspaces(0).OpenDatabase(mdb); }), dao::kErrNoPermission);
  EXPECT_EQ(ErrorOf([&] { Engine().Workspaces(1); }), dao::kErrItemNotFound);
}

TEST_F(DaoTest, TwoOpensOfOneFileSeeEachOther) {
  Table("t", {{"a", dao::dbText, 10}});
  dao::Database second = ws.OpenDatabase(mdb);
  // A forward-only recordset left open on one connection blocks nothing.
  dao::Recordset reading = second.OpenRecordset("SELECT t.a FROM t;", dao::dbOpenForwardOnly);
  Insert("t", {"one"});
  db.TableDefs().Item("t").Fields().Append(db.TableDefs().Item("t").CreateField("b", dao::dbLong));
  dao::Recordset rs = second.OpenRecordset("t", dao::dbOpenTable);
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.Fields(0).GetValue(), dao::Value("one"));
  EXPECT_EQ(rs.FieldCount(), 2);
  rs.Edit();
  rs.Fields("b").SetValue(int32_t{5});
  rs.Update();
  EXPECT_EQ(RowsOf("t"), std::vector<std::string>{"one|5"});
  EXPECT_EQ(second.Name(), mdb);
}

TEST_F(DaoTest, ClosedAndNothingHandles) {
  Table("t", {{"a", dao::dbText, 10}});
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  db.Close();
  db.Close();  // a second close does nothing
  EXPECT_EQ(ErrorOf([&] { rs.AddNew(); }), 3420);
  EXPECT_EQ(ErrorOf([&] { db.TableDefs(); }), 3420);
  EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("t"); }), 3420);
  dao::Database nothing;
  dao::Recordset no_rs;
  dao::Field no_field;
  EXPECT_EQ(ErrorOf([&] { nothing.Execute("DELETE FROM t WHERE t.a = 'x';"); }),
            dao::kErrObjectNotSet);
  EXPECT_EQ(ErrorOf([&] { no_rs.MoveNext(); }), dao::kErrObjectNotSet);
  EXPECT_EQ(ErrorOf([&] { no_field.Name(); }), dao::kErrObjectNotSet);
  // The database opens again and kept its table.
  EXPECT_EQ(ws.OpenDatabase(mdb).TableDefs().Item("T").Name(), "t");
}

TEST_F(DaoTest, CreateDatabaseRefusesAnExistingFile) {
  db.Close();
  const std::string before = FileBytes(mdb);
  EXPECT_EQ(ErrorOf([&] { ws.CreateDatabase(mdb); }), 3204);
  EXPECT_TRUE(FileBytes(mdb) == before) << "the file changed";
}

}  // namespace
}  // namespace dao_test
