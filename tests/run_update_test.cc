// The headless runner kav-run-update: its command line, and an exit status
// that tells an update that ended in its failure box from every other end.

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/harness.h"

namespace kav::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

struct RunnerOutcome {
  int status = -1;  // the exit status, -1 when it did not exit
  std::string out, err;
};

// Runs the runner with `arguments` (as the shell reads them), from `dir`.
RunnerOutcome RunRunner(const TempDir& dir, const std::string& arguments) {
  const std::string command = "cd '" + dir.path() + "' && '" + KAV_RUN_UPDATE + "' " + arguments +
                              " >'" + dir.File("out") + "' 2>'" + dir.File("err") + "'";
  const int status = std::system(command.c_str());
  RunnerOutcome run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = FileBytes(dir.File("out"));
  run.err = FileBytes(dir.File("err"));
  return run;
}

TEST(RunUpdateTest, HelpPrintsTheUsageAndAWrongCommandLineGetsItOnStderr) {
  TempDir dir;
  const RunnerOutcome help = RunRunner(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, StartsWith("usage: kav-run-update [--trace] PATH\n"));
  EXPECT_THAT(help.out, HasSubstr("Exit status:"));
  EXPECT_THAT(help.err, IsEmpty());
  for (const char* arguments : {"", "--trace", "--bogus KAV.MDB", "-x KAV.MDB", "A.MDB B.MDB"}) {
    SCOPED_TRACE(arguments);
    const RunnerOutcome wrong = RunRunner(dir, arguments);
    EXPECT_EQ(wrong.status, 2);
    EXPECT_THAT(wrong.out, IsEmpty()) << "no update was run";
    EXPECT_EQ(wrong.err, help.out);
  }
}

// The last line `out` holds.
std::string LastLine(const std::string& out) {
  std::istringstream in(out);
  std::string last;
  for (std::string line; std::getline(in, line);) last = line;
  return last;
}

// 1 only for an update that ended in its failure box; a completed update,
// a refused file and a missing workgroup file end with 0.
TEST(RunUpdateTest, ExitsWithOneOnlyWhenTheUpdateEndedInItsFailureBox) {
  TempDir dir, read_only, lone;
  const std::string mdb = MakeSample(dir);
  // A file marked read-only is refused with the engine's error, after the
  // failure box.
  const std::string refused = MakeSample(read_only);
  ASSERT_EQ(chmod(refused.c_str(), 0444), 0);
  std::ofstream(lone.File("KAV.MDB")) << "";  // without its workgroup file
  struct Case {
    const char* name;
    std::string path;
    int status;
    const char* last_box;  // in the last line of output
  };
  const Case cases[] = {
      {"completed", mdb, 0, "Database Update completed."},
      {"already updated", mdb, 0, "This database has already been updated"},
      {"missing workgroup file", lone.File("KAV.MDB"), 0, "missing it's MDW file"},
      {"failure box", refused, 1, "read-only"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunnerOutcome run = RunRunner(dir, "'" + c.path + "'");
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_THAT(LastLine(run.out), AllOf(StartsWith("MSGBOX\t"), HasSubstr(c.last_box)));
    EXPECT_EQ(run.out.find(kUpdateFailedText) != std::string::npos, c.status == 1) << run.out;
  }
}

}  // namespace
}  // namespace kav::testing
