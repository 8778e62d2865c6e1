// UpdateMDB_Jobs_Training1: the training prerequisites of the lead-in group
// (FEMO, LTAN, RXB1, RXB2, RXI1, CREP, FIRB, RXM1, RXM2) and of the positions
// from ACDP to GSUL in tbl_kav_jobs_prereq_training.  The stage runs 108
// fixed steps, 79 prerequisite rows and 29 corrections, in the order below,
// with HandleTrainingStageError in force for every single operation, so a
// failure never stops the stage.
//
// Every row opens the table afresh and assigns all six fields as text.  The
// corrections come in five forms that differ only in their codes; the
// functions below build each form in one place, with exactly the blanks and
// keyword case the stored texts have.

#include <string>
#include <vector>

#include "stages/stages.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_training";

// A prerequisite row with all six values: the position's risk type, the
// position, the course's risk type, the course, the type (ST or RT) and the
// standard.
RowStep Prerequisite(const std::string& risk_type, const std::string& job,
                     const std::string& course_risk_type,
                     const std::string& course, const std::string& type) {
  return Row(kTable, {risk_type, job, course_risk_type, course, type,
                      "NATIONAL"});
}

// A prerequisite row of a "WF" position for a "WF" course.
RowStep WildfirePrerequisite(const std::string& job, const std::string& course,
                             const std::string& type) {
  return Prerequisite("WF", job, "WF", course, type);
}

std::string Quoted(const std::string& code) { return "'" + code + "'"; }

std::string Qualified(const std::string& column) {
  return std::string(kTable) + "." + column;
}

// The assignment after SET and the first comparison after WHERE: two blanks
// between the column and the operator, one after it.
std::string LeadingTerm(const std::string& column, const std::string& op,
                        const std::string& operand) {
  return Qualified(column) + "  " + op + " " + operand;
}

// The end of every form but the clearance: the course term, then the
// position's comparison after "AND" with one blank on each side of "=".
std::string WhereCourseOfPosition(const std::string& course_term,
                                  const std::string& job) {
  return "WHERE " + course_term + " AND " + Qualified("jpt_job_code") +
         " = " + Quoted(job) + ";";
}

constexpr const char* kDeleteHead =
    "DELETE FROM tbl_kav_jobs_prereq_training ";
constexpr const char* kUpdateHead = "UPDATE tbl_kav_jobs_prereq_training SET ";

// Deletes the rows of `job` that name `course`.
SqlStep Removal(const std::string& job, const std::string& course) {
  return Sql(kDeleteHead +
             WhereCourseOfPosition(
                 LeadingTerm("jpt_p_course_code", "=", Quoted(course)), job));
}

// Deletes the rows of `job` that name any of `courses`: "in" in lower case,
// the quoted codes separated by a comma with no blank.
SqlStep ListRemoval(const std::string& job,
                    const std::vector<std::string>& courses) {
  std::string list;
  for (const std::string& course : courses) {
    if (!list.empty()) list += ",";
    list += Quoted(course);
  }
  return Sql(kDeleteHead +
             WhereCourseOfPosition(
                 LeadingTerm("jpt_p_course_code", "in", "(" + list + ")"),
                 job));
}

// Deletes every row of `job`.
SqlStep Clearance(const std::string& job) {
  return Sql(std::string(kDeleteHead) + "WHERE " +
             LeadingTerm("jpt_job_code", "=", Quoted(job)) + ";");
}

// Changes the course of the rows of `job` from `from` to `to`.
SqlStep Replacement(const std::string& job, const std::string& from,
                    const std::string& to) {
  return Sql(kUpdateHead +
             LeadingTerm("jpt_p_course_code", "=", Quoted(to)) + " " +
             WhereCourseOfPosition(
                 LeadingTerm("jpt_p_course_code", "=", Quoted(from)), job));
}

// Sets the type of the rows of `job` that name `course`.
SqlStep Retyping(const std::string& job, const std::string& course,
                 const std::string& type) {
  return Sql(kUpdateHead + LeadingTerm("jpt_p_type", "=", Quoted(type)) +
             " " +
             WhereCourseOfPosition(
                 LeadingTerm("jpt_p_course_code", "=", Quoted(course)), job));
}

std::vector<Step> BuildSteps() {
  const auto& P = Prerequisite;
  const auto& W = WildfirePrerequisite;
  return {
      // The lead-in group; its order is the stored one, not alphabetical.
      P("RX", "FEMO", "RX", "RX-310", "ST"),
      P("RX", "FEMO", "WF", "RT-130", "RT"),
      P("WF", "LTAN", "WF", "RT-130", "RT"),
      P("WF", "LTAN", "WF", "S-580", "ST"),
      P("WF", "LTAN", "WF", "NBHAV+", "ST"),
      P("RX", "RXB1", "WF", "RT-130", "RT"),
      P("RX", "RXB2", "WF", "L-380", "ST"),
      P("RX", "RXB2", "RX", "RX-341", "ST"),
      P("RX", "RXB2", "WF", "RT-130", "RT"),
      Removal("RXB2", "S-381"),
      Clearance("RXI1"),
      P("WF", "CREP", "WF", "RT-130", "RT"),
      P("WF", "FIRB", "WF", "S-290", "RT"),
      P("WF", "FIRB", "WF", "S-230", "RT"),
      P("WF", "FIRB", "WF", "RT-130", "RT"),  // written again after FOBS below
      P("WF", "FIRB", "WF", "I-200", "ST"),
      P("WF", "FIRB", "WF", "L-280", "ST"),   // written again after FOBS below
      P("WF", "FIRB", "WF", "S-270", "ST"),
      P("WF", "FIRB", "WF", "S-260", "ST"),
      P("WF", "FIRB", "WF", "S-234", "ST"),
      P("RX", "RXM1", "WF", "RT-130", "RT"),
      P("RX", "RXM2", "WF", "RT-130", "RT"),
      // ACDP to AOBD.
      P("WF", "ACDP", "WF", "D-312", "ST"),
      P("WF", "ACDP", "WF", "D-310", "ST"),
      P("WF", "ACDP", "WF", "I-200", "ST"),
      P("WF", "ACDP", "WF", "S-270", "ST"),
      P("WF", "ACDP", "WF", "S-260", "ST"),
      P("WF", "AOBD", "WF", "L-480", "ST"),
      // The old S-481 under both the code it had and the one the course
      // catalogue stage gives it.
      ListRemoval("AOBD", {"S-481", "S-481Old"}),

      // AREP to EDSP.
      Removal("AREP", "S-000"),
      W("AREP", "L-180", "ST"),
      W("ASGS", "RT-130", "RT"),
      Replacement("ASGS", "J-375", "S-375"),
      W("ATCO", "L-380", "ST"),
      Removal("ATCO", "J-376"),
      Removal("ATCO", "S-110"),
      W("ATGS", "RT-130", "RT"),
      Removal("BCMG", "S-281"),
      W("BCMG", "L-180", "ST"),
      Removal("CLMS", "S-000"),
      W("CLMS", "I-100", "ST"),
      W("CLMS", "L-180", "ST"),
      Removal("CMSY", "S-000"),
      W("CMSY", "I-100", "ST"),
      W("CMSY", "L-180", "ST"),
      W("COML", "L-380", "ST"),
      Removal("COML", "S-381"),
      Replacement("COML", "J-358", "S-358"),
      // Finds nothing left: the removal above took every S-381 row of COML.
      Replacement("COML", "S-381", "L-380"),
      W("COMP", "L-380", "ST"),
      // Runs after COMP's L-380 row is in: where a unique key holds one row
      // per position and course, COMP's S-381 row stays as it is.
      Replacement("COMP", "S-381", "L-380"),
      Replacement("COMT", "I-200", "I-100"),
      W("COMT", "L-180", "ST"),
      W("COMT", "S-190", "ST"),
      W("COMT", "RT-130", "RT"),
      Replacement("CORD", "S-401", "L-480"),
      W("COST", "S-360", "ST"),
      W("COST", "N9029", "ST"),
      Replacement("COST", "S-381", "L-380"),
      W("CRWB", "RT-130", "RT"),
      W("CRWB", "L-280", "ST"),
      W("DIVS", "RT-130", "RT"),
      W("DIVS", "S-390", "RT"),
      W("DIVS", "L-381", "ST"),
      Replacement("DOCL", "I-200", "I-300"),
      W("DOZB", "RT-130", "RT"),
      W("DOZB", "L-280", "ST"),
      Replacement("EDRC", "S-110", "L-180"),
      W("EDRC", "S-190", "ST"),
      Removal("EDSD", "S-281"),
      Removal("EDSP", "S-190"),
      Removal("EDSP", "S-381"),
      W("EDSP", "L-380", "ST"),
      W("EDSP", "A-207", "ST"),

      // ENGB to GSUL.
      W("ENGB", "RT-130", "RT"),
      W("ENGB", "L-280", "ST"),
      W("EQPM", "L-180", "ST"),
      W("EQTR", "L-180", "ST"),
      W("EQTR", "I-100", "ST"),
      W("FACL", "L-380", "ST"),
      Replacement("FACL", "J-354", "S-354"),
      Removal("FACL", "S-381"),
      W("FBAN", "RT-130", "RT"),
      Removal("FDUL", "J-357"),
      W("FDUL", "S-357", "RT"),
      W("FDUL", "L-380", "ST"),
      W("FDUL", "I-300", "ST"),
      Removal("FDUL", "S-381"),
      W("FELB", "RT-130", "RT"),
      W("FELB", "L-280", "ST"),
      W("FFT1", "S-133", "RT"),
      W("FFT1", "RT-130", "RT"),
      Removal("FFT1", "S-281"),
      W("FFT2", "RT-130", "RT"),
      W("FFT2", "L-180", "RT"),
      Retyping("FFT2", "I-100", "RT"),
      // FIRB's RT-130 and L-280 rows a second time, value for value, with the
      // FOBS row between them: where the table has a unique key each meets
      // its twin from the lead-in group and is skipped as a duplicate.
      W("FIRB", "RT-130", "RT"),
      W("FOBS", "RT-130", "RT"),
      W("FIRB", "L-280", "ST"),
      Replacement("FSC2", "J-460", "S-460"),
      W("FSC2", "L-480", "ST"),
      // FUM2 before FUM1.
      W("FUM2", "S-580", "RT"),
      W("FUM2", "RT-130", "RT"),
      W("FUM2", "M-581", "ST"),
      W("FUM1", "S-580", "RT"),
      W("FUM1", "RT-130", "RT"),
      W("FUM1", "M-581", "RT"),
      // GSUL's first row; its others belong to the next stage.
      W("GSUL", "S-355", "ST"),
  };
}

}  // namespace

const std::vector<Step>& Training1Steps() {
  static const std::vector<Step> steps = BuildSteps();
  return steps;
}

}  // namespace kav::stages
