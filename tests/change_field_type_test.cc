// ChangeFieldType on small tables built through the engine layer.

#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dao/dao.h"
#include "platform/dao/workgroup.h"
#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "tests/dao_fixture.h"
#include "tests/support/harness.h"
#include "update/update.h"

namespace kav::testing {
namespace {

using dao_test::FileBytes;
using dao_test::Query;
using dao_test::Sqlite;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The engine suites' fixture, logged on as the product's owner account.
// Its indexes are added with every flag explicit (AddIndex below), not
// through its Key helper.
class RetypeTest : public dao_test::DaoTest {
 protected:
  void SetUp() override { CreateAndLogOn({{"KAVOwner", "TelvoRm"}}); }

  void AddIndex(const char* table, const char* name, std::vector<const char*> fields, bool primary,
                bool unique, bool required = false, bool ignore_nulls = false) {
    dao::TableDef td = db.TableDefs().Item(table);
    dao::Index ix = td.CreateIndex(name);
    ix.SetPrimary(primary);
    ix.SetUnique(unique);
    ix.SetRequired(required);
    ix.SetIgnoreNulls(ignore_nulls);
    for (const char* f : fields) ix.Fields().Append(ix.CreateField(f));
    td.Indexes().Append(ix);
  }

  void Retype(const std::string& table, const std::string& field, int type, long size,
              bool allow_zero_length = false) {
    ChangeFieldType(db, table, field, type, size, allow_zero_length, /*bNotRequired=*/true,
                    /*lAttributes=*/0);
  }

  // Everything about a table a retyping must keep: its fields in order with
  // their properties, its indexes, the relations that touch it, its rows.
  std::vector<std::string> Describe(const std::string& table) {
    std::vector<std::string> out;
    dao::TableDefCollection tables = db.TableDefs();
    tables.Refresh();
    dao::TableDef td = tables.Item(table);
    for (int i = 0; i < td.Fields().Count(); ++i) {
      dao::Field f = td.Fields().Item(i);
      out.push_back("field " + f.Name() + " " + std::to_string(f.Type()) + " " +
                    std::to_string(f.Size()) + (f.AllowZeroLength() ? " azl" : "") +
                    (f.Required() ? " required" : ""));
    }
    for (int i = 0; i < td.Indexes().Count(); ++i) {
      dao::Index ix = td.Indexes().Item(i);
      std::string line = "index " + ix.Name() + (ix.Primary() ? " primary" : "") +
                         (ix.Unique() ? " unique" : "") + (ix.Required() ? " required" : "") +
                         (ix.IgnoreNulls() ? " ignorenulls" : "") +
                         (ix.Foreign() ? " foreign" : "") + " (";
      for (int j = 0; j < ix.Fields().Count(); ++j) line += ix.Fields().Item(j).Name() + ",";
      out.push_back(line + ")");
    }
    dao::RelationCollection relations = db.Relations();
    relations.Refresh();
    for (int i = 0; i < relations.Count(); ++i) {
      dao::Relation r = relations.Item(i);
      std::string line = "relation " + r.Name() + " " + r.Table() + "->" + r.ForeignTable() + " " +
                         std::to_string(r.Attributes());
      for (int j = 0; j < r.Fields().Count(); ++j) {
        line += " " + r.Fields().Item(j).Name() + "=" + r.Fields().Item(j).ForeignName();
      }
      out.push_back(line);
    }
    dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
    while (!rs.IsEOF()) {
      std::string row = "row";
      for (int f = 0; f < rs.FieldCount(); ++f) row += " " + rs.Fields(f).GetValue().ToString();
      out.push_back(row);
      rs.MoveNext();
    }
    return out;
  }
};

TEST_F(RetypeTest, ColumnInNoIndexKeepsNamePositionAndData) {
  Table("t", {{"a", dao::dbText, 10}, {"b", dao::dbLong}, {"c", dao::dbText, 5}});
  Insert("t", {"one", int32_t{12}, "x"});
  Insert("t", {"two", dao::Value(), "y"});
  Retype("t", "b", dao::dbText, 4);
  EXPECT_THAT(Describe("t"), ElementsAre("field a 10 10", "field b 10 4", "field c 10 5",
                                         "row one 12 x", "row two  y"));
}

TEST_F(RetypeTest, NamesInAnotherCaseAndTheDefaultSize) {
  Table("Things", {{"Code", dao::dbInteger}});
  Insert("Things", {int16_t{7}});
  Retype("THINGS", "code", dao::dbText, 0);
  // The new column is created under the name as the caller writes it.
  EXPECT_THAT(Describe("Things"), ElementsAre("field code 10 50", "row 7"));
}

TEST_F(RetypeTest, TemporaryNameSkipsTakenNames) {
  Table("t", {{"XXX1", dao::dbText, 5}, {"b", dao::dbText, 10}, {"XXX2", dao::dbText, 5}});
  Insert("t", {"p", "too long", "q"});
  try {
    Retype("t", "b", dao::dbText, 3);
    FAIL() << "the copy must fail";
  } catch (const kav::Error& e) {
    EXPECT_EQ(e.number(), 55555);
    EXPECT_EQ(e.source(), "ChangeFieldType");
    EXPECT_THAT(e.description(), StartsWith("Error Copying data from XXX3 to b\r\nError 3163 ("));
  }
  Retype("t", "b", dao::dbText, 20);
  EXPECT_THAT(Describe("t"), ElementsAre("field XXX1 10 5", "field b 10 20", "field XXX2 10 5",
                                         "row p too long q"));
}

TEST_F(RetypeTest, TwoFieldIndexRebuiltWithItsProperties) {
  Table("t", {{"a", dao::dbText, 4}, {"b", dao::dbInteger}, {"c", dao::dbText, 4}});
  AddIndex("t", "ab", {"a", "b"}, false, true, true, true);
  AddIndex("t", "PrimaryKey", {"c"}, true, true, true);
  Insert("t", {"x", int16_t{1}, "k1"});
  std::vector<std::string> before = Describe("t");
  Retype("t", "b", dao::dbText, 6);
  std::vector<std::string> after = Describe("t");
  EXPECT_EQ(after[1], "field b 10 6");
  EXPECT_THAT(after, ::testing::Contains("index ab unique required ignorenulls (a,b,)"));
  EXPECT_THAT(after, ::testing::Contains("index PrimaryKey primary unique required (c,)"));
  // Still unique on (a, b).
  EXPECT_THROW(
      {
        try {
          Insert("t", {"X", "1", "k2"});
        } catch (const kav::Error& e) {
          EXPECT_EQ(e.number(), dao::kErrDuplicateKey);
          throw;
        }
      },
      kav::Error);
}

TEST_F(RetypeTest, RelationOfTwoPairsFoundThroughItsForeignSide) {
  Table("parent", {{"k1", dao::dbText, 4}, {"k2", dao::dbText, 4}});
  AddIndex("parent", "PrimaryKey", {"k1", "k2"}, true, true, true);
  Table("child", {{"id", dao::dbLong}, {"x1", dao::dbText, 4}, {"x2", dao::dbText, 4}});
  Relate("parentchild", "parent", "child", {{"k1", "x1"}, {"k2", "x2"}}, 0);
  Insert("parent", {"A", "B"});
  Insert("child", {int32_t{1}, "A", "B"});
  Retype("child", "x2", dao::dbText, 8);
  std::vector<std::string> after = Describe("child");
  EXPECT_THAT(after, ::testing::Contains("relation parentchild parent->child 0 k1=x1 k2=x2"));
  EXPECT_EQ(after[2], "field x2 10 8");
  EXPECT_THAT(after, ::testing::Contains(StartsWith("row 1 A B")));
  // Still enforced.
  try {
    Insert("child", {int32_t{2}, "A", "Z"});
    FAIL() << "the relation must refuse an unmatched row";
  } catch (const kav::Error& e) {
    EXPECT_EQ(e.number(), dao::kErrRelatedRecordRequired);
  }
}

TEST_F(RetypeTest, ForeignIndexOfASelfRelationFailsAndLeavesTheTableAsItWas) {
  // The relation's primary field is another column, so the relation is not
  // taken down, and its foreign index is left alone; deleting the renamed
  // column then fails with 3303, the field being part of a relation.
  Table("t", {{"a", dao::dbText, 4}, {"b", dao::dbText, 4}});
  AddIndex("t", "PrimaryKey", {"a"}, true, true, true);
  Relate("self", "t", "t", {{"a", "b"}});
  Insert("t", {"A", dao::Value()});
  Insert("t", {"B", "A"});
  std::vector<std::string> before = Describe("t");
  try {
    Retype("t", "b", dao::dbText, 8);
    FAIL() << "the retyping must fail";
  } catch (const kav::Error& e) {
    EXPECT_EQ(e.number(), 55555);
    const std::vector<kav::Error>& errors = dao::DBEngine::Instance().Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front().number(), 3303);
    EXPECT_EQ(e.description(), "Error Deleting temporary field XXX1\r\nError 3303 (" +
                                   errors.front().source() + ") " + errors.front().description());
  }
  EXPECT_EQ(Describe("t"), before);
}

TEST_F(RetypeTest, ValueThatDoesNotFitLeavesTheTableUnchanged) {
  Table("t", {{"a", dao::dbText, 10}, {"b", dao::dbText, 10}});
  AddIndex("t", "PrimaryKey", {"b"}, true, true, true);
  Insert("t", {"x", "short"});
  Insert("t", {"y", "long text"});
  std::vector<std::string> before = Describe("t");
  try {
    Retype("t", "b", dao::dbText, 6);
    FAIL() << "the copy must fail";
  } catch (const kav::Error& e) {
    EXPECT_EQ(e.number(), 55555);
    EXPECT_EQ(e.source(), "ChangeFieldType");
    const std::vector<kav::Error>& errors = dao::DBEngine::Instance().Errors();
    ASSERT_FALSE(errors.empty());
    std::string expected = "Error Copying data from XXX1 to b";
    for (const kav::Error& engine_error : errors) {
      expected += "\r\nError " + std::to_string(engine_error.number()) + " (" +
                  engine_error.source() + ") " + engine_error.description();
    }
    EXPECT_EQ(e.description(), expected);
    EXPECT_EQ(errors.front().number(), dao::kErrFieldTooSmall);
  }
  EXPECT_EQ(Describe("t"), before);
}

// The indexes, views and triggers of other programs on the file, as
// sqlite_master holds them.
std::vector<std::string> OtherProgramsObjects(const std::string& mdb) {
  return Query(mdb,
               "SELECT type, name, tbl_name, sql FROM sqlite_master WHERE type IN ('index', "
               "'view', 'trigger') AND sql IS NOT NULL AND name NOT LIKE 'daosys\\_%' ESCAPE '\\' "
               "ORDER BY name");
}

// What another program made on the columns that the update retypes keeps
// working: afterwards it names the retyped column and does what it did.
TEST(RetypeSample, OtherProgramsObjectsOnRetypedColumnsKeepWorking) {
  struct Case {
    const char* name;
    std::string sql;   // what the other program makes
    std::string then;  // what it runs after the update
    // Queries after the update, each with the query whose rows it must give.
    std::vector<std::pair<std::string, std::string>> checks;
  };
  const std::vector<Case> cases = {
      {"an index on the column",
       "CREATE INDEX by_port ON tbl_kav_persons(p_primary_jet_port);",
       "",
       {{"SELECT name FROM pragma_index_info('by_port')", "SELECT 'p_primary_jet_port'"},
        {"SELECT count(*) FROM tbl_kav_persons INDEXED BY by_port WHERE p_primary_jet_port = "
         "'BOI'",
         "SELECT count(*) FROM tbl_kav_persons WHERE p_primary_jet_port = 'BOI'"}}},
      {"an index on two columns retyped one after the other",
       "CREATE UNIQUE INDEX by_ports ON tbl_kav_persons(p_secondary_jet_port, "
       "p_primary_jet_port, p_id);",
       "",
       {{"SELECT name FROM pragma_index_info('by_ports') ORDER BY seqno",
         "VALUES ('p_secondary_jet_port'), ('p_primary_jet_port'), ('p_id')"}}},
      {"a view selecting the column",
       "CREATE VIEW ports_of_people AS SELECT p_id, p_primary_jet_port FROM tbl_kav_persons;",
       "",
       {{"SELECT * FROM ports_of_people ORDER BY p_id",
         "SELECT p_id, p_primary_jet_port FROM tbl_kav_persons ORDER BY p_id"},
        {"SELECT count(*) FROM ports_of_people WHERE p_primary_jet_port LIKE 'XXX%'", "SELECT 0"}}},
      {"a view joining two retyped tables on retyped columns",
       "CREATE VIEW person_ports AS SELECT p.p_id, j.jet_port_abbrev, p.p_secondary_jet_port "
       "FROM tbl_kav_persons p JOIN tbl_kav_jet_ports j ON j.jet_port_abbrev = "
       "p.p_primary_jet_port;",
       "",
       {{"SELECT * FROM person_ports ORDER BY p_id",
         "SELECT p_id, p_primary_jet_port, p_secondary_jet_port FROM tbl_kav_persons ORDER BY "
         "p_id"}}},
      {"a trigger after an update of the column",
       "CREATE TABLE port_log (p_id INTEGER); CREATE TRIGGER log_port AFTER UPDATE OF "
       "p_primary_jet_port ON tbl_kav_persons BEGIN INSERT INTO port_log VALUES (NEW.p_id); "
       "END;",
       "UPDATE tbl_kav_persons SET p_primary_jet_port = 'FAT' WHERE p_id = 1; "
       "UPDATE tbl_kav_persons SET p_last_name = 'Other' WHERE p_id = 2;",
       {{"SELECT p_id FROM port_log", "SELECT 1"}}},
      {"a trigger on another retyped table naming its column",
       "CREATE TABLE comment_log (old TEXT, new TEXT); CREATE TRIGGER log_comment AFTER UPDATE "
       "ON tbl_kav_training_scheduled BEGIN INSERT INTO comment_log VALUES (OLD.ts_comment, "
       "NEW.ts_comment); END;",
       "UPDATE tbl_kav_training_scheduled SET ts_comment = 'changed' WHERE rowid = 1;",
       {{"SELECT new FROM comment_log", "SELECT 'changed'"}}},
      {"a view with a trigger of its own, which goes with the view when it is dropped",
       "CREATE TABLE removed (p_id INTEGER); CREATE VIEW people AS SELECT p_id, "
       "p_primary_jet_port FROM tbl_kav_persons; CREATE TRIGGER remove_person INSTEAD OF "
       "DELETE ON people BEGIN INSERT INTO removed VALUES (OLD.p_id); END;",
       "DELETE FROM people WHERE p_id = 3;",
       {{"SELECT p_id FROM removed", "SELECT 3"},
        {"SELECT p_primary_jet_port FROM people WHERE p_id = 3",
         "SELECT p_primary_jet_port FROM tbl_kav_persons WHERE p_id = 3"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = MakeSample(dir);
    Sqlite(mdb, c.sql);
    const std::vector<std::string> objects = OtherProgramsObjects(mdb);
    ui::ScriptedMessageBoxes boxes;
    RunDatabaseUpdate(mdb);
    EXPECT_THAT(boxes.boxes(), ElementsAre(ui::ShownBox{kCompleted, 0, "", ui::vbDefault}));
    EXPECT_EQ(OtherProgramsObjects(mdb), objects);
    if (!c.then.empty()) Sqlite(mdb, c.then);
    for (const auto& [actual, expected] : c.checks) {
      EXPECT_EQ(Query(mdb, actual), Query(mdb, expected)) << actual;
      EXPECT_FALSE(Query(mdb, expected).empty());
    }
    EXPECT_EQ(Query(mdb, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  }
}

// Where what another program made on the column cannot be kept, the
// retyping is refused before it writes anything, with the object named;
// and where a later step fails, what was set aside is back with the rest.
TEST(RetypeSample, OtherProgramsObjectThatCannotBeKeptRefusesTheRetyping) {
  struct Case {
    const char* name;
    std::string sql;  // what the other program makes
    const char* field;
    long size;
    std::string text;    // how the retyping's error text begins
    std::string object;  // its words that name the object; "" for no refusal
    std::string box;     // how the whole update's error box begins
  };
  const std::string setting_aside =
      "Error Setting aside other programs' objects on [tbl_kav_persons]![p_primary_jet_port]\r\n";
  const std::vector<Case> cases = {
      {"a partial index that takes a double-quoted word for text",
       "CREATE INDEX open_ports ON tbl_kav_persons(p_primary_jet_port) WHERE "
       "p_primary_jet_port <> \"NONE\";",
       "p_primary_jet_port", 4, setting_aside + "Error 3219 (DAO.Database) ",
       "the index 'open_ports' of another program could not be made again as it is written",
       " 3219  :  "},
      {"a foreign key of another program's table",
       "CREATE TABLE crews (port TEXT REFERENCES tbl_kav_persons(p_primary_jet_port));",
       "p_primary_jet_port", 4, setting_aside + "Error 3303 (DAO.Database) ",
       "a foreign key of table 'crews', made by another program, names it", " 3303  :  "},
      {"another table's partial index that takes a double-quoted word for text",
       "CREATE INDEX by_code ON tbl_kav_courses(course_code) WHERE course_code <> \"none\";",
       "p_primary_jet_port", 4, setting_aside + "Error 3219 (DAO.Database) ",
       "the index 'by_code' of another program could not be made again as it is written",
       " 3219  :  "},
      {"another program's table whose CHECK takes a double-quoted word for text",
       "CREATE TABLE notes (x TEXT CHECK (x <> \"\"));", "p_primary_jet_port", 4,
       setting_aside + "Error 3219 (DAO.Database) ",
       "the table 'notes' of another program could not be made again as it is written",
       " 3219  :  "},
      {"a generated column computed from the column",
       "ALTER TABLE tbl_kav_persons ADD COLUMN port_low AS (lower(p_primary_jet_port)) "
       "VIRTUAL;",
       "p_primary_jet_port", 4, setting_aside + "Error 3219 (DAO.Database) ",
       "The field 'p_primary_jet_port' of table 'tbl_kav_persons' cannot be replaced: ",
       " 3219  :  "},
      {"a copy that fails once the objects are set aside",
       "CREATE INDEX by_name ON tbl_kav_persons(p_last_name); CREATE VIEW names AS SELECT "
       "p_last_name FROM tbl_kav_persons;",
       "p_last_name", 2, "Error Copying data from XXX1 to p_last_name\r\nError 3163 (", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = MakeSample(dir);
    Sqlite(mdb, c.sql);
    const std::vector<std::string> state = dao_test::FileState(mdb);
    const std::string bytes = FileBytes(mdb);
    OpenAsDriverDoes(mdb);
    try {
      ChangeFieldType(gdbUpdate, "tbl_kav_persons", c.field, dao::dbText, c.size,
                      /*bAllowZeroLength=*/false, /*bNotRequired=*/true, /*lAttributes=*/0);
      ADD_FAILURE() << "retyped";
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), 55555);
      EXPECT_THAT(e.description(), StartsWith(c.text));
      EXPECT_THAT(e.description(), HasSubstr(c.object));
    }
    gdbUpdate.Close();
    gdbUpdate = dao::Database();
    EXPECT_EQ(dao_test::FileState(mdb), state);
    if (c.object.empty()) continue;
    // A refusal writes nothing at all.
    EXPECT_TRUE(FileBytes(mdb) == bytes);

    // The whole update refuses the file before its first change, with the
    // object named in its failure box, and so does every run again.
    ui::ScriptedMessageBoxes boxes;
    for (int run = 0; run < 2; ++run) {
      boxes.Clear();
      RunDatabaseUpdate(mdb);
      ASSERT_EQ(boxes.boxes().size(), 2u);
      EXPECT_EQ(boxes.boxes()[0].prompt, kUpdateFailedText);
      EXPECT_THAT(boxes.boxes()[1].prompt, StartsWith(c.box));
      EXPECT_THAT(boxes.boxes()[1].prompt, HasSubstr(c.object));
      EXPECT_TRUE(FileBytes(mdb) == bytes);
    }
  }
}

TEST(RetypeSample, SchemaPhaseRetypesTheFourColumnsTwice) {
  TempDir dir;
  std::string mdb = MakeSample(dir);
  OpenAsDriverDoes(mdb);
  dao::Database db = gdbUpdate;
  auto values = [&] {
    return std::vector<std::vector<std::string>>{
        Rows(db,
             "Select tbl_kav_persons.p_primary_jet_port, "
             "tbl_kav_persons.p_secondary_jet_port from tbl_kav_persons;"),
        Rows(db, "Select tbl_kav_jet_ports.jet_port_abbrev from tbl_kav_jet_ports;"),
        Rows(db,
             "Select tbl_kav_training_scheduled.ts_comment from "
             "tbl_kav_training_scheduled;")};
  };
  auto before = values();
  for (int run = 0; run < 2; ++run) {
    for (auto [table, field, size, azl] :
         {std::tuple{"tbl_kav_persons", "p_primary_jet_port", 4L, false},
          std::tuple{"tbl_kav_persons", "p_secondary_jet_port", 4L, false},
          std::tuple{"tbl_kav_jet_ports", "jet_port_abbrev", 4L, false},
          std::tuple{"tbl_kav_training_scheduled", "ts_comment", 255L, true}}) {
      ChangeFieldType(db, table, field, dao::dbText, size, azl, /*bNotRequired=*/true,
                      /*lAttributes=*/0);
      dao::Field f = db.TableDefs().Item(table).Fields().Item(field);
      EXPECT_EQ(f.Type(), dao::dbText);
      EXPECT_EQ(f.Size(), size);
      EXPECT_EQ(f.AllowZeroLength(), azl);
    }
  }
  EXPECT_EQ(values(), before);
  // The jet-port relations are back, and still enforced.
  EXPECT_EQ(db.Relations().Item("tbl_kav_jet_portstbl_kav_persons").Table(), "tbl_kav_jet_ports");
  EXPECT_THROW(db.Execute("UPDATE tbl_kav_persons SET tbl_kav_persons.p_primary_jet_port = "
                          "'ZZZZ' WHERE tbl_kav_persons.p_id = 1;",
                          dao::dbFailOnError),
               kav::Error);
  gdbUpdate.Close();
}

// A blob that another SQLite program stored in a column the update
// retypes is kept by the update as that blob, byte for byte: the copy to
// the new column does not make text of it.
TEST(RetypeSample, BlobsInRetypedColumnsStayBlobsThroughTheUpdate) {
  struct Case {
    const char* table;
    const char* column;
    const char* row;  // SQL that adds the row or gives the value
    const char* key;  // the WHERE that finds the row again
    const char* hex;  // the blob, in hex
  };
  const Case cases[] = {
      {"tbl_kav_training_scheduled", "ts_comment",
       "UPDATE tbl_kav_training_scheduled SET ts_comment = x'00FF41' WHERE ts_id = 1", "ts_id = 1",
       "00FF41"},
      {"tbl_kav_training_scheduled", "ts_comment",
       "UPDATE tbl_kav_training_scheduled SET ts_comment = x'C3A9' WHERE ts_id = 2", "ts_id = 2",
       "C3A9"},
      {"tbl_kav_training_scheduled", "ts_comment",
       "UPDATE tbl_kav_training_scheduled SET ts_comment = x'' WHERE ts_id = 3", "ts_id = 3", ""},
      {"tbl_kav_jet_ports", "jet_port_abbrev",
       "INSERT INTO tbl_kav_jet_ports (jet_port_name, jet_port_abbrev) VALUES ('Nowhere', x'00FF41')",
       "jet_port_name = 'Nowhere'", "00FF41"},
      {"tbl_kav_jet_ports", "jet_port_abbrev",
       "INSERT INTO tbl_kav_jet_ports (jet_port_name, jet_port_abbrev) VALUES ('Anywhere', x'414E59')",
       "jet_port_name = 'Anywhere'", "414E59"},
  };
  TempDir dir;
  const std::string mdb = MakeSample(dir);
  for (const Case& c : cases) Sqlite(mdb, c.row);
  {
    ui::ScriptedMessageBoxes boxes;
    RunDatabaseUpdate(mdb);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].prompt, kCompleted);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " = x'" + c.hex + "'");
    EXPECT_THAT(Query(mdb, std::string("SELECT typeof(") + c.column + "), hex(" + c.column +
                               ") FROM " + c.table + " WHERE " + c.key),
                ElementsAre(std::string("blob|") + c.hex));
  }
  // The retyping went through: the columns are of their new size.
  dao::Database db = OpenForCheck(mdb);
  EXPECT_EQ(db.TableDefs().Item("tbl_kav_jet_ports").Fields().Item("jet_port_abbrev").Size(), 4);
  EXPECT_EQ(db.TableDefs().Item("tbl_kav_training_scheduled").Fields().Item("ts_comment").Size(),
            255);
  db.Close();
}

}  // namespace
}  // namespace kav::testing
