// Other programs that read and write the file while an update runs.  From
// the update's first write to its end no other process commits into the
// file: where the update cannot make sure of that (another program holds
// the file all the time it waits for a lock), it writes nothing and ends
// with the lock error, and a second update never also ends in success.

#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/dao_fixture.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/runner.h"

namespace kav::testing {
namespace {

using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

void Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Another program, in a child process that ends with the object.  Its body
// runs until `stop` (a descriptor) becomes readable: the object closes the
// other end when it goes, or at Stop().
class OtherProgram {
 public:
  explicit OtherProgram(const std::function<void(int stop, int report)>& body) {
    int stop[2], report[2];
    if (pipe(stop) != 0 || pipe(report) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(stop[1]);
      close(report[0]);
      body(stop[0], report[1]);
      _exit(0);
    }
    close(stop[0]);
    close(report[1]);
    stop_ = stop[1];
    report_ = report[0];
  }
  ~OtherProgram() { Stop(); }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  // Waits for the program's first report line; false where it sent none.
  bool WaitForReady() {
    char c;
    while (read(report_, &c, 1) == 1) {
      text_ += c;
      if (c == '\n') return true;
    }
    return false;
  }

  // Ends the program and returns every line it reported.
  std::vector<std::string> Stop() {
    if (pid_ > 0) {
      close(stop_);
      char buffer[4096];
      ssize_t n;
      while ((n = read(report_, buffer, sizeof buffer)) > 0) text_.append(buffer, n);
      close(report_);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    std::vector<std::string> lines;
    for (size_t at = 0; at < text_.size();) {
      const size_t end = text_.find('\n', at);
      lines.push_back(text_.substr(at, end - at));
      at = end == std::string::npos ? text_.size() : end + 1;
    }
    return lines;
  }

  // Whether `stop` has been closed, waiting `milliseconds` at most.
  static bool Stopped(int stop, int milliseconds) {
    struct pollfd fd = {stop, POLLIN, 0};
    return poll(&fd, 1, milliseconds) > 0;
  }

 private:
  pid_t pid_ = -1;
  int stop_ = -1;
  int report_ = -1;
  std::string text_;
};

void Report(int report, const std::string& line) {
  const std::string text = line + "\n";
  (void)!write(report, text.data(), text.size());
}

// A program that holds a read transaction on the file from its start until
// `milliseconds` later (or until it is stopped), then closes the file.
std::function<void(int, int)> Reader(const std::string& mdb, int milliseconds) {
  return [mdb, milliseconds](int stop, int report) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(mdb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    const bool reading = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM tbl_kav_persons", nullptr,
                                      nullptr, nullptr) == SQLITE_OK;
    Report(report, reading ? "reading" : std::string("cannot read: ") + sqlite3_errmsg(db));
    OtherProgram::Stopped(stop, milliseconds);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
}

// A program that, every `interval` milliseconds until it is stopped, opens
// the file, adds a held HEMG/WF qualification (a row the update corrects)
// and closes it again.  For each row it commits it reports what it saw of
// the update in the same transaction: "before" (no column of the update's
// yet), "during" (the update's first column, and still "v4.0") or "after".
std::function<void(int, int)> Writer(const std::string& mdb, int interval) {
  return [mdb, interval](int stop, int report) {
    Report(report, "writing");
    for (int row = 900000; !OtherProgram::Stopped(stop, interval); ++row) {
      sqlite3* db = nullptr;
      sqlite3_open_v2(mdb.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      sqlite3_busy_timeout(db, 20);
      std::string state;
      const auto seen = [](void* out, int, char** values, char**) {
        const bool column = std::string(values[0]) != "0";
        const bool stamped = values[1] != nullptr && std::string(values[1]) == "v5.0";
        *static_cast<std::string*>(out) = !column ? "before" : stamped ? "after" : "during";
        return 0;
      };
      const std::string insert = "INSERT INTO tbl_kav_persons_quals VALUES (" +
                                 std::to_string(row) +
                                 ", 1, 'HEMG', 'WF', '2009-12-31 00:00:00', NULL)";
      if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK &&
          sqlite3_exec(db,
                       "SELECT (SELECT count(*) FROM pragma_table_info('tbl_kav_courses') WHERE "
                       "name = 'course_refresher_period'), (SELECT kav_database_version FROM "
                       "tbl_kav_version_info)",
                       seen, &state, nullptr) == SQLITE_OK &&
          sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
          sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        Report(report, state);
      }
      sqlite3_close(db);  // rolls back what did not commit
    }
  };
}

// The commits a writer reported while the update had begun and not ended.
std::vector<std::string> DuringTheUpdate(const std::vector<std::string>& reports) {
  std::vector<std::string> out;
  for (const std::string& line : reports) {
    if (line == "during") out.push_back(line);
  }
  return out;
}

// Whether the file shows anything of the update: its first column, or the
// version it stamps.
bool TouchedByTheUpdate(const std::string& mdb) {
  return dao_test::Query(mdb,
                         "SELECT count(*) FROM pragma_table_info('tbl_kav_courses') WHERE name = "
                         "'course_refresher_period'") != std::vector<std::string>{"0"};
}

// The lock error of an update that another program kept from writing.
auto LockBox() {
  return ElementsAre(kUpdateFailedText, AllOf(StartsWith(" 3260  :  "), HasSubstr("locked"),
                                              HasSubstr("another program has it open")));
}

// An update of `mdb` run while other programs work on the file: a reader
// that holds it from before the update starts until `reader_ms` later, and
// a writer that tries every `writer_ms` until the update has ended.
struct Contended {
  RunnerResult run;
  std::vector<std::string> writes;  // the writer's reports
};

Contended UpdateWhileOthersWork(const std::string& mdb, int reader_ms, int writer_ms) {
  Contended out;
  OtherProgram reader(Reader(mdb, reader_ms));
  EXPECT_TRUE(reader.WaitForReady());
  RunnerProcess update(mdb);
  OtherProgram writer(Writer(mdb, writer_ms));
  EXPECT_TRUE(writer.WaitForReady());
  out.run = update.Finish();
  out.writes = writer.Stop();
  return out;
}

// A reader holds the file when the update begins, and a writer adds a row
// the update corrects every 300 ms.  The update never goes on in a mode in
// which the writer can come in: no row is committed while it runs.  Where
// the reader holds the file past the time the update waits for it, the
// update writes nothing and ends with the lock error, and a later run
// corrects every row; else it completes.
TEST(OtherWritersTest, ReaderAtTheStartThenWriterCommitsNothingDuringTheUpdate) {
  for (const int reader_ms : {3000, 300}) {
    SCOPED_TRACE("reader for " + std::to_string(reader_ms) + " ms");
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(3000));
    const auto [run, reports] = UpdateWhileOthersWork(mdb, reader_ms, 300);
    EXPECT_THAT(DuringTheUpdate(reports), ::testing::IsEmpty());
    if (run.prompts != std::vector<std::string>{kCompleted}) {
      EXPECT_THAT(run.prompts, LockBox()) << run.ending;
      EXPECT_FALSE(TouchedByTheUpdate(mdb));
      EXPECT_THAT(RunRunner(mdb).prompts, ElementsAre(kCompleted));
    }
    // Every row committed before the update ended was corrected.
    EXPECT_THAT(dao_test::Query(mdb,
                                "SELECT count(*) FROM tbl_kav_persons_quals WHERE "
                                "pq_id >= 900000 AND pq_comments IS NULL"),
                ElementsAre(std::to_string(std::count(reports.begin(), reports.end(), "after"))));
  }
}

// The file is in WAL mode, and another program's read covers only the
// first moments of the update; a writer tries every 50 ms.  The update
// waits for the reader to go and then keeps the writer out until it ends.
TEST(OtherWritersTest, BriefReaderOnAFileInWalModeThenWriterCommitsNothingDuringTheUpdate) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(3000));
  dao_test::Sqlite(mdb, "PRAGMA journal_mode=WAL");
  ASSERT_EQ(JournalBytes(mdb), "2 2");
  const auto [run, reports] = UpdateWhileOthersWork(mdb, 300, 50);
  EXPECT_THAT(run.prompts, ElementsAre(kCompleted)) << run.ending;
  EXPECT_THAT(DuringTheUpdate(reports), ::testing::IsEmpty());
}

// A second update of the same file, started while the first waits for a
// reader to go: at most one of them ends in success, and the other meets
// the lock or finds the file updated.
TEST(OtherWritersTest, SecondUpdateStartedWhileTheFirstWaitsNeverAlsoSucceeds) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(20000));
  OtherProgram reader(Reader(mdb, 3000));
  ASSERT_TRUE(reader.WaitForReady());
  RunnerProcess first(mdb);
  Sleep(3100);
  RunnerProcess second(mdb);
  const std::vector<RunnerResult> runs = {first.Finish(), second.Finish()};
  reader.Stop();
  int completed = 0;
  for (const RunnerResult& run : runs) {
    if (run.prompts == std::vector<std::string>{kCompleted}) {
      ++completed;
    } else if (run.prompts != std::vector<std::string>{kAlreadyUpdated}) {
      EXPECT_THAT(run.prompts,
                  AnyOf(LockBox(), ElementsAre(kUpdateFailedText, StartsWith(" 3260  :  "))))
          << run.ending;
    }
  }
  EXPECT_LE(completed, 1);
  EXPECT_THAT(RunRunner(mdb).prompts, ElementsAre(completed == 1 ? kAlreadyUpdated : kCompleted));
}

}  // namespace
}  // namespace kav::testing
