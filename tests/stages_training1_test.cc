// The first training stage as data: its counts, its statement texts, its
// trace, the order and repeats of its rows; and the stage with no database
// to work on.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/dao/sql_parser.h"
#include "platform/ui/scripted_message_boxes.h"
#include "stages/stages.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::Exec;
using kav::testing::Join;
using kav::testing::NumberedSteps;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr const char* kTable = "tbl_kav_jobs_prereq_training";
constexpr const char* kTitle = "UpdateMDB_Jobs_Training";

// The stage's steps are numbered 1..108: 1..29 the lead-in group, ACDP and
// AOBD; 30..74 AREP to EDSP; 75..108 ENGB to GSUL.
constexpr int kAREP = 29;  // add a step number of the middle run
constexpr int kENGB = 74;  // add a step number of the last run

constexpr NumberedSteps kSteps(Training1Steps);

// A row's values joined by '|'.
std::string Joined(const RowStep& row) { return kav::testing::RowText(row); }

enum class Form { kRemoval, kListRemoval, kClearance, kReplacement, kRetyping };

// Tells a statement's form from its head and comparisons.
Form FormOf(const std::string& text) {
  if (text.rfind("DELETE FROM ", 0) == 0) {
    if (text.find(" in (") != std::string::npos) return Form::kListRemoval;
    if (text.find(" AND ") != std::string::npos) return Form::kRemoval;
    return Form::kClearance;
  }
  if (text.find("SET tbl_kav_jobs_prereq_training.jpt_p_type ") != std::string::npos) {
    return Form::kRetyping;
  }
  return Form::kReplacement;
}

TEST(Training1Data, CountsOfStepsRowsStatementsAndOperations) {
  const std::vector<Step>& steps = Training1Steps();
  ASSERT_EQ(steps.size(), 108u);

  // Rows and statements per run: 26 + 3, 26 + 19, 27 + 7.
  auto count_rows = [&](int first, int last) {
    int rows = 0;
    for (int n = first; n <= last; ++n) {
      rows += std::holds_alternative<RowStep>(kSteps.At(n)) ? 1 : 0;
    }
    return rows;
  };
  EXPECT_EQ(count_rows(1, 29), 26);
  EXPECT_EQ(count_rows(30, 74), 26);
  EXPECT_EQ(count_rows(75, 108), 27);

  std::map<Form, int> forms;
  std::map<std::string, int> risk, course_risk, type;
  int rows = 0;
  for (const Step& step : steps) {
    if (const auto* row = std::get_if<RowStep>(&step)) {
      ++rows;
      EXPECT_EQ(row->table, kTable);
      // Every row opens its own recordset and assigns positions 0..5 as
      // text.
      EXPECT_FALSE(row->through_previous_recordset) << Joined(*row);
      ASSERT_EQ(row->fields.size(), 6u) << Joined(*row);
      for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(row->fields[i].position, i) << Joined(*row);
        EXPECT_EQ(row->fields[i].value.kind(), dao::Value::Kind::kText) << Joined(*row);
      }
      EXPECT_EQ(row->fields[5].value.AsText(), "NATIONAL") << Joined(*row);
      EXPECT_EQ(row->fields[1].value.AsText().size(), 4u) << Joined(*row);
      ++risk[row->fields[0].value.AsText()];
      ++course_risk[row->fields[2].value.AsText()];
      ++type[row->fields[4].value.AsText()];
    } else {
      ++forms[FormOf(std::get<SqlStep>(step).text)];
    }
  }
  EXPECT_EQ(rows, 79);
  EXPECT_EQ(forms, (std::map<Form, int>{{Form::kRemoval, 15},
                                        {Form::kListRemoval, 1},
                                        {Form::kClearance, 1},
                                        {Form::kReplacement, 11},
                                        {Form::kRetyping, 1}}));
  EXPECT_EQ(risk, (std::map<std::string, int>{{"WF", 71}, {"RX", 8}}));
  EXPECT_EQ(course_risk, (std::map<std::string, int>{{"WF", 77}, {"RX", 2}}));
  EXPECT_EQ(type, (std::map<std::string, int>{{"ST", 47}, {"RT", 32}}));

  EXPECT_EQ(ExpandOperations(steps).size(), 769u);
  EXPECT_EQ(kav::testing::CountOperations(steps),
            (kav::testing::OperationCounts{79, 79, 474, 79, 29, 29}));
}

TEST(Training1Data, StatementsReadExactlyAsStored) {
  const struct {
    int step;
    const char* text;
  } cases[] = {
      {10,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'RXB2';"},
      {11,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_job_code  = 'RXI1';"},
      {29,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  in "
       "('S-481','S-481Old') AND tbl_kav_jobs_prereq_training.jpt_job_code = "
       "'AOBD';"},
      {kAREP + 1,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-000' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'AREP';"},
      {kAREP + 4,
       "UPDATE tbl_kav_jobs_prereq_training SET "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-375' WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'J-375' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'ASGS';"},
      {kAREP + 20,
       "UPDATE tbl_kav_jobs_prereq_training SET "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'L-380' WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'COML';"},
      {kENGB + 7,
       "UPDATE tbl_kav_jobs_prereq_training SET "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-354' WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'J-354' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'FACL';"},
      {kENGB + 8,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'FACL';"},
      {kENGB + 22,
       "UPDATE tbl_kav_jobs_prereq_training SET "
       "tbl_kav_jobs_prereq_training.jpt_p_type  = 'RT' WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'I-100' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'FFT2';"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(std::holds_alternative<SqlStep>(kSteps.At(c.step))) << c.step;
    EXPECT_EQ(kSteps.TextOf(c.step), c.text) << "step " << c.step;
  }
}

TEST(Training1Data, RefresherRowsAndNineOthersAreTypedRT) {
  // RT-130 is typed RT wherever it is written (23 rows); these are the only
  // other RT rows.
  const std::set<std::string> other_rt = {"FIRB/S-290", "FIRB/S-230", "DIVS/S-390",
                                          "FDUL/S-357", "FFT1/S-133", "FFT2/L-180",
                                          "FUM2/S-580", "FUM1/S-580", "FUM1/M-581"};
  int refresher_rows = 0;
  std::set<std::string> seen_other_rt;
  for (const Step& step : Training1Steps()) {
    const auto* row = std::get_if<RowStep>(&step);
    if (row == nullptr) continue;
    const std::string pair = row->fields[1].value.AsText() + "/" + row->fields[3].value.AsText();
    const std::string& type = row->fields[4].value.AsText();
    if (row->fields[3].value.AsText() == "RT-130") {
      ++refresher_rows;
      EXPECT_EQ(type, "RT") << pair;
    } else if (other_rt.count(pair)) {
      seen_other_rt.insert(pair);
      EXPECT_EQ(type, "RT") << pair;
    } else {
      EXPECT_EQ(type, "ST") << pair;
    }
  }
  EXPECT_EQ(refresher_rows, 23);
  EXPECT_EQ(seen_other_rt, other_rt);
}

// The nine trace lines of a row with the six values as given.
std::vector<std::string> RowTrace(const std::vector<std::string>& values) {
  return kav::testing::RowTrace(kTable, values);
}

std::vector<std::string> WfRowTrace(const char* job, const char* course, const char* type) {
  return RowTrace({"WF", job, "WF", course, type, "NATIONAL"});
}

TEST(Training1Data, TraceOfFirstLastAndQuirkySteps) {
  std::span<const Step> steps(Training1Steps());
  const std::vector<std::string> all = TraceLines(steps);
  ASSERT_EQ(all.size(), 79u * 9u + 29u);

  const std::string remove_s381 =
      "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
      "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
      "tbl_kav_jobs_prereq_training.jpt_job_code = '";
  const std::string replace_s381 =
      "UPDATE tbl_kav_jobs_prereq_training SET "
      "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'L-380' WHERE "
      "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
      "tbl_kav_jobs_prereq_training.jpt_job_code = '";
  const struct {
    int first_step;
    std::vector<std::string> lines;
  } slices[] = {
      // The first step, a row of an RX position for an RX course.
      {1, RowTrace({"RX", "FEMO", "RX", "RX-310", "ST", "NATIONAL"})},
      // RXB2's last row, its removal, then the clearance of RXI1.
      {9,
       Join({RowTrace({"RX", "RXB2", "WF", "RT-130", "RT", "NATIONAL"}),
             {Exec(remove_s381 + "RXB2';"), Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                                                 "tbl_kav_jobs_prereq_training.jpt_job_code  = "
                                                 "'RXI1';")}})},
      // FIRB's two rows that are written again later.
      {15, Join({WfRowTrace("FIRB", "RT-130", "RT"), WfRowTrace("FIRB", "I-200", "ST"),
                 WfRowTrace("FIRB", "L-280", "ST")})},
      // AOBD's row, then the list removal, then AREP's removal before its
      // row.
      {28, Join({WfRowTrace("AOBD", "L-480", "ST"),
                 {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                       "tbl_kav_jobs_prereq_training.jpt_p_course_code "
                       " in ('S-481','S-481Old') AND "
                       "tbl_kav_jobs_prereq_training.jpt_job_code = "
                       "'AOBD';"),
                  Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                       "tbl_kav_jobs_prereq_training.jpt_p_course_code "
                       " = 'S-000' AND "
                       "tbl_kav_jobs_prereq_training.jpt_job_code = "
                       "'AREP';")},
                 WfRowTrace("AREP", "L-180", "ST")})},
      // COML and COMP: the L-380 row before the replacements that would
      // meet it.
      {kAREP + 17, Join({WfRowTrace("COML", "L-380", "ST"),
                         {Exec(remove_s381 + "COML';"),
                          Exec("UPDATE tbl_kav_jobs_prereq_training SET "
                               "tbl_kav_jobs_prereq_training.jpt_p_course_code  = "
                               "'S-358' WHERE "
                               "tbl_kav_jobs_prereq_training.jpt_p_course_code  = "
                               "'J-358' AND "
                               "tbl_kav_jobs_prereq_training.jpt_job_code = "
                               "'COML';"),
                          Exec(replace_s381 + "COML';")},
                         WfRowTrace("COMP", "L-380", "ST"),
                         {Exec(replace_s381 + "COMP';")}})},
      // The last step of the middle run and the first of the last.
      {kAREP + 45, Join({WfRowTrace("EDSP", "A-207", "ST"), WfRowTrace("ENGB", "RT-130", "RT")})},
      // FFT2's rows and the retyping; FIRB twice around FOBS.
      {kENGB + 20, Join({WfRowTrace("FFT2", "RT-130", "RT"),
                         WfRowTrace("FFT2", "L-180", "RT"),
                         {Exec("UPDATE tbl_kav_jobs_prereq_training SET "
                               "tbl_kav_jobs_prereq_training.jpt_p_type  = 'RT' "
                               "WHERE "
                               "tbl_kav_jobs_prereq_training.jpt_p_course_code  = "
                               "'I-100' AND "
                               "tbl_kav_jobs_prereq_training.jpt_job_code = "
                               "'FFT2';")},
                         WfRowTrace("FIRB", "RT-130", "RT"),
                         WfRowTrace("FOBS", "RT-130", "RT"),
                         WfRowTrace("FIRB", "L-280", "ST")})},
      // FUM2 before FUM1, M-581 typed differently; GSUL's row ends the
      // stage.
      {kENGB + 28, Join({WfRowTrace("FUM2", "S-580", "RT"), WfRowTrace("FUM2", "RT-130", "RT"),
                         WfRowTrace("FUM2", "M-581", "ST"), WfRowTrace("FUM1", "S-580", "RT"),
                         WfRowTrace("FUM1", "RT-130", "RT"), WfRowTrace("FUM1", "M-581", "RT"),
                         WfRowTrace("GSUL", "S-355", "ST")})},
  };
  for (const auto& slice : slices) {
    const size_t offset = TraceLines(steps.first(slice.first_step - 1)).size();
    ASSERT_LE(offset + slice.lines.size(), all.size()) << slice.first_step;
    std::vector<std::string> actual(all.begin() + offset,
                                    all.begin() + offset + slice.lines.size());
    EXPECT_EQ(actual, slice.lines) << "from step " << slice.first_step;
  }
  // Nothing follows GSUL's row.
  EXPECT_EQ(TraceLines(steps.first(107)).size() + 9, all.size());
}

// The position a step is about: a row's field 1, a statement's code after
// jpt_job_code.
std::string PositionOf(const Step& step) {
  if (const auto* row = std::get_if<RowStep>(&step)) {
    return row->fields.at(1).value.AsText();
  }
  static const std::regex job(R"(jpt_job_code +=\s*'([^']*)')");
  std::smatch m;
  const std::string& text = std::get<SqlStep>(step).text;
  if (!std::regex_search(text, m, job)) return "?" + text;
  return m[1];
}

TEST(Training1Data, PositionBlocksRunInTheStoredOrder) {
  std::vector<std::string> blocks;
  for (const Step& step : Training1Steps()) {
    std::string job = PositionOf(step);
    if (blocks.empty() || blocks.back() != job) blocks.push_back(job);
  }
  EXPECT_THAT(
      blocks,
      ElementsAreArray<std::string>(
          {// the lead-in group, not alphabetical
           "FEMO", "LTAN", "RXB1", "RXB2", "RXI1", "CREP", "FIRB", "RXM1", "RXM2", "ACDP", "AOBD",
           // AREP to EDSP, alphabetical
           "AREP", "ASGS", "ATCO", "ATGS", "BCMG", "CLMS", "CMSY", "COML", "COMP", "COMT", "CORD",
           "COST", "CRWB", "DIVS", "DOCL", "DOZB", "EDRC", "EDSD", "EDSP",
           // ENGB to GSUL: FOBS between two FIRB rows, FUM2 before FUM1
           "ENGB", "EQPM", "EQTR", "FACL", "FBAN", "FDUL", "FELB", "FFT1", "FFT2", "FIRB", "FOBS",
           "FIRB", "FSC2", "FUM2", "FUM1", "GSUL"}));
}

TEST(Training1Data, OnlyFirbsTwoRowsAreWrittenTwice) {
  std::map<std::string, std::vector<int>> steps_of_row;
  for (int n = 1; n <= 108; ++n) {
    if (const auto* row = std::get_if<RowStep>(&kSteps.At(n))) {
      steps_of_row[Joined(*row)].push_back(n);
    }
  }
  std::map<std::string, std::vector<int>> repeated;
  for (const auto& [row, steps] : steps_of_row) {
    if (steps.size() > 1) repeated[row] = steps;
  }
  EXPECT_EQ(repeated, (std::map<std::string, std::vector<int>>{
                          {"WF|FIRB|WF|RT-130|RT|NATIONAL", {15, kENGB + 23}},
                          {"WF|FIRB|WF|L-280|ST|NATIONAL", {17, kENGB + 25}}}));
  // Any other pair of one position and one course is written once.
  std::set<std::string> pairs;
  for (const auto& [row, steps] : steps_of_row) {
    const RowStep& step = std::get<RowStep>(kSteps.At(steps[0]));
    EXPECT_TRUE(
        pairs.insert(step.fields[1].value.AsText() + "/" + step.fields[3].value.AsText()).second)
        << row;
  }
}

// The position's codes that a statement selects by (empty: every course of
// the position), and the new course a replacement writes.
struct Selection {
  std::string job;
  std::vector<std::string> courses;
  std::string new_course;
};

Selection SelectionOf(const std::string& text) {
  Selection s;
  s.job = PositionOf(Sql(text));
  const size_t where = text.find(" WHERE ");
  static const std::regex quoted("'([^']*)'");
  const std::string head = text.substr(0, where);
  std::smatch m;
  if (head.find("jpt_p_course_code") != std::string::npos && std::regex_search(head, m, quoted)) {
    s.new_course = m[1];
  }
  const size_t and_at = text.find(" AND ");
  if (and_at != std::string::npos) {
    const std::string term = text.substr(where, and_at - where);
    for (std::sregex_iterator it(term.begin(), term.end(), quoted), end; it != end; ++it) {
      s.courses.push_back((*it)[1]);
    }
  }
  return s;
}

TEST(Training1Data, CorrectionsMeetNoRowOfTheStageButTwoReplacementTargets) {
  std::set<std::pair<std::string, std::string>> inserted;
  for (const Step& step : Training1Steps()) {
    if (const auto* row = std::get_if<RowStep>(&step)) {
      inserted.insert({row->fields[1].value.AsText(), row->fields[3].value.AsText()});
    }
  }
  std::vector<std::string> new_course_met;
  for (const Step& step : Training1Steps()) {
    const auto* sql = std::get_if<SqlStep>(&step);
    if (sql == nullptr) continue;
    Selection s = SelectionOf(sql->text);
    ASSERT_FALSE(s.job.empty()) << sql->text;
    for (const auto& [job, course] : inserted) {
      if (job != s.job) continue;
      const bool selected = s.courses.empty() || std::find(s.courses.begin(), s.courses.end(),
                                                           course) != s.courses.end();
      EXPECT_FALSE(selected) << sql->text << " meets " << job << "/" << course;
    }
    if (!s.new_course.empty() && inserted.count({s.job, s.new_course})) {
      new_course_met.push_back(s.job + "/" + s.new_course);
    }
  }
  // Only COML's and COMP's replacements of S-381 write the course of a row
  // the stage inserted for the same position a few steps before.
  EXPECT_THAT(new_course_met, ElementsAre("COML/L-380", "COMP/L-380"));
}

TEST(Training1Data, EveryStatementParsesAndSelectsRows) {
  for (const Step& step : Training1Steps()) {
    const auto* sql = std::get_if<SqlStep>(&step);
    if (sql == nullptr) continue;
    dao::sql::Statement statement = dao::sql::Parse(sql->text);
    if (const auto* del = std::get_if<dao::sql::DeleteStatement>(&statement)) {
      EXPECT_EQ(del->table, kTable) << sql->text;
      // A DELETE without conditions would empty the table.
      EXPECT_FALSE(del->where.empty()) << sql->text;
    } else if (const auto* upd = std::get_if<dao::sql::UpdateStatement>(&statement)) {
      EXPECT_EQ(upd->table, kTable) << sql->text;
      EXPECT_EQ(upd->assignments.size(), 1u) << sql->text;
      EXPECT_EQ(upd->where.size(), 2u) << sql->text;
    } else {
      ADD_FAILURE() << "not a correction: " << sql->text;
    }
  }
}

// The stage with gdbUpdate holding no database: every operation but the
// joins fails, each with its own box, and the stage still returns normally.
TEST(TrainingStageError, StageWithNoDatabaseReportsEachOperationAndReturns) {
  ui::ScriptedMessageBoxes boxes;
  bool bFailed = false;
  EXPECT_NO_THROW(UpdateMDB_Jobs_Training1(bFailed));
  EXPECT_TRUE(bFailed);
  ASSERT_EQ(boxes.boxes().size(), 769u - 29u);
  for (const ui::ShownBox& box : boxes.boxes()) {
    EXPECT_EQ(box.title, kTitle);
    EXPECT_EQ(box.style, ui::vbOKOnly);
    EXPECT_EQ(box.prompt.rfind(" ", 0), 0u) << box.prompt;
    EXPECT_NE(box.prompt.find("  :  "), std::string::npos) << box.prompt;
  }
}

}  // namespace
}  // namespace kav::stages
