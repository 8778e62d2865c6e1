// The schema object model: tables, fields, indexes and relations, as the
// catalog and the physical SQLite schema keep them together.

#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using Strings = std::vector<std::string>;

// The columns of `table` as SQLite itself sees them.
Strings PhysicalColumns(const std::string& path, const std::string& table) {
  return Query(path, "SELECT name FROM pragma_table_info('" + table + "')");
}

TEST_F(DaoTest, TableWithFieldsAndDefaults) {
  Table("people", {{"id", dao::dbLong},
                   {"name", dao::dbText, 0},
                   {"born", dao::dbDate},
                   {"ok", dao::dbBoolean},
                   {"score", dao::dbDouble},
                   {"n", dao::dbInteger}});
  dao::TableDefCollection tables = db.TableDefs();
  ASSERT_EQ(tables.Count(), 1);  // the catalog tables are not among them
  dao::TableDef td = tables.Item("PEOPLE");
  EXPECT_EQ(td.Name(), "people");
  EXPECT_EQ(FieldNames("people"), (Strings{"id", "name", "born", "ok", "score", "n"}));
  struct Expect {
    int type;
    long size;
    int ordinal;
  };
  const std::vector<Expect> expect = {{dao::dbLong, 4, 0},   {dao::dbText, 50, 1},
                                      {dao::dbDate, 8, 2},   {dao::dbBoolean, 1, 3},
                                      {dao::dbDouble, 8, 4}, {dao::dbInteger, 2, 5}};
  for (int i = 0; i < 6; ++i) {
    dao::Field f = td.Fields().Item(i);
    EXPECT_EQ(f.Type(), expect[i].type) << f.Name();
    EXPECT_EQ(f.Size(), expect[i].size) << f.Name();
    EXPECT_EQ(f.OrdinalPosition(), expect[i].ordinal) << f.Name();
    EXPECT_FALSE(f.Required());
    EXPECT_FALSE(f.AllowZeroLength());
  }
  EXPECT_EQ(PhysicalColumns(mdb, "people"), (Strings{"id", "name", "born", "ok", "score", "n"}));
  // A second table of that name, in any case.
  dao::TableDef again = db.CreateTableDef("People");
  again.Fields().Append(again.CreateField("x", dao::dbText, 5));
  EXPECT_EQ(ErrorOf([&] { db.TableDefs().Append(again); }), 3010);
  EXPECT_EQ(ErrorOf([&] { db.TableDefs().Append(db.CreateTableDef("empty")); }), 3264);
  dao::TableDef reserved = db.CreateTableDef("daosys_x");
  reserved.Fields().Append(reserved.CreateField("x", dao::dbText, 5));
  EXPECT_EQ(ErrorOf([&] { db.TableDefs().Append(reserved); }), 3125);
}

TEST_F(DaoTest, ItemsByNameAndIndex) {
  Table("t", {{"a", dao::dbText, 5}});
  dao::TableDef td = db.TableDefs().Item("t");
  struct Case {
    const char* name;
    std::function<void()> call;
    long error;
  };
  const std::vector<Case> cases = {
      {"table by name", [&] { db.TableDefs().Item("nope"); }, dao::kErrItemNotFound},
      {"table by index", [&] { db.TableDefs().Item(1); }, dao::kErrItemNotFound},
      {"field by name", [&] { td.Fields().Item("b"); }, dao::kErrItemNotFound},
      {"field by index", [&] { td.Fields().Item(-1); }, dao::kErrItemNotFound},
      {"field in another case", [&] { td.Fields().Item("A"); }, 0},
      {"index", [&] { td.Indexes().Item("PrimaryKey"); }, dao::kErrItemNotFound},
      {"relation", [&] { db.Relations().Item("r"); }, dao::kErrItemNotFound},
      {"deleted field", [&] { td.Fields().Delete("zz"); }, dao::kErrItemNotFound},
      {"existing field", [&] { td.Fields().Append(td.CreateField("A", dao::dbLong)); },
       dao::kErrFieldExists},
      {"set the type of an appended field", [&] { td.Fields().Item("a").SetType(dao::dbLong); },
       3219},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf(c.call), c.error);
  }
}

TEST_F(DaoTest, AppendAtAnOrdinalPositionRenameAndDelete) {
  Table("t", {{"a", dao::dbText, 5}, {"b", dao::dbLong}, {"c", dao::dbText, 5}});
  Insert("t", {"x", int32_t{1}, "z"});
  dao::TableDef td = db.TableDefs().Item("t");
  // Appended without a position: after the last one; with one: there, after
  // the fields already at that position.
  td.Fields().Append(td.CreateField("d", dao::dbText, 5));
  dao::Field e = td.CreateField("e", dao::dbInteger);
  e.SetOrdinalPosition(1);
  td.Fields().Append(e);
  EXPECT_EQ(FieldNames("t"), (Strings{"a", "b", "e", "c", "d"}));
  EXPECT_EQ(td.Fields().Item("d").OrdinalPosition(), 3);
  EXPECT_EQ(RowsOf("t"), Strings{"x|1||z|"});
  // Renaming keeps the data and the position; the handle follows.
  dao::Field b = td.Fields().Item("b");
  b.SetName("bee");
  EXPECT_EQ(b.Name(), "bee");
  EXPECT_EQ(FieldNames("t"), (Strings{"a", "bee", "e", "c", "d"}));
  EXPECT_EQ(PhysicalColumns(mdb, "t"), (Strings{"a", "bee", "c", "d", "e"}));
  EXPECT_EQ(ErrorOf([&] { b.SetName("C"); }), dao::kErrFieldExists);
  td.Fields().Delete("BEE");
  EXPECT_EQ(FieldNames("t"), (Strings{"a", "e", "c", "d"}));
  EXPECT_EQ(RowsOf("t"), Strings{"x||z|"});
  EXPECT_EQ(ErrorOf([&] { b.Name(); }), 3420);
  td.Fields().Item("c").SetOrdinalPosition(0);
  EXPECT_EQ(FieldNames("t"), (Strings{"a", "c", "e", "d"}));
}

TEST_F(DaoTest, IndexesAppendedAndDeleted) {
  Table("t", {{"code", dao::dbText, 5}, {"risk", dao::dbText, 2}, {"n", dao::dbLong}});
  Insert("t", {"fuma", "RX", int32_t{1}});
  Key("t", "PrimaryKey", {"code", "risk"});
  dao::TableDef td = db.TableDefs().Item("t");
  dao::Index pk = td.Indexes().Item("primarykey");
  EXPECT_TRUE(pk.Primary());
  EXPECT_TRUE(pk.Unique());
  EXPECT_FALSE(pk.Foreign());
  ASSERT_EQ(pk.Fields().Count(), 2);
  EXPECT_EQ(pk.Fields().Item(1).Name(), "risk");
  // Keys ignore letter case.
  EXPECT_EQ(ErrorOf([&] { Insert("t", {"FUMA", "rx", int32_t{2}}); }), dao::kErrDuplicateKey);
  Insert("t", {"FUMA", "WF", int32_t{2}});
  struct Case {
    const char* name;
    std::vector<const char*> fields;
    bool primary, unique;
    long error;
  };
  const std::vector<Case> cases = {
      {"PrimaryKey", {"n"}, false, false, 3284},                 // name taken
      {"again", {"code", "risk"}, false, true, 3284},            // same fields
      {"second", {"n"}, true, true, 3283},                       // second primary key
      {"bycode", {"code"}, false, true, dao::kErrDuplicateKey},  // rows break it
      {"nofield", {"zz"}, false, false, dao::kErrItemNotFound},
      {"byn", {"n"}, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf([&] { Key("t", c.name, c.fields, c.primary, c.unique); }), c.error);
  }
  EXPECT_EQ(td.Indexes().Count(), 2);
  EXPECT_EQ(ErrorOf([&] { td.Fields().Delete("n"); }), 3280);
  td.Indexes().Delete("byn");
  td.Fields().Delete("n");
  EXPECT_EQ(ErrorOf([&] { td.Indexes().Delete("byn"); }), dao::kErrItemNotFound);
  // An index on a column without rows in the way is built on the table as it is.
  EXPECT_EQ(ErrorOf([&] { Key("t", "bycode", {"code"}, false, true); }), dao::kErrDuplicateKey);
  EXPECT_EQ(td.Indexes().Count(), 1);
}

class RelationTest : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("ports", {{"abbrev", dao::dbText, 3}, {"name", dao::dbText, 20}});
    Key("ports", "PrimaryKey", {"abbrev"});
    Table("people", {{"id", dao::dbLong}, {"port", dao::dbText, 4}, {"n", dao::dbLong}});
    Insert("ports", {"SEA", "Seattle"});
    Insert("people", {int32_t{1}, "sea", int32_t{0}});
    Insert("people", {int32_t{2}, dao::Value(), int32_t{0}});
  }
};

TEST_F(RelationTest, AppendCreatesTheForeignIndexAndEnforces) {
  // Text fields of different sizes may be related; the match ignores case.
  Relate("portspeople", "ports", "people", {{"abbrev", "port"}});
  dao::Relation r = db.Relations().Item("PORTSPEOPLE");
  EXPECT_EQ(r.Table(), "ports");
  EXPECT_EQ(r.ForeignTable(), "people");
  EXPECT_EQ(r.Fields().Item(0).Name(), "abbrev");
  EXPECT_EQ(r.Fields().Item(0).ForeignName(), "port");
  dao::Index fk = db.TableDefs().Item("people").Indexes().Item("portspeople");
  EXPECT_TRUE(fk.Foreign());
  EXPECT_FALSE(fk.Unique());
  EXPECT_EQ(fk.Fields().Item(0).Name(), "port");

  EXPECT_EQ(ErrorOf([&] {
              Insert("people", {int32_t{3}, "LAX", int32_t{0}});
            }),
            dao::kErrRelatedRecordRequired);
  dao::Recordset rs = db.OpenRecordset("people", dao::dbOpenTable);
  rs.Edit();
  rs.Fields(1).SetValue("XXX");
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrRelatedRecordRequired);
  rs.CancelUpdate();
  db.Execute("DELETE FROM ports WHERE ports.abbrev = 'SEA';");  // refused row stays
  EXPECT_EQ(RowsOf("ports"), Strings{"SEA|Seattle"});
  EXPECT_EQ(ErrorOf([&] { db.Execute("DELETE FROM ports WHERE ports.abbrev = 'SEA';", 128); }),
            3200);
  EXPECT_EQ(ErrorOf([&] { db.Execute("UPDATE ports SET ports.abbrev = 'SEX';", 128); }), 3200);
  Insert("people", {int32_t{4}, dao::Value(), int32_t{0}});  // Null refers to nothing

  // The foreign index goes with the relation; neither field can go before it.
  EXPECT_EQ(ErrorOf([&] { db.TableDefs().Item("people").Fields().Delete("port"); }), 3303);
  EXPECT_EQ(ErrorOf([&] { db.TableDefs().Item("people").Indexes().Delete("portspeople"); }), 3303);
  EXPECT_EQ(ErrorOf([&] { db.TableDefs().Delete("ports"); }), 3303);
  db.Relations().Delete("portspeople");
  EXPECT_EQ(db.Relations().Count(), 0);
  EXPECT_EQ(db.TableDefs().Item("people").Indexes().Count(), 0);
  Insert("people", {int32_t{3}, "LAX", int32_t{0}});
}

TEST_F(RelationTest, NumberKeysAreEnforcedToo) {
  // people.id is the primary side; a held qualification refers to it.
  Key("people", "PrimaryKey", {"id"});
  Table("quals", {{"qid", dao::dbLong}, {"person", dao::dbLong}});
  Insert("quals", {int32_t{10}, int32_t{1}});
  Relate("peoplequals", "people", "quals", {{"id", "person"}});
  Insert("quals", {int32_t{11}, int32_t{2}});
  Insert("quals", {int32_t{12}, dao::Value()});
  EXPECT_EQ(ErrorOf([&] {
              Insert("quals", {int32_t{13}, int32_t{99}});
            }),
            dao::kErrRelatedRecordRequired);
  EXPECT_EQ(
      ErrorOf([&] { db.Execute("DELETE FROM people WHERE people.id = 1;", dao::dbFailOnError); }),
      3200);
  EXPECT_EQ(RowsOf("quals"), (Strings{"10|1", "11|2", "12|"}));
}

TEST_F(RelationTest, RenamedFieldsStayInTheRelationAndTheIndex) {
  Relate("portspeople", "ports", "people", {{"abbrev", "port"}});
  db.TableDefs().Item("people").Fields().Item("port").SetName("home_port");
  db.TableDefs().Item("ports").Fields().Item("abbrev").SetName("code");
  dao::Relation r = db.Relations().Item("portspeople");
  EXPECT_EQ(r.Fields().Item(0).Name(), "code");
  EXPECT_EQ(r.Fields().Item(0).ForeignName(), "home_port");
  EXPECT_EQ(db.TableDefs().Item("people").Indexes().Item(0).Fields().Item(0).Name(), "home_port");
  EXPECT_EQ(db.TableDefs().Item("ports").Indexes().Item(0).Fields().Item(0).Name(), "code");
  EXPECT_EQ(ErrorOf([&] {
              Insert("people", {int32_t{3}, "LAX", int32_t{0}});
            }),
            dao::kErrRelatedRecordRequired);
}

TEST_F(RelationTest, AppendChecks) {
  Table("other", {{"k", dao::dbLong}});
  struct Case {
    const char* name;
    const char* table;
    const char* foreign;
    std::vector<std::pair<const char*, const char*>> pairs;
    long attributes;
    long error;
  };
  const std::vector<Case> cases = {
      {"no such table", "nope", "people", {{"abbrev", "port"}}, 0, dao::kErrItemNotFound},
      {"no such field", "ports", "people", {{"abbrev", "nope"}}, 0, dao::kErrItemNotFound},
      {"types differ", "ports", "people", {{"abbrev", "id"}}, 0, 3368},
      {"no unique index", "people", "ports", {{"port", "abbrev"}}, 0, 3368},
      {"rows without a match", "other", "people", {{"k", "n"}}, 0, dao::kErrRelatedRecordRequired},
  };
  Key("other", "PrimaryKey", {"k"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf([&] { Relate("r", c.table, c.foreign, c.pairs, c.attributes); }), c.error);
    EXPECT_EQ(db.Relations().Count(), 0);
    EXPECT_EQ(db.TableDefs().Item("people").Indexes().Count(), 0);
  }
  // Not enforced: the rows need no match and nothing is refused.
  Relate("loose", "other", "people", {{"k", "n"}}, dao::dbRelationDontEnforce);
  Insert("people", {int32_t{9}, dao::Value(), int32_t{42}});
}

TEST_F(RelationTest, Cascades) {
  Relate("portspeople", "ports", "people", {{"abbrev", "port"}},
         dao::dbRelationUpdateCascade | dao::dbRelationDeleteCascade);
  db.Execute("UPDATE ports SET ports.abbrev = 'SEX';", 128);
  EXPECT_EQ(RowsOf("people"), (Strings{"1|SEX|0", "2||0"}));
  db.Execute("DELETE FROM ports WHERE ports.abbrev = 'sex';", 128);
  EXPECT_EQ(RowsOf("people"), (Strings{"2||0"}));
}

// A cascade on a table related to itself goes through every level, while
// the file holds no trigger of another program.
TEST_F(DaoTest, CascadesOnATableRelatedToItself) {
  struct Case {
    const char* name;
    const char* other_trigger;  // created by another program first
    const char* sql;
    Strings rows;
  };
  const std::vector<Case> cases = {
      {"delete", nullptr, "DELETE FROM tree WHERE tree.id = 1;", {"5|", "6|5"}},
      {"delete in the middle", nullptr, "DELETE FROM tree WHERE tree.id = 2;", {"1|", "5|", "6|5"}},
      {"update",
       nullptr,
       "UPDATE tree SET tree.id = 10 WHERE tree.id = 1;",
       {"10|", "2|10", "3|2", "4|3", "5|", "6|5"}},
      // Another program's trigger might fire itself without end once
      // triggers may fire themselves, so the cascade then goes one level.
      {"delete beside another program's trigger",
       "CREATE TRIGGER stamp AFTER UPDATE ON other BEGIN UPDATE other SET v = v + 1; END",
       "DELETE FROM tree WHERE tree.id = 1;",
       {"3|2", "4|3", "5|", "6|5"}},
  };
  int files = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int options : {0, int{dao::dbFailOnError}}) {
      db.Close();
      mdb = dir.File("tree" + std::to_string(++files) + ".mdb");
      db = ws.CreateDatabase(mdb);
      Table("tree", {{"id", dao::dbLong}, {"parent", dao::dbLong}});
      Key("tree", "PrimaryKey", {"id"});
      Relate("treeparent", "tree", "tree", {{"id", "parent"}},
             dao::dbRelationDeleteCascade | dao::dbRelationUpdateCascade);
      Table("other", {{"v", dao::dbLong}});
      for (auto [id, parent] : std::vector<std::pair<int32_t, dao::Value>>{{1, dao::Value()},
                                                                           {2, int32_t{1}},
                                                                           {3, int32_t{2}},
                                                                           {4, int32_t{3}},
                                                                           {5, dao::Value()},
                                                                           {6, int32_t{5}}}) {
        Insert("tree", {id, parent});
      }
      if (c.other_trigger != nullptr) Sqlite(mdb, c.other_trigger);
      db.Execute(c.sql, options);
      EXPECT_EQ(RowsOf("tree"), c.rows);
    }
  }
}

}  // namespace
}  // namespace dao_test
