// Table-type and forward-only recordsets, pending new records, and the
// notifications every engine call gives the observer.

#include <gtest/gtest.h>

#include <functional>

#include "platform/dao/dao.h"
#include "platform/dao/observer.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using Strings = std::vector<std::string>;

class RecordsetTest : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("t", {{"code", dao::dbText, 4}, {"n", dao::dbInteger}});
    Key("t", "PrimaryKey", {"code"});
  }
};

TEST_F(RecordsetTest, TableTypeStartsOnTheFirstRowInInsertionOrder) {
  dao::Recordset empty = db.OpenRecordset("t ", dao::dbOpenTable);  // trailing blank
  EXPECT_TRUE(empty.IsEOF());
  EXPECT_EQ(ErrorOf([&] { empty.Fields(0).GetValue(); }), dao::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { empty.Edit(); }), dao::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { empty.MoveNext(); }), dao::kErrNoCurrentRecord);
  for (const char* code : {"b", "a", "c"}) Insert("t", {code, int16_t{1}});
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  EXPECT_EQ(rs.Fields("CODE").GetValue(), dao::Value("b"));
  rs.Edit();
  rs.Fields(1).SetValue("7");
  rs.Update();
  EXPECT_EQ(RowsOf("t"), (Strings{"b|7", "a|1", "c|1"}));
  EXPECT_EQ(ErrorOf([&] { rs.Fields(2); }), dao::kErrItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs.Fields("x"); }), dao::kErrItemNotFound);
  EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("nope", dao::dbOpenTable); }), dao::kErrTableNotFound);
  EXPECT_EQ(rs.Fields(0).Name(), "code");
  EXPECT_EQ(rs.Fields(0).Size(), 4);
  EXPECT_EQ(rs.Fields(1).Type(), dao::dbInteger);
}

TEST_F(RecordsetTest, WithoutAddNewOrEdit) {
  Insert("t", {"a", int16_t{1}});
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  EXPECT_EQ(ErrorOf([&] { rs.Fields(0).SetValue("b"); }), dao::kErrUpdateWithoutEdit);
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrUpdateWithoutEdit);
  rs.AddNew();
  rs.Fields(0).SetValue("b");
  rs.Update();
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrUpdateWithoutEdit);
}

TEST_F(RecordsetTest, RefusedNewRecordStaysPendingUntilDropped) {
  Insert("t", {"fuma", int16_t{1}});
  {
    dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
    rs.AddNew();
    rs.Fields(0).SetValue("FUMA");
    rs.Fields(1).SetValue(int16_t{2});
    EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrDuplicateKey);
    // Still pending: its values are there, and a changed key goes through.
    EXPECT_EQ(rs.Fields(1).GetValue(), dao::Value(int16_t{2}));
    rs.Fields(0).SetValue("fum1");
    rs.Update();
    // A refused record dropped by the next AddNew: nothing of it is written.
    rs.AddNew();
    rs.Fields(0).SetValue("Fuma");
    EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrDuplicateKey);
    rs.AddNew();
    EXPECT_EQ(rs.Fields(0).GetValue(), dao::Value());
    rs.Fields(0).SetValue("new");
    rs.Update();
    // And one dropped by the release of the recordset.
    rs.AddNew();
    rs.Fields(0).SetValue("gone");
  }
  EXPECT_EQ(RowsOf("t"), (Strings{"fuma|1", "fum1|2", "new|"}));
  dao::Recordset closed = db.OpenRecordset("t", dao::dbOpenTable);
  closed.AddNew();
  closed.Fields(0).SetValue("gone");
  closed.Close();
  EXPECT_EQ(RowsOf("t").size(), 3u);
  EXPECT_EQ(ErrorOf([&] { closed.Update(); }), 3420);
}

TEST_F(RecordsetTest, EditThatCollidesStaysPending) {
  Insert("t", {"a", int16_t{1}});
  Insert("t", {"b", int16_t{2}});
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  rs.MoveNext();
  rs.Edit();
  rs.Fields(0).SetValue("A");
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrDuplicateKey);
  rs.Fields(0).SetValue("c");
  rs.Update();
  EXPECT_EQ(RowsOf("t"), (Strings{"a|1", "c|2"}));
}

TEST_F(RecordsetTest, ForwardOnlyHoldsTheRowsReadAtOpen) {
  for (const char* code : {"b", "a"}) Insert("t", {code, int16_t{3}});
  dao::Recordset rs = db.OpenRecordset("Select t.code, t.n from t;", dao::dbOpenForwardOnly);
  Insert("t", {"c", int16_t{4}});
  db.Execute("DELETE FROM t WHERE t.code = 'a';");
  ASSERT_EQ(rs.FieldCount(), 2);
  Strings seen;
  while (!rs.IsEOF()) {
    seen.push_back(rs.Fields(0).GetValue().ToString() + rs.Fields("n").GetValue().ToString());
    rs.MoveNext();
  }
  EXPECT_EQ(seen, (Strings{"b3", "a3"}));
  EXPECT_EQ(ErrorOf([&] { rs.Fields(0).GetValue(); }), dao::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs.AddNew(); }), 3027);
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), 3027);
  dao::Recordset none =
      db.OpenRecordset("SELECT t.code FROM t WHERE t.code = 'zz';", dao::dbOpenForwardOnly);
  EXPECT_TRUE(none.IsEOF());
  EXPECT_EQ(ErrorOf([&] { none.Fields(0).GetValue(); }), dao::kErrNoCurrentRecord);
}

// Records the calls as the trace shows them.
class Recorder : public dao::CallObserver {
 public:
  Recorder() : previous_(dao::SetCallObserver(this)) {}
  ~Recorder() override { dao::SetCallObserver(previous_); }
  void OnCall(const dao::Call& call) override {
    lines.push_back(kav::testing::TraceLine(call));
    if (fail_at == static_cast<int>(lines.size())) {
      throw kav::Error(3051, "Injected", "Test");
    }
  }
  void OnError(const dao::Call&, const kav::Error& error) override {
    lines.push_back("ERR\t" + std::to_string(error.number()));
  }
  Strings lines;
  int fail_at = 0;

 private:
  dao::CallObserver* previous_;
};

TEST_F(RecordsetTest, EveryCallIsNotifiedOnceBeforeItRuns) {
  Recorder recorder;
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  rs.AddNew();
  rs.Fields("n").SetValue("5");
  rs.Fields(0).SetValue(int16_t{1});
  rs.Update();
  db.Execute("DELETE FROM t WHERE t.n = 9;", dao::dbFailOnError);
  db.TableDefs().Item("t").Fields().Append(db.TableDefs().Item("t").CreateField("x", dao::dbLong));
  EXPECT_EQ(recorder.lines,
            (Strings{"OPEN\tt", "ADDNEW", "SET\t1\tT\t5", "SET\t0\tI\t1", "UPDATE",
                     "EXEC\t128\tDELETE FROM t WHERE t.n = 9;", "CALL\tTableDefs.Item",
                     "CALL\tTableDefs.Item", "CALL\tTableDef.CreateField", "CALL\tFields.Append"}));
  recorder.lines.clear();
  rs.AddNew();
  rs.Fields(0).SetValue("1");
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrDuplicateKey);
  EXPECT_EQ(recorder.lines, (Strings{"ADDNEW", "SET\t0\tT\t1", "UPDATE", "ERR\t3022"}));
}

// A look-up is no call of its own in the trace, but its failure is: the
// trace shows which operation failed.
TEST_F(RecordsetTest, FailingFieldLookUpShowsAsItsError) {
  Recorder recorder;
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  rs.AddNew();
  EXPECT_EQ(ErrorOf([&] { rs.Fields(2).SetValue("x"); }), dao::kErrItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs.Fields("gone").SetValue("x"); }), dao::kErrItemNotFound);
  rs.Fields(0).SetValue("a");
  EXPECT_EQ(recorder.lines,
            (Strings{"OPEN\tt", "ADDNEW", "ERR\t3265", "ERR\t3265", "SET\t0\tT\ta"}));
  ASSERT_EQ(dao::DBEngine::Instance().Errors().size(), 1u);
  EXPECT_EQ(dao::DBEngine::Instance().Errors()[0].source(), "DAO.Recordset");
}

TEST_F(RecordsetTest, ObserverFailureFailsTheCallAsAnEngineError) {
  Recorder recorder;
  recorder.fail_at = 2;  // the AddNew
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  try {
    rs.AddNew();
    FAIL() << "AddNew must fail";
  } catch (const kav::Error& e) {
    EXPECT_EQ(e.number(), 3051);
    EXPECT_EQ(e.source(), "Test");
  }
  ASSERT_EQ(dao::DBEngine::Instance().Errors().size(), 1u);
  EXPECT_EQ(dao::DBEngine::Instance().Errors()[0].number(), 3051);
  EXPECT_EQ(recorder.lines, (Strings{"OPEN\tt", "ADDNEW", "ERR\t3051"}));
  // Nothing was done: the recordset is not in AddNew.
  EXPECT_EQ(ErrorOf([&] { rs.Fields(0).SetValue("a"); }), dao::kErrUpdateWithoutEdit);
  recorder.fail_at = 0;
  rs.AddNew();
  rs.Fields(0).SetValue("a");
  rs.Update();
  EXPECT_EQ(RowsOf("t"), Strings{"a|"});
}

// A pending record is never written into fields other than those it was
// begun with: after a change of its table's fields it is dropped with 3219.
TEST_F(RecordsetTest, APendingRecordIsDroppedWhenItsTableChanges) {
  Table("w", {{"a", dao::dbText, 5}, {"b", dao::dbText, 5}, {"c", dao::dbText, 5}});
  Insert("w", {"a1", "b1", "c1"});
  struct Case {
    const char* name;
    bool edit;
    std::function<void()> change;
    long error;  // of Update
    Strings rows;
  };
  const auto other_handle = [&](const std::function<void(dao::Database&)>& body) {
    dao::Database second = ws.OpenDatabase(mdb);
    body(second);
    second.Close();
  };
  const std::vector<Case> cases = {
      {"field deleted, AddNew",
       false,
       [&] { db.TableDefs().Item("w").Fields().Delete("b"); },
       3219,
       {"a1|c1"}},
      {"field deleted, Edit",
       true,
       [&] { db.TableDefs().Item("w").Fields().Delete("b"); },
       3219,
       {"a1|c1"}},
      {"field moved, AddNew",
       false,
       [&] { db.TableDefs().Item("w").Fields().Item("c").SetOrdinalPosition(-1); },
       3219,
       {"c1|a1|b1"}},
      {"field moved, Edit",
       true,
       [&] { db.TableDefs().Item("w").Fields().Item("c").SetOrdinalPosition(-1); },
       3219,
       {"c1|a1|b1"}},
      {"field deleted by another handle, AddNew",
       false,
       [&] {
         other_handle([](dao::Database& d) { d.TableDefs().Item("w").Fields().Delete("b"); });
       },
       3219,
       {"a1|c1"}},
      {"field deleted by another handle, Edit",
       true,
       [&] {
         other_handle([](dao::Database& d) { d.TableDefs().Item("w").Fields().Delete("b"); });
       },
       3219,
       {"a1|c1"}},
      {"field renamed, AddNew",
       false,
       [&] { db.TableDefs().Item("w").Fields().Item("b").SetName("bb"); },
       0,
       {"a1|b1|c1", "x|y|z"}},
      {"field renamed, Edit",
       true,
       [&] { db.TableDefs().Item("w").Fields().Item("b").SetName("bb"); },
       0,
       {"x|y|z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The table anew: a, b, c in that order, one row.
    db.TableDefs().Delete("w");
    Table("w", {{"a", dao::dbText, 5}, {"b", dao::dbText, 5}, {"c", dao::dbText, 5}});
    Insert("w", {"a1", "b1", "c1"});
    dao::Recordset rs = db.OpenRecordset("w", dao::dbOpenTable);
    if (c.edit) {
      rs.Edit();
    } else {
      rs.AddNew();
    }
    rs.Fields(0).SetValue("x");
    rs.Fields(1).SetValue("y");
    rs.Fields(2).SetValue("z");
    c.change();
    EXPECT_EQ(ErrorOf([&] { rs.Update(); }), c.error);
    EXPECT_EQ(RowsOf("w"), c.rows);
    if (c.error != 0) {
      // Dropped: nothing is pending any more.
      EXPECT_EQ(ErrorOf([&] { rs.Fields(0).SetValue("q"); }), dao::kErrUpdateWithoutEdit);
      EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrUpdateWithoutEdit);
    }
  }
  // A value read or set after the change is refused alike.
  dao::Recordset rs = db.OpenRecordset("w", dao::dbOpenTable);
  rs.AddNew();
  db.TableDefs().Item("w").Fields().Item("c").SetOrdinalPosition(-1);
  EXPECT_EQ(ErrorOf([&] { rs.Fields(0).GetValue(); }), 3219);
  rs.AddNew();
  db.TableDefs().Item("w").Fields().Item("a").SetOrdinalPosition(-2);
  EXPECT_EQ(ErrorOf([&] { rs.Fields(0).SetValue("v"); }), 3219);
}

// Update after Edit never writes over a row that has changed since Edit.
TEST_F(RecordsetTest, AnEditIsRefusedWhenItsRowChangedSince) {
  struct Case {
    const char* name;
    std::function<void()> between;
    long error;
    Strings rows;
  };
  const std::vector<Case> cases = {
      {"a statement changed the row",
       [&] { db.Execute("UPDATE t SET t.n = 7 WHERE t.code = 'a';"); },
       3197,
       {"a|7", "b|2"}},
      {"another program changed the row",
       [&] { Sqlite(mdb, "UPDATE t SET n = 8 WHERE code = 'a'"); },
       3197,
       {"a|8", "b|2"}},
      {"a statement wrote the same values",
       [&] { db.Execute("UPDATE t SET t.n = 1 WHERE t.code = 'a';"); },
       0,
       {"a|9", "b|2"}},
      {"a statement changed another row",
       [&] { db.Execute("UPDATE t SET t.n = 5 WHERE t.code = 'b';"); },
       0,
       {"a|9", "b|5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db.Execute("DELETE FROM t WHERE t.code IN ('a', 'b');");
    Insert("t", {"a", int16_t{1}});
    Insert("t", {"b", int16_t{2}});
    dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
    rs.Edit();
    rs.Fields(1).SetValue(int16_t{9});
    c.between();
    EXPECT_EQ(ErrorOf([&] { rs.Update(); }), c.error);
    EXPECT_EQ(RowsOf("t"), c.rows);
    if (c.error != 0) {
      // Edit again reads the row as it is now.
      rs.Edit();
      EXPECT_EQ(rs.Fields(1).GetValue().ToString(), c.rows[0].substr(2));
      rs.Fields(1).SetValue(int16_t{9});
      rs.Update();
      EXPECT_EQ(RowsOf("t")[0], "a|9");
    }
  }
}

TEST_F(RecordsetTest, AForwardOnlySourceIsAQueryOnlyWhenItsFirstWordIsSelect) {
  for (const char* name : {"selections", "select_x", "Selected"}) {
    SCOPED_TRACE(name);
    Table(name, {{"v", dao::dbText, 5}});
    Insert(name, {"one"});
    dao::Recordset rs = db.OpenRecordset(name, dao::dbOpenForwardOnly);
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.Fields(0).GetValue().ToString(), "one");
  }
  Insert("t", {"a", int16_t{1}});
  for (const char* query :
       {"SELECT t.code FROM t;", " select\tt.code FROM t", "SELECT\nt.code FROM t"}) {
    SCOPED_TRACE(query);
    dao::Recordset rs = db.OpenRecordset(query, dao::dbOpenForwardOnly);
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.Fields(0).GetValue().ToString(), "a");
  }
  EXPECT_EQ(ErrorOf([&] { db.OpenRecordset("selectnone", dao::dbOpenForwardOnly); }),
            dao::kErrTableNotFound);
}

}  // namespace
}  // namespace dao_test
