// Workspace transactions: nesting, what they cover, and schema changes
// undone with the data.

#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using Strings = std::vector<std::string>;

class TransactionTest : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("t", {{"a", dao::dbText, 5}});
    Key("t", "PrimaryKey", {"a"});
  }
};

TEST_F(TransactionTest, NestedCommitAndRollback) {
  ws.BeginTrans();
  Insert("t", {"one"});
  ws.BeginTrans();
  Insert("t", {"two"});
  ws.Rollback();  // the inner one only
  EXPECT_EQ(RowsOf("t"), Strings{"one"});
  ws.BeginTrans();
  Insert("t", {"three"});
  ws.CommitTrans();
  ws.Rollback();  // the outer one takes the committed inner one with it
  EXPECT_TRUE(RowsOf("t").empty());
  ws.BeginTrans();
  Insert("t", {"four"});
  ws.CommitTrans();
  EXPECT_EQ(ErrorOf([&] { ws.CommitTrans(); }), 3034);
  EXPECT_EQ(ErrorOf([&] { ws.Rollback(); }), 3034);
  db.Close();
  db = ws.OpenDatabase(mdb);
  EXPECT_EQ(RowsOf("t"), Strings{"four"});
}

TEST_F(TransactionTest, SchemaChangesRollBackWithTheData) {
  Insert("t", {"x"});
  dao::TableDef td = db.TableDefs().Item("t");
  ws.BeginTrans();
  td.Fields().Append(td.CreateField("b", dao::dbLong));
  td.Fields().Item("a").SetName("renamed");
  Table("u", {{"c", dao::dbText, 5}});
  db.Execute("UPDATE t SET t.b = 4;");
  ws.Rollback();
  EXPECT_EQ(FieldNames("t"), Strings{"a"});
  EXPECT_EQ(db.TableDefs().Count(), 1);
  EXPECT_EQ(RowsOf("t"), Strings{"x"});
  EXPECT_EQ(td.Indexes().Item(0).Fields().Item(0).Name(), "a");
}

TEST_F(TransactionTest, CoversOnlyItsOwnWorkspaceAndTheDatabasesOpenAtItsStart) {
  dao::Workspace other = dao::DBEngine::Instance().CreateWorkspace("", "Owner", "Secret1");
  ws.BeginTrans();
  Insert("t", {"mine"});
  ws.Rollback();
  // A transaction of another workspace does not cover this database.
  other.BeginTrans();
  Insert("t", {"kept"});
  other.Rollback();
  EXPECT_EQ(RowsOf("t"), Strings{"kept"});
  // Nor one begun before the database was opened.
  const std::string second_path = dir.File("second.mdb");
  ws.CreateDatabase(second_path).Close();
  ws.BeginTrans();
  dao::Database second = ws.OpenDatabase(second_path);
  dao::TableDef td = second.CreateTableDef("s");
  td.Fields().Append(td.CreateField("x", dao::dbText, 5));
  second.TableDefs().Append(td);
  ws.Rollback();
  EXPECT_EQ(second.TableDefs().Count(), 1);
  // The default workspace has transactions of its own.
  dao::Workspace standard = dao::DBEngine::Instance().Workspaces(0);
  EXPECT_EQ(ErrorOf([&] { standard.CommitTrans(); }), 3034);
  standard.BeginTrans();
  standard.CommitTrans();
  // The workspace of a database is the one it was opened in.
  EXPECT_EQ(db.ParentWorkspace().UserName(), "Owner");
}

}  // namespace
}  // namespace dao_test
