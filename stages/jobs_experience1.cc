// UpdateMDB_Jobs_Experience1: the experience prerequisites of the positions
// from ACDR to HLCO in tbl_kav_jobs_prereq_experiences.  The stage runs
// fixed steps: rows that add experience groups, with corrections of stored
// rows at their places among them.
//
// A row writes seven text values by position: jpe_risk_type, jpe_job_code,
// jpe_p_risk_type, jpe_p_job_code, jpe_p_type, jpe_exp_group_no (its digits
// as text; the engine turns them into the column's number) and jpe_standard.
// The rows of one group are given as one line: the position, the group
// number and the members in insertion order, each the prerequisite position
// and its type.

#include <string>
#include <utility>
#include <vector>

#include "stages/stages.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_experiences";

// One member of an experience group: the prerequisite position with its
// type ("TRN" for the position itself, "JOB" for another one) and its risk
// type.
struct Member {
  std::string p_job;
  std::string p_type;
  std::string p_risk = "WF";
  // The member's row opens nothing and adds its record through the
  // recordset of the row before.
  bool through_previous_recordset = false;
};

// The member of risk type "RX".
Member Rescue(std::string p_job, std::string p_type) {
  return Member{std::move(p_job), std::move(p_type), "RX"};
}

// The member whose row goes through the recordset of the row before.
Member ThroughPrevious(std::string p_job, std::string p_type) {
  Member m{std::move(p_job), std::move(p_type)};
  m.through_previous_recordset = true;
  return m;
}

// "tbl_kav_jobs_prereq_experiences.<column> = '<value>'"; `wide` puts two
// blanks before the "=".
std::string Comparison(const std::string& column, const std::string& value, bool wide = false) {
  return std::string(kTable) + "." + column + (wide ? "  = '" : " = '") + value + "'";
}

// How a DELETE is written: the word after "DELETE", the word that joins its
// conditions, and whether its first comparison has two blanks before "=".
struct DeleteForm {
  const char* from;
  const char* joiner;
  bool wide_first;
};
constexpr DeleteForm kDeleteForm{"from", "and", false};

// Deletes the rows that match every (column, value) condition, in order.
std::string DeleteText(const DeleteForm& form,
                       const std::vector<std::pair<std::string, std::string>>& conditions) {
  std::string text = std::string("DELETE ") + form.from + " " + kTable + " WHERE ";
  for (size_t i = 0; i < conditions.size(); ++i) {
    if (i > 0) text += std::string(" ") + form.joiner + " ";
    text += Comparison(conditions[i].first, conditions[i].second, i == 0 && form.wide_first);
  }
  return text + ";";
}

// Re-points the prerequisite `from` of every row of `job` to `to`.  Two
// blanks before the "=" of the SET and of the first comparison, one before
// the second, "AND" in capitals.
std::string RePointText(const std::string& job, const std::string& from, const std::string& to) {
  return std::string("UPDATE ") + kTable + " SET " + Comparison("jpe_p_job_code", to, true) +
         " WHERE " + Comparison("jpe_job_code", job, true) + " AND " +
         Comparison("jpe_p_job_code", from) + ";";
}

// Appends the stage's steps in the order they run.
class StepList {
 public:
  // The rows of group `group` of `job`, one per member, in the order given.
  void Group(const std::string& job, int group, std::initializer_list<Member> members) {
    for (const Member& m : members) {
      RowStep row =
          Row(kTable, {"WF", job, m.p_risk, m.p_job, m.p_type, std::to_string(group), "NATIONAL"});
      steps_.push_back(m.through_previous_recordset ? ThroughPreviousRecordset(std::move(row))
                                                    : std::move(row));
    }
  }
  void Statement(std::string text) { steps_.push_back(Sql(std::move(text))); }

  std::vector<Step> Take() { return std::move(steps_); }

 private:
  std::vector<Step> steps_;
};

std::vector<Step> BuildSteps() {
  StepList b;
  // Correction 1: ABRO no longer names HECM.  This one text is written with
  // "FROM" and "AND" in capitals and two blanks before its first "=".
  b.Statement(
      DeleteText({"FROM", "AND", true}, {{"jpe_job_code", "ABRO"}, {"jpe_p_job_code", "HECM"}}));

  // Rows 1 to 44: ACDR to FOBS.  Every group starts with its "TRN" row.
  b.Group("ACDR", 2, {{"ACDR", "TRN"}, {"ACPC", "JOB"}});  // 1-2
  b.Group("ACDR", 3, {{"ACDR", "TRN"}, {"ICT1", "JOB"}});  // 3-4
  b.Group("ACLC", 2, {{"ACLC", "TRN"}, {"LSC1", "JOB"}});  // 5-6
  b.Group("ACLC", 3, {{"ACLC", "TRN"}, {"PSC1", "JOB"}});  // 7-8
  b.Group("ACLC", 4, {{"ACLC", "TRN"}, {"OSC1", "JOB"}});  // 9-10
  b.Group("ACLC", 5, {{"ACLC", "TRN"}, {"FSC1", "JOB"}});  // 11-12
  b.Group("ACPC", 2, {{"ACPC", "TRN"}, {"LSC1", "JOB"}});  // 13-14
  b.Group("ACPC", 3, {{"ACPC", "TRN"}, {"PSC1", "JOB"}});  // 15-16
  b.Group("ACPC", 4, {{"ACPC", "TRN"}, {"OSC1", "JOB"}});  // 17-18
  b.Group("ACPC", 5, {{"ACPC", "TRN"}, {"FSC1", "JOB"}});  // 19-20
  b.Group("ATGS", 2, {{"ATGS", "TRN"}, {"ICT3", "JOB"}});  // 21-22
  b.Group("DIVS", 3,
          {{"DIVS", "TRN"}, {"ICT4", "JOB"}, {"STCR", "JOB"}, {"STPL", "JOB"}});  // 23-26
  b.Group("DIVS", 4,
          {{"DIVS", "TRN"}, {"ICT4", "JOB"}, {"STCR", "JOB"}, {"STDZ", "JOB"}});  // 27-30
  b.Group("DIVS", 5,
          {{"DIVS", "TRN"}, {"ICT4", "JOB"}, {"STEN", "JOB"}, {"STPL", "JOB"}});  // 31-34
  // Rows 36 and 40, the ICT4 members of groups 6 and 7, add their records
  // through the recordset that rows 35 and 39 opened.
  b.Group(
      "DIVS", 6,
      {{"DIVS", "TRN"}, ThroughPrevious("ICT4", "JOB"), {"STEN", "JOB"}, {"STDZ", "JOB"}});  // 35-38
  b.Group(
      "DIVS", 7,
      {{"DIVS", "TRN"}, ThroughPrevious("ICT4", "JOB"), {"STCR", "JOB"}, {"STEN", "JOB"}});  // 39-42
  b.Group("FOBS", 7, {{"FOBS", "TRN"}, {"HELB", "JOB"}});  // 43-44

  // Rows 45 to 54: FUM1 (FUMA's new code) and FUM2.  RXB1 and RXB2 are of
  // risk type "RX".
  b.Group("FUM1", 1, {{"FUM1", "TRN"}, {"FUM2", "JOB"}});        // 45-46
  b.Group("FUM1", 2, {{"FUM1", "TRN"}, Rescue("RXB1", "JOB")});  // 47-48
  b.Group("FUM1", 3, {{"FUM1", "TRN"}, {"ICT2", "JOB"}});        // 49-50
  b.Group("FUM2", 1, {{"FUM2", "TRN"}, Rescue("RXB2", "JOB")});  // 51-52
  b.Group("FUM2", 2, {{"FUM2", "TRN"}, {"ICT3", "JOB"}});        // 53-54

  // Corrections 2 and 3: HCWN's rows go; HEB2's prerequisite HEMG becomes
  // HELM before HEB2's new group is added.
  b.Statement(DeleteText(kDeleteForm, {{"jpe_job_code", "HCWN"}, {"jpe_risk_type", "WF"}}));
  b.Statement(RePointText("HEB2", "HEMG", "HELM"));

  b.Group("HEB2", 2, {{"HEB2", "TRN"}, {"HELB", "JOB"}});  // 55-56
  b.Group("HELB", 1, {{"HELB", "TRN"}});                   // 57

  // Correction 4: HEMG's own rows go before HELM's groups are added, out of
  // the alphabetical order the steps otherwise keep.
  b.Statement(DeleteText(kDeleteForm, {{"jpe_job_code", "HEMG"}, {"jpe_risk_type", "WF"}}));

  b.Group("HELM", 1, {{"HELM", "TRN"}, {"HECM", "JOB"}, {"CRWB", "JOB"}});  // 58-60
  b.Group("HELM", 2, {{"HELM", "TRN"}, {"HECM", "JOB"}, {"ENGB", "JOB"}});  // 61-63
  b.Group("HELM", 3, {{"HELM", "TRN"}, {"HELB", "JOB"}});                   // 64-65

  // Correction 5: HLCO no longer names HEMG.  Unlike the other lower-case
  // deletions it joins its conditions with "AND".
  b.Statement(
      DeleteText({"from", "AND", false},
                 {{"jpe_job_code", "HLCO"}, {"jpe_p_job_code", "HEMG"}, {"jpe_risk_type", "WF"}}));

  b.Group("HLCO", 2, {{"HLCO", "TRN"}, {"STCR", "JOB"}});  // 66-67
  b.Group("HLCO", 3, {{"HLCO", "TRN"}, {"STEN", "JOB"}});  // 68-69
  b.Group("HLCO", 4, {{"HLCO", "TRN"}, {"STDZ", "JOB"}});  // 70-71
  b.Group("HLCO", 5, {{"HLCO", "TRN"}, {"STPL", "JOB"}});  // 72-73
  return b.Take();
}

}  // namespace

const std::vector<Step>& Experience1Steps() { return BuiltOnce<BuildSteps>(); }

}  // namespace kav::stages
