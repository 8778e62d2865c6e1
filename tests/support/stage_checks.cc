#include "tests/support/stage_checks.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "platform/error.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "tests/support/harness.h"

namespace kav::testing {

const stages::RowStep* NumberedSteps::RowAt(int number) const {
  return std::get_if<stages::RowStep>(&At(number));
}

std::string NumberedSteps::TextOf(int number) const {
  const auto* sql = std::get_if<stages::SqlStep>(&At(number));
  return sql ? sql->text : "<row step>";
}

std::vector<std::string> NumberedSteps::Trace(int first, int last) const {
  return TraceOfSteps(all(), first, last);
}

std::vector<std::string> TraceOfSteps(const std::vector<stages::Step>& steps, int first, int last) {
  std::span<const stages::Step> all(steps);
  return stages::TraceLines(all.subspan(first - 1, last - first + 1));
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

OperationCounts CountOperations(std::span<const stages::Step> steps) {
  OperationCounts counts{};
  for (const stages::Operation& op : stages::ExpandOperations(steps)) {
    switch (op.kind) {
      case stages::OperationKind::kOpen:
        ++counts.open;
        break;
      case stages::OperationKind::kAddNew:
        ++counts.add_new;
        break;
      case stages::OperationKind::kSetField:
        ++counts.set_field;
        break;
      case stages::OperationKind::kUpdate:
        ++counts.update;
        break;
      case stages::OperationKind::kJoin:
        ++counts.join;
        break;
      case stages::OperationKind::kExecute:
        ++counts.execute;
        break;
    }
  }
  return counts;
}

void PrintTo(const OperationCounts& c, std::ostream* os) {
  *os << "{open " << c.open << ", add " << c.add_new << ", set " << c.set_field << ", update "
      << c.update << ", join " << c.join << ", execute " << c.execute << "}";
}

bool LineIsCall(const std::string& trace_line, const Fault& fault) {
  return trace_line.starts_with(fault.line);
}

std::vector<std::string> TraceWithFaults(const std::vector<stages::Step>& steps,
                                         const std::vector<Fault>& faults,
                                         stages::Resume after_report) {
  std::vector<int> seen(faults.size(), 0);
  std::vector<std::string> out;
  for (const std::string& line : stages::TraceLines(steps)) {
    out.push_back(line);
    for (size_t f = 0; f < faults.size(); ++f) {
      if (!LineIsCall(line, faults[f]) || ++seen[f] != faults[f].nth) continue;
      out.push_back("ERR\t" + std::to_string(faults[f].number));
      if (faults[f].number != dao::kErrDuplicateKey &&
          after_report == stages::Resume::kLeaveStage) {
        return out;
      }
    }
  }
  return out;
}

std::vector<Fault> DuplicatesAt(const std::vector<stages::Step>& steps,
                                const std::vector<int>& step_numbers) {
  std::vector<Fault> faults;
  for (int number : step_numbers) {
    const std::vector<std::string> through = TraceOfSteps(steps, 1, number);
    faults.push_back({"UPDATE",
                      static_cast<int>(std::count(through.begin(), through.end(), "UPDATE")),
                      dao::kErrDuplicateKey});
  }
  return faults;
}

FaultedRun RunWithFaults(const std::vector<Fault>& faults, const std::function<bool()>& run) {
  FaultInjector injector;
  for (const Fault& f : faults) {
    const std::string line = f.line;
    injector.FailNth([line](const dao::Call& call) { return TraceLine(call).starts_with(line); },
                     f.nth, f.number, f.description);
  }
  const bool failed = run();
  return {failed, injector.lines()};
}

std::vector<std::string> RowTrace(const std::string& table, const std::vector<std::string>& values,
                                  bool opens) {
  std::vector<std::string> lines;
  if (opens) lines.push_back("OPEN\t" + table);
  lines.push_back("ADDNEW");
  for (size_t i = 0; i < values.size(); ++i) {
    lines.push_back("SET\t" + std::to_string(i) + "\tT\t" + values[i]);
  }
  lines.push_back("UPDATE");
  return lines;
}

std::string Exec(const std::string& sql) { return "EXEC\t0\t" + sql; }

void PrintTo(const StageUnderTest& stage, std::ostream* os) { *os << stage.name; }

const std::vector<StageUnderTest>& SevenStages() {
  using stages::Resume;
  static const std::vector<StageUnderTest> stages = {
      // IS-100 under AR, the seventh course row, is in the sample.
      {"CourseChanges",
       UpdateMDB_CourseChanges,
       stages::CourseChangesSteps,
       "UpdateMDB_CourseChanges",
       Resume::kLeaveStage,
       {13}},
      // FIRB's RT-130 and L-280 rows come twice.
      {"Training1",
       UpdateMDB_Jobs_Training1,
       stages::Training1Steps,
       "UpdateMDB_Jobs_Training",
       Resume::kNextOperation,
       {97, 99}},
      // INVF's FI-210 row comes twice.
      {"Training2",
       UpdateMDB_Jobs_Training2,
       stages::Training2Steps,
       "UpdateMDB_Jobs_Training",
       Resume::kNextOperation,
       {71}},
      {"Experience1",
       UpdateMDB_Jobs_Experience1,
       stages::Experience1Steps,
       "UpdateMDB_Jobs_Experience",
       Resume::kLeaveStage,
       {}},
      {"Experience2",
       UpdateMDB_Jobs_Experience2,
       stages::Experience2Steps,
       "UpdateMDB_Jobs_Experience",
       Resume::kLeaveStage,
       {}},
      {"Experience3",
       UpdateMDB_Jobs_Experience3,
       stages::Experience3Steps,
       "UpdateMDB_Jobs_Experience",
       Resume::kLeaveStage,
       {}},
      {"Currency",
       UpdateMDB_Jobs_Currency,
       stages::CurrencySteps,
       "UpdateMDB_Jobs_Currency",
       Resume::kLeaveStage,
       {}},
  };
  return stages;
}

const StageUnderTest& StageNamed(const std::string& name) {
  for (const StageUnderTest& stage : SevenStages()) {
    if (stage.name == name) return stage;
  }
  throw std::invalid_argument("no stage " + name);
}

const StageUnderTest& StageOf(void (*procedure)(bool&)) {
  for (const StageUnderTest& stage : SevenStages()) {
    if (stage.procedure == procedure) return stage;
  }
  throw std::invalid_argument("not a stage procedure");
}

void CloseDriverDatabase() {
  if (!gdbUpdate.IsNothing()) gdbUpdate.Close();
  gdbUpdate = dao::Database();
  gwsUpdate = dao::Workspace();
}

bool RunWithFailedSet(void (*procedure)(bool&)) {
  bool bFailed = true;
  procedure(bFailed);
  return bFailed;
}

std::string RowText(const stages::RowStep& row, RowValues values) {
  std::string text;
  for (const auto& field : row.fields) {
    if (!text.empty()) text += "|";
    text += values == RowValues::kTextOnly ? field.value.AsText() : field.value.ToString();
  }
  return text;
}

std::vector<std::string> RowTexts(const std::vector<stages::Step>& steps, RowValues values) {
  std::vector<std::string> rows;
  for (const stages::Step& step : steps) {
    if (const auto* row = std::get_if<stages::RowStep>(&step)) {
      rows.push_back(RowText(*row, values));
    }
  }
  return rows;
}

std::vector<std::string> DistinctRowTexts(const std::vector<stages::Step>& steps) {
  const std::vector<std::string> all = RowTexts(steps);
  const std::set<std::string> rows(all.begin(), all.end());
  return {rows.begin(), rows.end()};
}

std::vector<std::string> SplitRow(const std::string& row) {
  std::vector<std::string> values;
  size_t start = 0;
  for (size_t bar; (bar = row.find('|', start)) != std::string::npos; start = bar + 1) {
    values.push_back(row.substr(start, bar - start));
  }
  values.push_back(row.substr(start));
  return values;
}

void AddTableRow(dao::Database& db, const std::string& table, const std::string& row,
                 int number_column) {
  const std::vector<std::string> values = SplitRow(row);
  dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
  rs.AddNew();
  for (int i = 0; i < static_cast<int>(values.size()); ++i) {
    if (i == number_column) {
      rs.Fields(i).SetValue(dao::Value(static_cast<int16_t>(std::stoi(values[i]))));
    } else {
      rs.Fields(i).SetValue(values[i]);
    }
  }
  rs.Update();
}

std::string DatabaseVersion(const std::string& mdb) {
  dao::Database db = OpenForCheck(mdb);
  std::vector<std::string> rows = Rows(db,
                                       "SELECT tbl_kav_version_info.kav_database_version FROM "
                                       "tbl_kav_version_info;");
  db.Close();
  return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>";
}

std::string Shown(const ui::ShownBox& box) {
  return std::to_string(box.style) + "|" + box.title + "|" + box.prompt;
}

std::vector<std::string> Shown(const std::vector<ui::ShownBox>& boxes) {
  std::vector<std::string> out;
  for (const ui::ShownBox& box : boxes) out.push_back(Shown(box));
  return out;
}

std::string ShownErrorBox(const std::string& title, long number, const std::string& description) {
  return "0|" + title + "|" + kav::ErrorBoxText(number, description);
}

std::multiset<std::string> ExperienceRows(dao::Database& db) {
  const std::vector<std::string> rows =
      Rows(db,
           "SELECT tbl_kav_jobs_prereq_experiences.jpe_risk_type, "
           "tbl_kav_jobs_prereq_experiences.jpe_job_code, "
           "tbl_kav_jobs_prereq_experiences.jpe_p_risk_type, "
           "tbl_kav_jobs_prereq_experiences.jpe_p_job_code, "
           "tbl_kav_jobs_prereq_experiences.jpe_p_type, "
           "tbl_kav_jobs_prereq_experiences.jpe_exp_group_no, "
           "tbl_kav_jobs_prereq_experiences.jpe_standard "
           "FROM tbl_kav_jobs_prereq_experiences;");
  return {rows.begin(), rows.end()};
}

void AddExperienceRow(dao::Database& db, const std::string& row) {
  AddTableRow(db, "tbl_kav_jobs_prereq_experiences", row, 5);
}

std::vector<std::string> AllPrerequisites(dao::Database& db) {
  std::vector<std::string> rows = Rows(db,
                                       "SELECT tbl_kav_jobs_prereq_training.jpt_risk_type, "
                                       "tbl_kav_jobs_prereq_training.jpt_job_code, "
                                       "tbl_kav_jobs_prereq_training.jpt_p_risk_type, "
                                       "tbl_kav_jobs_prereq_training.jpt_p_course_code, "
                                       "tbl_kav_jobs_prereq_training.jpt_p_type, "
                                       "tbl_kav_jobs_prereq_training.jpt_standard FROM "
                                       "tbl_kav_jobs_prereq_training;");
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<std::string> PrerequisitesOf(dao::Database& db, const std::string& job) {
  std::vector<std::string> rows = Rows(db,
                                       "SELECT tbl_kav_jobs_prereq_training.jpt_p_course_code, "
                                       "tbl_kav_jobs_prereq_training.jpt_p_type FROM "
                                       "tbl_kav_jobs_prereq_training WHERE "
                                       "tbl_kav_jobs_prereq_training.jpt_job_code = '" +
                                           job + "';");
  std::sort(rows.begin(), rows.end());
  return rows;
}

void AddPrerequisite(const std::string& job, const std::string& course, const std::string& type) {
  dao::Recordset rs = gdbUpdate.OpenRecordset("tbl_kav_jobs_prereq_training", dao::dbOpenTable);
  rs.AddNew();
  const std::string values[] = {"WF", job, "WF", course, type, "NATIONAL"};
  for (int i = 0; i < 6; ++i) rs.Fields(i).SetValue(values[i]);
  rs.Update();
}

}  // namespace kav::testing
