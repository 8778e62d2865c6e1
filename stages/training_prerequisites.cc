#include "stages/training_prerequisites.h"

#include "stages/statement_text.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_training";

std::string Column(const std::string& name) { return std::string(kTable) + "." + name; }

// The selection of every form but the position's deletion: the rows of
// `job` whose course meets `course_test` ("= 'S-381'" or "in (...)").  Two
// blanks stand before the course test, "AND" in capitals, one blank on each
// side of the position's "=".
std::string CourseOfPosition(const std::string& course_test, const std::string& job) {
  return "WHERE " + Column("jpt_p_course_code") + "  " + course_test + " AND " +
         Column("jpt_job_code") + " = " + Quoted(job) + ";";
}

std::string DeleteFrom() { return std::string("DELETE FROM ") + kTable + " "; }

// The head of an UPDATE that sets one column; two blanks before its "=".
std::string Set(const std::string& column, const std::string& value) {
  return std::string("UPDATE ") + kTable + " SET " + Column(column) + "  = " + Quoted(value) + " ";
}

}  // namespace

RowStep Prerequisite(const std::string& risk_type, const std::string& job,
                     const std::string& course_risk_type, const std::string& course,
                     const std::string& type) {
  return Row(kTable, {risk_type, job, course_risk_type, course, type, "NATIONAL"});
}

RowStep Prerequisite(const std::string& job, const std::string& course, const std::string& type) {
  return Prerequisite("WF", job, "WF", course, type);
}

SqlStep DeleteCourse(const std::string& job, const std::string& course) {
  return Sql(DeleteFrom() + CourseOfPosition("= " + Quoted(course), job));
}

SqlStep DeleteCourseList(const std::string& job, const std::vector<std::string>& courses) {
  return Sql(DeleteFrom() + CourseOfPosition("in " + QuotedCodeList(courses), job));
}

SqlStep DeletePosition(const std::string& job) {
  return Sql(DeleteFrom() + "WHERE " + Column("jpt_job_code") + "  = " + Quoted(job) + ";");
}

SqlStep ReplaceCourse(const std::string& job, const std::string& from, const std::string& to) {
  return Sql(Set("jpt_p_course_code", to) + CourseOfPosition("= " + Quoted(from), job));
}

SqlStep SetType(const std::string& job, const std::string& course, const std::string& type) {
  return Sql(Set("jpt_p_type", type) + CourseOfPosition("= " + Quoted(course), job));
}

}  // namespace kav::stages
