// Test support shared by the stage suites: step texts and trace slices of a
// step list (steps counted from 1), trace lines written by hand, the
// expected trace of a stage run with injected faults, the seven stages as
// the shared suite sees them, the rows that meet a key the sample holds,
// closing the driver's database, the rows a stage writes and stored rows
// added for it to meet, the tables' rows read back, and boxes written as
// text.

#ifndef KAV_TESTS_SUPPORT_STAGE_CHECKS_H_
#define KAV_TESTS_SUPPORT_STAGE_CHECKS_H_

#include <functional>
#include <initializer_list>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/observer.h"
#include "platform/ui/scripted_message_boxes.h"
#include "stages/stage.h"

namespace kav::testing {

// A stage's step list with its steps counted from 1 in the order they run:
// step 1 is the first entry of the stage's step table.  It holds the
// function that gives the list, so it can stand as a constant before the
// list is built.
class NumberedSteps {
 public:
  using StepList = const std::vector<stages::Step>& (*)();
  constexpr explicit NumberedSteps(StepList steps) : steps_(steps) {}
  const std::vector<stages::Step>& all() const { return steps_(); }
  int size() const { return static_cast<int>(all().size()); }
  const stages::Step& At(int number) const { return all().at(number - 1); }
  // Step `number` if it is a row, else nullptr.
  const stages::RowStep* RowAt(int number) const;
  // The text of step `number`, or "<row step>" when it is a row.
  std::string TextOf(int number) const;
  // The trace lines of steps first..last.  Each step's lines depend on that
  // step alone, so this is that slice of the stage's trace.
  std::vector<std::string> Trace(int first, int last) const;

 private:
  StepList steps_;
};

// The trace lines of steps first..last (counted from 1) of `steps`.
std::vector<std::string> TraceOfSteps(const std::vector<stages::Step>& steps, int first, int last);

// The parts' lines one after another.
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts);

// How many single operations of each kind a step list expands to.
struct OperationCounts {
  int open, add_new, set_field, update, join, execute;
  bool operator==(const OperationCounts&) const = default;
};
OperationCounts CountOperations(std::span<const stages::Step> steps);
void PrintTo(const OperationCounts& counts, std::ostream* os);

// One fault to inject: the nth call whose trace line starts with `line` (a
// whole line, or the start of one such as "UPDATE", "SET\t" or "OPEN\t"),
// failing with `number`.
struct Fault {
  std::string line;
  int nth;
  long number;
  std::string description = "Injected fault";
};

// Whether `trace_line` is a line the fault counts.
bool LineIsCall(const std::string& trace_line, const Fault& fault);

// The clean trace of `steps` with the faults raised where they strike: each
// failing line is followed by its ERR line.  Unless the stage goes on after
// a reported error, the trace ends after the first fault that is not a
// duplicate key.
std::vector<std::string> TraceWithFaults(const std::vector<stages::Step>& steps,
                                         const std::vector<Fault>& faults,
                                         stages::Resume after_report = stages::Resume::kLeaveStage);

// The duplicate key that the row of each given step (counted from 1) meets
// at its update, as a fault of TraceWithFaults.
std::vector<Fault> DuplicatesAt(const std::vector<stages::Step>& steps,
                                const std::vector<int>& step_numbers);

// What a stage run under injected faults did.
struct FaultedRun {
  bool failed;
  std::vector<std::string> lines;  // every call, as the injector saw them
};
// Runs `run` (which returns bFailed) with each fault injected, and records
// the calls.
FaultedRun RunWithFaults(const std::vector<Fault>& faults, const std::function<bool()>& run);

// The trace lines of one row: its open unless it goes through the recordset
// of the row before, its add, one assignment per value as text at positions
// 0, 1, 2, ..., its update.
std::vector<std::string> RowTrace(const std::string& table, const std::vector<std::string>& values,
                                  bool opens = true);
// The trace line of an executed statement.
std::string Exec(const std::string& sql);

// A stage procedure as the suites over all seven stages see it, with its
// box title and its rule written here, apart from the product's.
struct StageUnderTest {
  const char* name;
  void (*procedure)(bool&);
  const std::vector<stages::Step>& (*steps)();
  const char* title;
  stages::Resume after_report;
  // The rows (RowText) that meet a key already stored when the stage runs
  // on the sample: what SampleDuplicates finds, written here by hand.
  std::vector<std::string> sample_duplicate_rows;
};
// Prints the stage's name, for the names of parameterised tests.
void PrintTo(const StageUnderTest& stage, std::ostream* os);
// The seven stages in the order the update runs them.
const std::vector<StageUnderTest>& SevenStages();
// One of them by its name: "CourseChanges", "Training1", ..., "Currency".
const StageUnderTest& StageNamed(const std::string& name);
// The one whose procedure is `procedure`.
const StageUnderTest& StageOf(void (*procedure)(bool&));

// Appends course_refresher_period to tbl_kav_courses of `db`, as the schema
// phase does before the first stage runs.
void AppendRefresherPeriod(dao::Database& db);

// The steps (counted from 1) whose row meets a key already stored when its
// update runs, on the sample as the driver leaves it before its first stage.
// Found apart from the stage's procedure and error rule: the steps run one
// by one on a sample of their own, and before each row its table's stored
// keys are read, with no observer hearing of it.  Found once per list.
const std::vector<int>& SampleDuplicates(const std::vector<stages::Step>& steps);

// Closes gdbUpdate if it is open and drops gdbUpdate and gwsUpdate, leaving
// the driver's globals as they are before it opens the database.
void CloseDriverDatabase();

// Runs a stage procedure with bFailed set beforehand, which the stage must
// clear; returns bFailed.
bool RunWithFailedSet(void (*procedure)(bool&));

// How RowText writes a field value.
enum class RowValues {
  kTextOnly,  // Value::AsText: every value must be text (else it throws)
  kAnyType,   // Value::ToString: numbers as digits, Null as ""
};

// A row step's field values joined by '|', as Rows shows the stored row.
std::string RowText(const stages::RowStep& row, RowValues values = RowValues::kTextOnly);
// RowText of every row step of `steps`, in step order, repeats kept.
std::vector<std::string> RowTexts(const std::vector<stages::Step>& steps,
                                  RowValues values = RowValues::kTextOnly);

// The distinct RowTexts of `steps`, sorted.
std::vector<std::string> DistinctRowTexts(const std::vector<stages::Step>& steps);

// The values of a "a|b|c" row.
std::vector<std::string> SplitRow(const std::string& row);

// Adds a row "a|b|c" to `table` through `db`, field by field in order: each
// value as text, except the field at `number_column` (if any), which goes in
// as a 16-bit number.
void AddTableRow(dao::Database& db, const std::string& table, const std::string& row,
                 int number_column = -1);

// The database version the check workspace reads from `mdb`: the one row's
// value, or "<n rows>" when there is not exactly one.
std::string DatabaseVersion(const std::string& mdb);

// A box as "style|title|prompt", the parts a stage decides.
std::string Shown(const ui::ShownBox& box);
std::vector<std::string> Shown(const std::vector<ui::ShownBox>& boxes);
// Shown of the box a stage titled `title` shows for an error.
std::string ShownErrorBox(const std::string& title, long number, const std::string& description);

// The prerequisite-experience table (tbl_kav_jobs_prereq_experiences):
// every row, "risk|job|p_risk|p_job|type|group|standard".
std::multiset<std::string> ExperienceRows(dao::Database& db);
// Adds a row "risk|job|p_risk|p_job|type|group|standard" through `db`, the
// group number as a number.
void AddExperienceRow(dao::Database& db, const std::string& row);

// The currency table (tbl_kav_jobs_currency): every row,
// "risk|job|c_risk|c_job|standard".
std::multiset<std::string> CurrencyRows(dao::Database& db);
// The thirteen rows the currency stage inserts and its list deletions
// remove again.
const std::set<std::string>& CurrencyRowsRemovedAgain();
// The sample's currency table after the currency stage: the 73 rows of the
// stage that stay and the sample's own rows as the stage leaves them.
std::multiset<std::string> CurrencyTableAfterStage();

// The prerequisite-training table (tbl_kav_jobs_prereq_training):
// every row, "risk|job|risk|course|type|standard", sorted.
std::vector<std::string> AllPrerequisites(dao::Database& db);
// A position's rows as "course|type", sorted.
std::vector<std::string> PrerequisitesOf(dao::Database& db, const std::string& job);
// Adds a "WF" row of position `job` through gdbUpdate.
void AddPrerequisite(const std::string& job, const std::string& course, const std::string& type);

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_STAGE_CHECKS_H_
