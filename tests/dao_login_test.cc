// Logging on to a workgroup and opening databases: the refusals, and that a
// refused open changes no file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

#include "platform/dao/dao.h"
#include "platform/dao/workgroup.h"
#include "tests/dao_fixture.h"
#include "tests/support/files.h"

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

// A workgroup file that `make` writes into a folder of its own below
// `parent`, made the engine's, and what that folder held then.
struct PlacedWorkgroup {
  PlacedWorkgroup(const std::string& parent, const std::function<void(const std::string&)>& make)
      : here(parent), path(here.File("KAV.mdw")) {
    make(path);
    before = kav::testing::Files(here.path());
    Engine().SetSystemDB(path);
  }
  bool Unchanged() const { return kav::testing::Files(here.path()) == before; }

  kav::testing::TempDir here;
  std::string path;
  std::map<std::string, std::string> before;
};

// A copy of the workgroup file `from` as another SQLite program leaves it
// after it has put it in WAL mode and changed it: Owner's password is
// Other's in the log beside it, not yet written into the file.
void WorkgroupWithAnotherProgramsLog(const std::string& from, const std::string& path) {
  std::filesystem::copy_file(from, path);
  sqlite3* raw = nullptr;
  sqlite3_open(path.c_str(), &raw);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_exec(raw,
               "PRAGMA journal_mode=WAL; UPDATE daosys_accounts SET hash = (SELECT hash FROM "
               "daosys_accounts WHERE user = 'Other') WHERE user = 'Owner';",
               nullptr, nullptr, nullptr);
  sqlite3_close(raw);
}

// A copy of the workgroup file `from` as a program killed in the middle of
// a change to it leaves it: the change partly written into the file, and
// beside it the journal that undoes it.
void WorkgroupCutOffInAChange(const std::string& from, const std::string& path) {
  kav::testing::TempDir scratch;
  const std::string source = scratch.File("source.mdw");
  std::filesystem::copy_file(from, source);
  sqlite3* raw = nullptr;
  sqlite3_open(source.c_str(), &raw);
  EXPECT_EQ(sqlite3_exec(raw, "BEGIN; UPDATE daosys_accounts SET hash = 'spoilt';", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_db_cacheflush(raw), SQLITE_OK);
  std::filesystem::copy_file(source, path);
  std::filesystem::copy_file(source + "-journal", path + "-journal");
  sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
}

// Logging on reads the workgroup file and writes nothing, nor makes any
// file beside it, whatever its journal mode; a log of another program's
// changes beside it is not passed over, and the log-on is refused naming
// it.
TEST_F(DaoTest, LogOnLeavesNothingBesideTheWorkgroupFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;
    const char* password;  // Owner's
    long error;
    const char* named;  // what the refusal names beside the file
  };
  const std::vector<Case> cases = {
      {"rollback-journal mode, as the engine makes it",
       [&](const std::string& path) { std::filesystem::copy_file(mdw, path); }, "Secret1", 0, ""},
      {"WAL mode",
       [&](const std::string& path) {
         std::filesystem::copy_file(mdw, path);
         Sqlite(path, "PRAGMA journal_mode=WAL");
       },
       "Secret1", 0, ""},
      {"WAL mode with an empty log and its index left beside it",
       [&](const std::string& path) {
         std::filesystem::copy_file(mdw, path);
         Sqlite(path, "PRAGMA journal_mode=WAL");
         WriteFile(path + "-wal", "");
         WriteFile(path + "-shm", std::string(32768, '\0'));
       },
       "Secret1", 0, ""},
      {"rollback-journal mode with an empty log beside it",
       [&](const std::string& path) {
         std::filesystem::copy_file(mdw, path);
         WriteFile(path + "-wal", "");
       },
       "Secret1", 0, ""},
      {"another program's log of changes beside it, old password",
       [&](const std::string& path) { WorkgroupWithAnotherProgramsLog(mdw, path); }, "Secret1",
       dao::kErrWorkgroupMissing, "-wal'"},
      {"another program's log of changes beside it, new password",
       [&](const std::string& path) { WorkgroupWithAnotherProgramsLog(mdw, path); }, "Secret2",
       dao::kErrWorkgroupMissing, "-wal'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PlacedWorkgroup placed(dir.path(), c.make);
    const std::string& path = placed.path;
    EXPECT_EQ(ErrorOf([&] { Engine().CreateWorkspace("", "Owner", c.password); }), c.error);
    if (c.error != 0) {
      const std::string& description = Engine().Errors().at(0).description();
      EXPECT_THAT(description, ::testing::HasSubstr("'" + path + c.named));
      EXPECT_THAT(description, ::testing::Not(::testing::HasSubstr("password")));
    }
    EXPECT_TRUE(placed.Unchanged()) << "files beside the workgroup file changed";
  }
  Engine().SetSystemDB(mdw);
}

// A damaged workgroup file is reported as damaged, never as a wrong account
// or password, and is left as it is: a journal of an unfinished change
// beside it is not played back into it.
TEST_F(DaoTest, DamagedWorkgroupFileIsReportedAsDamaged) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> make;
    const char* says;  // in the description, after the file's name
  };
  const auto cut = [&](const std::string& path, size_t bytes) {
    std::filesystem::copy_file(mdw, path);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - bytes);
  };
  const std::vector<Case> cases = {
      {"cut short by its last byte", [&](const std::string& path) { cut(path, 1); },
       "' is damaged"},
      {"cut short by its last page", [&](const std::string& path) { cut(path, 4096); },
       "' is damaged"},
      {"cut short within SQLite's header",
       [&](const std::string& path) {
         std::filesystem::copy_file(mdw, path);
         std::filesystem::resize_file(path, 60);
       },
       "' is damaged"},
      {"the accounts' page overwritten",
       [&](const std::string& path) {
         std::string bytes = FileBytes(mdw);
         const std::string hash =
             Query(mdw, "SELECT hash FROM daosys_accounts WHERE user = 'Owner'").at(0);
         const size_t page = bytes.find(hash) / 4096 * 4096;
         ASSERT_GT(page, 0u);
         bytes.replace(page, 4096, std::string(4096, '\x5a'));
         WriteFile(path, bytes);
       },
       "' is damaged"},
      {"a journal of an unfinished change beside it",
       [&](const std::string& path) { WorkgroupCutOffInAChange(mdw, path); },
       "' is damaged: beside it lies '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PlacedWorkgroup placed(dir.path(), c.make);
    const std::string& path = placed.path;
    EXPECT_EQ(ErrorOf([&] { Engine().CreateWorkspace("", "Owner", "Secret1"); }),
              dao::kErrWorkgroupMissing);
    const std::string& description = Engine().Errors().at(0).description();
    EXPECT_THAT(description, ::testing::StartsWith("The workgroup information file '" + path +
                                                   std::string(c.says)));
    EXPECT_THAT(description, ::testing::Not(::testing::HasSubstr("password")));
    EXPECT_TRUE(placed.Unchanged()) << "the files changed";
  }
  Engine().SetSystemDB(mdw);
}

// A password hash of `password` made with the given limits.
std::string HashOf(const std::string& password, unsigned long long ops, size_t mem) {
  char hash[crypto_pwhash_STRBYTES];
  EXPECT_EQ(crypto_pwhash_str(hash, password.c_str(), password.size(), ops, mem), 0);
  return hash;
}

// A stored hash is tried only when it carries a cost the engine writes;
// any other is refused at once as a wrong password (a raised cost would
// keep the log-on busy for hours) and the file is not changed.
TEST_F(DaoTest, LogOnRefusesAStoredHashOfAnotherCost) {
  const std::string right = "Secret1";
  const unsigned long long ops = crypto_pwhash_OPSLIMIT_MIN;
  const size_t mem = crypto_pwhash_MEMLIMIT_MIN;
  const std::string engine_minimum =
      Query(mdw, "SELECT hash FROM daosys_accounts WHERE user = 'Owner'").at(0);
  struct Case {
    const char* name;
    std::string hash;
    long error;
  };
  const std::vector<Case> cases = {
      {"as the engine writes it, minimum cost", engine_minimum, 0},
      {"as the engine writes it, interactive cost",
       HashOf(right, crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE), 0},
      {"one pass more, right password", HashOf(right, ops + 1, mem), dao::kErrBadAccount},
      {"more memory, right password", HashOf(right, ops, 2 * mem), dao::kErrBadAccount},
      {"passes raised to four million in the file",
       std::regex_replace(engine_minimum, std::regex(",t=[0-9]+,"), ",t=4000000,"),
       dao::kErrBadAccount},
      {"memory raised to 4 GiB in the file",
       std::regex_replace(engine_minimum, std::regex("m=[0-9]+,"), "m=4194304,"),
       dao::kErrBadAccount},
      {"two lanes in the file", std::regex_replace(engine_minimum, std::regex(",p=1"), ",p=2"),
       dao::kErrBadAccount},
      {"argon2i, right password",
       [&] {
         char hash[crypto_pwhash_STRBYTES];
         EXPECT_EQ(crypto_pwhash_argon2i_str(hash, right.c_str(), right.size(),
                                             crypto_pwhash_argon2i_OPSLIMIT_MIN,
                                             crypto_pwhash_argon2i_MEMLIMIT_MIN),
                   0);
         return std::string(hash);
       }(),
       dao::kErrBadAccount},
      {"salt cut short", std::regex_replace(engine_minimum, std::regex("p=1\\$...."), "p=1$"),
       dao::kErrBadAccount},
      {"not a hash", "secret", dao::kErrBadAccount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tampered = dir.File("tampered.mdw");
    std::filesystem::remove(tampered);
    std::filesystem::copy_file(mdw, tampered);
    Sqlite(tampered, "UPDATE daosys_accounts SET hash = '" + c.hash + "' WHERE user = 'Owner'");
    const std::string before = FileBytes(tampered);
    Engine().SetSystemDB(tampered);
    EXPECT_EQ(ErrorOf([&] { Engine().CreateWorkspace("", "Owner", right); }), c.error);
    EXPECT_TRUE(FileBytes(tampered) == before);
    // The other account of the file is not concerned.
    EXPECT_EQ(ErrorOf([&] { Engine().CreateWorkspace("", "Other", "Secret2"); }), 0);
  }
  Engine().SetSystemDB(mdw);
}

// What a log-on (or the making of a workgroup file) raises in a child
// process whose address space may grow by 32 MiB only: the number of the
// error, or 0, and the number the engine's error list holds first.
std::pair<long, long> ErrorUnderAddressSpaceLimit(const std::function<void()>& body) {
  int out[2];
  if (pipe(out) != 0) return {-1, -1};
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    long size_kib = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmSize:", 0) == 0) size_kib = std::stol(line.substr(7));
    }
    const rlim_t limit = (static_cast<rlim_t>(size_kib) << 10) + (32 << 20);
    const struct rlimit rl = {limit, limit};
    std::pair<long, long> result{-2, -2};
    if (size_kib > 0 && setrlimit(RLIMIT_AS, &rl) == 0) {
      result.first = ErrorOf(body);
      result.second = Engine().Errors().empty() ? 0 : Engine().Errors()[0].number();
    }
    const ssize_t written = write(out[1], &result, sizeof result);
    _exit(written == sizeof result ? 0 : 1);
  }
  close(out[1]);
  std::pair<long, long> result{-3, -3};
  if (read(out[0], &result, sizeof result) != sizeof result) result = {-4, -4};
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return result;
}

// A password hash whose memory cannot be had is the engine's out-of-memory
// error (7, as the driver's box for any failed allocation), never a wrong
// account or password.
TEST_F(DaoTest, LogOnWithoutMemoryForTheHashIsOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory, so no address-space limit "
                  "can be set under it; the plain build runs this test";
#endif
  const std::string interactive = dir.File("interactive.mdw");
  dao::CreateWorkgroupFile(interactive, {{"Owner", "Secret1"}});
  struct Case {
    const char* name;
    std::string system_db;
    const char* user;
    const char* password;
    long error;
  };
  const std::vector<Case> cases = {
      {"64 MiB hash, right password", interactive, "Owner", "Secret1", dao::kErrOutOfMemory},
      {"64 MiB hash, wrong password", interactive, "Owner", "secret1", dao::kErrOutOfMemory},
      {"64 MiB hash, unknown user", interactive, "Nobody", "Secret1", dao::kErrBadAccount},
      {"small hash, right password", mdw, "Owner", "Secret1", 0},
      {"small hash, wrong password", mdw, "Owner", "secret1", dao::kErrBadAccount},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Engine().SetSystemDB(c.system_db);
    const std::pair<long, long> error =
        ErrorUnderAddressSpaceLimit([&] { Engine().CreateWorkspace("", c.user, c.password); });
    EXPECT_EQ(error.first, c.error);
    if (c.error != 0) {
      EXPECT_EQ(error.second, c.error);
    }
  }
  Engine().SetSystemDB(mdw);
  // Without the limit the 64 MiB hash logs on.
  Engine().SetSystemDB(interactive);
  EXPECT_EQ(ErrorOf([&] { Engine().CreateWorkspace("", "Owner", "Secret1"); }), 0);
  Engine().SetSystemDB(mdw);

  // Making a workgroup file whose hashing cannot get its memory.
  const std::string made = dir.File("made.mdw");
  const std::pair<long, long> error = ErrorUnderAddressSpaceLimit([&] {
    dao::CreateWorkgroupFile(made, {{"Owner", "Secret1"}});
  });
  EXPECT_EQ(error.first, dao::kErrOutOfMemory);
  EXPECT_FALSE(std::filesystem::exists(made));
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
