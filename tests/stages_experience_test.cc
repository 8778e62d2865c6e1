// The two experience stages' steps as data: counts, the order of rows and
// corrections, every row against the first stage's group table copied by
// hand and against the rule the second stage's groups follow, the correction
// texts, and the expected trace of the first, last and unusual steps,
// checked without a database.

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dao/sql_parser.h"
#include "stages/stages.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::Exec;
using kav::testing::Join;
using kav::testing::TraceOfSteps;
using Values = std::vector<std::string>;

constexpr const char* kTable = "tbl_kav_jobs_prereq_experiences";

// One line of a group table, copied by hand: the rows it stands for, the
// position, the group number and the members ("code type; code type").
struct GroupLine {
  int first_row, last_row;
  const char* job;
  int group;
  const char* members;
};

const std::vector<GroupLine> kExperience1Groups = {
    {1, 2, "ACDR", 2, "ACDR TRN; ACPC JOB"},
    {3, 4, "ACDR", 3, "ACDR TRN; ICT1 JOB"},
    {5, 6, "ACLC", 2, "ACLC TRN; LSC1 JOB"},
    {7, 8, "ACLC", 3, "ACLC TRN; PSC1 JOB"},
    {9, 10, "ACLC", 4, "ACLC TRN; OSC1 JOB"},
    {11, 12, "ACLC", 5, "ACLC TRN; FSC1 JOB"},
    {13, 14, "ACPC", 2, "ACPC TRN; LSC1 JOB"},
    {15, 16, "ACPC", 3, "ACPC TRN; PSC1 JOB"},
    {17, 18, "ACPC", 4, "ACPC TRN; OSC1 JOB"},
    {19, 20, "ACPC", 5, "ACPC TRN; FSC1 JOB"},
    {21, 22, "ATGS", 2, "ATGS TRN; ICT3 JOB"},
    {23, 26, "DIVS", 3, "DIVS TRN; ICT4 JOB; STCR JOB; STPL JOB"},
    {27, 30, "DIVS", 4, "DIVS TRN; ICT4 JOB; STCR JOB; STDZ JOB"},
    {31, 34, "DIVS", 5, "DIVS TRN; ICT4 JOB; STEN JOB; STPL JOB"},
    {35, 38, "DIVS", 6, "DIVS TRN; ICT4 JOB; STEN JOB; STDZ JOB"},
    {39, 42, "DIVS", 7, "DIVS TRN; ICT4 JOB; STCR JOB; STEN JOB"},
    {43, 44, "FOBS", 7, "FOBS TRN; HELB JOB"},
    {45, 46, "FUM1", 1, "FUM1 TRN; FUM2 JOB"},
    {47, 48, "FUM1", 2, "FUM1 TRN; RXB1 JOB"},
    {49, 50, "FUM1", 3, "FUM1 TRN; ICT2 JOB"},
    {51, 52, "FUM2", 1, "FUM2 TRN; RXB2 JOB"},
    {53, 54, "FUM2", 2, "FUM2 TRN; ICT3 JOB"},
    {55, 56, "HEB2", 2, "HEB2 TRN; HELB JOB"},
    {57, 57, "HELB", 1, "HELB TRN"},
    {58, 60, "HELM", 1, "HELM TRN; HECM JOB; CRWB JOB"},
    {61, 63, "HELM", 2, "HELM TRN; HECM JOB; ENGB JOB"},
    {64, 65, "HELM", 3, "HELM TRN; HELB JOB"},
    {66, 67, "HLCO", 2, "HLCO TRN; STCR JOB"},
    {68, 69, "HLCO", 3, "HLCO TRN; STEN JOB"},
    {70, 71, "HLCO", 4, "HLCO TRN; STDZ JOB"},
    {72, 73, "HLCO", 5, "HLCO TRN; STPL JOB"},
};

// The positions of risk type "RX"; every other position is "WF".
bool IsRescue(const std::string& code) { return code == "RXB1" || code == "RXB2"; }

// The rows a group table stands for, in insertion order.
std::vector<Values> ExpandGroupTable(const std::vector<GroupLine>& lines) {
  std::vector<Values> rows;
  for (const GroupLine& line : lines) {
    std::istringstream members(line.members);
    std::string member;
    int row = line.first_row;
    while (std::getline(members, member, ';')) {
      std::istringstream words(member);
      std::string p_job, p_type;
      words >> p_job >> p_type;
      EXPECT_EQ(static_cast<int>(rows.size()) + 1, row) << line.job;
      rows.push_back({"WF", line.job, IsRescue(p_job) ? "RX" : "WF", p_job, p_type,
                      std::to_string(line.group), "NATIONAL"});
      ++row;
    }
    EXPECT_EQ(row, line.last_row + 1) << line.job << " " << line.group;
  }
  return rows;
}

std::vector<const RowStep*> RowSteps(const std::vector<Step>& steps) {
  std::vector<const RowStep*> rows;
  for (const Step& step : steps) {
    if (const auto* row = std::get_if<RowStep>(&step)) rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> SqlTexts(const std::vector<Step>& steps) {
  std::vector<std::string> texts;
  for (const Step& step : steps) {
    if (const auto* sql = std::get_if<SqlStep>(&step)) {
      texts.push_back(sql->text);
    }
  }
  return texts;
}

// The values of a row step, checking that it writes positions 0 to 6 in
// order, each as text.
Values ValuesOf(const RowStep& row) {
  Values values;
  for (size_t i = 0; i < row.fields.size(); ++i) {
    EXPECT_EQ(row.fields[i].position, static_cast<int>(i));
    EXPECT_EQ(row.fields[i].value.kind(), dao::Value::Kind::kText);
    values.push_back(row.fields[i].value.ToString());
  }
  return values;
}

// The trace of one row, written out in full; `opens` false for a row that
// goes through the recordset of the row before.
std::vector<std::string> RowTrace(const Values& v, bool opens = true) {
  return kav::testing::RowTrace(kTable, v, opens);
}

// The five corrections of the first stage as the records system writes
// them, copied by hand.
const char* const kCorrection1 =
    "DELETE FROM tbl_kav_jobs_prereq_experiences WHERE "
    "tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'ABRO' AND "
    "tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HECM';";
const char* const kCorrection2 =
    "DELETE from tbl_kav_jobs_prereq_experiences WHERE "
    "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'HCWN' and "
    "tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';";
const char* const kCorrection3 =
    "UPDATE tbl_kav_jobs_prereq_experiences SET "
    "tbl_kav_jobs_prereq_experiences.jpe_p_job_code  = 'HELM' WHERE "
    "tbl_kav_jobs_prereq_experiences.jpe_job_code  = 'HEB2' AND "
    "tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HEMG';";
const char* const kCorrection4 =
    "DELETE from tbl_kav_jobs_prereq_experiences WHERE "
    "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'HEMG' and "
    "tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';";
const char* const kCorrection5 =
    "DELETE from tbl_kav_jobs_prereq_experiences WHERE "
    "tbl_kav_jobs_prereq_experiences.jpe_job_code = 'HLCO' AND "
    "tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HEMG' AND "
    "tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';";

TEST(Experience1Steps, CountsOrderAndOperations) {
  const std::vector<Step>& steps = Experience1Steps();
  ASSERT_EQ(steps.size(), 78u);

  // The corrections stand at steps 1, 56, 57, 61 and 70; the rows fill the
  // rest, and only rows 36 and 40 open nothing.
  std::vector<int> sql_steps, through_previous_rows;
  int row = 0;
  for (int n = 1; n <= 78; ++n) {
    if (const auto* r = std::get_if<RowStep>(&steps[n - 1])) {
      ++row;
      EXPECT_EQ(r->table, kTable) << "row " << row;
      if (r->through_previous_recordset) through_previous_rows.push_back(row);
    } else {
      sql_steps.push_back(n);
    }
  }
  EXPECT_EQ(row, 73);
  EXPECT_EQ(sql_steps, (std::vector<int>{1, 56, 57, 61, 70}));
  EXPECT_EQ(through_previous_rows, (std::vector<int>{36, 40}));

  std::vector<Operation> ops = ExpandOperations(steps);
  EXPECT_EQ(ops.size(), 738u);
  EXPECT_EQ(kav::testing::CountOperations(steps),
            (kav::testing::OperationCounts{71, 73, 73 * 7, 73, 5, 5}));
  // The first operation joins correction 1; the last updates row 73.
  EXPECT_EQ(ops.front().kind, OperationKind::kJoin);
  EXPECT_EQ(ops.back().kind, OperationKind::kUpdate);
  EXPECT_EQ(ops.back().step, &steps.back());
}

TEST(Experience2Steps, CountsAndOperations) {
  const std::vector<Step>& steps = Experience2Steps();
  ASSERT_EQ(steps.size(), 87u);
  for (const Step& step : steps) {
    const auto* row = std::get_if<RowStep>(&step);
    ASSERT_NE(row, nullptr) << "the stage runs no statement";
    EXPECT_EQ(row->table, kTable);
    EXPECT_FALSE(row->through_previous_recordset);
  }
  std::vector<Operation> ops = ExpandOperations(steps);
  EXPECT_EQ(ops.size(), 870u);
  EXPECT_EQ(kav::testing::CountOperations(steps),
            (kav::testing::OperationCounts{87, 87, 87 * 7, 87, 0, 0}));
}

// The second stage's rows by the rule its groups follow, written apart from
// the stage's own table: ICT3 group 29 + 8 f + 4 s + r names the f-th of
// CRWB and ENGB, the s-th of TRPB and HELB, ICT4 and the r-th of STCR, STEN,
// STDZ and STPL; group 45 names ENGB, FELB, ICT4 and STDZ; ICT4's group 5
// names HELB.  Each group's "JOB" rows come sorted by code, its "TRN" row
// last.
std::vector<Values> Experience2ByRule() {
  std::map<std::pair<std::string, int>, std::vector<std::string>> groups;
  const char* const first[] = {"CRWB", "ENGB"};
  const char* const second[] = {"TRPB", "HELB"};
  const char* const rotating[] = {"STCR", "STEN", "STDZ", "STPL"};
  for (int f = 0; f < 2; ++f) {
    for (int s = 0; s < 2; ++s) {
      for (int r = 0; r < 4; ++r) {
        groups[{"ICT3", 29 + 8 * f + 4 * s + r}] = {first[f], second[s], "ICT4", rotating[r]};
      }
    }
  }
  groups[{"ICT3", 45}] = {"STDZ", "ICT4", "FELB", "ENGB"};
  groups[{"ICT4", 5}] = {"HELB"};
  // ICT3's groups in ascending order, then ICT4's.
  std::vector<Values> rows;
  for (const auto& [key, members] : groups) {
    std::vector<std::string> sorted = members;
    std::sort(sorted.begin(), sorted.end());
    const auto& [job, group] = key;
    for (const std::string& member : sorted) {
      rows.push_back({"WF", job, "WF", member, "JOB", std::to_string(group), "NATIONAL"});
    }
    rows.push_back({"WF", job, "WF", job, "TRN", std::to_string(group), "NATIONAL"});
  }
  return rows;
}

TEST(ExperienceSteps, RowsMatchTheGroupTableAndTheRule) {
  struct Case {
    const char* stage;
    const std::vector<Step>& steps;
    std::vector<Values> expected;
  };
  const std::vector<Case> cases = {
      {"first", Experience1Steps(), ExpandGroupTable(kExperience1Groups)},
      {"second", Experience2Steps(), Experience2ByRule()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stage);
    std::vector<const RowStep*> rows = RowSteps(c.steps);
    ASSERT_EQ(rows.size(), c.expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(ValuesOf(*rows[i]), c.expected[i]) << "row " << i + 1;
    }
  }
  EXPECT_EQ(RowSteps(Experience1Steps()).size(), 73u);
  EXPECT_EQ(RowSteps(Experience2Steps()).size(), 87u);
}

// Rows written out value by value, independently of the group tables: the
// first and last rows of each stage, the rows through the recordset of the
// row before, the rows of risk type "RX", the group of one row alone, and
// the rows around the second stage's exceptional group.
TEST(ExperienceSteps, RowsWrittenOutInFull) {
  struct Case {
    const char* stage;
    int row;
    Values values;
  };
  const std::vector<Case> cases = {
      {"first", 1, {"WF", "ACDR", "WF", "ACDR", "TRN", "2", "NATIONAL"}},
      {"first", 2, {"WF", "ACDR", "WF", "ACPC", "JOB", "2", "NATIONAL"}},
      {"first", 35, {"WF", "DIVS", "WF", "DIVS", "TRN", "6", "NATIONAL"}},
      {"first", 36, {"WF", "DIVS", "WF", "ICT4", "JOB", "6", "NATIONAL"}},
      {"first", 40, {"WF", "DIVS", "WF", "ICT4", "JOB", "7", "NATIONAL"}},
      {"first", 44, {"WF", "FOBS", "WF", "HELB", "JOB", "7", "NATIONAL"}},
      {"first", 48, {"WF", "FUM1", "RX", "RXB1", "JOB", "2", "NATIONAL"}},
      {"first", 52, {"WF", "FUM2", "RX", "RXB2", "JOB", "1", "NATIONAL"}},
      {"first", 57, {"WF", "HELB", "WF", "HELB", "TRN", "1", "NATIONAL"}},
      {"first", 60, {"WF", "HELM", "WF", "CRWB", "JOB", "1", "NATIONAL"}},
      {"first", 73, {"WF", "HLCO", "WF", "STPL", "JOB", "5", "NATIONAL"}},
      {"second", 1, {"WF", "ICT3", "WF", "CRWB", "JOB", "29", "NATIONAL"}},
      {"second", 5, {"WF", "ICT3", "WF", "ICT3", "TRN", "29", "NATIONAL"}},
      {"second", 13, {"WF", "ICT3", "WF", "STDZ", "JOB", "31", "NATIONAL"}},
      {"second", 79, {"WF", "ICT3", "WF", "STPL", "JOB", "44", "NATIONAL"}},
      {"second", 82, {"WF", "ICT3", "WF", "FELB", "JOB", "45", "NATIONAL"}},
      {"second", 84, {"WF", "ICT3", "WF", "STDZ", "JOB", "45", "NATIONAL"}},
      {"second", 85, {"WF", "ICT3", "WF", "ICT3", "TRN", "45", "NATIONAL"}},
      {"second", 86, {"WF", "ICT4", "WF", "HELB", "JOB", "5", "NATIONAL"}},
      {"second", 87, {"WF", "ICT4", "WF", "ICT4", "TRN", "5", "NATIONAL"}},
  };
  for (const Case& c : cases) {
    const std::vector<Step>& steps =
        std::string(c.stage) == "first" ? Experience1Steps() : Experience2Steps();
    std::vector<const RowStep*> rows = RowSteps(steps);
    ASSERT_LE(c.row, static_cast<int>(rows.size()));
    EXPECT_EQ(ValuesOf(*rows[c.row - 1]), c.values) << c.stage << " stage, row " << c.row;
  }
}

// The shape of the groups: one "TRN" row per group, first in the first
// stage and last in the second; "TRN" exactly where the row names its own
// position; the second stage's "JOB" rows in alphabetical order; no member
// twice in a group and no group written by both stages.
TEST(ExperienceSteps, GroupsHaveTheirTrainingRowInPlace) {
  using GroupKey = std::pair<std::string, std::string>;  // job, group number
  std::map<GroupKey, std::string> stage_of_group;
  struct Case {
    const char* stage;
    const std::vector<Step>& steps;
    bool trn_first;
    size_t groups;
  };
  const std::vector<Case> cases = {
      {"first", Experience1Steps(), true, 31},
      {"second", Experience2Steps(), false, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stage);
    std::vector<std::vector<Values>> groups;
    for (const RowStep* row : RowSteps(c.steps)) {
      Values v = ValuesOf(*row);
      ASSERT_EQ(v.size(), 7u);
      EXPECT_EQ(v[4], v[1] == v[3] ? "TRN" : "JOB") << v[1] << " " << v[3];
      EXPECT_NE(v[5][0], '0');
      if (groups.empty() || groups.back()[0][1] != v[1] || groups.back()[0][5] != v[5]) {
        groups.emplace_back();
      }
      groups.back().push_back(v);
    }
    EXPECT_EQ(groups.size(), c.groups);
    for (const std::vector<Values>& group : groups) {
      const std::string& job = group[0][1];
      const std::string& number = group[0][5];
      // Each group is written in one run and only once.
      EXPECT_TRUE(stage_of_group.emplace(GroupKey(job, number), c.stage).second)
          << job << " group " << number << " comes back";
      int trn = 0;
      std::set<std::string> members;
      for (const Values& v : group) {
        trn += v[4] == "TRN";
        EXPECT_TRUE(members.insert(v[3]).second) << job << " " << number;
      }
      EXPECT_EQ(trn, 1) << job << " group " << number;
      const Values& trn_row = c.trn_first ? group.front() : group.back();
      EXPECT_EQ(trn_row[4], "TRN") << job << " group " << number;
      if (!c.trn_first) {
        for (size_t i = 1; i + 1 < group.size(); ++i) {
          EXPECT_LT(group[i - 1][3], group[i][3]) << job << " " << number;
        }
      }
    }
  }
}

TEST(Experience1Steps, CorrectionTextsAsStored) {
  EXPECT_EQ(SqlTexts(Experience1Steps()),
            (std::vector<std::string>{kCorrection1, kCorrection2, kCorrection3, kCorrection4,
                                      kCorrection5}));
}

TEST(Experience1Steps, TraceOfFirstLastAndUnusualSteps) {
  const std::vector<Step>& steps = Experience1Steps();
  struct Case {
    const char* what;
    int first, last;  // step numbers
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"correction 1, then row 1", 1, 2,
       Join({{Exec(kCorrection1)}, RowTrace({"WF", "ACDR", "WF", "ACDR", "TRN", "2", "NATIONAL"})})},
      {"rows 35 and 36: row 36 opens nothing", 36, 37,
       Join({RowTrace({"WF", "DIVS", "WF", "DIVS", "TRN", "6", "NATIONAL"}),
             RowTrace({"WF", "DIVS", "WF", "ICT4", "JOB", "6", "NATIONAL"}, false)})},
      {"rows 39 to 41: row 40 opens nothing", 40, 42,
       Join({RowTrace({"WF", "DIVS", "WF", "DIVS", "TRN", "7", "NATIONAL"}),
             RowTrace({"WF", "DIVS", "WF", "ICT4", "JOB", "7", "NATIONAL"}, false),
             RowTrace({"WF", "DIVS", "WF", "STCR", "JOB", "7", "NATIONAL"})})},
      {"row 48 of risk type RX", 49, 49,
       RowTrace({"WF", "FUM1", "RX", "RXB1", "JOB", "2", "NATIONAL"})},
      {"row 54, corrections 2 and 3, row 55", 55, 58,
       Join({RowTrace({"WF", "FUM2", "WF", "ICT3", "JOB", "2", "NATIONAL"}),
             {Exec(kCorrection2), Exec(kCorrection3)},
             RowTrace({"WF", "HEB2", "WF", "HEB2", "TRN", "2", "NATIONAL"})})},
      {"row 57 alone, correction 4 before HELM", 60, 62,
       Join({RowTrace({"WF", "HELB", "WF", "HELB", "TRN", "1", "NATIONAL"}),
             {Exec(kCorrection4)},
             RowTrace({"WF", "HELM", "WF", "HELM", "TRN", "1", "NATIONAL"})})},
      {"row 65, correction 5, row 66", 69, 71,
       Join({RowTrace({"WF", "HELM", "WF", "HELB", "JOB", "3", "NATIONAL"}),
             {Exec(kCorrection5)},
             RowTrace({"WF", "HLCO", "WF", "HLCO", "TRN", "2", "NATIONAL"})})},
      {"the last row", 78, 78, RowTrace({"WF", "HLCO", "WF", "STPL", "JOB", "5", "NATIONAL"})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TraceOfSteps(steps, c.first, c.last), c.expected) << c.what;
  }
  // Ten lines a row with an open, nine without, one a correction (joining
  // calls nothing).
  EXPECT_EQ(TraceLines(steps).size(), 71u * 10 + 2 * 9 + 5);
}

TEST(Experience2Steps, TraceOfFirstLastAndUnusualSteps) {
  const std::vector<Step>& steps = Experience2Steps();
  struct Case {
    const char* what;
    int first, last;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"the first row", 1, 1, RowTrace({"WF", "ICT3", "WF", "CRWB", "JOB", "29", "NATIONAL"})},
      {"group 29 closes with its TRN row", 4, 6,
       Join({RowTrace({"WF", "ICT3", "WF", "TRPB", "JOB", "29", "NATIONAL"}),
             RowTrace({"WF", "ICT3", "WF", "ICT3", "TRN", "29", "NATIONAL"}),
             RowTrace({"WF", "ICT3", "WF", "CRWB", "JOB", "30", "NATIONAL"})})},
      {"STEN before STDZ across groups 30 and 31", 8, 8,
       RowTrace({"WF", "ICT3", "WF", "STEN", "JOB", "30", "NATIONAL"})},
      {"from group 44 to group 45", 80, 82,
       Join({RowTrace({"WF", "ICT3", "WF", "ICT3", "TRN", "44", "NATIONAL"}),
             RowTrace({"WF", "ICT3", "WF", "ENGB", "JOB", "45", "NATIONAL"}),
             RowTrace({"WF", "ICT3", "WF", "FELB", "JOB", "45", "NATIONAL"})})},
      {"the end of group 45 and ICT4's group 5", 84, 87,
       Join({RowTrace({"WF", "ICT3", "WF", "STDZ", "JOB", "45", "NATIONAL"}),
             RowTrace({"WF", "ICT3", "WF", "ICT3", "TRN", "45", "NATIONAL"}),
             RowTrace({"WF", "ICT4", "WF", "HELB", "JOB", "5", "NATIONAL"}),
             RowTrace({"WF", "ICT4", "WF", "ICT4", "TRN", "5", "NATIONAL"})})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TraceOfSteps(steps, c.first, c.last), c.expected) << c.what;
  }
  EXPECT_EQ(TraceLines(steps).size(), 870u);
}

// The column of each ordinal position of a row.
const char* const kColumns[] = {"jpe_risk_type",  "jpe_job_code", "jpe_p_risk_type",
                                "jpe_p_job_code", "jpe_p_type",   "jpe_exp_group_no",
                                "jpe_standard"};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Whether `row` meets every condition of a WHERE clause, comparing text
// without regard to letter case and group numbers as numbers.
bool Matches(const std::vector<dao::sql::Condition>& where, const Values& row) {
  for (const dao::sql::Condition& condition : where) {
    int position = -1;
    for (int i = 0; i < 7; ++i) {
      if (condition.column.column == kColumns[i]) position = i;
    }
    EXPECT_GE(position, 0) << condition.column.column;
    if (position < 0) return false;
    bool any = false;
    for (const dao::sql::Literal& value : condition.values) {
      if (value.kind == dao::sql::Literal::Kind::kInteger) {
        any = any || std::to_string(value.integer) == row[position];
      } else {
        any = any || Upper(value.text) == Upper(row[position]);
      }
    }
    if (!any) return false;
  }
  return true;
}

// Each correction parses into what it is meant to do, and none of them
// touches a row that either stage writes, so the order of corrections and
// rows never undoes a row.
TEST(ExperienceStepsParse, CorrectionsParseAndSpareTheStagesRows) {
  struct Expected {
    bool update;
    std::vector<std::pair<std::string, std::string>> where;  // column, value
    Values hit;                                              // a stored row the correction acts on
  };
  const std::vector<Expected> expected = {
      {false,
       {{"jpe_job_code", "ABRO"}, {"jpe_p_job_code", "HECM"}},
       {"RX", "abro", "WF", "HECM", "JOB", "4", "LOCAL"}},
      {false,
       {{"jpe_job_code", "HCWN"}, {"jpe_risk_type", "WF"}},
       {"WF", "HCWN", "RX", "RXB1", "JOB", "1", "NATIONAL"}},
      {true,
       {{"jpe_job_code", "HEB2"}, {"jpe_p_job_code", "HEMG"}},
       {"RX", "HEB2", "WF", "HEMG", "JOB", "1", "NATIONAL"}},
      {false,
       {{"jpe_job_code", "HEMG"}, {"jpe_risk_type", "WF"}},
       {"WF", "HEMG", "WF", "HEMG", "TRN", "2", "NATIONAL"}},
      {false,
       {{"jpe_job_code", "HLCO"}, {"jpe_p_job_code", "HEMG"}, {"jpe_risk_type", "WF"}},
       {"WF", "HLCO", "WF", "HEMG", "JOB", "3", "NATIONAL"}},
  };
  std::vector<Values> rows;
  for (const auto* steps : {&Experience1Steps(), &Experience2Steps()}) {
    for (const RowStep* row : RowSteps(*steps)) rows.push_back(ValuesOf(*row));
  }
  ASSERT_EQ(rows.size(), 73u + 87u);

  std::vector<std::string> texts = SqlTexts(Experience1Steps());
  ASSERT_EQ(texts.size(), expected.size());
  for (size_t k = 0; k < texts.size(); ++k) {
    SCOPED_TRACE("correction " + std::to_string(k + 1));
    dao::sql::Statement statement;
    try {
      statement = dao::sql::Parse(texts[k]);
    } catch (const kav::Error& e) {
      ADD_FAILURE() << e.number() << " " << e.description() << "\n" << texts[k];
      continue;
    }
    const std::vector<dao::sql::Condition>* where = nullptr;
    if (const auto* update = std::get_if<dao::sql::UpdateStatement>(&statement)) {
      ASSERT_TRUE(expected[k].update);
      EXPECT_EQ(update->table, kTable);
      ASSERT_EQ(update->assignments.size(), 1u);
      EXPECT_EQ(update->assignments[0].column.column, "jpe_p_job_code");
      EXPECT_EQ(std::get<dao::sql::Literal>(update->assignments[0].value).text, "HELM");
      where = &update->where;
    } else {
      const auto* del = std::get_if<dao::sql::DeleteStatement>(&statement);
      ASSERT_NE(del, nullptr);
      ASSERT_FALSE(expected[k].update);
      EXPECT_EQ(del->table, kTable);
      where = &del->where;
    }
    std::vector<std::pair<std::string, std::string>> conditions;
    for (const dao::sql::Condition& c : *where) {
      EXPECT_EQ(c.column.table, kTable);
      EXPECT_EQ(c.op, dao::sql::Condition::Op::kEquals);
      ASSERT_EQ(c.values.size(), 1u);
      conditions.emplace_back(c.column.column, c.values[0].text);
    }
    EXPECT_EQ(conditions, expected[k].where);
    EXPECT_TRUE(Matches(*where, expected[k].hit));
    for (const Values& row : rows) {
      EXPECT_FALSE(Matches(*where, row)) << row[1] << " " << row[3];
    }
  }
}

}  // namespace
}  // namespace kav::stages
