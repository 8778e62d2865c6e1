// Faults the update survives: an engine call that fails anywhere in the run,
// a process killed in the middle of the data phase, a database another
// connection holds locked, a read-only database file.  In each case the
// version stays "v4.0" and a second run ends where an uninterrupted run ends.

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ui/scripted_message_boxes.h"
#include "stages/stages.h"
#include "tests/dao_fixture.h"
#include "tests/support/dump.h"
#include "tests/support/files.h"
#include "tests/support/harness.h"
#include "tests/support/runner.h"
#include "tests/support/runs.h"
#include "tests/support/stage_checks.h"
#include "update/corrections.h"
#include "update/update.h"

namespace kav::testing {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The injected error: any number but 3022, which the data phase tolerates.
const long kInjected = 3999;

// The persons of this suite's samples: few, so that its many runs are quick.
const int kPersons = 6;

ui::ShownBox FailureBox() {
  return ui::ShownBox{kUpdateFailedText, ui::vbCritical, "KAV Update", ui::vbDefault};
}

// A clean run of the update on a fresh sample: its full trace (one line per
// engine call, call k at index k-1, CALL lines included), which calls failed
// with an error the run ignored, the same trace as the headless runner
// prints it (with ERR lines), and the dump of the database it left.
struct CleanRun {
  std::vector<std::string> calls;
  std::vector<bool> ignored_error;
  std::vector<std::string> runner_lines;
  std::vector<std::string> dump;
};

const CleanRun& Clean() {
  static const CleanRun run = [] {
    CleanRun out;
    TempDir dir;
    std::string mdb = MakeSample(dir, Persons(kPersons));
    {
      TraceRecorder trace(true);
      ui::ScriptedMessageBoxes boxes;
      RunDatabaseUpdate(mdb);
      if (Prompts(boxes.boxes()) != std::vector<std::string>{kCompleted}) {
        ADD_FAILURE() << "the clean run did not complete";
      }
      out.runner_lines = trace.lines();
    }
    for (const std::string& line : out.runner_lines) {
      if (line.starts_with("ERR\t")) {
        out.ignored_error.back() = true;
      } else {
        out.calls.push_back(line);
        out.ignored_error.push_back(false);
      }
    }
    out.dump = DumpDatabase(mdb);
    return out;
  }();
  return run;
}

// Where the calls of one part of the run lie in the clean trace: call
// numbers first..last, 1-based, inclusive.
struct Range {
  int first = 0;
  int last = -1;
};

// The calls that run `steps`: the contiguous block of their trace lines
// among the row and statement calls of the clean run.
Range BlockOf(const std::vector<stages::Step>& steps) {
  const std::vector<std::string>& calls = Clean().calls;
  std::vector<std::string> lines;
  std::vector<int> numbers;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].starts_with("CALL\t")) continue;
    lines.push_back(calls[i]);
    numbers.push_back(static_cast<int>(i) + 1);
  }
  const std::vector<std::string> expected = stages::TraceLines(steps);
  auto it = std::search(lines.begin(), lines.end(), expected.begin(), expected.end());
  if (it == lines.end() || expected.empty()) {
    ADD_FAILURE() << "block of " << expected.size() << " lines not found";
    return {};
  }
  const size_t at = static_cast<size_t>(it - lines.begin());
  return {numbers[at], numbers[at + expected.size() - 1]};
}

// The first call at or after `from` whose line starts with `prefix`.
int FirstFrom(int from, const std::string& prefix) {
  const std::vector<std::string>& calls = Clean().calls;
  for (size_t i = static_cast<size_t>(from - 1); i < calls.size(); ++i) {
    if (calls[i].starts_with(prefix)) return static_cast<int>(i) + 1;
  }
  ADD_FAILURE() << "no " << prefix << " from call " << from;
  return 0;
}

enum class Part {
  kConnection,  // the connection and the version gate
  kSchema,      // the new column and the four retypings
  kRegistration,
  kCourseChanges,
  kCorrections,
  kTraining1,
  kTraining2,
  kExperience1,
  kExperience2,
  kExperience3,
  kCurrency,
  kStamp,       // the version stamp up to and including its update
  kAfterStamp,  // the calls after the version stamp's update
};

Range RangeOf(Part part) {
  const int gate = FirstFrom(1, "CALL\tOpenRecordset");
  switch (part) {
    case Part::kConnection:
      return {1, gate};
    case Part::kSchema:
      return {gate + 1, BlockOf(update::RegistrationSteps()).first - 1};
    case Part::kRegistration:
      return BlockOf(update::RegistrationSteps());
    case Part::kCourseChanges:
      return BlockOf(stages::CourseChangesSteps());
    case Part::kCorrections:
      return BlockOf(update::CorrectionSteps());
    case Part::kTraining1:
      return BlockOf(stages::Training1Steps());
    case Part::kTraining2:
      return BlockOf(stages::Training2Steps());
    case Part::kExperience1:
      return BlockOf(stages::Experience1Steps());
    case Part::kExperience2:
      return BlockOf(stages::Experience2Steps());
    case Part::kExperience3:
      return BlockOf(stages::Experience3Steps());
    case Part::kCurrency:
      return BlockOf(stages::CurrencySteps());
    case Part::kStamp: {
      const int from = BlockOf(stages::CurrencySteps()).last + 1;
      return {from, FirstFrom(from, "UPDATE")};
    }
    case Part::kAfterStamp: {
      const int from = BlockOf(stages::CurrencySteps()).last + 1;
      return {FirstFrom(from, "UPDATE") + 1, static_cast<int>(Clean().calls.size())};
    }
  }
  return {};
}

// One call to fail: the occurrence-th call of `part` whose trace line starts
// with `prefix` (1 the first, -1 the last, 0 the middle one).
struct FaultPoint {
  const char* name;
  Part part;
  const char* prefix;
  int occurrence;
  // How the second box of the failure path starts: the injected error when
  // the driver itself meets it, 55555 when ChangeFieldType reports it, and
  // " 0  :  " after a stage has shown the error itself.
  const char* second_box;
  // For a fault in a retyping: how many of the four retypings the run had
  // completed before it.
  int retyped = -1;
};

void PrintTo(const FaultPoint& p, std::ostream* os) { *os << p.name; }

int CallNumber(const FaultPoint& p) {
  const Range range = RangeOf(p.part);
  std::vector<int> found;
  for (int k = range.first; k <= range.last && k >= 1; ++k) {
    if (Clean().calls[k - 1].starts_with(p.prefix)) found.push_back(k);
  }
  if (found.empty()) {
    ADD_FAILURE() << "no " << p.prefix << " in calls " << range.first << ".." << range.last;
    return 0;
  }
  if (p.occurrence == 0) return found[found.size() / 2];
  if (p.occurrence > 0) {
    return found.at(static_cast<size_t>(p.occurrence - 1));
  }
  return found.at(found.size() - static_cast<size_t>(-p.occurrence));
}

const char* const kDriverBox = " 3999  :  Injected fault";
const char* const kRetypeBox = " 55555  :  ";
const char* const kStageBox = " 0  :  ";

// A spread over every part of the run: in each stage at least one update
// and one statement, and the first and last of them, so a fault lands both
// before and after the stage's other changes.  FieldExists look-ups inside
// ChangeFieldType are left out (their errors are ignored by design), and so
// are rollbacks (a clean run makes none).
const FaultPoint kFaultPoints[] = {
    {"SystemDB", Part::kConnection, "CALL\tSystemDB", 1, kDriverBox},
    {"CreateWorkspace", Part::kConnection, "CALL\tCreateWorkspace", 1, kDriverBox},
    {"OpenDatabase", Part::kConnection, "CALL\tOpenDatabase", 1, kDriverBox},
    {"VersionQuery", Part::kConnection, "CALL\tOpenRecordset", 1, kDriverBox},

    {"SchemaCoursesTable", Part::kSchema, "CALL\tTableDefs.Item", 1, kDriverBox},
    {"SchemaAppendColumn", Part::kSchema, "CALL\tFields.Append", 1, kDriverBox},
    {"RetypeBegin", Part::kSchema, "CALL\tBeginTrans", 1, kRetypeBox, 0},
    {"RetypeRemoveRelation", Part::kSchema, "CALL\tRelations.Delete", 1, kRetypeBox, 0},
    {"RetypeRename", Part::kSchema, "CALL\tField.Name", 1, kRetypeBox, 0},
    {"RetypeNewField", Part::kSchema, "CALL\tFields.Append", 2, kRetypeBox, 0},
    {"RetypeCopy", Part::kSchema, "EXEC\t128", 1, kRetypeBox, 0},
    {"RetypeDeleteTemporary", Part::kSchema, "CALL\tFields.Delete", 1, kRetypeBox, 0},
    {"RetypeRebuildRelation", Part::kSchema, "CALL\tRelations.Append", 1, kRetypeBox, 0},
    {"RetypeRebuildIndex", Part::kSchema, "CALL\tIndexes.Append", 1, kRetypeBox, 2},
    {"RetypeLastCopy", Part::kSchema, "EXEC\t128", -1, kRetypeBox, 3},
    {"RetypeLastCommit", Part::kSchema, "CALL\tCommitTrans", -1, kRetypeBox, 3},

    {"RegistrationFirstOpen", Part::kRegistration, "OPEN", 1, kDriverBox},
    {"RegistrationFirstUpdate", Part::kRegistration, "UPDATE", 1, kDriverBox},
    {"RegistrationSet", Part::kRegistration, "SET", 0, kDriverBox},
    {"RegistrationLastUpdate", Part::kRegistration, "UPDATE", -1, kDriverBox},

    {"CourseFirstOpen", Part::kCourseChanges, "OPEN", 1, kStageBox},
    {"CourseFirstUpdate", Part::kCourseChanges, "UPDATE", 1, kStageBox},
    {"CourseSet", Part::kCourseChanges, "SET", 0, kStageBox},
    {"CourseFirstExecute", Part::kCourseChanges, "EXEC", 1, kStageBox},
    {"CourseMiddleUpdate", Part::kCourseChanges, "UPDATE", 0, kStageBox},
    {"CourseLastExecute", Part::kCourseChanges, "EXEC", -1, kStageBox},

    {"CorrectionFirst", Part::kCorrections, "EXEC", 1, kDriverBox},
    {"CorrectionExpiry", Part::kCorrections, "EXEC", 9, kDriverBox},
    {"CorrectionFumaDelete", Part::kCorrections, "EXEC", 18, kDriverBox},
    {"CorrectionFumaRecode", Part::kCorrections, "EXEC", 20, kDriverBox},
    {"CorrectionLast", Part::kCorrections, "EXEC", -1, kDriverBox},

    {"Training1FirstOpen", Part::kTraining1, "OPEN", 1, kStageBox},
    {"Training1FirstUpdate", Part::kTraining1, "UPDATE", 1, kStageBox},
    {"Training1AddNew", Part::kTraining1, "ADDNEW", 0, kStageBox},
    {"Training1MiddleOpen", Part::kTraining1, "OPEN", 0, kStageBox},
    {"Training1FirstExecute", Part::kTraining1, "EXEC", 1, kStageBox},
    {"Training1LastUpdate", Part::kTraining1, "UPDATE", -1, kStageBox},
    {"Training2FirstUpdate", Part::kTraining2, "UPDATE", 1, kStageBox},
    {"Training2FirstExecute", Part::kTraining2, "EXEC", 1, kStageBox},
    {"Training2LastUpdate", Part::kTraining2, "UPDATE", -1, kStageBox},

    {"Experience1FirstUpdate", Part::kExperience1, "UPDATE", 1, kStageBox},
    {"Experience1FirstExecute", Part::kExperience1, "EXEC", 1, kStageBox},
    {"Experience1Set", Part::kExperience1, "SET", 0, kStageBox},
    {"Experience1LastUpdate", Part::kExperience1, "UPDATE", -1, kStageBox},
    {"Experience2FirstUpdate", Part::kExperience2, "UPDATE", 1, kStageBox},
    // The second experience stage runs no statement.
    {"Experience2Set", Part::kExperience2, "SET", 0, kStageBox},
    {"Experience2LastUpdate", Part::kExperience2, "UPDATE", -1, kStageBox},
    {"Experience3FirstUpdate", Part::kExperience3, "UPDATE", 1, kStageBox},
    {"Experience3FirstExecute", Part::kExperience3, "EXEC", 1, kStageBox},
    {"Experience3LastUpdate", Part::kExperience3, "UPDATE", -1, kStageBox},

    {"CurrencyFirstUpdate", Part::kCurrency, "UPDATE", 1, kStageBox},
    {"CurrencyFirstExecute", Part::kCurrency, "EXEC", 1, kStageBox},
    {"CurrencyMiddleSet", Part::kCurrency, "SET", 0, kStageBox},
    {"CurrencyLastExecute", Part::kCurrency, "EXEC", -1, kStageBox},

    {"StampReopen", Part::kStamp, "CALL\tOpenDatabase", 1, kDriverBox},
    {"StampOpenVersionTable", Part::kStamp, "OPEN", 1, kDriverBox},
    {"StampEdit", Part::kStamp, "EDIT", 1, kDriverBox},
    {"StampVersion", Part::kStamp, "SET", 1, kDriverBox},
    {"StampNote", Part::kStamp, "SET", 2, kDriverBox},
    {"StampUpdate", Part::kStamp, "UPDATE", 1, kDriverBox},
};

// What an update with one failing call showed, and the calls it made (CALL
// lines left out, ERR lines in).
struct FaultedUpdate {
  std::vector<ui::ShownBox> shown;
  std::vector<std::string> lines;
};

// Runs the update on `mdb` with call k failing.
FaultedUpdate RunWithFault(const std::string& mdb, int k) {
  FaultInjector faults;
  faults.FailNth([](const dao::Call&) { return true; }, k, kInjected);
  ui::ScriptedMessageBoxes boxes;
  RunDatabaseUpdate(mdb);
  return {boxes.boxes(), faults.lines()};
}

// The stage that runs a part, if it is one.
const StageUnderTest* StageInPart(Part part) {
  const std::pair<Part, const char*> stage_parts[] = {
      {Part::kCourseChanges, "CourseChanges"}, {Part::kTraining1, "Training1"},
      {Part::kTraining2, "Training2"},         {Part::kExperience1, "Experience1"},
      {Part::kExperience2, "Experience2"},     {Part::kExperience3, "Experience3"},
      {Part::kCurrency, "Currency"},
  };
  for (const auto& [stage_part, name] : stage_parts) {
    if (stage_part == part) return &StageNamed(name);
  }
  return nullptr;
}

// The four columns the schema phase retypes, with their sizes as text
// before and after.
struct RetypedColumn {
  const char* table;
  const char* field;
  long old_size, new_size;
};
const RetypedColumn kRetypedColumns[] = {
    {"tbl_kav_persons", "p_primary_jet_port", 3, 4},
    {"tbl_kav_persons", "p_secondary_jet_port", 3, 4},
    {"tbl_kav_jet_ports", "jet_port_abbrev", 3, 4},
    {"tbl_kav_training_scheduled", "ts_comment", 100, 255},
};

// The schema-phase columns of `mdb`: each retyped column as "table.field
// type size", and whether tbl_kav_courses holds course_refresher_period.
std::vector<std::string> SchemaColumns(const std::string& mdb) {
  dao::Database db = OpenForCheck(mdb);
  std::vector<std::string> out;
  for (const RetypedColumn& c : kRetypedColumns) {
    dao::Field f = db.TableDefs().Item(c.table).Fields().Item(c.field);
    out.push_back(std::string(c.table) + "." + c.field + " " + std::to_string(f.Type()) + " " +
                  std::to_string(f.Size()));
  }
  dao::FieldCollection courses = db.TableDefs().Item("tbl_kav_courses").Fields();
  bool appended = false;
  for (int i = 0; i < courses.Count(); ++i) {
    appended = appended || courses.Item(i).Name() == "course_refresher_period";
  }
  out.push_back(appended ? "course_refresher_period appended" : "no course_refresher_period");
  db.Close();
  return out;
}

class InjectedFaultTest : public ::testing::TestWithParam<FaultPoint> {};

TEST_P(InjectedFaultTest, FailsThenRerunEndsWhereACleanRunEnds) {
  const FaultPoint& point = GetParam();
  const int k = CallNumber(point);
  ASSERT_GT(k, 0);
  ASSERT_FALSE(Clean().ignored_error[k - 1]) << "call " << k << " is a look-up";
  SCOPED_TRACE("call " + std::to_string(k) + ": " + Clean().calls[k - 1]);

  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(kPersons));
  const FaultedUpdate run = RunWithFault(mdb, k);
  const std::vector<ui::ShownBox>& shown = run.shown;
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[shown.size() - 2], FailureBox());
  EXPECT_THAT(shown.back().prompt, StartsWith(point.second_box));
  EXPECT_EQ(shown.back().style, ui::vbOKOnly);
  if (point.second_box == kStageBox) {
    EXPECT_EQ(shown.back().prompt, kStageBox);
  }
  EXPECT_THAT(Prompts(shown), Not(Contains(kCompleted)));
  std::string all;
  for (const std::string& prompt : Prompts(shown)) all += prompt + "\n";
  EXPECT_THAT(all, HasSubstr("Injected fault"));
  EXPECT_EQ(Version(mdb), "v4.0");

  if (const StageUnderTest* stage = StageInPart(point.part)) {
    // The stage shows the error first, under the wait cursor, and every box
    // before the driver's two is its own: a stage that goes on may show
    // more.
    EXPECT_EQ(shown.front(),
              (ui::ShownBox{std::string(" ") + std::to_string(kInjected) + "  :  Injected fault",
                            ui::vbOKOnly, stage->title, ui::vbHourglass}));
    for (size_t i = 0; i + 2 < shown.size(); ++i) EXPECT_EQ(shown[i].title, stage->title);
    // No later part made a call: a stage that leaves ends at the fault, one
    // that goes on with its last step.
    if (stage->after_report == stages::Resume::kLeaveStage) {
      EXPECT_EQ(run.lines.back(), "ERR\t" + std::to_string(kInjected));
    } else {
      std::vector<std::string> calls;
      for (const std::string& line : run.lines) {
        if (!line.starts_with("ERR\t")) calls.push_back(line);
      }
      const int last = static_cast<int>(stage->steps().size());
      const std::vector<std::string> last_step = TraceOfSteps(stage->steps(), last, last);
      ASSERT_GE(calls.size(), last_step.size());
      EXPECT_EQ(std::vector<std::string>(calls.end() - last_step.size(), calls.end()), last_step);
    }
  }
  if (point.retyped >= 0) {
    // The failed retyping and the later ones leave their columns as they
    // were; the appended column stays.
    std::vector<std::string> expected;
    for (int i = 0; i < 4; ++i) {
      const RetypedColumn& c = kRetypedColumns[i];
      expected.push_back(std::string(c.table) + "." + c.field + " " + std::to_string(dao::dbText) +
                         " " + std::to_string(i < point.retyped ? c.new_size : c.old_size));
    }
    expected.push_back("course_refresher_period appended");
    EXPECT_EQ(SchemaColumns(mdb), expected);
  }

  EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
  EXPECT_EQ(Version(mdb), "v5.0");
  EXPECT_EQ(DumpDifference(Clean().dump, DumpDatabase(mdb)), "");
}

INSTANTIATE_TEST_SUITE_P(EveryPart, InjectedFaultTest, ::testing::ValuesIn(kFaultPoints),
                         [](const ::testing::TestParamInfo<FaultPoint>& point) {
                           return std::string(point.param.name);
                         });

// Faults after the version stamp's update: the run reports a failure, but
// "v5.0" is already stored, so a second run refuses the database as
// updated, and what the first run left is exactly a clean run's content.
TEST(FaultAfterStampTest, RerunSaysAlreadyUpdatedAndContentIsComplete) {
  const Range after = RangeOf(Part::kAfterStamp);
  ASSERT_LE(after.first, after.last);
  for (int k = after.first; k <= after.last; ++k) {
    SCOPED_TRACE("call " + std::to_string(k) + ": " + Clean().calls[k - 1]);
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(kPersons));
    const std::vector<ui::ShownBox> shown = RunWithFault(mdb, k).shown;
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], FailureBox());
    EXPECT_EQ(shown[1].prompt, kDriverBox);
    EXPECT_EQ(Version(mdb), "v5.0");
    EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kAlreadyUpdated));
    EXPECT_EQ(DumpDifference(Clean().dump, DumpDatabase(mdb)), "");
  }
}

// The training stages go on with the next operation after an error.  When
// a field assignment of a new row fails, the row is still stored, without
// that field; the stage then reports its failure.  A second run meets the
// stored row's key, skips the row as a duplicate and so never writes the
// missing field: by the rules the rerun completes with that one row short
// of its field, and differs from a clean run there.
TEST(TrainingFieldFaultTest, RowStoredWithoutTheFieldStaysSoAfterRerun) {
  const Range training = RangeOf(Part::kTraining1);
  // The first row's last assignment: jpt_standard ("NATIONAL"), not a key.
  const int k = FirstFrom(training.first, "UPDATE") - 1;
  ASSERT_THAT(Clean().calls[k - 1], StartsWith("SET\t5\tT\t"));

  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(kPersons));
  const std::vector<ui::ShownBox> shown = RunWithFault(mdb, k).shown;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[0], (ui::ShownBox{" 3999  :  Injected fault", ui::vbOKOnly,
                                    "UpdateMDB_Jobs_Training", ui::vbHourglass}));
  EXPECT_EQ(shown[shown.size() - 2], FailureBox());
  EXPECT_EQ(shown.back().prompt, kStageBox);
  EXPECT_EQ(Version(mdb), "v4.0");

  EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
  // The first training row is RX FEMO's RX-310 prerequisite.
  const std::string diff = DumpDifference(Clean().dump, DumpDatabase(mdb));
  EXPECT_EQ(diff,
            "+ row tbl_kav_jobs_prereq_training RX|FEMO|RX|RX-310|ST|\n"
            "- row tbl_kav_jobs_prereq_training RX|FEMO|RX|RX-310|ST|NATIONAL\n");
}

// ---------------------------------------------------------------------------
// A killed process.

// In a child process that failed to start `program`: says so on its
// standard output, where the test reads it, and ends with status 127.
[[noreturn]] void ExecFailed(const char* program) {
  const std::string text =
      std::string("<cannot run ") + program + ": " + std::strerror(errno) + ">\n";
  (void)!write(STDOUT_FILENO, text.data(), text.size());
  _exit(127);
}

// Runs the headless runner with --trace on `mdb` in a child on a pseudo
// terminal (so its output is line-buffered and it cannot run far ahead of
// the reader) and kills it with SIGKILL after its `lines`-th output line.
// Returns an empty text when the child died of that signal, else what
// happened and the end of the child's output.
std::string RunAndKillAfter(const std::string& mdb, size_t lines) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return "<no pseudo terminal>";
  if (pid == 0) {
    execl(KAV_RUN_UPDATE, KAV_RUN_UPDATE, "--trace", mdb.c_str(), static_cast<char*>(nullptr));
    ExecFailed(KAV_RUN_UPDATE);
  }
  size_t seen = 0;
  char buffer[4096];
  bool killed = false;
  std::string output;
  while (!killed) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child closed its terminal: it ended
    output.append(buffer, static_cast<size_t>(n));
    for (ssize_t i = 0; i < n && !killed; ++i) {
      if (buffer[i] == '\n' && ++seen == lines) {
        kill(pid, SIGKILL);
        killed = true;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  close(master);
  if (killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return {};
  return "<exit status " + std::to_string(status) + " after " + std::to_string(seen) + " lines> " +
         output.substr(output.size() - std::min<size_t>(output.size(), 500));
}

class KilledProcessTest : public ::testing::TestWithParam<int> {};

// The parameter is how far into the data phase the kill comes, in percent
// of its trace lines (from the first registration row to the last line of
// the last stage).
TEST_P(KilledProcessTest, FileStaysIntactAndRerunCompletes) {
  const std::vector<std::string>& lines = Clean().runner_lines;
  const std::vector<std::string> first_row = stages::TraceLines(update::RegistrationSteps());
  auto start = std::find(lines.begin(), lines.end(), first_row.front());
  ASSERT_NE(start, lines.end());
  auto end = std::find(start, lines.end(), "CALL\tOpenDatabase");
  ASSERT_NE(end, lines.end());
  const size_t from = static_cast<size_t>(start - lines.begin()) + 1;
  const size_t to = static_cast<size_t>(end - lines.begin());
  const size_t at = from + (to - from) * static_cast<size_t>(GetParam()) / 100;

  TempDir dir;
  const std::string mdb = MakeSample(dir, Persons(kPersons));
  ASSERT_EQ(RunAndKillAfter(mdb, at), "") << "the runner was not killed at line " << at;
  // The killed run's log, which the rerun is to recover.
  const std::map<std::string, std::string> left = DatabaseFiles(mdb);
  ASSERT_TRUE(left.contains(mdb + "-wal")) << "the killed run left no log";
  EXPECT_EQ(IntegrityCheck(mdb), "ok");
  {
    // Read from a copy: opening the file itself would merge the log.
    TempDir look;
    EXPECT_EQ(Version(CopyWithLeftovers(mdb, look)), "v4.0");
  }
  ASSERT_EQ(DatabaseFilesDifference(left, DatabaseFiles(mdb)), "")
      << "the checks changed what the killed run left";

  EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
  EXPECT_EQ(DumpDifference(Clean().dump, DumpDatabase(mdb)), "");
}

INSTANTIATE_TEST_SUITE_P(DataPhase, KilledProcessTest, ::testing::Values(0, 5, 30, 60, 90),
                         [](const ::testing::TestParamInfo<int>& point) {
                           return "At" + std::to_string(point.param) + "Percent";
                         });

// A run of 3,000 persons killed after its log has been merged into the file
// once.  The user may then restore a backup over KAV.MDB and leave the log
// beside it: the run refuses the pair as damaged, leaves both exactly as
// they were, and names the log; removed, the backup updates.  Without the
// restore, one run in place recovers.
TEST(KilledProcessTest, RestoredBackupBesideTheLogOfAKilledRunIsLeftAsItWas) {
  const std::vector<std::string>& lines = Clean().runner_lines;
  const std::vector<std::string> first_row = stages::TraceLines(update::RegistrationSteps());
  auto start = std::find(lines.begin(), lines.end(), first_row.front());
  ASSERT_NE(start, lines.end());
  const size_t at = static_cast<size_t>(start - lines.begin()) + (lines.end() - start) * 3 / 10;
  const SampleOptions options = Persons(3000);
  TempDir clean_dir;
  const std::string clean = MakeSample(clean_dir, options);
  EXPECT_THAT(RunHere(clean), ::testing::ElementsAre(kCompleted));
  CloseDriverDatabase();
  const std::vector<std::string> clean_dump = DumpDatabase(clean);
  for (const bool restored : {true, false}) {
    SCOPED_TRACE(restored ? "backup restored" : "left as the kill left it");
    TempDir dir;
    const std::string mdb = MakeSample(dir, options);
    const std::string backup = FileBytes(mdb);
    ASSERT_EQ(RunAndKillAfter(mdb, at), "") << "the runner was not killed at line " << at;
    const std::string wal = mdb + "-wal";
    ASSERT_TRUE(std::filesystem::exists(wal));
    if (restored) {
      ASSERT_NE(FileBytes(mdb), backup) << "no log was merged before the kill";
      std::ofstream(mdb, std::ios::binary | std::ios::trunc) << backup;
      const std::string log = FileBytes(wal);
      const std::vector<std::string> prompts = RunHere(mdb);
      CloseDriverDatabase();
      ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
      EXPECT_EQ(prompts[0], kUpdateFailedText);
      EXPECT_THAT(prompts[1], AllOf(StartsWith(" 3343  :  "), HasSubstr("'" + wal + "'")));
      EXPECT_TRUE(FileBytes(mdb) == backup) << "the restored file changed";
      EXPECT_TRUE(FileBytes(wal) == log) << "the log changed";
      std::filesystem::remove(wal);
      std::filesystem::remove(mdb + "-shm");
    }
    EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
    CloseDriverDatabase();
    EXPECT_EQ(DumpDifference(clean_dump, DumpDatabase(mdb)), "");
  }
}

// What another program does to the file in a week of work, through plain
// SQLite in rollback-journal mode: persons added, names corrected.
void WorkOnTheFile(const std::string& mdb) {
  dao_test::Sqlite(mdb,
                   "INSERT INTO tbl_kav_persons (p_id, p_last_name, p_first_name, p_agency) "
                   "SELECT p_id + 100000, p_last_name, 'Added ' || p_id, p_agency "
                   "FROM tbl_kav_persons; "
                   "UPDATE tbl_kav_persons SET p_last_name = p_last_name || ' Jr' "
                   "WHERE p_id % 3 = 0");
}

// Another program's transaction on the file, cut off: its process ends
// without committing, after SQLite has written changed pages into the
// file, and leaves a hot journal beside it.
void CutOffTransaction(const std::string& mdb) {
  const pid_t pid = fork();
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(mdb.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const int rc = sqlite3_exec(db,
                                "PRAGMA cache_size = 10; BEGIN; "
                                "UPDATE tbl_kav_persons SET p_first_name = p_first_name || ' cut'",
                                nullptr, nullptr, nullptr);
    _exit(rc == SQLITE_OK ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The dump of a sample of `options` (worked on, where `worked`) that one
// clean run has updated.
std::vector<std::string> UpdatedDump(const SampleOptions& options, bool worked) {
  TempDir dir;
  const std::string mdb = MakeSample(dir, options);
  if (worked) WorkOnTheFile(mdb);
  EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
  CloseDriverDatabase();
  return DumpDatabase(mdb);
}

// A log or journal that a cut-off process left beside the file.  Where a
// backup made before a week of work has been restored over the file, the
// leftover does not belong to it: the run refuses the pair, names the
// leftover, and leaves both exactly as they were; removed, the backup
// updates.  Where nothing was restored, one run in place recovers and ends
// where a clean run ends.
TEST(LeftoverTest, OneThatDoesNotBelongIsRefusedAndOneThatDoesIsRecovered) {
  const std::vector<std::string>& lines = Clean().runner_lines;
  const size_t late = lines.size() * 9 / 10;
  struct Case {
    const char* name;
    size_t kill_after;  // trace lines; 0: another program's transaction cut off
    const char* leftover;
  };
  const Case cases[] = {
      {"run killed in the schema phase", 200, "-wal"},
      {"run killed late in the data phase", late, "-wal"},
      {"another program's transaction cut off", 0, "-journal"},
  };
  const SampleOptions options = Persons(2000);
  const std::vector<std::string> backup_dump = UpdatedDump(options, false);
  const std::vector<std::string> worked_dump = UpdatedDump(options, true);
  for (const Case& c : cases) {
    for (const bool restored : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (restored ? ", backup restored" : ", left as it was"));
      TempDir dir;
      const std::string mdb = MakeSample(dir, options);
      const std::string backup = FileBytes(mdb);
      WorkOnTheFile(mdb);
      if (c.kill_after > 0) {
        ASSERT_EQ(RunAndKillAfter(mdb, c.kill_after), "") << "not killed at " << c.kill_after;
      } else {
        CutOffTransaction(mdb);
      }
      const std::string leftover = mdb + c.leftover;
      const std::string left = FileBytes(leftover);
      ASSERT_FALSE(left.empty() || left[0] == '\0') << "nothing left beside the file";
      if (restored) {
        std::ofstream(mdb, std::ios::binary | std::ios::trunc) << backup;
        const std::vector<std::string> prompts = RunHere(mdb);
        CloseDriverDatabase();
        ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
        EXPECT_EQ(prompts[0], kUpdateFailedText);
        EXPECT_THAT(prompts[1], AllOf(StartsWith(" 3343  :  "), HasSubstr("'" + leftover + "'")));
        EXPECT_TRUE(FileBytes(mdb) == backup) << "the restored file changed";
        EXPECT_TRUE(FileBytes(leftover) == left) << "the leftover changed";
        std::filesystem::remove(leftover);
        std::filesystem::remove(mdb + "-shm");
      }
      EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
      CloseDriverDatabase();
      EXPECT_EQ(IntegrityCheck(mdb), "ok");
      EXPECT_EQ(DumpDifference(restored ? backup_dump : worked_dump, DumpDatabase(mdb)), "");
    }
  }
}

// ---------------------------------------------------------------------------
// A locked database and a read-only database file.

// Holds a write transaction on a database file through a plain SQLite
// connection: in this process, or in a child process of its own.
class WriteLock {
 public:
  WriteLock(const std::string& path, const char* begin, bool other_process) {
    if (!other_process) {
      sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
      ok_ = sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
      return;
    }
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      sqlite3* db = nullptr;
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      const char answer = sqlite3_exec(db, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
      (void)!write(ready[1], &answer, 1);
      char c;
      (void)!read(release[0], &c, 1);  // until the parent closes its end
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char answer = 0;
    ok_ = read(ready[0], &answer, 1) == 1 && answer == 1;
    close(ready[0]);
  }
  ~WriteLock() { Release(); }
  bool ok() const { return ok_; }
  void Release() {
    if (db_ != nullptr) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db_);
      db_ = nullptr;
    }
    if (pid_ > 0) {
      close(release_);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  bool ok_ = false;
  sqlite3* db_ = nullptr;
  pid_t pid_ = -1;
  int release_ = -1;
};

TEST(LockedDatabaseTest, UpdateFailsClearlyAndLosesNothing) {
  struct Case {
    const char* name;
    const char* begin;
    bool other_process;
  };
  const Case cases[] = {
      {"connection in BEGIN IMMEDIATE", "BEGIN IMMEDIATE", false},
      {"connection in BEGIN EXCLUSIVE", "BEGIN EXCLUSIVE", false},
      {"other process in BEGIN EXCLUSIVE", "BEGIN EXCLUSIVE", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string mdb = MakeSample(dir, Persons(kPersons));
    const std::vector<std::string> before = DumpDatabase(mdb);
    WriteLock lock(mdb, c.begin, c.other_process);
    ASSERT_TRUE(lock.ok());
    {
      ui::ScriptedMessageBoxes boxes;
      RunDatabaseUpdate(mdb);
      ASSERT_EQ(boxes.boxes().size(), 2u) << ::testing::PrintToString(Prompts(boxes.boxes()));
      EXPECT_EQ(boxes.boxes()[0], FailureBox());
      EXPECT_THAT(boxes.boxes()[1].prompt, AllOf(StartsWith(" 3260  :  "), HasSubstr("locked")));
    }
    lock.Release();
    EXPECT_EQ(Version(mdb), "v4.0");
    EXPECT_EQ(DumpDifference(before, DumpDatabase(mdb)), "");
    EXPECT_THAT(RunHere(mdb), ::testing::ElementsAre(kCompleted));
    EXPECT_EQ(DumpDifference(Clean().dump, DumpDatabase(mdb)), "");
  }
}

// Copies `file` into `dir` with the permission bits `mode` and returns the
// copy's path.
std::string CopyInto(const TempDir& dir, const std::string& file, std::filesystem::perms mode) {
  const std::string copy = dir.File(std::filesystem::path(file).filename());
  std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, mode);
  return copy;
}

// This process's environment for a child that runs as another user, with
// each sanitizer's suppressions file copied into `dir`: the checkout that
// holds it may lie where that user cannot enter.
std::vector<std::string> EnvironmentFor(const TempDir& dir) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string var = *e;
    const size_t at = var.find("suppressions=");
    if (var.find("SAN_OPTIONS=") != std::string::npos && at != std::string::npos) {
      const size_t from = at + std::strlen("suppressions=");
      const size_t size =
          var.find(':', from) == std::string::npos ? std::string::npos : var.find(':', from) - from;
      const std::string file = var.substr(from, size);
      var.replace(from, file.size(), CopyInto(dir, file, std::filesystem::perms(0644)));
    }
    env.push_back(var);
  }
  return env;
}

// Runs the headless runner as the unprivileged user "nobody" and returns
// the prompts of the boxes it printed.  The runner runs from a copy in a
// folder of its own that every user may enter, so that the test does not
// depend on where the checkout or the temporary directory lie (a folder of
// mode 0700 under /root, or one made by mktemp -d).
std::vector<std::string> RunAsNobody(const std::string& mdb) {
  TempDir bin(DirectoryEveryUserReaches());
  std::filesystem::permissions(bin.path(), std::filesystem::perms(0755));
  const std::string runner = CopyInto(bin, KAV_RUN_UPDATE, std::filesystem::perms(0755));
  const std::vector<std::string> env = EnvironmentFor(bin);
  std::vector<char*> envp;
  for (const std::string& var : env) envp.push_back(const_cast<char*>(var.c_str()));
  envp.push_back(nullptr);
  char* const argv[] = {const_cast<char*>(runner.c_str()), const_cast<char*>(mdb.c_str()), nullptr};
  int out[2];
  if (pipe(out) != 0) return {"<no pipe>"};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    if (setgid(65534) != 0 || setuid(65534) != 0) ExecFailed("anything as nobody");
    execve(runner.c_str(), argv, envp.data());
    ExecFailed(runner.c_str());
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::string other;  // what the runner printed besides its boxes
  std::vector<std::string> prompts = BoxPrompts(text, &other);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != ExpectedExitStatus(prompts)) {
    prompts.push_back("<exit status " + std::to_string(status) + "> " + other);
  }
  return prompts;
}

// Makes the database file read-only (the directory stays writable: the
// engine keeps its journal beside the file), runs the update through `run`,
// and checks that it was refused with the engine's read-only error and left
// the file as it was, with nothing beside it; once writable again the
// update completes, run the same way.  With `wal`, the file comes in WAL
// mode, whose readers would make files beside it.
void ExpectReadOnlyRefused(const std::function<std::vector<std::string>(const std::string&)>& run,
                           bool wal = false) {
  TempDir dir(DirectoryEveryUserReaches());  // `run` may run as another user
  const std::string mdb = MakeSample(dir, Persons(kPersons));
  if (wal) dao_test::Sqlite(mdb, "PRAGMA journal_mode=WAL;");
  const std::vector<std::string> before = DumpDatabase(mdb);
  const std::set<std::string> names_before = Names(dir.path());
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  ASSERT_EQ(chmod(dir.File("KAV.mdw").c_str(), 0444), 0);
  ASSERT_EQ(chmod(mdb.c_str(), 0444), 0);
  const std::vector<std::string> prompts = run(mdb);
  CloseDriverDatabase();
  EXPECT_EQ(Names(dir.path()), names_before) << "files were left beside the database";
  ASSERT_EQ(chmod(mdb.c_str(), 0666), 0);
  ASSERT_EQ(prompts.size(), 2u) << ::testing::PrintToString(prompts);
  EXPECT_EQ(prompts[0], kUpdateFailedText);
  EXPECT_THAT(prompts[1], AllOf(StartsWith(" 3027  :  "), HasSubstr("read-only")));
  EXPECT_EQ(Version(mdb), "v4.0");
  EXPECT_EQ(DumpDifference(before, DumpDatabase(mdb)), "");
  EXPECT_THAT(run(mdb), ::testing::ElementsAre(kCompleted));
  CloseDriverDatabase();
  EXPECT_EQ(DumpDifference(Clean().dump, DumpDatabase(mdb)), "");
}

TEST(ReadOnlyDatabaseTest, UnprivilegedUserIsRefusedAndNothingChanges) {
  if (geteuid() != 0) {
    ExpectReadOnlyRefused(RunHere);
  } else {
    ExpectReadOnlyRefused(RunAsNobody);
  }
}

// The tests run as root, for whom the operating system ignores the
// permission bits; a file marked read-only must still not be changed.
TEST(ReadOnlyDatabaseTest, FileMarkedReadOnlyIsRefusedForTheTestUserToo) {
  ExpectReadOnlyRefused(RunHere);
  ExpectReadOnlyRefused(RunHere, /*wal=*/true);
}

}  // namespace
}  // namespace kav::testing
