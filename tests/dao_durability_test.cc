// Durability: every operation commits when it returns, a killed process
// leaves an intact file, a write that meets another connection's lock
// gives a clear error instead of hanging, and a read that fails is told
// apart from a damaged file.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "platform/dao/dao.h"
#include "tests/dao_fixture.h"
#include "tests/support/files.h"
#include "tests/support/open_hook.h"

namespace dao_test {
namespace {

using kav::testing::DatabaseFiles;
using kav::testing::DatabaseFilesDifference;
using kav::testing::IntegrityCheck;
using kav::testing::JournalBytes;

// While it lives, SQLite's default file system fails one kind of access to
// a file of the database T.mdb with `code`, as a failing disk, a lack of
// memory or a lock would; every other access passes.
class FailingFile {
 public:
  // Every read at byte `offset` of the database file.
  static FailingFile Read(int64_t offset, int code) { return FailingFile(kRead, offset, code); }
  // Every write and every sync of its rollback journal.
  static FailingFile JournalWrite(int code) { return FailingFile(kJournalWrite, 0, code); }
  static FailingFile JournalSync(int code) { return FailingFile(kJournalSync, 0, code); }
  // Every setting of the database file's chunk size (SQLITE_FCNTL_CHUNK_SIZE).
  static FailingFile ChunkSize(int code) { return FailingFile(kChunkSize, 0, code); }

  // Connections opened meanwhile keep the file system, which then fails
  // nothing.
  ~FailingFile() { armed_ = false; }
  FailingFile(const FailingFile&) = delete;
  FailingFile& operator=(const FailingFile&) = delete;

  // Whether the access fails now; from the start, it does.
  void SetFailing(bool failing) const { armed_ = failing; }

 private:
  enum Access { kRead, kJournalWrite, kJournalSync, kChunkSize };

  FailingFile(Access access, int64_t offset, int code)
      : hook_(nullptr, [](const std::string& path, int flags, sqlite3_file* file) {
          GiveMethods(path, flags, file);
        }) {
    access_ = access;
    armed_ = true;
    offset_ = offset;
    code_ = code;
  }

  // The file is the default file system's own, with one method replaced.
  static void GiveMethods(const std::string& path, int flags, sqlite3_file* file) {
    const bool journal = access_ == kJournalWrite || access_ == kJournalSync;
    if ((flags & (journal ? SQLITE_OPEN_MAIN_JOURNAL : SQLITE_OPEN_MAIN_DB)) == 0 ||
        !path.ends_with(journal ? "/T.mdb-journal" : "/T.mdb")) {
      return;
    }
    methods_ = *file->pMethods;
    real_methods_ = *file->pMethods;
    if (access_ == kRead) methods_.xRead = &ReadAt;
    if (access_ == kJournalWrite) methods_.xWrite = &Write;
    if (access_ == kJournalSync) methods_.xSync = &Sync;
    if (access_ == kChunkSize) methods_.xFileControl = &FileControl;
    file->pMethods = &methods_;
  }
  static int ReadAt(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    if (armed_ && offset == offset_ && code_ != SQLITE_OK) return code_;
    return real_methods_.xRead(file, buffer, amount, offset);
  }
  static int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    return armed_ ? code_ : real_methods_.xWrite(file, data, amount, offset);
  }
  static int Sync(sqlite3_file* file, int flags) {
    return armed_ ? code_ : real_methods_.xSync(file, flags);
  }
  static int FileControl(sqlite3_file* file, int op, void* arg) {
    if (armed_ && op == SQLITE_FCNTL_CHUNK_SIZE) return code_;
    return real_methods_.xFileControl(file, op, arg);
  }

  kav::testing::OpenHook hook_;
  static inline sqlite3_io_methods methods_{};
  static inline sqlite3_io_methods real_methods_{};
  static inline Access access_ = kRead;
  static inline bool armed_ = false;
  static inline int64_t offset_ = 0;
  static inline int code_ = 0;
};

// Opening reads the whole catalog.  Only a catalog that is not as the
// engine makes it is a damaged file (3343); a read that fails for any
// other reason keeps its own error, which says nothing of the file.
TEST_F(DaoTest, CatalogThatCannotBeReadIsDamagedOnlyWhenMalformed) {
  Table("t", {{"n", dao::dbLong}});
  db.Close();
  // The byte where the first page of a catalog table starts.
  const auto first_byte = [&](const std::string& table) {
    const std::string root = "SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'";
    const int64_t page_size = std::stoll(Query(mdb, "PRAGMA page_size").at(0));
    return page_size * (std::stoll(Query(mdb, root).at(0)) - 1);
  };
  struct Case {
    const char* name;
    const char* table;    // the catalog table whose first page cannot be read
    int read_fails_with;  // SQLITE_OK: every read passes
    std::string sql;      // of another program, run on the file first
    long error;
    const char* description;
  };
  const std::vector<Case> cases = {
      {"a disk that fails", "daosys_fields", SQLITE_IOERR_READ, "", 3000, "disk I/O error"},
      {"a disk that fails on the identity row", "daosys_database", SQLITE_IOERR_READ, "", 3000,
       "disk I/O error"},
      {"no memory", "daosys_fields", SQLITE_NOMEM, "", 7, "Out of memory"},
      {"locked", "daosys_fields", SQLITE_BUSY, "", 3260, "locked"},
      {"a column of the catalog renamed", "daosys_fields", SQLITE_OK,
       "ALTER TABLE daosys_fields RENAME COLUMN required TO needed;", 3343, "is damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.sql.empty()) Sqlite(mdb, c.sql);
    const std::string bytes = FileBytes(mdb);
    {
      const FailingFile failing = FailingFile::Read(first_byte(c.table), c.read_fails_with);
      try {
        ws.OpenDatabase(mdb);
        ADD_FAILURE() << "opened";
      } catch (const kav::Error& e) {
        EXPECT_EQ(e.number(), c.error);
        EXPECT_THAT(e.description(), ::testing::HasSubstr(c.description));
      }
    }
    EXPECT_TRUE(FileBytes(mdb) == bytes) << "the file changed";
  }
}

// The end of an update puts the file back in rollback-journal mode.  Where
// that switch cannot write or sync its journal, the file stays in WAL mode
// with its log merged and emptied, whole on its own, and the next end
// switches it.
TEST_F(DaoTest, FailedSwitchToRollbackJournalModeLeavesAWholeFileForTheNextEnd) {
  struct Case {
    const char* name;
    bool sync;  // the journal's sync fails, else its writes
    int code;
  };
  const Case cases[] = {
      {"a journal write that fails", false, SQLITE_IOERR_WRITE},
      {"a disk without room", false, SQLITE_FULL},
      {"a journal sync that fails", true, SQLITE_IOERR_FSYNC},
  };
  Table("t", {{"n", dao::dbLong}});
  db.Close();
  int rows = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      const FailingFile failing =
          c.sync ? FailingFile::JournalSync(c.code) : FailingFile::JournalWrite(c.code);
      failing.SetFailing(false);
      db = ws.OpenDatabase(mdb);  // on the failing file system
      Insert("t", {int32_t{++rows}});
      ASSERT_EQ(JournalBytes(mdb), "2 2");
      failing.SetFailing(true);
      EXPECT_NO_THROW(dao::DBEngine::Instance().FlushFiles());
    }
    EXPECT_EQ(JournalBytes(mdb), "2 2");
    EXPECT_EQ(FileBytes(mdb + "-wal"), "");
    const std::string alone = dir.File("alone.mdb");
    std::filesystem::copy_file(mdb, alone);
    EXPECT_EQ(IntegrityCheck(alone), "ok");
    EXPECT_THAT(Query(alone, "SELECT count(*) FROM t"),
                ::testing::ElementsAre(std::to_string(rows)));
    std::filesystem::remove(alone);
    dao::DBEngine::Instance().FlushFiles();
    EXPECT_EQ(JournalBytes(mdb), "1 1");
    EXPECT_FALSE(std::filesystem::exists(mdb + "-wal"));
    EXPECT_FALSE(std::filesystem::exists(mdb + "-shm"));
    db.Close();
  }
}

// The room a merge of the log needs is taken only while the file's chunk
// size is set; where it cannot be set, no room is taken, and the merge is
// not made as if it had been: the end fails, and the file keeps its whole
// state until a later end merges it.
TEST_F(DaoTest, ChunkSizeThatCannotBeSetStopsTheMergeInsteadOfSkippingTheRoom) {
  Table("t", {{"n", dao::dbLong}});
  db.Close();
  {
    const FailingFile failing = FailingFile::ChunkSize(SQLITE_IOERR);
    failing.SetFailing(false);
    db = ws.OpenDatabase(mdb);  // on the failing file system
    Insert("t", {int32_t{1}});
    ASSERT_EQ(JournalBytes(mdb), "2 2");
    failing.SetFailing(true);
    EXPECT_NE(ErrorOf([] { dao::DBEngine::Instance().FlushFiles(); }), 0);
    EXPECT_EQ(JournalBytes(mdb), "2 2");
    EXPECT_NE(FileBytes(mdb + "-wal"), "") << "merged without its room";
  }
  dao::DBEngine::Instance().FlushFiles();
  EXPECT_EQ(JournalBytes(mdb), "1 1");
  EXPECT_THAT(Query(mdb, "SELECT count(*) FROM t"), ::testing::ElementsAre("1"));
  db.Close();
}

TEST_F(DaoTest, KilledWriterLeavesAnIntactFileWithEveryReturnedWrite) {
  Table("t", {{"n", dao::dbLong}, {"s", dao::dbText, 50}});
  db.Close();
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    dao::Database mine = ws.OpenDatabase(mdb);
    for (int32_t i = 1;; ++i) {
      dao::Recordset rs = mine.OpenRecordset("t", dao::dbOpenTable);
      rs.AddNew();
      rs.Fields(0).SetValue(i);
      rs.Fields(1).SetValue("row");
      rs.Update();
      // Tell the parent how many writes have returned.
      if (write(pipe_fds[1], &i, sizeof i) != sizeof i) _exit(1);
      if (i % 50 == 0) {
        mine.Execute("UPDATE t SET t.s = 'again' WHERE t.n = " + std::to_string(i) + ";");
      }
    }
  }
  close(pipe_fds[1]);
  int32_t returned = 0, value = 0;
  while (returned < 200 && read(pipe_fds[0], &value, sizeof value) == sizeof value) {
    returned = value;
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  while (read(pipe_fds[0], &value, sizeof value) == sizeof value) returned = value;
  close(pipe_fds[0]);
  ASSERT_GE(returned, 200);
  // The killed writer's log, which the reopen is to recover.
  const std::map<std::string, std::string> left = DatabaseFiles(mdb);
  ASSERT_TRUE(left.contains(mdb + "-wal")) << "the killed writer left no log";
  EXPECT_EQ(IntegrityCheck(mdb), "ok");
  ASSERT_EQ(DatabaseFilesDifference(left, DatabaseFiles(mdb)), "")
      << "the check changed what the killed writer left";
  db = ws.OpenDatabase(mdb);
  EXPECT_GE(static_cast<int32_t>(RowsOf("t").size()), returned);
}

TEST_F(DaoTest, WriteBlockedByAnotherConnectionsTransactionIsRefusedClearly) {
  Table("t", {{"n", dao::dbLong}});
  dao::Workspace other = dao::DBEngine::Instance().CreateWorkspace("", "Owner", "Secret1");
  dao::Database second = other.OpenDatabase(mdb);
  other.BeginTrans();
  second.Execute("DELETE FROM t WHERE t.n = 1;");  // no row: takes no write lock
  dao::Recordset rs = second.OpenRecordset("t", dao::dbOpenTable);
  rs.AddNew();
  rs.Fields(0).SetValue(int32_t{1});
  rs.Update();  // now the other workspace holds the write lock
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { Insert("t", {int32_t{2}}); }), 3260);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  other.CommitTrans();
  Insert("t", {int32_t{2}});
  EXPECT_EQ(RowsOf("t"), (std::vector<std::string>{"1", "2"}));
}

}  // namespace
}  // namespace dao_test
