#include "tests/support/stage_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <span>
#include <stdexcept>
#include <utility>

#include "platform/error.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "tests/support/harness.h"
#include "update/driver_globals.h"

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
      // IS-100 under AR is in the sample.
      {"CourseChanges",
       UpdateMDB_CourseChanges,
       stages::CourseChangesSteps,
       "UpdateMDB_CourseChanges",
       Resume::kLeaveStage,
       {"AR|IS-100|Introduction to ICS|4|NATIONAL|CLASSROOM|1/1/2006"}},
      // FIRB's RT-130 and L-280 rows come twice.
      {"Training1",
       UpdateMDB_Jobs_Training1,
       stages::Training1Steps,
       "UpdateMDB_Jobs_Training",
       Resume::kNextOperation,
       {"WF|FIRB|WF|RT-130|RT|NATIONAL", "WF|FIRB|WF|L-280|ST|NATIONAL"}},
      // INVF's FI-210 row comes twice.
      {"Training2",
       UpdateMDB_Jobs_Training2,
       stages::Training2Steps,
       "UpdateMDB_Jobs_Training",
       Resume::kNextOperation,
       {"WF|INVF|WF|FI-210|RT|NATIONAL"}},
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

void AppendRefresherPeriod(dao::Database& db) {
  dao::TableDef td = db.TableDefs().Item("tbl_kav_courses");
  td.Fields().Append(td.CreateField("course_refresher_period", dao::dbText, 3));
}

namespace {

// A field of a table's primary key: its position among the table's fields
// and its type.
struct KeyField {
  int position;
  int type;
};

std::vector<KeyField> PrimaryKeyFields(dao::Database& db, const std::string& table) {
  const dao::TableDef td = db.TableDefs().Item(table);
  std::vector<KeyField> out;
  for (int i = 0; i < td.Indexes().Count(); ++i) {
    const dao::Index index = td.Indexes().Item(i);
    if (!index.Primary()) continue;
    for (int k = 0; k < index.Fields().Count(); ++k) {
      const std::string name = index.Fields().Item(k).Name();
      for (int f = 0; f < td.Fields().Count(); ++f) {
        if (td.Fields().Item(f).Name() == name) out.push_back({f, td.Fields().Item(f).Type()});
      }
    }
  }
  return out;
}

// A key as the unique index compares it: each value converted to its
// field's type, text folded to capitals.
using Key = std::vector<std::string>;

std::string KeyPart(const dao::Value& value, int type) {
  if (value.IsNull()) return "<null>";
  std::string text = dao::ConvertToFieldType(value, type).ToString();
  if (type == dao::dbText) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

Key KeyOfRow(const stages::RowStep& row, const std::vector<KeyField>& key_fields) {
  Key key;
  for (const KeyField& k : key_fields) {
    dao::Value value;
    for (const stages::FieldValue& field : row.fields) {
      if (field.position == k.position) value = field.value;
    }
    key.push_back(KeyPart(value, k.type));
  }
  return key;
}

std::set<Key> StoredKeys(dao::Database& db, const std::string& table,
                         const std::vector<KeyField>& key_fields) {
  std::set<Key> keys;
  dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
  for (; !rs.IsEOF(); rs.MoveNext()) {
    Key key;
    for (const KeyField& k : key_fields)
      key.push_back(KeyPart(rs.Fields(k.position).GetValue(), k.type));
    keys.insert(key);
  }
  return keys;
}

// Sets the installed observer aside while it lives.
struct ObserverAside {
  ObserverAside() : previous(dao::SetCallObserver(nullptr)) {}
  ~ObserverAside() { dao::SetCallObserver(previous); }
  ObserverAside(const ObserverAside&) = delete;
  ObserverAside& operator=(const ObserverAside&) = delete;
  dao::CallObserver* previous;
};

// Runs `steps` one by one on a fresh sample of its own, going on after any
// error, and notes each row whose key is stored when the row comes.  No
// observer hears of it.
std::vector<int> FindSampleDuplicates(const std::vector<stages::Step>& steps) {
  const ObserverAside aside;
  dao::DBEngine& engine = dao::DBEngine::Instance();
  const std::string system_db = engine.SystemDB();
  TempDir dir;
  dao::Database db = OpenForCheck(MakeSample(dir));
  engine.SetSystemDB(system_db);
  AppendRefresherPeriod(db);
  std::vector<int> duplicates;
  {
    stages::StepLocals locals;
    bool failed = false;
    for (size_t i = 0; i < steps.size(); ++i) {
      if (const auto* row = std::get_if<stages::RowStep>(&steps[i])) {
        const std::vector<KeyField> key_fields = PrimaryKeyFields(db, row->table);
        if (StoredKeys(db, row->table, key_fields).contains(KeyOfRow(*row, key_fields))) {
          duplicates.push_back(static_cast<int>(i) + 1);
        }
      }
      stages::RunSteps(
          db, std::span(steps).subspan(i, 1), locals,
          [](const kav::Error&, bool&) { return stages::Resume::kNextOperation; }, failed);
    }
  }
  db.Close();
  return duplicates;
}

}  // namespace

const std::vector<int>& SampleDuplicates(const std::vector<stages::Step>& steps) {
  static std::map<const std::vector<stages::Step>*, std::vector<int>> found;
  auto at = found.find(&steps);
  if (at == found.end()) at = found.emplace(&steps, FindSampleDuplicates(steps)).first;
  return at->second;
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
  const std::vector<std::string> rows = VersionRows(mdb);
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

namespace {
// Rows of `sql` on `db`, in any order.
std::multiset<std::string> RowSet(dao::Database& db, const std::string& sql) {
  const std::vector<std::string> rows = Rows(db, sql);
  return {rows.begin(), rows.end()};
}
}  // namespace

std::multiset<std::string> ExperienceRows(dao::Database& db) {
  return RowSet(db,
                "SELECT tbl_kav_jobs_prereq_experiences.jpe_risk_type, "
                "tbl_kav_jobs_prereq_experiences.jpe_job_code, "
                "tbl_kav_jobs_prereq_experiences.jpe_p_risk_type, "
                "tbl_kav_jobs_prereq_experiences.jpe_p_job_code, "
                "tbl_kav_jobs_prereq_experiences.jpe_p_type, "
                "tbl_kav_jobs_prereq_experiences.jpe_exp_group_no, "
                "tbl_kav_jobs_prereq_experiences.jpe_standard "
                "FROM tbl_kav_jobs_prereq_experiences;");
}

void AddExperienceRow(dao::Database& db, const std::string& row) {
  AddTableRow(db, "tbl_kav_jobs_prereq_experiences", row, 5);
}

std::multiset<std::string> CurrencyRows(dao::Database& db) {
  return RowSet(db,
                "SELECT tbl_kav_jobs_currency.jc_risk_type, "
                "tbl_kav_jobs_currency.jc_job_code, tbl_kav_jobs_currency.jc_c_risk_type, "
                "tbl_kav_jobs_currency.jc_c_job_code, tbl_kav_jobs_currency.jc_standard "
                "FROM tbl_kav_jobs_currency;");
}

const std::set<std::string>& CurrencyRowsRemovedAgain() {
  static const std::set<std::string> rows = {
      "WF|ICT4|WF|SOFR|NATIONAL", "WF|PIOF|WF|PIO2|NATIONAL", "WF|SOF2|WF|SOFR|NATIONAL",
      "WF|SOFR|WF|ICT4|NATIONAL", "WF|SOFR|WF|STCR|NATIONAL", "WF|SOFR|WF|STDZ|NATIONAL",
      "WF|SOFR|WF|STEN|NATIONAL", "WF|SOFR|WF|STPL|NATIONAL", "WF|SOFR|WF|TFLD|NATIONAL",
      "WF|STCR|WF|SOFR|NATIONAL", "WF|STDZ|WF|SOFR|NATIONAL", "WF|STEN|WF|SOFR|NATIONAL",
      "WF|STPL|WF|SOFR|NATIONAL"};
  return rows;
}

std::multiset<std::string> CurrencyTableAfterStage() {
  std::multiset<std::string> rows;
  for (const std::string& row : RowTexts(stages::CurrencySteps())) {
    if (!CurrencyRowsRemovedAgain().count(row)) rows.insert(row);
  }
  // The sample's own rows.
  rows.insert({
      "WF|CRWB|WF|HELB|NATIONAL",  // was (CRWB, HEMG)
      "WF|CRWB|WF|HELM|NATIONAL",  // was (CRWB, HLCO)
      "WF|FFT1|WF|HELB|NATIONAL",  // was (FFT1, HEMG)
      "WF|ICT3|WF|ICT4|NATIONAL",  // named by no step
      "WF|FELB|WF|ICT4|NATIONAL",  // was (FELB, ICT3)
                                   // (RXI1, RXB2) goes with every row of RXI1.
  });
  return rows;
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
