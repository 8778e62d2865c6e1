// What other programs leave beside the database or its workgroup file: a
// journal that nothing shows to belong to the file, a log or journal whose
// sizes no state of the file can have, a FIFO in a leftover's place; a file
// in WAL mode that is refused; and the copies a leftover is tried on.  The
// runner meets each as a user would, in a process of its own, under a time
// limit and a file-size limit, so that a hang or a file grown without end
// fails the test instead of stopping the run or filling the disk.

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/dao_fixture.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/runner.h"
#include "tests/support/small_disk.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const char* const kExpiryComment = "Expriration date set by ZURA5 Update";

// Enough for any file these tests make, and far below what a file grown by
// a size no state can have would take.
constexpr off_t kFileSizeLimit = off_t{256} << 20;

RunnerOptions Limited(std::vector<std::pair<std::string, std::string>> environment = {}) {
  RunnerOptions options;
  options.environment = std::move(environment);
  options.file_size_limit = kFileSizeLimit;
  options.seconds = 60;
  return options;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Another program's work on the file, cut off: a child process runs `sql`
// through plain SQLite and ends without closing its connection, as a
// killed process would.  A transaction it began is left unfinished, with
// its journal hot beside the file; a commit in WAL mode is left in the log.
void CutOff(const std::string& mdb, const std::string& sql) {
  const pid_t pid = fork();
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(mdb.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    _exit(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sql;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  return (uint32_t{static_cast<unsigned char>(bytes[at])} << 24) |
         (uint32_t{static_cast<unsigned char>(bytes[at + 1])} << 16) |
         (uint32_t{static_cast<unsigned char>(bytes[at + 2])} << 8) |
         uint32_t{static_cast<unsigned char>(bytes[at + 3])};
}

void PutBigEndian32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

// The page numbers of the records in the journal's first segment.
std::vector<uint32_t> JournalPages(const std::string& journal, uint32_t page_size) {
  const std::string bytes = FileBytes(journal);
  std::vector<uint32_t> pages;
  if (bytes.size() < 28) return pages;
  const uint32_t sector = BigEndian32(bytes, 20);
  if (BigEndian32(bytes, 24) != 0) page_size = BigEndian32(bytes, 24);
  for (size_t at = sector; at + 4 <= bytes.size(); at += page_size + 8) {
    const uint32_t page = BigEndian32(bytes, at);
    if (page == 0) break;
    pages.push_back(page);
  }
  return pages;
}

// Gives the last frame of the log `wal`, a commit, the database size
// `pages`, with its checksum made anew, as SQLite would have written it.
void SetLastCommitSize(const std::string& wal, uint32_t pages) {
  std::string bytes = FileBytes(wal);
  ASSERT_GE(bytes.size(), 32u);
  const bool big_endian = (BigEndian32(bytes, 0) & 1) != 0;
  const size_t frame_size = 24 + BigEndian32(bytes, 8);
  const size_t frames = (bytes.size() - 32) / frame_size;
  ASSERT_GT(frames, 0u);
  const size_t last = 32 + (frames - 1) * frame_size;
  ASSERT_NE(BigEndian32(bytes, last + 4), 0u) << "the last frame is no commit";
  PutBigEndian32(bytes, last + 4, pages);
  // The checksum runs on from the one before: the header's, or the frame
  // before this one's.
  const size_t before = frames == 1 ? 24 : last - frame_size + 16;
  uint32_t s1 = BigEndian32(bytes, before), s2 = BigEndian32(bytes, before + 4);
  const auto word = [&](size_t at) {
    uint32_t value = BigEndian32(bytes, at);
    return big_endian ? value : __builtin_bswap32(value);
  };
  const auto add = [&](size_t from, size_t to) {
    for (size_t at = from; at < to; at += 8) {
      s1 += word(at) + s2;
      s2 += word(at + 4) + s1;
    }
  };
  add(last, last + 8);
  add(last + 24, last + frame_size);
  PutBigEndian32(bytes, last + 16, s1);
  PutBigEndian32(bytes, last + 20, s2);
  WriteBytes(wal, bytes);
}

// Leaves another program's log of one commit beside the file, the file in
// WAL mode.
void LeaveLog(const std::string& mdb) {
  CutOff(mdb,
         "PRAGMA journal_mode=WAL; "
         "UPDATE tbl_kav_persons SET p_first_name = p_first_name || ' logged' WHERE p_id <= 3");
  ASSERT_GT(fs::file_size(mdb + "-wal"), 0u);
}

// The expiration dates of pq_id 1001 to 1400 that the update did not
// overwrite with its own, grouped: each distinct date once, with how many
// rows hold it.
std::vector<std::string> EditedDates(const std::string& mdb) {
  return dao_test::Query(mdb,
                         "SELECT pq_expiration_date, count(*) FROM tbl_kav_persons_quals WHERE "
                         "pq_id BETWEEN 1001 AND 1400 AND ifnull(pq_comments, '') <> '" +
                             std::string(kExpiryComment) + "' GROUP BY 1");
}

// Another program's data transaction that changes values in place, cut
// off after its changes reached the file: SQLite has synced its journal,
// and the journal holds no copy of the file's first page, which the
// transaction did not change.
const char* const kCutOffInPlace =
    "PRAGMA cache_size = 5; BEGIN; "
    "UPDATE tbl_kav_persons_quals SET pq_qual_risk_type = 'XX' WHERE pq_id <= 3000";

// A journal without the file's first page, left by another program cut off
// in a data transaction: nothing shows that it belongs to the file.  Beside
// a backup with later commits, played, it would undo some of them; beside
// its own file, it is right.  The two cannot be told apart: both are
// refused, and the box says what to do in each case; the file and the
// journal stay as they were.  Done, each ends in a complete update.  Beside
// a backup of the state the transaction began on, playing it changes
// nothing and loses nothing: it is played.
TEST(JournalTest, OneThatCannotBeShownToBelongIsRefusedWithTheRemedyOfEachCase) {
  enum Restored { kNone, kNewerBackup, kBackupOfTheStart };
  struct Case {
    const char* name;
    Restored restored;
  };
  const Case cases[] = {
      {"a backup with three later commits restored over the file", kNewerBackup},
      {"the file as the cut-off program left it", kNone},
      {"a backup of the state the transaction began on restored over the file", kBackupOfTheStart},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, backup_dir;
    const std::string mdb = MakeSample(dir, Persons(700));
    const std::string journal = mdb + "-journal";
    const std::string start = FileBytes(mdb);
    // The newer backup: the same data and three later commits, which
    // change values in place too.
    const std::string backup = backup_dir.File("KAV.MDB");
    fs::copy_file(mdb, backup);
    for (int n = 1; n <= 3; ++n) {
      dao_test::Sqlite(backup, "UPDATE tbl_kav_persons_quals SET pq_expiration_date = '2011-0" +
                                   std::to_string(n) +
                                   "-01 00:00:00' WHERE pq_id BETWEEN 1001 AND 1400");
    }
    CutOff(mdb, kCutOffInPlace);
    ASSERT_NE(FileBytes(mdb), start) << "nothing of the transaction reached the file";
    ASSERT_THAT(JournalPages(journal, 4096),
                AllOf(Not(::testing::IsEmpty()), Not(::testing::Contains(1u))));
    if (c.restored == kNewerBackup) WriteBytes(mdb, FileBytes(backup));
    if (c.restored == kBackupOfTheStart) WriteBytes(mdb, start);
    const std::string file = FileBytes(mdb), left = FileBytes(journal);

    const RunnerResult run = RunRunner(mdb, Limited());
    if (c.restored == kBackupOfTheStart) {
      EXPECT_THAT(run.prompts, ElementsAre(kCompleted)) << run.ending;
      EXPECT_FALSE(fs::exists(journal));
      EXPECT_THAT(EditedDates(mdb), ElementsAre("2009-12-31 00:00:00|150"));
      continue;
    }
    ASSERT_EQ(run.prompts.size(), 2u) << ::testing::PrintToString(run.prompts) << run.ending;
    EXPECT_EQ(run.prompts[0], kUpdateFailedText);
    EXPECT_THAT(run.prompts[1], AllOf(StartsWith(" 3343  :  "), HasSubstr("'" + journal + "'"),
                                      HasSubstr("restored from a backup, remove '" + journal + "'"),
                                      HasSubstr("(or sqlite3) open the file once")));
    EXPECT_TRUE(FileBytes(mdb) == file) << "the file changed";
    EXPECT_TRUE(FileBytes(journal) == left) << "the journal changed";
    if (c.restored == kNewerBackup) {
      fs::remove(journal);
    } else {
      // A program that can write the file plays the journal back as it
      // opens it.
      dao_test::Sqlite(mdb, "SELECT count(*) FROM tbl_kav_persons");
      ASSERT_FALSE(fs::exists(journal));
    }
    EXPECT_THAT(RunRunner(mdb, Limited()).prompts, ElementsAre(kCompleted));
    EXPECT_THAT(EditedDates(mdb),
                ElementsAre(c.restored == kNewerBackup ? "2011-03-01 00:00:00|150"
                                                       : "2009-12-31 00:00:00|150"));
    EXPECT_THAT(dao_test::Query(mdb,
                                "SELECT count(*) FROM tbl_kav_persons_quals WHERE "
                                "pq_qual_risk_type = 'XX'"),
                ElementsAre("0"));
  }
}

// A log or journal whose sizes no state of the file can have is damaged:
// merged or played, it would grow the file to the size it claims.  It is
// refused by its header, before anything is copied or written, and both
// files stay as they were.
TEST(LeftoverSizeTest, LogOrJournalClaimingSizesNoStateCanHaveIsRefused) {
  struct Case {
    const char* name;
    bool log;       // else a journal
    int64_t pages;  // < 0: that many pages more than the file has
  };
  const Case cases[] = {
      {"a log whose commit gives the file 0xFFFFFFFF pages", true, 0xFFFFFFFF},
      {"a log whose commit gives the file 10,000 pages more than it has", true, -10000},
      {"a journal whose initial size is 0x7FFFFFFF pages", false, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(700));
    const uint32_t file_pages = static_cast<uint32_t>(fs::file_size(mdb) / 4096);
    const uint32_t pages = static_cast<uint32_t>(c.pages < 0 ? file_pages - c.pages : c.pages);
    std::string leftover;
    if (c.log) {
      LeaveLog(mdb);
      leftover = mdb + "-wal";
      SetLastCommitSize(leftover, pages);
    } else {
      CutOff(mdb, kCutOffInPlace);
      leftover = mdb + "-journal";
      std::string bytes = FileBytes(leftover);
      PutBigEndian32(bytes, 16, pages);  // the initial size: no checksum covers it
      WriteBytes(leftover, bytes);
    }
    const std::string file = FileBytes(mdb), left = FileBytes(leftover);
    const RunnerResult run = RunRunner(mdb, Limited());
    ASSERT_EQ(run.prompts.size(), 2u) << ::testing::PrintToString(run.prompts) << run.ending;
    EXPECT_EQ(run.prompts[0], kUpdateFailedText);
    EXPECT_THAT(run.prompts[1], AllOf(StartsWith(" 3343  :  "), HasSubstr("'" + leftover + "'"),
                                      HasSubstr(std::to_string(pages) + " pages")));
    EXPECT_TRUE(FileBytes(mdb) == file) << "the file changed";
    EXPECT_TRUE(FileBytes(leftover) == left) << "the leftover changed";
    EXPECT_LE(fs::file_size(mdb), file.size());
  }
}

// A FIFO in the place of a journal, log or index of the database or of its
// workgroup file would keep SQLite waiting on it for ever.  It is refused
// at once, with a box that names it, and left as it is.
TEST(NotRegularLeftoverTest, FifoBesideEitherFileIsRefusedAtOnceNamingIt) {
  for (const char* file : {"KAV.MDB", "KAV.mdw"}) {
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      const std::string name = std::string(file) + suffix;
      SCOPED_TRACE(name);
      TempDir dir;
      const std::string mdb = MakeSample(dir, Persons(20));
      const std::string fifo = dir.File(name);
      ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
      const std::string bytes = FileBytes(mdb);
      RunnerOptions options = Limited();
      options.seconds = 20;
      const RunnerResult run = RunRunner(mdb, options);
      EXPECT_EQ(run.ending.rfind("exit", 0), 0u) << run.ending;
      ASSERT_FALSE(run.prompts.empty());
      EXPECT_THAT(run.prompts.back(), HasSubstr("'" + fifo + "'"));
      EXPECT_THAT(run.prompts.back(), HasSubstr("not a regular file"));
      EXPECT_TRUE(FileBytes(mdb) == bytes) << "the database changed";
      struct stat st;
      EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    }
  }
}

// A file in WAL mode with nothing beside it, refused at open (here for an
// engine relation trigger another program dropped), gains no file beside
// it: no -wal, no -shm.
TEST(RefusedFileTest, FileInWalModeGainsNothingBesideIt) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(20));
  const std::vector<std::string> triggers = dao_test::Query(
      mdb, "SELECT name FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'daosys_rel_%'");
  ASSERT_FALSE(triggers.empty());
  dao_test::Sqlite(mdb, "PRAGMA journal_mode=WAL; DROP TRIGGER \"" + triggers[0] + "\"");
  const std::set<std::string> names = Names(dir.path());
  ASSERT_EQ(names, (std::set<std::string>{"KAV.MDB", "KAV.mdw"}));
  const std::string bytes = FileBytes(mdb);
  ASSERT_EQ(JournalBytes(mdb), "2 2") << "the file is not in WAL mode";
  const RunnerResult run = RunRunner(mdb, Limited());
  ASSERT_EQ(run.prompts.size(), 2u) << ::testing::PrintToString(run.prompts) << run.ending;
  EXPECT_THAT(run.prompts[1], StartsWith(" 3343  :  "));
  EXPECT_EQ(Names(dir.path()), names);
  EXPECT_TRUE(FileBytes(mdb) == bytes) << "the file changed";
}

// Runs killed while they try another program's log on a copy leave their
// copies in the temporary folder; the next run removes them, and nothing
// stays there once it has ended.
TEST(RehearsalCopyTest, CopiesOfRunsKilledWhileCopyingGoWithTheNextRun) {
  TempDir dir, tmp;
  const std::string mdb = MakeSample(dir, Persons(20000));
  LeaveLog(mdb);
  const RunnerOptions options = Limited({{"TMPDIR", tmp.path()}});
  for (int kill_number = 1; kill_number <= 3; ++kill_number) {
    SCOPED_TRACE("kill " + std::to_string(kill_number));
    RunnerProcess runner(mdb, options);
    bool copying = false;
    for (int i = 0; i < 20000 && !copying; ++i) {
      copying = !fs::is_empty(tmp.path());
      if (!copying) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(copying) << "the run made no copy";
    kill(runner.pid(), SIGKILL);
    EXPECT_EQ(runner.Finish().ending, "signal 9");
    EXPECT_FALSE(fs::is_empty(tmp.path())) << "the killed run's copy is gone already";
  }
  EXPECT_THAT(RunRunner(mdb, options).prompts, ElementsAre(kCompleted));
  EXPECT_THAT(Names(tmp.path()), ::testing::IsEmpty());
}

// A temporary folder with too little room for the copy a leftover is tried
// on, or room for the copy but not for SQLite's index of the log, stops the
// run before anything is copied, with a box that names the folder and the
// room it needs; the file and its log stay as they were, and with room the
// run completes.
TEST(RehearsalCopyTest, TooLittleRoomIsSaidBeforeAnythingIsCopied) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(2000));
  LeaveLog(mdb);
  const auto blocks = [](uintmax_t bytes) {
    return static_cast<long>((bytes + 4095) / 4096 * 4096);
  };
  const long copy = blocks(fs::file_size(mdb)) + blocks(fs::file_size(mdb + "-wal"));
  const std::string file = FileBytes(mdb), log = FileBytes(mdb + "-wal");
  for (const long room : {copy / 2, copy + 8192}) {
    SCOPED_TRACE("room " + std::to_string(room));
    TempDir holder;
    SmallDisk tmp(holder, room);
    if (!tmp.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << tmp.error();
    const RunnerResult run = RunRunner(mdb, Limited({{"TMPDIR", tmp.path()}}));
    ASSERT_EQ(run.prompts.size(), 2u) << ::testing::PrintToString(run.prompts) << run.ending;
    EXPECT_EQ(run.prompts[0], kUpdateFailedText);
    EXPECT_THAT(run.prompts[1], AllOf(StartsWith(" 3051  :  "), HasSubstr("'" + tmp.path() + "'"),
                                      HasSubstr(" MB of room"), Not(HasSubstr("Success"))));
    EXPECT_TRUE(FileBytes(mdb) == file) << "the file changed";
    EXPECT_TRUE(FileBytes(mdb + "-wal") == log) << "the log changed";
    EXPECT_THAT(Names(tmp.path()), ::testing::IsEmpty());
  }
  TempDir roomy;
  EXPECT_THAT(RunRunner(mdb, Limited({{"TMPDIR", roomy.path()}})).prompts, ElementsAre(kCompleted));
}

}  // namespace
}  // namespace kav::testing
