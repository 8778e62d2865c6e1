// A catalog that another SQLite program has changed so that it contradicts
// itself: the file is refused at open as damaged (3343) and left exactly as
// it was, so that the update either completes or changes nothing.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/dao_fixture.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/runs.h"
#include "tests/support/stage_checks.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::StartsWith;

// The sample with two persons, made once, and copied for every case.
const std::map<std::string, std::string>& SampleFiles() {
  static const std::map<std::string, std::string> files = [] {
    TempDir dir;
    MakeSample(dir, Persons(2));
    return Files(dir.path());
  }();
  return files;
}

// A copy of the sample in `dir`; returns the database's path.
std::string CopyOfSample(const TempDir& dir) {
  for (const auto& [name, bytes] : SampleFiles()) {
    const fs::path path = fs::path(dir.path()) / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  return dir.File("KAV.MDB");
}

// The prompts of the boxes that one run of the update shows.
std::vector<std::string> RunUpdate(const std::string& mdb) {
  const std::vector<std::string> prompts = RunHere(mdb);
  CloseDriverDatabase();
  return prompts;
}

// The version rows as a plain SQLite program reads them.
std::vector<std::string> VersionRowsInFile(const std::string& mdb) {
  return dao_test::Query(mdb, "SELECT kav_database_version FROM tbl_kav_version_info");
}

// A catalog table made again as a database browser does it, with the
// columns `columns`, its rows copied.
std::string Rebuilt(const std::string& table, const std::string& columns) {
  return "CREATE TABLE rebuilt (" + columns + "); INSERT INTO rebuilt SELECT * FROM " + table +
         "; DROP TABLE " + table + "; ALTER TABLE rebuilt RENAME TO " + table + ";";
}

// The id of field `field` of table `table`, for the SQL below.
std::string FieldId(const char* table, const char* field) {
  return std::string(
             "(SELECT f.id FROM daosys_fields f JOIN daosys_tables t ON t.id = "
             "f.table_id WHERE t.name = '") +
         table + "' AND f.name = '" + field + "')";
}

const std::string kLastName = FieldId("tbl_kav_persons", "p_last_name");
const std::string kAgency = FieldId("tbl_kav_persons", "p_agency");  // in no index
const std::string kLastNameIndex = "(SELECT id FROM daosys_indexes WHERE name = 'p_last_name')";
const std::string kQualsRelation =
    "(SELECT id FROM daosys_relations WHERE name = 'tbl_kav_personstbl_kav_persons_quals')";

TEST(CatalogTest, ContradictoryCatalogIsRefusedAndTheFileLeftAsItWas) {
  struct Case {
    const char* name;
    std::string sql;
  };
  const std::vector<Case> cases = {
      {"a field type of 99", "UPDATE daosys_fields SET type = 99 WHERE id = " + kAgency},
      {"a text size of 0", "UPDATE daosys_fields SET size = 0 WHERE id = " + kLastName},
      {"a text size above 255", "UPDATE daosys_fields SET size = 256 WHERE id = " + kLastName},
      {"a number of another size than its type's",
       "UPDATE daosys_fields SET size = 2 WHERE id = " + FieldId("tbl_kav_persons", "p_id")},
      {"a size stored as text", "UPDATE daosys_fields SET size = 'abc' WHERE id = " + kLastName},
      {"a yes/no property of 2", "UPDATE daosys_fields SET required = 2 WHERE id = " + kLastName},
      {"a field whose table row is gone",
       "DELETE FROM daosys_tables WHERE name = 'tbl_kav_tables'"},
      {"a table_id of -1", "UPDATE daosys_fields SET table_id = -1 WHERE id = " + kAgency},
      {"an index on another table's field",
       "UPDATE daosys_index_fields SET field_id = " + FieldId("tbl_kav_courses", "course_code") +
           " WHERE index_id = " + kLastNameIndex},
      {"an index field row duplicated",
       "INSERT INTO daosys_index_fields SELECT index_id, 9, field_id, attributes FROM "
       "daosys_index_fields WHERE index_id = " +
           kLastNameIndex + " LIMIT 1"},
      {"a relation row deleted while its foreign index stays",
       "DELETE FROM daosys_relations WHERE id = " + kQualsRelation},
      {"a relation with its fields and triggers deleted while its foreign index stays",
       "DELETE FROM daosys_relation_fields WHERE relation_id = " + kQualsRelation +
           "; DELETE FROM daosys_relations WHERE id = " + kQualsRelation +
           "; DROP TRIGGER daosys_rel_3_fi; DROP TRIGGER daosys_rel_3_fu; "
           "DROP TRIGGER daosys_rel_3_pd; DROP TRIGGER daosys_rel_3_pu;"},
      {"a relation's foreign index deleted",
       "DELETE FROM daosys_index_fields WHERE index_id = (SELECT id FROM daosys_indexes WHERE "
       "name = 'tbl_kav_personstbl_kav_persons_quals'); DELETE FROM daosys_indexes WHERE name = "
       "'tbl_kav_personstbl_kav_persons_quals'; DROP INDEX daosys_ix_16;"},
      {"an enforced relation without a unique index on its fields",
       "UPDATE daosys_relation_fields SET field_id = " + FieldId("tbl_kav_persons", "p_last_name") +
           ", foreign_field_id = " + FieldId("tbl_kav_persons_quals", "pq_qual_code") +
           " WHERE relation_id = " + kQualsRelation},
      {"an index's catalog row deleted while the physical index stays",
       "DELETE FROM daosys_index_fields WHERE index_id = " + kLastNameIndex +
           "; DELETE FROM daosys_indexes WHERE id = " + kLastNameIndex},
      {"a second primary key",
       "UPDATE daosys_indexes SET is_primary = 1, is_unique = 1, required = 1 WHERE id = " +
           kLastNameIndex +
           "; DROP INDEX daosys_ix_10; CREATE UNIQUE INDEX daosys_ix_10 ON "
           "tbl_kav_persons (p_last_name COLLATE NOCASE);"},
      {"an index name the engine refuses",
       "UPDATE daosys_indexes SET name = 'by.name' WHERE id = " + kLastNameIndex},
      {"a table without fields", "INSERT INTO daosys_tables (name) VALUES ('ghost')"},
      {"a field row duplicated in daosys_fields rebuilt without its unique key",
       Rebuilt("daosys_fields",
               "id INTEGER PRIMARY KEY AUTOINCREMENT, table_id INTEGER NOT NULL, name TEXT NOT "
               "NULL COLLATE NOCASE, type INTEGER NOT NULL, size INTEGER NOT NULL, "
               "allow_zero_length INTEGER NOT NULL, required INTEGER NOT NULL, attributes "
               "INTEGER NOT NULL, ordinal_position INTEGER NOT NULL") +
           "INSERT INTO daosys_fields SELECT NULL, table_id, name, type, size, "
           "allow_zero_length, required, attributes, ordinal_position FROM daosys_fields "
           "WHERE id = " +
           kLastName},
      {"daosys_indexes rebuilt without its INTEGER PRIMARY KEY",
       Rebuilt("daosys_indexes",
               "id INTEGER, table_id INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, "
               "is_primary INTEGER NOT NULL, is_unique INTEGER NOT NULL, required INTEGER NOT "
               "NULL, ignore_nulls INTEGER NOT NULL, clustered INTEGER NOT NULL, is_foreign "
               "INTEGER NOT NULL, UNIQUE (table_id, name)")},
      {"a trigger of another program on a catalog table",
       "CREATE TRIGGER audit AFTER INSERT ON daosys_fields BEGIN SELECT 1; END;"},
      {"a relation trigger of no relation",
       "CREATE TRIGGER daosys_rel_99_fi BEFORE INSERT ON tbl_kav_persons BEGIN SELECT 1; END;"},
      {"a view of the engine's reserved names",
       "CREATE VIEW daosys_people AS SELECT * FROM tbl_kav_persons"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = CopyOfSample(dir);
    ASSERT_EQ(dao_test::SqliteError(mdb, c.sql), "") << c.sql;
    const std::map<std::string, std::string> before = Files(dir.path());
    const std::vector<std::string> prompts = RunUpdate(mdb);
    EXPECT_THAT(prompts, ElementsAre(kUpdateFailedText, StartsWith(" 3343  :  ")));
    EXPECT_TRUE(Files(dir.path()) == before) << "the files changed";
  }
}

// Seeded random changes of the catalog's rows and of the engine's indexes
// and triggers: every file either updates completely or is refused and left
// byte for byte as it was.
TEST(CatalogTest, RandomlyChangedCatalogUpdatesCompletelyOrIsLeftAsItWas) {
  struct CatalogTable {
    const char* name;
    std::vector<const char*> columns;
  };
  const std::vector<CatalogTable> tables = {
      {"daosys_database", {"id", "format", "workgroup_id", "owner"}},
      {"daosys_tables", {"id", "name"}},
      {"daosys_fields",
       {"id", "table_id", "name", "type", "size", "allow_zero_length", "required", "attributes",
        "ordinal_position"}},
      {"daosys_indexes",
       {"id", "table_id", "name", "is_primary", "is_unique", "required", "ignore_nulls",
        "clustered", "is_foreign"}},
      {"daosys_index_fields", {"index_id", "position", "field_id", "attributes"}},
      {"daosys_relations", {"id", "name", "table_id", "foreign_table_id", "attributes"}},
      {"daosys_relation_fields", {"relation_id", "position", "field_id", "foreign_field_id"}},
  };
  const std::vector<std::string> values = {"NULL",
                                           "-1",
                                           "0",
                                           "1",
                                           "2",
                                           "3",
                                           "4",
                                           "7",
                                           "8",
                                           "10",
                                           "11",
                                           "99",
                                           "255",
                                           "256",
                                           "4294967306",
                                           "1.5",
                                           "'abc'",
                                           "''",
                                           "'PrimaryKey'",
                                           "'p_last_name'",
                                           "'tbl_kav_persons'",
                                           "X'00'"};
  // Properties whose every value in range is the user's own choice (a
  // required field, a smaller text size, another field order): a catalog
  // changed so agrees with itself, and what the update then meets is its
  // rules' business.  They are changed to values out of range only.
  const std::map<std::string, std::vector<std::string>> out_of_range = {
      {"required", {"NULL", "2", "-1", "'abc'", "1.5"}},
      {"allow_zero_length", {"NULL", "2", "-1", "'abc'", "1.5"}},
      {"ignore_nulls", {"NULL", "2", "-1", "'abc'", "1.5"}},
      {"clustered", {"NULL", "2", "-1", "'abc'", "1.5"}},
      {"size", {"NULL", "0", "256", "-1", "'abc'", "1.5", "4294967306"}},
      {"ordinal_position", {"NULL", "'abc'", "1.5", "4294967306"}},
      {"attributes", {"NULL", "'abc'", "1.5", "4294967306"}},
  };
  std::mt19937 random(20060303);
  const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const auto value_for = [&](const std::string& column) {
    const auto it = out_of_range.find(column);
    const std::vector<std::string>& pool = it == out_of_range.end() ? values : it->second;
    return pool[pick(pool.size())];
  };
  TempDir sample_dir;
  const std::string sample = CopyOfSample(sample_dir);
  const auto RowCount = [&](const char* table) {
    return static_cast<size_t>(
        std::stoul(dao_test::Query(sample, "SELECT count(*) FROM " + std::string(table)).at(0)));
  };

  int completed = 0, refused = 0, unchanged = 0;
  for (int round = 0; round < 450; ++round) {
    std::string sql;
    const int changes = 1 + static_cast<int>(pick(2));
    for (int n = 0; n < changes; ++n) {
      const CatalogTable& t = tables[pick(tables.size())];
      const std::string row = "rowid = (SELECT rowid FROM " + std::string(t.name) +
                              " ORDER BY rowid LIMIT 1 OFFSET " +
                              std::to_string(pick(RowCount(t.name))) + ")";
      const std::string column = t.columns[pick(t.columns.size())];
      switch (pick(10)) {
        case 0:
          sql += "DELETE FROM " + std::string(t.name) + " WHERE " + row + ";";
          break;
        case 1: {
          // The row again, with one column changed (a new id where it has one).
          std::string copy;
          for (const char* c : t.columns) {
            if (!copy.empty()) copy += ", ";
            copy += c == column ? value_for(column) : std::string(c);
          }
          sql += "INSERT INTO " + std::string(t.name) + " SELECT " + copy + " FROM " + t.name +
                 " WHERE " + row + ";";
          break;
        }
        case 2:
          sql += "DROP INDEX IF EXISTS daosys_ix_" + std::to_string(1 + pick(16)) + ";";
          break;
        case 3:
          sql += "DROP TRIGGER IF EXISTS daosys_rel_" + std::to_string(1 + pick(3)) + "_" +
                 std::vector<const char*>{"fi", "fu", "pd", "pu"}[pick(4)] + ";";
          break;
        case 4:
          // Another row's value of the same column.
          if (out_of_range.count(column)) break;
          sql += "UPDATE " + std::string(t.name) + " SET " + column + " = (SELECT " + column +
                 " FROM " + t.name + " ORDER BY rowid LIMIT 1 OFFSET " +
                 std::to_string(pick(RowCount(t.name))) + ") WHERE " + row + ";";
          break;
        default:
          sql += "UPDATE " + std::string(t.name) + " SET " + column + " = " + value_for(column) +
                 " WHERE " + row + ";";
          break;
      }
    }
    SCOPED_TRACE("round " + std::to_string(round) + ": " + sql);
    TempDir dir;
    const std::string mdb = CopyOfSample(dir);
    // A change the catalog's own keys refuse, or one that changes no row,
    // leaves the sample as it is, which the other suites update.
    if (!dao_test::SqliteError(mdb, "BEGIN;" + sql + "COMMIT;").empty() ||
        FileBytes(mdb) == SampleFiles().at("KAV.MDB")) {
      ++unchanged;
      continue;
    }
    const std::map<std::string, std::string> before = Files(dir.path());
    const std::vector<std::string> prompts = RunUpdate(mdb);
    if (prompts.size() == 1 && prompts[0] == kCompleted) {
      EXPECT_THAT(VersionRowsInFile(mdb), ElementsAre("v5.0"));
      ++completed;
    } else {
      EXPECT_TRUE(Files(dir.path()) == before)
          << "changed, not updated: " << (prompts.empty() ? "" : prompts.back());
      ++refused;
    }
  }
  // Both outcomes are met, so the loop tells something of each.
  EXPECT_GT(completed, 0);
  EXPECT_GT(refused, 10);
  std::cout << completed << " updated, " << refused << " refused, " << unchanged
            << " left the sample as it was\n";
}

}  // namespace
}  // namespace kav::testing
