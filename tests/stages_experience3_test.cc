// The third experience stage's steps as data: counts, the correction texts,
// the expected trace of its first, last and unusual steps, and the rules its
// rows keep, checked without a database.

#include <map>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dao/sql_parser.h"
#include "stages/stages.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::Exec;
using kav::testing::Join;
using kav::testing::NumberedSteps;
constexpr NumberedSteps kSteps(Experience3Steps);

// The trace of one experience row, written out in full.
std::vector<std::string> RowTrace(const std::string& risk, const std::string& job,
                                  const std::string& p_risk, const std::string& p_job,
                                  const std::string& type, const std::string& group) {
  return kav::testing::RowTrace("tbl_kav_jobs_prereq_experiences",
                                {risk, job, p_risk, p_job, type, group, "NATIONAL"});
}

// The eleven corrections as the records system stores them, copied by hand,
// with their step numbers.
const std::map<int, std::string>& Corrections() {
  static const std::map<int, std::string> texts = {
      {1,
       "UPDATE tbl_kav_jobs_prereq_experiences SET tbl_kav_jobs_prereq_experiences.jpe_p_job_code  = 'FFT2' WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'ICT5' AND tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'FFT1';"},
      {2,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code in ('IOF1','IOF2','IOF3','LOFR') and tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';"},
      {3,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'PIO2' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'PIOF';"},
      {9,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'LTAN' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 3;"},
      {10,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'LTAN' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'RXI1' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 2;"},
      {11,
       "UPDATE tbl_kav_jobs_prereq_experiences SET tbl_kav_jobs_prereq_experiences.jpe_p_job_code  = 'EMT' WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'MEDL' AND tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'EMTB';"},
      {12,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXB1' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'ICT3' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 1;"},
      {14,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXB2'and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'RXI2';"},
      {15,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXI1';"},
      {16,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXI2';"},
      {33,
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'TFLD' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'FIRB' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 3;"},
  };
  return texts;
}

// One row step's values, positions 0 to 6.
std::vector<std::string> ValuesOf(const RowStep& row) {
  std::vector<std::string> values;
  for (const FieldValue& f : row.fields) {
    values.push_back(f.value.kind() == dao::Value::Kind::kText ? f.value.AsText() : "<not text>");
  }
  return values;
}

TEST(Experience3Steps, CountsOfStepsOperationsAndKinds) {
  const std::vector<Step>& steps = kSteps.all();
  ASSERT_EQ(steps.size(), 59u);

  std::set<int> sql_steps;
  int rows = 0;
  for (int n = 1; n <= 59; ++n) {
    if (std::holds_alternative<RowStep>(kSteps.At(n))) {
      ++rows;
    } else {
      sql_steps.insert(n);
    }
  }
  EXPECT_EQ(rows, 48);
  EXPECT_EQ(sql_steps, (std::set<int>{1, 2, 3, 9, 10, 11, 12, 14, 15, 16, 33}));

  // Ten operations a row (open, add, seven fields, update), two a statement.
  std::vector<Operation> ops = ExpandOperations(steps);
  EXPECT_EQ(ops.size(), 48u * 10 + 11u * 2);
  EXPECT_EQ(kav::testing::CountOperations(steps),
            (kav::testing::OperationCounts{48, 48, 48 * 7, 48, 11, 11}));
  // The stage's last operation is the update of step 59.
  EXPECT_EQ(ops.back().kind, OperationKind::kUpdate);
  EXPECT_EQ(ops.back().step, &steps.back());

  // A join calls nothing: the trace has one line per other operation.
  EXPECT_EQ(TraceLines(steps).size(), 48u * 10 + 11u);
}

TEST(Experience3Steps, CorrectionsRunTheStoredTextsByteForByte) {
  for (const auto& [number, text] : Corrections()) {
    EXPECT_EQ(kSteps.TextOf(number), text) << "step " << number;
  }

  // The re-pointing has exactly the form of the first experience stage's
  // stored one (two blanks before the first two "=", "AND" in capitals).
  std::string heb2 =
      "UPDATE tbl_kav_jobs_prereq_experiences SET tbl_kav_jobs_prereq_experiences.jpe_p_job_code  = 'HELM' WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'HEB2' AND tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HEMG';";
  for (auto [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"'HELM'", "'FFT2'"}, {"'HEB2'", "'ICT5'"}, {"'HEMG'", "'FFT1'"}}) {
    heb2.replace(heb2.find(from), from.size(), to);
  }
  EXPECT_EQ(kSteps.TextOf(1), heb2);

  // Step 14 is the only text without a blank before its "and".
  for (const auto& [number, text] : Corrections()) {
    EXPECT_EQ(kSteps.TextOf(number).find("'and") != std::string::npos, number == 14)
        << "step " << number;
  }
}

TEST(Experience3Steps, TraceOfTheFirstLastAndUnusualSteps) {
  // Steps 1 to 4: the first re-pointing, the lower-case "in" list, the first
  // row of the stage.
  EXPECT_EQ(kSteps.Trace(1, 4), Join({{Exec(Corrections().at(1))},
                                      {Exec(Corrections().at(2))},
                                      {Exec(Corrections().at(3))},
                                      RowTrace("WF", "PIO1", "WF", "PIO1", "TRN", "1")}));

  // Steps 8 to 14: LTAN's single FIRB row with its group as digit text, the
  // deletions with bare group numbers, EMT, the one row of risk type RX and
  // the text without a blank before "and".
  EXPECT_EQ(
      kSteps.Trace(8, 14),
      Join(
          {RowTrace("WF", "LTAN", "WF", "FIRB", "JOB", "2"),
           {Exec(
               "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'LTAN' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 3;")},
           {Exec(
               "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'LTAN' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'RXI1' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 2;")},
           {Exec(
               "UPDATE tbl_kav_jobs_prereq_experiences SET tbl_kav_jobs_prereq_experiences.jpe_p_job_code  = 'EMT' WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'MEDL' AND tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'EMTB';")},
           {Exec(
               "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXB1' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'ICT3' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 1;")},
           RowTrace("RX", "RXB2", "WF", "FIRB", "JOB", "1"),
           {Exec(
               "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXB2'and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'RXI2';")}}));

  // Steps 16 and 17: the last whole-position deletion, then SITL's first
  // row with a two-digit group.
  EXPECT_EQ(
      kSteps.Trace(16, 17),
      Join(
          {{Exec(
               "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXI2';")},
           RowTrace("WF", "SITL", "WF", "SITL", "TRN", "12")}));

  // Steps 32 to 34: a correction between two runs of rows.
  EXPECT_EQ(
      kSteps.Trace(32, 34),
      Join(
          {RowTrace("WF", "SITL", "WF", "TRPB", "JOB", "15"),
           {Exec(
               "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'TFLD' and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'FIRB' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 3;")},
           RowTrace("WF", "TFLD", "WF", "TFLD", "TRN", "14")}));

  // Steps 57 to 59, the last of the stage.
  EXPECT_EQ(kSteps.Trace(57, 59), Join({RowTrace("WF", "IBA1", "WF", "IBA2", "JOB", "1"),
                                        RowTrace("WF", "IBA2", "WF", "IBA2", "TRN", "1"),
                                        RowTrace("WF", "SEMG", "WF", "SEMG", "TRN", "1")}));
}

TEST(Experience3Steps, RowsKeepTheLayoutOfTheTable) {
  for (int n = 1; n <= 59; ++n) {
    const auto* row = std::get_if<RowStep>(&kSteps.At(n));
    if (!row) continue;
    SCOPED_TRACE("step " + std::to_string(n));
    EXPECT_EQ(row->table, "tbl_kav_jobs_prereq_experiences");
    EXPECT_FALSE(row->through_previous_recordset);
    ASSERT_EQ(row->fields.size(), 7u);
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(row->fields[i].position, i);
      // Every value is text, the group number too; the engine converts it.
      EXPECT_EQ(row->fields[i].value.kind(), dao::Value::Kind::kText);
    }
    const std::vector<std::string> v = ValuesOf(*row);
    EXPECT_EQ(v[0], n == 13 ? "RX" : "WF");
    EXPECT_EQ(v[2], "WF");
    EXPECT_EQ(v[4], v[3] == v[1] ? "TRN" : "JOB");
    EXPECT_EQ(v[6], "NATIONAL");
    static const std::set<std::string> groups = {"1", "2", "12", "13", "14", "15"};
    EXPECT_TRUE(groups.count(v[5])) << v[5];
  }
}

TEST(Experience3Steps, GroupsAreWrittenWholeWithTheirTrainingRowFirst) {
  using Group = std::pair<std::string, std::string>;  // position, number
  std::vector<Group> order;                           // groups in the order they start
  std::map<Group, std::vector<std::string>> members;  // p_job per row
  std::map<Group, int> trn;
  std::set<std::tuple<std::string, std::string, std::string>> seen;
  int trn_rows = 0, job_rows = 0;
  Group last;
  for (const Step& step : kSteps.all()) {
    const auto* row = std::get_if<RowStep>(&step);
    if (!row) continue;
    const std::vector<std::string> v = ValuesOf(*row);
    const Group g{v[1], v[5]};
    if (members.count(g)) {
      EXPECT_EQ(g, last) << g.first << " group " << g.second << " is written in two runs";
    } else {
      order.push_back(g);
    }
    last = g;
    if (v[4] == "TRN") {
      ++trn_rows;
      ++trn[g];
      EXPECT_TRUE(members[g].empty()) << g.first << " group " << g.second << ": TRN row not first";
    } else {
      ++job_rows;
    }
    members[g].push_back(v[3]);
    EXPECT_TRUE(seen.insert({v[1], v[5], v[3]}).second)
        << v[1] << " " << v[5] << " " << v[3] << " written twice";
  }
  EXPECT_EQ(trn_rows, 21);
  EXPECT_EQ(job_rows, 27);

  // The 21 groups that get their TRN row here, each exactly one.
  const std::set<Group> with_trn = {
      {"PIO1", "1"},  {"PIO2", "1"},  {"PIOF", "1"}, {"HRSP", "1"},  {"GISS", "1"},  {"INVF", "1"},
      {"PETL", "1"},  {"PETM", "1"},  {"ACDP", "1"}, {"IADP", "1"},  {"IBA1", "1"},  {"IBA2", "1"},
      {"SEMG", "1"},  {"STPS", "1"},  {"STPS", "2"}, {"SITL", "12"}, {"SITL", "13"}, {"SITL", "14"},
      {"SITL", "15"}, {"TFLD", "14"}, {"TFLD", "15"}};
  std::set<Group> got_trn;
  for (const auto& [g, count] : trn) {
    EXPECT_EQ(count, 1) << g.first << " group " << g.second;
    got_trn.insert(g);
  }
  EXPECT_EQ(got_trn, with_trn);
  // The two groups that get a single JOB row and nothing else.
  for (const Group& g : order) {
    if (with_trn.count(g)) continue;
    EXPECT_TRUE((g == Group{"LTAN", "2"} || g == Group{"RXB2", "1"}))
        << g.first << " group " << g.second;
    EXPECT_EQ(members[g], std::vector<std::string>{"FIRB"});
  }
  EXPECT_EQ(order.size(), 23u);
}

// What a correction's conditions select among the stage's own rows: a row
// meets a condition when its value at the column equals one of the
// condition's literals (digit text against a bare number as a number).
bool Selects(const std::vector<dao::sql::Condition>& where, const std::vector<std::string>& row) {
  static const std::map<std::string, int> position = {
      {"jpe_risk_type", 0}, {"jpe_job_code", 1},     {"jpe_p_risk_type", 2}, {"jpe_p_job_code", 3},
      {"jpe_p_type", 4},    {"jpe_exp_group_no", 5}, {"jpe_standard", 6}};
  for (const dao::sql::Condition& c : where) {
    const std::string& value = row.at(position.at(c.column.column));
    bool any = false;
    for (const dao::sql::Literal& l : c.values) {
      any = any || (l.kind == dao::sql::Literal::Kind::kInteger ? value == std::to_string(l.integer)
                                                                : value == l.text);
    }
    if (!any) return false;
  }
  return true;
}

TEST(Experience3Steps, EveryTextParsesAndTouchesNoneOfTheStageRows) {
  std::vector<std::vector<std::string>> rows;
  for (const Step& step : kSteps.all()) {
    if (const auto* row = std::get_if<RowStep>(&step)) {
      rows.push_back(ValuesOf(*row));
    }
  }
  for (const auto& [number, text] : Corrections()) {
    SCOPED_TRACE("step " + std::to_string(number));
    dao::sql::Statement statement = dao::sql::Parse(kSteps.TextOf(number));
    std::vector<dao::sql::Condition> where;
    if (const auto* update = std::get_if<dao::sql::UpdateStatement>(&statement)) {
      EXPECT_EQ(update->table, "tbl_kav_jobs_prereq_experiences");
      ASSERT_EQ(update->assignments.size(), 1u);
      EXPECT_EQ(update->assignments[0].column.column, "jpe_p_job_code");
      where = update->where;
    } else {
      const auto& deletion = std::get<dao::sql::DeleteStatement>(statement);
      EXPECT_EQ(deletion.table, "tbl_kav_jobs_prereq_experiences");
      where = deletion.where;
    }
    ASSERT_FALSE(where.empty());
    for (const dao::sql::Condition& c : where) {
      EXPECT_EQ(c.column.table, "tbl_kav_jobs_prereq_experiences");
      // Group numbers stand bare, codes in quotes.
      for (const dao::sql::Literal& l : c.values) {
        EXPECT_EQ(l.kind, c.column.column == "jpe_exp_group_no" ? dao::sql::Literal::Kind::kInteger
                                                                : dao::sql::Literal::Kind::kText);
      }
    }
    for (const auto& row : rows) {
      EXPECT_FALSE(Selects(where, row)) << row[1] << " " << row[3] << " group " << row[5];
    }
  }
}

}  // namespace
}  // namespace kav::stages
