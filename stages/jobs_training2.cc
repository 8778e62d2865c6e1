// UpdateMDB_Jobs_Training2: the training prerequisites of the positions
// from GSUL to TRPB in tbl_kav_jobs_prereq_training.  The stage runs 165
// fixed steps: 125 prerequisite rows and 40 corrections of the table, in the
// order below, with HandleTrainingStageError in force for every single
// operation, so a failure never stops the stage.
//
// Every row is a position's prerequisite course with its type, ST or RT; the
// risk types are "WF" and the standard "NATIONAL" throughout.  Every
// correction is one of five statement texts in which only the codes change;
// the functions below build each of them in one place, with exactly the
// blanks and keyword case the stored texts have.

#include <string>
#include <vector>

#include "stages/stages.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_training";

// One prerequisite row: `job` requires `course` with the type `type`.
RowStep Prerequisite(const std::string& job, const std::string& course,
                     const std::string& type) {
  return Row(kTable, {"WF", job, "WF", course, type, "NATIONAL"});
}

// A quoted code as the statements write it.
std::string Quoted(const std::string& code) { return "'" + code + "'"; }

// The selection of every correction but the whole-position deletion: the
// position's rows whose course matches `course_test` ("= 'S-381'" or
// "in (...)").  Two blanks stand before the course test, one before the
// position's "=", "AND" in capitals.
std::string CourseOfPositionWhere(const std::string& course_test,
                                  const std::string& job) {
  return "WHERE tbl_kav_jobs_prereq_training.jpt_p_course_code  " +
         course_test +
         " AND tbl_kav_jobs_prereq_training.jpt_job_code = " + Quoted(job) +
         ";";
}

// Deletes the rows of `job` for one course.
std::string DeleteCourseText(const std::string& job,
                             const std::string& course) {
  return "DELETE FROM tbl_kav_jobs_prereq_training " +
         CourseOfPositionWhere("= " + Quoted(course), job);
}

// Deletes the rows of `job` for every course of `courses`; the list has no
// blank after its commas and "in" is in lower case.
std::string DeleteCourseListText(const std::string& job,
                                 const std::vector<std::string>& courses) {
  std::string list;
  for (const std::string& course : courses) {
    if (!list.empty()) list += ",";
    list += Quoted(course);
  }
  return "DELETE FROM tbl_kav_jobs_prereq_training " +
         CourseOfPositionWhere("in (" + list + ")", job);
}

// Deletes every row of `job`, with two blanks before its "=".
std::string DeletePositionText(const std::string& job) {
  return "DELETE FROM tbl_kav_jobs_prereq_training WHERE "
         "tbl_kav_jobs_prereq_training.jpt_job_code  = " +
         Quoted(job) + ";";
}

// Sets one column of the rows of `job` for `course`; two blanks before the
// "=" of the SET.
std::string SetColumnText(const std::string& column, const std::string& value,
                          const std::string& job, const std::string& course) {
  return "UPDATE tbl_kav_jobs_prereq_training SET "
         "tbl_kav_jobs_prereq_training." +
         column + "  = " + Quoted(value) + " " +
         CourseOfPositionWhere("= " + Quoted(course), job);
}

// Appends the stage's steps in the order they run, one call per line of the
// stage's step table.
class StepList {
 public:
  void Insert(const std::string& job, const std::string& course,
              const std::string& type) {
    steps_.push_back(Prerequisite(job, course, type));
  }
  // The row goes through the recordset the step before opened.
  void InsertThroughPreviousRecordset(const std::string& job,
                                      const std::string& course,
                                      const std::string& type) {
    steps_.push_back(ThroughPreviousRecordset(Prerequisite(job, course, type)));
  }
  void DeleteCourse(const std::string& job, const std::string& course) {
    steps_.push_back(Sql(DeleteCourseText(job, course)));
  }
  // The old S-481 course under both its codes.
  void DeleteCourseList(const std::string& job) {
    steps_.push_back(Sql(DeleteCourseListText(job, {"S-481", "S-481Old"})));
  }
  void DeletePosition(const std::string& job) {
    steps_.push_back(Sql(DeletePositionText(job)));
  }
  void SetTypeRT(const std::string& job, const std::string& course) {
    steps_.push_back(Sql(SetColumnText("jpt_p_type", "RT", job, course)));
  }
  // Changes the course of the rows in place; the rows keep their type.
  void ReplaceCourse(const std::string& job, const std::string& from,
                     const std::string& to) {
    steps_.push_back(Sql(SetColumnText("jpt_p_course_code", to, job, from)));
  }

  std::vector<Step> Take() { return std::move(steps_); }

 private:
  std::vector<Step> steps_;
};

std::vector<Step> BuildTraining2Steps() {
  StepList b;
  // GSUL to ORDM, steps 1 to 86.  The positions run alphabetically except
  // that GISS follows HRSP, PIO2 and PIOF stand between INVF and IRIN, PROC
  // between IRIN and LOFR, and OPBD's row (83) comes between MEDL's row (82)
  // and MEDL's corrections (84, 85).  INVF's FI-210 row is inserted twice
  // (67, 71), and step 68 adds its row through the recordset of step 67.
  b.DeleteCourse("GSUL", "J-355");                           // 1
  b.DeleteCourse("GSUL", "S-381");                           // 2
  b.Insert("GSUL", "L-380", "ST");                           // 3
  b.DeletePosition("HCWN");                                  // 4
  b.Insert("HEB1", "RT-130", "RT");                          // 5
  b.ReplaceCourse("HEB2", "S-381", "L-380");                 // 6
  b.Insert("HEB2", "RT-130", "RT");                          // 7
  b.Insert("HECM", "RT-130", "RT");                          // 8
  b.Insert("HELB", "RT-372", "RT");                          // 9
  b.Insert("HELB", "RT-130", "RT");                          // 10
  b.Insert("HELM", "RT-372", "RT");                          // 11
  b.Insert("HELM", "S-372", "RT");                           // 12
  b.Insert("HELM", "RT-130", "RT");                          // 13
  b.Insert("HELM", "I-200", "ST");                           // 14
  b.Insert("HELM", "S-260", "ST");                           // 15
  b.Insert("HELM", "S-270", "ST");                           // 16
  b.DeletePosition("HEMG");                                  // 17
  b.Insert("HLCO", "RT-130", "RT");                          // 18
  b.Insert("HRSP", "S-340", "RT");                           // 19
  b.Insert("HRSP", "L-180", "ST");                           // 20
  b.Insert("HRSP", "I-100", "ST");                           // 21
  b.Insert("HRSP", "S-260", "ST");                           // 22
  b.Insert("HRSP", "S-110", "ST");                           // 23
  b.Insert("HRSP", "RT-340", "RT");                          // 24
  b.Insert("GISS", "I-100", "ST");                           // 25
  b.Insert("GISS", "S-245", "ST");                           // 26
  b.Insert("GISS", "S-110", "ST");                           // 27
  b.Insert("GISS", "S-341", "ST");                           // 28
  b.Insert("IADP", "I-100", "RT");                           // 29
  b.Insert("IADP", "L-180", "RT");                           // 30
  b.Insert("IADP", "S-190", "RT");                           // 31
  b.Insert("IADP", "S-130", "RT");                           // 32
  b.Insert("IADP", "D-311", "ST");                           // 33
  b.Insert("IADP", "S-290", "ST");                           // 34
  b.Insert("IADP", "S-271", "ST");                           // 35
  b.Insert("IADP", "S-215", "ST");                           // 36
  b.Insert("IADP", "S-200", "ST");                           // 37
  b.Insert("IARR", "L-180", "ST");                           // 38
  b.Insert("IBA1", "I-400", "ST");                           // 39
  b.Insert("IBA2", "I-300", "ST");                           // 40
  b.Insert("IBA2", "S-420", "ST");                           // 41
  b.Insert("IBA2", "S-360", "ST");                           // 42
  b.Insert("IBA2", "S-481", "ST");                           // 43
  b.Insert("ICT1", "RT-130", "RT");                          // 44
  b.Insert("ICT2", "L-480", "ST");                           // 45
  b.Insert("ICT2", "RT-130", "RT");                          // 46
  b.DeleteCourseList("ICT2");                                // 47
  b.Insert("ICT3", "RT-130", "RT");                          // 48
  b.Insert("ICT3", "L-381", "ST");                           // 49
  b.SetTypeRT("ICT3", "S-300");                              // 50
  b.Insert("ICT4", "S-200", "RT");                           // 51
  b.SetTypeRT("ICT4", "S-200");                              // 52
  b.Insert("ICT4", "RT-130", "RT");                          // 53
  b.DeleteCourse("ICT4", "S-215");                           // 54
  b.Insert("ICT4", "S-215", "ST");                           // 55
  b.Insert("ICT5", "S-131", "RT");                           // 56
  b.Insert("ICT5", "S-212", "ST");                           // 57
  b.Insert("ICT5", "S-211", "ST");                           // 58
  b.Insert("ICT5", "RT-130", "RT");                          // 59
  b.DeleteCourse("ICT5", "S-000");                           // 60
  b.DeleteCourse("ICT5", "S-290");                           // 61
  b.DeleteCourse("INCM", "I-100");                           // 62
  b.DeleteCourse("INCM", "S-281");                           // 63
  b.DeleteCourse("INJR", "S-000");                           // 64
  b.Insert("INJR", "L-180", "ST");                           // 65
  b.Insert("INJR", "I-100", "ST");                           // 66
  b.Insert("INVF", "FI-210", "RT");                          // 67
  b.InsertThroughPreviousRecordset("INVF", "FI-110", "ST");  // 68
  b.Insert("INVF", "I-200", "ST");                           // 69
  b.Insert("INVF", "S-190", "ST");                           // 70
  b.Insert("INVF", "FI-210", "RT");                          // 71
  b.DeleteCourseList("PIO2");                                // 72
  b.DeleteCourse("PIO2", "S-301");                           // 73
  b.DeleteCourse("PIOF", "I-200");                           // 74
  b.Insert("PIOF", "I-300", "ST");                           // 75
  b.Insert("PIOF", "L-180", "ST");                           // 76
  b.DeletePosition("IRIN");                                  // 77
  b.Insert("PROC", "L-380", "ST");                           // 78
  b.DeleteCourse("PROC", "S-381");                           // 79
  b.Insert("LOFR", "L-180", "ST");                           // 80
  b.Insert("LSC2", "L-480", "ST");                           // 81
  b.Insert("MEDL", "L-380", "ST");                           // 82
  b.Insert("OPBD", "RT-130", "RT");                          // 83
  b.SetTypeRT("MEDL", "S-359");                              // 84
  b.DeleteCourse("MEDL", "S-381");                           // 85
  b.DeleteCourse("ORDM", "S-281");                           // 86
  // OSC1 to TRPB, steps 87 to 165, alphabetically except that SOF3 (137)
  // follows SOFR: the recode of SOF3 to SOFR leaves the prerequisite rows
  // under their old code.
  b.Insert("OSC1", "RT-130", "RT");  // 87
  b.Insert("OSC2", "RT-130", "RT");  // 88
  b.Insert("OSC2", "L-480", "ST");   // 89
  b.DeleteCourseList("OSC2");        // 90
  b.Insert("PETL", "I-200", "ST");   // 91
  b.Insert("PETL", "P-410", "ST");   // 92
  b.Insert("PETL", "P-301", "ST");   // 93
  b.Insert("PETM", "FI-110", "ST");  // 94
  b.Insert("PETM", "I-100", "ST");   // 95
  b.Insert("PETM", "P-310", "ST");   // 96
  b.Insert("PETM", "P-101", "ST");   // 97
  b.Insert("PETM", "S-190", "ST");   // 98
  b.Insert("PETM", "S-130", "ST");   // 99
  b.Insert("PETM", "S-110", "ST");   // 100
  b.Insert("PSC2", "L-480", "ST");   // 101
  b.DeleteCourse("PTRC", "J-261");   // 102
  b.Insert("PTRC", "N9028", "ST");   // 103
  b.Insert("PTRC", "L-180", "ST");   // 104
  b.Insert("PTRC", "I-100", "ST");   // 105
  b.Insert("PTRC", "S-261", "ST");   // 106
  b.Insert("RADO", "L-180", "ST");   // 107
  b.DeleteCourse("RADO", "S-110");   // 108
  b.Insert("RADO", "J-158", "ST");   // 109
  b.Insert("RCDM", "S-260", "ST");   // 110
  b.Insert("RCDM", "L-180", "ST");   // 111
  b.DeleteCourse("RCDM", "S-201");   // 112
  b.DeleteCourse("RCDM", "S-281");   // 113
  b.Insert("RESL", "L-380", "ST");   // 114
  b.DeleteCourse("RESL", "S-381");   // 115
  b.Insert("SCKN", "N9030", "ST");   // 116
  b.Insert("SCKN", "L-180", "ST");   // 117
  b.Insert("SECM", "L-180", "ST");   // 118
  b.DeleteCourse("SECM", "S-281");   // 119
  b.Insert("SEMG", "S-273", "RT");   // 120
  b.Insert("SEMG", "S-270", "RT");   // 121
  b.Insert("SEMG", "RT-273", "ST");  // 122
  b.Insert("SEMG", "D-110", "ST");   // 123
  b.Insert("SEMG", "I-200", "ST");   // 124
  b.Insert("SEMG", "I-100", "ST");   // 125
  b.Insert("SEMG", "L-180", "ST");   // 126
  b.Insert("SEMG", "S-190", "ST");   // 127
  b.Insert("SEMG", "S-130", "ST");   // 128
  b.Insert("SITL", "RT-130", "RT");  // 129
  b.Insert("SITL", "L-380", "ST");   // 130
  b.Insert("SOF1", "RT-130", "RT");  // 131
  b.Insert("SOF2", "RT-130", "RT");  // 132
  b.Insert("SOF2", "L-480", "ST");   // 133
  b.DeleteCourseList("SOF2");        // 134
  b.Insert("SOFR", "I-300", "ST");   // 135
  b.Insert("SOFR", "RT-130", "RT");  // 136
  b.DeleteCourse("SOF3", "I-300");   // 137
  b.Insert("SPUL", "L-380", "ST");   // 138
  b.DeleteCourse("SPUL", "S-381");   // 139
  b.DeleteCourse("STAM", "S-281");   // 140
  b.Insert("STCR", "RT-130", "RT");  // 141
  b.Insert("STCR", "L-380", "ST");   // 142
  b.DeleteCourse("STCR", "S-381");   // 143
  b.Insert("STDZ", "RT-130", "RT");  // 144
  b.Insert("STDZ", "L-380", "ST");   // 145
  b.DeleteCourse("STDZ", "S-301");   // 146
  b.Insert("STEN", "RT-130", "RT");  // 147
  b.Insert("STEN", "L-380", "ST");   // 148
  b.DeleteCourse("STEN", "S-301");   // 149
  b.Insert("STPL", "RT-130", "RT");  // 150
  b.Insert("STPL", "L-380", "ST");   // 151
  b.DeleteCourse("STPL", "S-301");   // 152
  b.Insert("STPS", "RT-130", "RT");  // 153
  b.Insert("TFLD", "S-215", "RT");   // 154
  b.Insert("TFLD", "L-380", "ST");   // 155
  b.Insert("TFLD", "I-300", "ST");   // 156
  b.Insert("TFLD", "RT-130", "RT");  // 157
  b.Insert("TFLD", "S-330", "RT");   // 158
  b.DeleteCourse("TFLD", "S-390");   // 159
  b.Insert("TIME", "L-380", "ST");   // 160
  b.DeleteCourse("TIME", "S-381");   // 161
  b.Insert("TNSP", "L-180", "ST");   // 162
  b.DeleteCourse("TNSP", "S-381");   // 163
  b.Insert("TRPB", "RT-130", "RT");  // 164
  b.Insert("TRPB", "L-280", "ST");   // 165
  return b.Take();
}

}  // namespace

const std::vector<Step>& Training2Steps() {
  static const std::vector<Step> steps = BuildTraining2Steps();
  return steps;
}

}  // namespace kav::stages
