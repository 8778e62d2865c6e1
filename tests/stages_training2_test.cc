// The second training stage's steps as data: counts, the statement texts,
// the expected trace of its first, last and unusual steps, and what its rows
// and statements name, checked without a database.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/dao/sql_parser.h"
#include "stages/stages.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::Exec;
using kav::testing::Join;
using kav::testing::NumberedSteps;
using Pair = std::pair<std::string, std::string>;

constexpr NumberedSteps kSteps(Training2Steps);

std::string Field(const RowStep& row, int i) { return row.fields.at(i).value.AsText(); }

// The trace of one prerequisite row, written out in full; `opens` false for
// the row that goes through the recordset of the row before.
std::vector<std::string> RowTrace(const std::string& job, const std::string& course,
                                  const std::string& type, bool opens = true) {
  return kav::testing::RowTrace("tbl_kav_jobs_prereq_training",
                                {"WF", job, "WF", course, type, "NATIONAL"}, opens);
}

// The five kinds of correction, told apart by how their texts begin.
enum class Correction {
  kDeleteCourse,
  kDeleteCourseList,
  kDeletePosition,
  kSetTypeRT,
  kReplaceCourse,
  kUnknown
};

Correction KindOf(const std::string& text) {
  const std::string del =
      "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
      "tbl_kav_jobs_prereq_training.";
  const std::string upd = "UPDATE tbl_kav_jobs_prereq_training SET tbl_kav_jobs_prereq_training.";
  auto starts = [&](const std::string& prefix) { return text.rfind(prefix, 0) == 0; };
  if (starts(del + "jpt_p_course_code  = '")) return Correction::kDeleteCourse;
  if (starts(del + "jpt_p_course_code  in (")) {
    return Correction::kDeleteCourseList;
  }
  if (starts(del + "jpt_job_code  = '")) return Correction::kDeletePosition;
  if (starts(upd + "jpt_p_type  = 'RT' ")) return Correction::kSetTypeRT;
  if (starts(upd + "jpt_p_course_code  = '")) return Correction::kReplaceCourse;
  return Correction::kUnknown;
}

// The position a correction names: the code after the last "jpt_job_code".
std::string JobOf(const std::string& text) {
  size_t at = text.rfind("jpt_job_code");
  size_t open = text.find('\'', at);
  size_t close = text.find('\'', open + 1);
  return text.substr(open + 1, close - open - 1);
}

// The single course a correction's WHERE compares, "" when it compares none
// or a list.
std::string CourseOf(const std::string& text) {
  const std::string mark = "WHERE tbl_kav_jobs_prereq_training.jpt_p_course_code  = '";
  size_t at = text.find(mark);
  if (at == std::string::npos) return "";
  at += mark.size();
  return text.substr(at, text.find('\'', at) - at);
}

TEST(Training2Steps, CountsOfStepsOperationsAndKinds) {
  const std::vector<Step>& steps = kSteps.all();
  ASSERT_EQ(steps.size(), 165u);

  // Per half of the step table: rows by type and statements by kind.
  struct Half {
    int first, last;
    int st, rt;
    std::map<Correction, int> corrections;
  };
  const Half halves[] = {
      {1,
       86,
       39,
       25,
       {{Correction::kDeleteCourse, 13},
        {Correction::kDeleteCourseList, 2},
        {Correction::kDeletePosition, 3},
        {Correction::kSetTypeRT, 3},
        {Correction::kReplaceCourse, 1}}},
      {87, 165, 44, 17, {{Correction::kDeleteCourse, 16}, {Correction::kDeleteCourseList, 2}}},
  };
  int rows = 0, statements = 0;
  for (const Half& half : halves) {
    int st = 0, rt = 0;
    std::map<Correction, int> corrections;
    for (int n = half.first; n <= half.last; ++n) {
      if (const RowStep* row = kSteps.RowAt(n)) {
        ++rows;
        (Field(*row, 4) == "ST" ? st : rt) += 1;
      } else {
        ++statements;
        Correction kind = KindOf(kSteps.TextOf(n));
        EXPECT_NE(kind, Correction::kUnknown) << n << ": " << kSteps.TextOf(n);
        ++corrections[kind];
      }
    }
    EXPECT_EQ(st, half.st) << half.first;
    EXPECT_EQ(rt, half.rt) << half.first;
    EXPECT_EQ(corrections, half.corrections) << half.first;
  }
  EXPECT_EQ(rows, 125);
  EXPECT_EQ(statements, 40);

  // Step 68 alone goes through the recordset of the step before.
  std::vector<int> through_previous;
  for (int n = 1; n <= 165; ++n) {
    if (const RowStep* row = kSteps.RowAt(n); row && row->through_previous_recordset) {
      through_previous.push_back(n);
    }
  }
  EXPECT_EQ(through_previous, std::vector<int>{68});
  ASSERT_NE(kSteps.RowAt(67), nullptr);

  // 124 rows of nine operations, one of eight, 40 statements of two.
  std::vector<Operation> ops = ExpandOperations(steps);
  EXPECT_EQ(ops.size(), 1204u);
  EXPECT_EQ(kav::testing::CountOperations(steps),
            (kav::testing::OperationCounts{124, 125, 125 * 6, 125, 40, 40}));
  // The stage's last operation is the update of the row of step 165.
  EXPECT_EQ(ops.back().kind, OperationKind::kUpdate);
  EXPECT_EQ(ops.back().step, &steps.back());
  // A join makes no engine call, so the whole trace has 1,164 lines.
  EXPECT_EQ(TraceLines(steps).size(), 1164u);
}

TEST(Training2Steps, EveryRowIsAPrerequisiteOfSixTextValues) {
  for (int n = 1; n <= 165; ++n) {
    const RowStep* row = kSteps.RowAt(n);
    if (!row) continue;
    EXPECT_EQ(row->table, "tbl_kav_jobs_prereq_training") << n;
    ASSERT_EQ(row->fields.size(), 6u) << n;
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(row->fields[i].position, i) << n;
      ASSERT_EQ(row->fields[i].value.kind(), dao::Value::Kind::kText) << n;
    }
    EXPECT_EQ(Field(*row, 0), "WF") << n;
    EXPECT_EQ(Field(*row, 1).size(), 4u) << n;
    EXPECT_EQ(Field(*row, 2), "WF") << n;
    EXPECT_TRUE(Field(*row, 4) == "ST" || Field(*row, 4) == "RT") << n;
    EXPECT_EQ(Field(*row, 5), "NATIONAL") << n;
  }
}

// The statement texts as the records system stores them, copied by hand.
TEST(Training2Steps, StatementTextsMatchTheStoredTexts) {
  const struct {
    int step;
    const char* text;
  } cases[] = {
      {2,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'GSUL';"},
      {47,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  in "
       "('S-481','S-481Old') AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'ICT2';"},
      {4,
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
       "tbl_kav_jobs_prereq_training.jpt_job_code  = 'HCWN';"},
      {50,
       "UPDATE tbl_kav_jobs_prereq_training SET "
       "tbl_kav_jobs_prereq_training.jpt_p_type  = 'RT' WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-300' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'ICT3';"},
      {6,
       "UPDATE tbl_kav_jobs_prereq_training SET "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'L-380' WHERE "
       "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND "
       "tbl_kav_jobs_prereq_training.jpt_job_code = 'HEB2';"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kSteps.TextOf(c.step), c.text) << c.step;
  }
}

// Each position and course the step table names for a correction, copied by
// hand, against what the texts select.
TEST(Training2Steps, CorrectionsNameTheirPositionAndCourse) {
  const struct {
    int step;
    Correction kind;
    const char* job;
    const char* course;  // the course the WHERE compares; "" for none
  } cases[] = {
      {1, Correction::kDeleteCourse, "GSUL", "J-355"},
      {4, Correction::kDeletePosition, "HCWN", ""},
      {6, Correction::kReplaceCourse, "HEB2", "S-381"},
      {17, Correction::kDeletePosition, "HEMG", ""},
      {52, Correction::kSetTypeRT, "ICT4", "S-200"},
      {54, Correction::kDeleteCourse, "ICT4", "S-215"},
      {60, Correction::kDeleteCourse, "ICT5", "S-000"},
      {72, Correction::kDeleteCourseList, "PIO2", ""},
      {77, Correction::kDeletePosition, "IRIN", ""},
      {84, Correction::kSetTypeRT, "MEDL", "S-359"},
      {86, Correction::kDeleteCourse, "ORDM", "S-281"},
      {90, Correction::kDeleteCourseList, "OSC2", ""},
      {102, Correction::kDeleteCourse, "PTRC", "J-261"},
      {134, Correction::kDeleteCourseList, "SOF2", ""},
      {137, Correction::kDeleteCourse, "SOF3", "I-300"},
      {159, Correction::kDeleteCourse, "TFLD", "S-390"},
      {163, Correction::kDeleteCourse, "TNSP", "S-381"},
  };
  for (const auto& c : cases) {
    const std::string text = kSteps.TextOf(c.step);
    EXPECT_EQ(KindOf(text), c.kind) << c.step;
    EXPECT_EQ(JobOf(text), c.job) << c.step;
    EXPECT_EQ(CourseOf(text), c.course) << c.step;
    if (c.kind == Correction::kDeleteCourseList) {
      EXPECT_NE(text.find(" in ('S-481','S-481Old') AND "), std::string::npos) << c.step;
    }
  }
}

TEST(Training2Steps, TraceOfTheFirstLastAndUnusualSteps) {
  const struct {
    int first, last;
    std::vector<std::string> expected;
  } cases[] = {
      // The stage begins with GSUL: two deletions, then its L-380 row.
      {1, 3,
       Join({{Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'J-355' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'GSUL';")},
             {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'GSUL';")},
             RowTrace("GSUL", "L-380", "ST")})},
      // HEB2 changes its S-381 rows in place.
      {6, 7,
       Join({{Exec("UPDATE tbl_kav_jobs_prereq_training SET "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'L-380' "
                   "WHERE tbl_kav_jobs_prereq_training.jpt_p_course_code  = "
                   "'S-381' AND tbl_kav_jobs_prereq_training.jpt_job_code = "
                   "'HEB2';")},
             RowTrace("HEB2", "RT-130", "RT")})},
      // GISS comes after HRSP.
      {24, 25, Join({RowTrace("HRSP", "RT-340", "RT"), RowTrace("GISS", "I-100", "ST")})},
      // IADP's I-100 is RT.
      {29, 29, RowTrace("IADP", "I-100", "RT")},
      // ICT4: S-200 inserted as RT and set to RT, S-215 deleted and
      // inserted again as ST.
      {51, 55,
       Join({RowTrace("ICT4", "S-200", "RT"),
             {Exec("UPDATE tbl_kav_jobs_prereq_training SET "
                   "tbl_kav_jobs_prereq_training.jpt_p_type  = 'RT' WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-200' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'ICT4';")},
             RowTrace("ICT4", "RT-130", "RT"),
             {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-215' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'ICT4';")},
             RowTrace("ICT4", "S-215", "ST")})},
      // Step 68 adds through step 67's recordset; step 71 repeats step 67's
      // row; then the recoded PIO2 follows INVF.
      {67, 72,
       Join({RowTrace("INVF", "FI-210", "RT"),
             RowTrace("INVF", "FI-110", "ST", false),
             RowTrace("INVF", "I-200", "ST"),
             RowTrace("INVF", "S-190", "ST"),
             RowTrace("INVF", "FI-210", "RT"),
             {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  in "
                   "('S-481','S-481Old') AND "
                   "tbl_kav_jobs_prereq_training.jpt_job_code = 'PIO2';")}})},
      // IRIN between PIOF and PROC; PROC's row before its deletion.
      {77, 79,
       Join({{Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_job_code  = 'IRIN';")},
             RowTrace("PROC", "L-380", "ST"),
             {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'PROC';")}})},
      // OPBD's row between MEDL's row and MEDL's corrections.
      {82, 85,
       Join({RowTrace("MEDL", "L-380", "ST"),
             RowTrace("OPBD", "RT-130", "RT"),
             {Exec("UPDATE tbl_kav_jobs_prereq_training SET "
                   "tbl_kav_jobs_prereq_training.jpt_p_type  = 'RT' WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-359' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'MEDL';")},
             {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'MEDL';")}})},
      // SEMG's RT-273 is ST.
      {121, 122, Join({RowTrace("SEMG", "S-270", "RT"), RowTrace("SEMG", "RT-273", "ST")})},
      // SOF3 follows SOFR.
      {135, 138,
       Join({RowTrace("SOFR", "I-300", "ST"),
             RowTrace("SOFR", "RT-130", "RT"),
             {Exec("DELETE FROM tbl_kav_jobs_prereq_training WHERE "
                   "tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'I-300' "
                   "AND tbl_kav_jobs_prereq_training.jpt_job_code = 'SOF3';")},
             RowTrace("SPUL", "L-380", "ST")})},
      // The stage ends with TRPB's two rows.
      {164, 165, Join({RowTrace("TRPB", "RT-130", "RT"), RowTrace("TRPB", "L-280", "ST")})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kSteps.Trace(c.first, c.last), c.expected) << "steps " << c.first << "-" << c.last;
  }
  // The slices line up with the whole trace: it begins with step 1 and ends
  // with step 165.
  std::vector<std::string> whole = TraceLines(kSteps.all());
  ASSERT_GE(whole.size(), 18u);
  EXPECT_EQ(whole.front(), kSteps.Trace(1, 1).front());
  EXPECT_EQ(std::vector<std::string>(whole.end() - 9, whole.end()),
            RowTrace("TRPB", "L-280", "ST"));
}

// The order of the positions is alphabetical except where the step table
// puts a position out of turn.
TEST(Training2Steps, PositionsOutOfAlphabeticalOrderAreExactlyTheListedOnes) {
  std::vector<int> out_of_order;
  std::string previous;
  for (int n = 1; n <= 165; ++n) {
    const RowStep* row = kSteps.RowAt(n);
    std::string job = row ? Field(*row, 1) : JobOf(kSteps.TextOf(n));
    if (job < previous) out_of_order.push_back(n);
    previous = job;
  }
  // GISS after HRSP, IRIN after PIOF, LOFR after PROC, MEDL's corrections
  // after OPBD, SOF3 after SOFR.
  EXPECT_EQ(out_of_order, (std::vector<int>{25, 77, 80, 84, 137}));
}

TEST(Training2Steps, RowsAreDistinctButForTheRepeatedInvfRow) {
  std::map<Pair, std::vector<int>> steps_of;
  for (int n = 1; n <= 165; ++n) {
    if (const RowStep* row = kSteps.RowAt(n)) {
      steps_of[{Field(*row, 1), Field(*row, 3)}].push_back(n);
    }
  }
  EXPECT_EQ(steps_of.size(), 124u);
  for (const auto& [pair, numbers] : steps_of) {
    if (pair == Pair{"INVF", "FI-210"}) {
      EXPECT_EQ(numbers, (std::vector<int>{67, 71}));
    } else {
      EXPECT_EQ(numbers.size(), 1u) << pair.first << " / " << pair.second;
    }
  }
}

// The type belongs to the row, not to the course.
TEST(Training2Steps, TypesStayAsListedPerRow) {
  std::set<int> rt_of_st_courses;  // rows of I-100, L-180, S-130, S-190 as RT
  std::vector<int> rt_course_as_st;
  for (int n = 1; n <= 165; ++n) {
    const RowStep* row = kSteps.RowAt(n);
    if (!row) continue;
    const std::string course = Field(*row, 3);
    const std::string type = Field(*row, 4);
    if (course == "RT-130") {
      EXPECT_EQ(type, "RT") << n;
    }
    if (course.rfind("RT-", 0) == 0 && type == "ST") rt_course_as_st.push_back(n);
    if ((course == "I-100" || course == "L-180" || course == "S-130" || course == "S-190") &&
        type == "RT") {
      rt_of_st_courses.insert(n);
    }
  }
  EXPECT_EQ(rt_course_as_st, std::vector<int>{122});
  EXPECT_EQ(Field(*kSteps.RowAt(122), 1), "SEMG");
  EXPECT_EQ(rt_of_st_courses, (std::set<int>{29, 30, 31, 32}));

  const struct {
    int step;
    const char* job;
    const char* course;
    const char* type;
  } cases[] = {
      {12, "HELM", "S-372", "RT"},  {16, "HELM", "S-270", "ST"},  {19, "HRSP", "S-340", "RT"},
      {36, "IADP", "S-215", "ST"},  {37, "IADP", "S-200", "ST"},  {51, "ICT4", "S-200", "RT"},
      {55, "ICT4", "S-215", "ST"},  {121, "SEMG", "S-270", "RT"}, {154, "TFLD", "S-215", "RT"},
      {158, "TFLD", "S-330", "RT"},
  };
  for (const auto& c : cases) {
    const RowStep* row = kSteps.RowAt(c.step);
    ASSERT_NE(row, nullptr) << c.step;
    EXPECT_EQ(Field(*row, 1), c.job) << c.step;
    EXPECT_EQ(Field(*row, 3), c.course) << c.step;
    EXPECT_EQ(Field(*row, 4), c.type) << c.step;
  }
}

// Which corrections reach a row the stage itself inserts before them: only
// step 52, on the ICT4 / S-200 row of step 51.  Every other deletion and
// update names a course its position does not receive earlier in the stage.
TEST(Training2Steps, OnlyStep52ReachesARowInsertedBeforeIt) {
  std::set<Pair> inserted;
  std::set<std::string> jobs_inserted;
  std::vector<int> reaching;
  for (int n = 1; n <= 165; ++n) {
    if (const RowStep* row = kSteps.RowAt(n)) {
      inserted.insert({Field(*row, 1), Field(*row, 3)});
      jobs_inserted.insert(Field(*row, 1));
      continue;
    }
    const std::string text = kSteps.TextOf(n);
    const std::string job = JobOf(text);
    bool reaches = false;
    switch (KindOf(text)) {
      case Correction::kDeletePosition:
        reaches = jobs_inserted.count(job) > 0;
        break;
      case Correction::kDeleteCourseList:
        reaches = inserted.count({job, "S-481"}) > 0 || inserted.count({job, "S-481Old"}) > 0;
        break;
      default:
        ASSERT_NE(CourseOf(text), "") << n;
        reaches = inserted.count({job, CourseOf(text)}) > 0;
    }
    if (reaches) reaching.push_back(n);
  }
  EXPECT_EQ(reaching, std::vector<int>{52});
}

// Every text of the stage is one statement of the engine's dialect, on the
// prerequisite table, with every column qualified by the table's name.
TEST(Training2StepsParse, EveryStatementParses) {
  for (int n = 1; n <= 165; ++n) {
    if (kSteps.RowAt(n)) continue;
    const std::string text = kSteps.TextOf(n);
    dao::sql::Statement statement;
    ASSERT_NO_THROW(statement = dao::sql::Parse(text)) << n << ": " << text;
    std::vector<dao::sql::Condition> where;
    if (const auto* del = std::get_if<dao::sql::DeleteStatement>(&statement)) {
      EXPECT_EQ(del->table, "tbl_kav_jobs_prereq_training") << n;
      where = del->where;
    } else if (const auto* upd = std::get_if<dao::sql::UpdateStatement>(&statement)) {
      EXPECT_EQ(upd->table, "tbl_kav_jobs_prereq_training") << n;
      ASSERT_EQ(upd->assignments.size(), 1u) << n;
      EXPECT_EQ(upd->assignments[0].column.table, "tbl_kav_jobs_prereq_training") << n;
      where = upd->where;
    } else {
      ADD_FAILURE() << n << " is neither a DELETE nor an UPDATE";
    }
    ASSERT_FALSE(where.empty()) << n;
    for (const dao::sql::Condition& condition : where) {
      EXPECT_EQ(condition.column.table, "tbl_kav_jobs_prereq_training") << n;
    }
    // The position's test comes last in every text.
    EXPECT_EQ(where.back().column.column, "jpt_job_code") << n;
    ASSERT_EQ(where.back().values.size(), 1u) << n;
    EXPECT_EQ(where.back().values[0].text, JobOf(text)) << n;
  }

  // The list deletion selects the two codes of the old S-481 course.
  const auto list = std::get<dao::sql::DeleteStatement>(dao::sql::Parse(kSteps.TextOf(47)));
  ASSERT_EQ(list.where.size(), 2u);
  EXPECT_EQ(list.where[0].column.column, "jpt_p_course_code");
  EXPECT_EQ(list.where[0].op, dao::sql::Condition::Op::kIn);
  ASSERT_EQ(list.where[0].values.size(), 2u);
  EXPECT_EQ(list.where[0].values[0].text, "S-481");
  EXPECT_EQ(list.where[0].values[1].text, "S-481Old");
}

}  // namespace
}  // namespace kav::stages
