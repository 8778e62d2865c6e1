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

// Adds a row to table t through `d`.
void InsertInto(dao::Database& d, const char* value) {
  dao::Recordset rs = d.OpenRecordset("t", dao::dbOpenTable);
  rs.AddNew();
  rs.Fields(0).SetValue(value);
  rs.Update();
}

// Another program's trigger that rolls back SQLite's transaction ends the
// workspace's transaction: nothing of it stays in any of its databases, and
// the workspace counts it no longer open.
TEST_F(TransactionTest, ATriggerThatRollsBackEndsTheTransaction) {
  const std::string second_path = dir.File("second.mdb");
  ws.CreateDatabase(second_path).Close();
  dao::Database second = ws.OpenDatabase(second_path);
  dao::TableDef td = second.CreateTableDef("t");
  td.Fields().Append(td.CreateField("a", dao::dbText, 5));
  second.TableDefs().Append(td);
  Sqlite(mdb,
         "CREATE TRIGGER stop BEFORE UPDATE ON t WHEN NEW.a = 'stop' "
         "BEGIN SELECT RAISE(ROLLBACK, 'stopped'); END");
  const auto rows_of_second = [&] {
    Strings out;
    for (dao::Recordset rs = second.OpenRecordset("t", dao::dbOpenTable); !rs.IsEOF();
         rs.MoveNext()) {
      out.push_back(rs.Fields(0).GetValue().ToString());
    }
    return out;
  };
  struct Case {
    int levels;
    bool commit;  // how the program ends it
  };
  for (const Case c : {Case{1, true}, Case{1, false}, Case{2, true}, Case{2, false}}) {
    SCOPED_TRACE(std::to_string(c.levels) + (c.commit ? " CommitTrans" : " Rollback"));
    db.Execute("DELETE FROM t WHERE t.a IN ('kept', 'one', 'after');");
    second.Execute("DELETE FROM t WHERE t.a IN ('two');");
    Insert("t", {"kept"});
    for (int i = 0; i < c.levels; ++i) ws.BeginTrans();
    Insert("t", {"one"});
    InsertInto(second, "two");
    EXPECT_EQ(ErrorOf([&] { db.Execute("UPDATE t SET t.a = 'stop' WHERE t.a = 'one';"); }), 3000);
    // Nothing of the transaction stays, in either database.
    EXPECT_EQ(RowsOf("t"), Strings{"kept"});
    EXPECT_EQ(rows_of_second(), Strings{});
    // What follows runs outside a transaction.
    Insert("t", {"after"});
    EXPECT_EQ(ErrorOf([&] { c.commit ? ws.CommitTrans() : ws.Rollback(); }), 3034);
    EXPECT_EQ(RowsOf("t"), (Strings{"kept", "after"}));
    ws.BeginTrans();
    InsertInto(second, "two");
    ws.Rollback();
    EXPECT_EQ(rows_of_second(), Strings{});
  }
}

// Two handles of one file are two SQLite connections, each covered by the
// transactions of its own workspace.
TEST_F(TransactionTest, TwoHandlesOfOneFileWriteInTurn) {
  // In one workspace: while one handle has written in the transaction, the
  // other's write fails until the transaction ends.
  dao::Database twin = ws.OpenDatabase(mdb);
  ws.BeginTrans();
  InsertInto(db, "one");
  EXPECT_EQ(ErrorOf([&] { InsertInto(twin, "two"); }), 3260);
  ws.CommitTrans();
  InsertInto(twin, "two");
  EXPECT_EQ(RowsOf("t"), (Strings{"one", "two"}));
  // Across workspaces: a transaction that has read the file before another
  // connection wrote to it cannot write to it until it ends.
  dao::Workspace other = dao::DBEngine::Instance().CreateWorkspace("", "Owner", "Secret1");
  dao::Database theirs = other.OpenDatabase(mdb);
  other.BeginTrans();
  EXPECT_FALSE(theirs.OpenRecordset("t", dao::dbOpenTable).IsEOF());
  InsertInto(db, "three");
  for (int retry = 0; retry < 2; ++retry) {
    EXPECT_EQ(ErrorOf([&] { InsertInto(theirs, "four"); }), 3260);
  }
  other.Rollback();
  InsertInto(theirs, "four");
  EXPECT_EQ(RowsOf("t"), (Strings{"one", "two", "three", "four"}));
}

}  // namespace
}  // namespace dao_test
