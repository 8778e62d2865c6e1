// The database is KAV.MDB alone: when the update ends, every change it
// reports is in that file, a copy of that file with its workgroup file is
// the whole database, and nothing is left beside it when the tool has
// ended.  A disk without room, two runs at once, a file with two names and
// a version stamp that cannot be written never leave a damaged file or a
// success box over a file that was not updated.

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "stages/globals.h"
#include "tests/dao_fixture.h"
#include "tests/support/dump.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/runner.h"
#include "tests/support/runs.h"
#include "tests/support/small_disk.h"
#include "tests/support/stage_checks.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Runs the headless runner on `mdb` in a child process and returns the
// prompts of its boxes, and a last line for a runner that did not end well.
std::vector<std::string> RunElsewhere(const std::string& mdb) { return PromptsOf(RunRunner(mdb)); }

// The dump a clean run in this process leaves of a sample of `persons`.
const std::vector<std::string>& CleanDump(int persons) {
  static std::map<int, std::vector<std::string>> dumps;
  auto it = dumps.find(persons);
  if (it != dumps.end()) return it->second;
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(persons));
  if (RunHere(mdb) != std::vector<std::string>{kCompleted}) ADD_FAILURE() << "clean run failed";
  CloseDriverDatabase();
  return dumps[persons] = DumpDatabase(mdb);
}

const std::set<std::string> kSampleNames = {"KAV.MDB", "KAV.mdw"};

// ---------------------------------------------------------------------------
// The file alone.

// Whenever the update ends, while the first database object stays open
// and the tool sits idle, the file alone holds everything the update did.
TEST(FileAloneTest, CopyOfTheFileAloneIsTheWholeDatabaseAtEveryEnd) {
  struct Case {
    const char* name;
    bool updated_before;  // a first run has updated the file
    int failing_execute;  // the data phase's nth Execute fails; 0: none
    std::string first_prompt;
    bool clean;  // the result equals a clean run
  };
  const std::vector<Case> cases = {
      {"completed", false, 0, kCompleted, true},
      {"already updated", true, 0, kAlreadyUpdated, true},
      {"failed in the data phase", false, 30, kUpdateFailedText, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir, copy_dir;
    const std::string mdb = MakeSample(dir, Persons(20));
    if (c.updated_before) {
      RunHere(mdb);
      CloseDriverDatabase();
    }
    std::vector<std::string> prompts;
    {
      FaultInjector faults;
      if (c.failing_execute > 0) faults.FailNth(dao::CallKind::kExecute, c.failing_execute, 3999);
      prompts = RunHere(mdb);
    }
    EXPECT_THAT(prompts, ::testing::Contains(c.first_prompt));
    // The first database object is still open, as in the windows.
    const std::string copy = CopyFileAlone(mdb, copy_dir);
    EXPECT_EQ(IntegrityCheck(copy), "ok");
    const std::vector<std::string> in_place = DumpDatabase(mdb);
    EXPECT_EQ(DumpDifference(in_place, DumpDatabase(copy)), "");
    if (c.clean) {
      EXPECT_EQ(Version(copy), "v5.0");
      EXPECT_EQ(DumpDifference(CleanDump(20), DumpDatabase(copy)), "");
    }
    CloseDriverDatabase();
    // Closed at last, the file is one file again, in rollback-journal mode.
    EXPECT_EQ(Names(dir.path()), kSampleNames);
    EXPECT_EQ(JournalBytes(mdb), "1 1");
  }
}

// The sample comes as one file in rollback-journal mode, and the tool,
// once ended, leaves it so: another program can open it alone.
TEST(FileAloneTest, EndedToolLeavesOneFileInRollbackJournalMode) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(20));
  EXPECT_EQ(Names(dir.path()), kSampleNames);
  EXPECT_EQ(JournalBytes(mdb), "1 1");
  for (const char* expected : {kCompleted, kAlreadyUpdated}) {
    SCOPED_TRACE(expected);
    EXPECT_THAT(RunElsewhere(mdb), ElementsAre(expected));
    EXPECT_EQ(Names(dir.path()), kSampleNames);
    EXPECT_EQ(JournalBytes(mdb), "1 1");
  }
  EXPECT_EQ(DumpDifference(CleanDump(20), DumpDatabase(mdb)), "");
  // A file that came in WAL mode goes out in rollback-journal mode too.
  TempDir other;
  const std::string wal = MakeSample(other, Persons(20));
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(wal.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ASSERT_EQ(JournalBytes(wal), "2 2");
  EXPECT_THAT(RunElsewhere(wal), ElementsAre(kCompleted));
  EXPECT_EQ(Names(other.path()), kSampleNames);
  EXPECT_EQ(JournalBytes(wal), "1 1");
}

// ---------------------------------------------------------------------------
// A disk without room.

// With too little room the box says the disk is full, and neither the file
// alone nor the file with its log is damaged: the file alone, copied with
// its workgroup file to a disk with room, updates there, and after room is
// made one rerun in place ends where a clean run ends.
TEST(DiskFullTest, FileAloneStaysWholeAndUpdatesOnceThereIsRoom) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const int persons = 300;
  TempDir sample_dir;
  const std::string sample = MakeSample(sample_dir, Persons(persons));
  const long sample_bytes =
      static_cast<long>(fs::file_size(sample) + fs::file_size(sample_dir.File("KAV.mdw")));
  for (long room : {64L << 10, 256L << 10, 1L << 20}) {
    SCOPED_TRACE("room " + std::to_string(room));
    TempDir dir;
    SmallDisk disk(dir, sample_bytes + room);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
    const std::string mdb = disk.path() + "/KAV.MDB";
    fs::copy_file(sample, mdb);
    fs::copy_file(sample_dir.File("KAV.mdw"), disk.path() + "/KAV.mdw");
    const std::vector<std::string> prompts = RunElsewhere(mdb);
    ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
    EXPECT_EQ(prompts[0], kUpdateFailedText);
    EXPECT_THAT(prompts[1], HasSubstr("disk is full"));

    TempDir roomy;
    const std::string alone = CopyFileAlone(mdb, roomy);
    EXPECT_EQ(IntegrityCheck(alone), "ok");
    EXPECT_EQ(Version(alone), "v4.0");
    EXPECT_THAT(RunElsewhere(alone), ElementsAre(kCompleted));
    EXPECT_EQ(DumpDifference(CleanDump(persons), DumpDatabase(alone)), "");

    ASSERT_TRUE(disk.Grow(64L << 20));
    EXPECT_THAT(RunElsewhere(mdb), ElementsAre(kCompleted));
    EXPECT_EQ(DumpDifference(CleanDump(persons), DumpDatabase(mdb)), "");
    EXPECT_EQ(Names(disk.path()), kSampleNames);
  }
}

// ---------------------------------------------------------------------------
// Two runs at once, two names of one file.

// Runs started a few milliseconds apart on one file: each completes, says
// the file is updated already, or fails with the engine's lock error; none
// takes the file for damaged, and the file ends as one clean run leaves it.
TEST(ConcurrentRunsTest, EachRunEndsSoundlyAndTheFileEndsAsACleanRunLeavesIt) {
  const int kTrials = 6, kRuns = 8;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(20));
    std::vector<std::unique_ptr<RunnerProcess>> runners;
    for (int i = 0; i < kRuns; ++i) {
      runners.push_back(std::make_unique<RunnerProcess>(mdb));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int completed = 0;
    for (const std::unique_ptr<RunnerProcess>& runner : runners) {
      const std::vector<std::string> prompts = PromptsOf(runner->Finish());
      if (prompts == std::vector<std::string>{kCompleted}) {
        ++completed;
      } else if (prompts != std::vector<std::string>{kAlreadyUpdated}) {
        ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
        EXPECT_EQ(prompts[0], kUpdateFailedText);
        // The lock error, also as the retyping reports it.
        EXPECT_THAT(prompts[1],
                    ::testing::AnyOf(StartsWith(" 3260  :  "),
                                     AllOf(StartsWith(" 55555  :  "), HasSubstr("Error 3260 "))));
        EXPECT_THAT(prompts[1], HasSubstr("locked"));
      }
    }
    EXPECT_EQ(IntegrityCheck(mdb), "ok");
    // Where every run met a lock, one more run does the work.
    EXPECT_THAT(RunElsewhere(mdb), ElementsAre(completed > 0 ? kAlreadyUpdated : kCompleted));
    EXPECT_EQ(DumpDifference(CleanDump(20), DumpDatabase(mdb)), "");
  }
}

// A file with a second name is refused before anything is written, through
// either name, with a box that says why.
TEST(HardLinkTest, FileWithTwoNamesIsRefusedAndLeftAsItWas) {
  TempDir dir, other;
  const std::string mdb = MakeSample(dir, Persons(20));
  fs::copy_file(dir.File("KAV.mdw"), other.File("KAV.mdw"));
  const std::string second = other.File("KAV.MDB");
  ASSERT_EQ(link(mdb.c_str(), second.c_str()), 0);
  const std::string bytes = FileBytes(mdb);
  for (const std::string& name : {mdb, second}) {
    SCOPED_TRACE(name);
    const std::vector<std::string> prompts = RunHere(name);
    CloseDriverDatabase();
    ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
    EXPECT_EQ(prompts[0], kUpdateFailedText);
    EXPECT_THAT(prompts[1], AllOf(StartsWith(" 3051  :  "), HasSubstr("hard links")));
    EXPECT_TRUE(FileBytes(mdb) == bytes) << "the file changed";
    EXPECT_EQ(Names(dir.path()), kSampleNames);
    EXPECT_EQ(Names(other.path()), kSampleNames);
  }
  // With one name again it updates.
  ASSERT_EQ(unlink(second.c_str()), 0);
  EXPECT_THAT(RunHere(mdb), ElementsAre(kCompleted));
  CloseDriverDatabase();
  EXPECT_EQ(DumpDifference(CleanDump(20), DumpDatabase(mdb)), "");
}

// ---------------------------------------------------------------------------
// The version stamp.

// A version row that the stamp cannot write (here a second row "v5.0" and a
// unique index on the version) is a failure, not a success.
TEST(VersionStampTest, DuplicateKeyAtTheStampIsReportedAsAFailure) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(20));
  {
    dao::Database db = OpenForCheck(mdb);
    dao::Recordset rs = db.OpenRecordset("tbl_kav_version_info", dao::dbOpenTable);
    rs.AddNew();
    rs.Fields(0).SetValue("v5.0");
    rs.Update();
    rs.Close();
    dao::TableDef td = db.TableDefs().Item("tbl_kav_version_info");
    dao::Index ix = td.CreateIndex("OneVersion");
    ix.SetUnique(true);
    ix.Fields().Append(ix.CreateField("kav_database_version"));
    td.Indexes().Append(ix);
    db.Close();
  }
  const std::vector<std::string> prompts = RunHere(mdb);
  CloseDriverDatabase();
  ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
  EXPECT_EQ(prompts[0], kUpdateFailedText);
  EXPECT_THAT(prompts[1], StartsWith(" 3022  :  "));
  EXPECT_EQ(Version(mdb), "v4.0");
}

// ---------------------------------------------------------------------------
// A file damaged before the run, another program reading it, the last box.

// Writes `after` over the one place where `before` stands in the file.
void Overwrite(const std::string& path, const std::string& before, const std::string& after) {
  std::string bytes = FileBytes(path);
  const size_t at = bytes.find(before);
  ASSERT_NE(at, std::string::npos) << before;
  ASSERT_EQ(bytes.find(before, at + 1), std::string::npos) << before << " stands twice";
  bytes.replace(at, after.size(), after);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One byte changed on the disk: the checks at open find it through SQLite's
// integrity check and refuse the file before anything is written.  Updated,
// the damaged unique index would take the stage's second (IS-100, AR) row,
// and the damaged name would stay.
TEST(DamagedFileTest, IsRefusedBeforeAnythingIsWrittenNamingWhatSqliteFound) {
  struct Case {
    const char* name;
    std::string before, after;
  };
  const Case cases[] = {
      // The unique index of tbl_kav_courses holds (course_code, risk_type).
      {"an entry of a unique index", "IS-100AR", "IS-1O0AR"},
      // A row of tbl_kav_persons: last name, first name, agency.
      {"a last name in a table page", "NguyenPerson 2BLM", "O"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(20));
    Overwrite(mdb, c.before, c.after);
    ASSERT_NE(IntegrityCheck(mdb), "ok");
    const std::string damaged = FileBytes(mdb);
    const std::vector<std::string> prompts = RunHere(mdb);
    CloseDriverDatabase();
    ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
    EXPECT_EQ(prompts[0], kUpdateFailedText);
    EXPECT_THAT(prompts[1], StartsWith(" 3343  :  The database '" + mdb +
                                       "' is damaged: SQLite's integrity check found \""));
    EXPECT_TRUE(FileBytes(mdb) == damaged) << "the damaged file changed";
    EXPECT_EQ(Names(dir.path()), kSampleNames);
  }
}

// Another program opens the file read-only while the update writes it, and
// would hold a read transaction until the update has ended: it is kept out
// until then, the update completes with the file alone holding all of it,
// and then the program reads.
TEST(OtherReaderTest, IsKeptOutWhileTheUpdateWritesAndReadsOnceItHasEnded) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(3000));
  int done[2];
  ASSERT_EQ(pipe(done), 0);
  const pid_t reader = fork();
  if (reader == 0) {
    close(done[1]);
    for (int i = 0; i < 60000 && !fs::exists(mdb + "-wal"); ++i) usleep(1000);
    sqlite3* db = nullptr;
    sqlite3_open_v2(mdb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_exec(db, "BEGIN; SELECT count(*) FROM tbl_kav_persons", nullptr, nullptr, nullptr);
    char byte;
    while (read(done[0], &byte, 1) < 0 && errno == EINTR) {
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  ASSERT_GT(reader, 0);
  close(done[0]);
  EXPECT_THAT(RunElsewhere(mdb), ElementsAre(kCompleted));
  TempDir copy_dir;
  const std::string copy = CopyFileAlone(mdb, copy_dir);
  EXPECT_EQ(IntegrityCheck(copy), "ok");
  EXPECT_EQ(Version(copy), "v5.0");
  EXPECT_EQ(DumpDifference(CleanDump(3000), DumpDatabase(copy)), "");
  close(done[1]);
  waitpid(reader, nullptr, 0);
  EXPECT_THAT(dao_test::Query(mdb, "SELECT kav_database_version FROM tbl_kav_version_info"),
              ElementsAre("v5.0"));
}

// The runner stopped at its last box: its box line blocks on a full pipe.
// The file is then in rollback-journal mode with nothing beside it: a copy
// of it alone needs no file beside it to be read, and marked read-only it
// is answered as updated; other programs read it meanwhile.
TEST(LastBoxTest, FileIsInRollbackJournalModeWithNothingBesideIt) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(20));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const std::string lines(4096, '\n');
  while (write(fds[1], lines.data(), lines.size()) > 0) {
  }
  fcntl(fds[1], F_SETFL, 0);
  RunnerOptions options;
  options.pipe = {fds[0], fds[1]};
  RunnerProcess runner(mdb, options);
  // Blocked in write(1, ...): the box is up.
  bool at_box = false;
  for (int i = 0; i < 6000 && !at_box; ++i) {
    usleep(10000);
    std::ifstream in("/proc/" + std::to_string(runner.pid()) + "/syscall");
    std::string call;
    std::getline(in, call);
    at_box = call.starts_with("1 0x1 ");
  }
  ASSERT_TRUE(at_box) << "the runner did not come to its box";
  EXPECT_EQ(JournalBytes(mdb), "1 1");
  EXPECT_EQ(Names(dir.path()), kSampleNames);
  EXPECT_THAT(dao_test::Query(mdb, "SELECT kav_database_version FROM tbl_kav_version_info"),
              ElementsAre("v5.0"));
  TempDir copy_dir;
  const std::string copy = CopyFileAlone(mdb, copy_dir);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_THAT(RunElsewhere(copy), ElementsAre(kAlreadyUpdated));
  EXPECT_EQ(Names(copy_dir.path()), kSampleNames);
  EXPECT_THAT(PromptsOf(runner.Finish()), ElementsAre(kCompleted));
}

}  // namespace
}  // namespace kav::testing
