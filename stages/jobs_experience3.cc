// UpdateMDB_Jobs_Experience3: the last experience prerequisites of positions
// in tbl_kav_jobs_prereq_experiences.  The stage runs fixed steps:
// corrections that re-point or remove stored prerequisites (of the recoded
// IOF1 to IOF3, the retired RXI1, RXI2 and EMTB, and a few single members),
// and rows that add experience groups (PIO1, PIO2, PIOF, SITL, TFLD, the new
// positions STPS to IBA2, SEMG) and single prerequisites (FIRB for LTAN and
// for RXB2).
//
// Every correction follows one of two texts of the table: a re-pointing of
// one member in all groups of a position, or a deletion whose conditions are
// joined with a lower-case "and".  The functions below build each in one
// place, with the blanks and keyword case the stored texts have.

#include <string>
#include <vector>

#include "stages/stages.h"
#include "stages/statement_text.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_experiences";

// One experience prerequisite: `job` (of risk type `risk`) needs experience
// in `p_job` (of `p_risk`), as member `p_type` ("TRN" for the position
// itself, "JOB" for another) of its group `group`, written as digit text.
RowStep Experience(const std::string& risk, const std::string& job, const std::string& p_risk,
                   const std::string& p_job, const std::string& p_type, const std::string& group) {
  return Row(kTable, {risk, job, p_risk, p_job, p_type, group, "NATIONAL"});
}

std::string Column(const std::string& name) { return std::string(kTable) + "." + name; }

// Moves every row of `job` that names `from` to `to`, in all its groups.
// Two blanks before the "=" of the SET and of the position's comparison, one
// before the old member's, "AND" in capitals.
std::string RePointingText(const std::string& job, const std::string& from, const std::string& to) {
  return "UPDATE " + std::string(kTable) + " SET " + Column("jpe_p_job_code") + "  = '" + to +
         "' WHERE " + Column("jpe_job_code") + "  = '" + job + "' AND " + Column("jpe_p_job_code") +
         " = '" + from + "';";
}

// One comparison of a deletion: the column and what follows its name.
struct Condition {
  std::string column;
  std::string operand;  // "= 'LTAN'", "= 3", "in ('IOF1','IOF2')"
};

Condition Is(const std::string& column, const std::string& code) {
  return {column, "= '" + code + "'"};
}

// Group numbers are compared bare: the column is numeric.
Condition InGroup(int group) { return {"jpe_exp_group_no", "= " + std::to_string(group)}; }

// A list in lower-case "in".
Condition IsOneOf(const std::string& column, const std::vector<std::string>& codes) {
  return {column, "in " + QuotedCodeList(codes)};
}

// The join of two conditions.  One stored text lacks the blank between the
// closing quote of its first value and "and"; it runs so.
constexpr const char* kAnd = " and ";
constexpr const char* kAndRightAfterQuote = "and ";

// Deletes the rows that meet every condition: "from" and "and" in lower
// case, one blank on each side of each "=".
std::string DeletionText(const std::vector<Condition>& conditions, const char* and_join = kAnd) {
  std::string text = "DELETE from " + std::string(kTable) + " WHERE ";
  for (size_t i = 0; i < conditions.size(); ++i) {
    if (i > 0) text += and_join;
    text += Column(conditions[i].column) + " " + conditions[i].operand;
  }
  return text + ";";
}

std::vector<Step> BuildSteps() {
  return {
      // 1 to 3: ICT5's FFT1 becomes FFT2; the old codes of PIO1, PIO2 and
      // PIOF and LOFR lose their rows under "WF"; PIO2 loses PIOF.
      Sql(RePointingText("ICT5", "FFT1", "FFT2")),
      Sql(DeletionText(
          {IsOneOf("jpe_job_code", {"IOF1", "IOF2", "IOF3", "LOFR"}), Is("jpe_risk_type", "WF")})),
      Sql(DeletionText({Is("jpe_job_code", "PIO2"), Is("jpe_p_job_code", "PIOF")})),

      // 4 to 8: group 1 of PIO1, PIO2 and PIOF; FIRB in group 2 of LTAN.
      Experience("WF", "PIO1", "WF", "PIO1", "TRN", "1"),
      Experience("WF", "PIO1", "WF", "PIO2", "JOB", "1"),
      Experience("WF", "PIO2", "WF", "PIO2", "TRN", "1"),
      Experience("WF", "PIOF", "WF", "PIOF", "TRN", "1"),
      Experience("WF", "LTAN", "WF", "FIRB", "JOB", "2"),

      // 9 to 12: LTAN's group 3 and its RXI1 in group 2 go, MEDL's EMTB
      // becomes EMT, RXB1 loses ICT3 in group 1.
      Sql(DeletionText({Is("jpe_job_code", "LTAN"), InGroup(3)})),
      Sql(DeletionText({Is("jpe_job_code", "LTAN"), Is("jpe_p_job_code", "RXI1"), InGroup(2)})),
      Sql(RePointingText("MEDL", "EMTB", "EMT")),
      Sql(DeletionText({Is("jpe_job_code", "RXB1"), Is("jpe_p_job_code", "ICT3"), InGroup(1)})),

      // 13: FIRB in group 1 of RXB2, the one position here of risk type RX.
      Experience("RX", "RXB2", "WF", "FIRB", "JOB", "1"),

      // 14 to 16: RXB2 loses RXI2 in all groups; RXI1 and RXI2 go whole.
      Sql(DeletionText({Is("jpe_job_code", "RXB2"), Is("jpe_p_job_code", "RXI2")},
                       kAndRightAfterQuote)),
      Sql(DeletionText({Is("jpe_job_code", "RXI1")})),
      Sql(DeletionText({Is("jpe_job_code", "RXI2")})),

      // 17 to 32: groups 12 to 15 of SITL.
      Experience("WF", "SITL", "WF", "SITL", "TRN", "12"),
      Experience("WF", "SITL", "WF", "ICT4", "JOB", "12"),
      Experience("WF", "SITL", "WF", "CRWB", "JOB", "12"),
      Experience("WF", "SITL", "WF", "HELB", "JOB", "12"),
      Experience("WF", "SITL", "WF", "SITL", "TRN", "13"),
      Experience("WF", "SITL", "WF", "ICT4", "JOB", "13"),
      Experience("WF", "SITL", "WF", "CRWB", "JOB", "13"),
      Experience("WF", "SITL", "WF", "TRPB", "JOB", "13"),
      Experience("WF", "SITL", "WF", "SITL", "TRN", "14"),
      Experience("WF", "SITL", "WF", "ICT4", "JOB", "14"),
      Experience("WF", "SITL", "WF", "ENGB", "JOB", "14"),
      Experience("WF", "SITL", "WF", "HELB", "JOB", "14"),
      Experience("WF", "SITL", "WF", "SITL", "TRN", "15"),
      Experience("WF", "SITL", "WF", "ICT4", "JOB", "15"),
      Experience("WF", "SITL", "WF", "ENGB", "JOB", "15"),
      Experience("WF", "SITL", "WF", "TRPB", "JOB", "15"),

      // 33: TFLD loses FIRB in group 3.
      Sql(DeletionText({Is("jpe_job_code", "TFLD"), Is("jpe_p_job_code", "FIRB"), InGroup(3)})),

      // 34 to 41: groups 14 and 15 of TFLD.
      Experience("WF", "TFLD", "WF", "TFLD", "TRN", "14"),
      Experience("WF", "TFLD", "WF", "ICT4", "JOB", "14"),
      Experience("WF", "TFLD", "WF", "CRWB", "JOB", "14"),
      Experience("WF", "TFLD", "WF", "HELB", "JOB", "14"),
      Experience("WF", "TFLD", "WF", "TFLD", "TRN", "15"),
      Experience("WF", "TFLD", "WF", "ICT4", "JOB", "15"),
      Experience("WF", "TFLD", "WF", "ENGB", "JOB", "15"),
      Experience("WF", "TFLD", "WF", "HELB", "JOB", "15"),

      // 42 to 59: the first groups of the new positions, and SEMG's.
      Experience("WF", "STPS", "WF", "STPS", "TRN", "1"),
      Experience("WF", "STPS", "WF", "DIVS", "JOB", "1"),
      Experience("WF", "STPS", "WF", "STPS", "TRN", "2"),
      Experience("WF", "STPS", "WF", "ICT3", "JOB", "2"),
      Experience("WF", "HRSP", "WF", "HRSP", "TRN", "1"),
      Experience("WF", "GISS", "WF", "GISS", "TRN", "1"),
      Experience("WF", "INVF", "WF", "INVF", "TRN", "1"),
      Experience("WF", "PETL", "WF", "PETL", "TRN", "1"),
      Experience("WF", "PETL", "WF", "PETM", "JOB", "1"),
      Experience("WF", "PETM", "WF", "PETM", "TRN", "1"),
      Experience("WF", "ACDP", "WF", "ACDP", "TRN", "1"),
      Experience("WF", "ACDP", "WF", "EDRC", "JOB", "1"),
      Experience("WF", "IADP", "WF", "IADP", "TRN", "1"),
      Experience("WF", "IADP", "WF", "EDRC", "JOB", "1"),
      Experience("WF", "IBA1", "WF", "IBA1", "TRN", "1"),
      Experience("WF", "IBA1", "WF", "IBA2", "JOB", "1"),
      Experience("WF", "IBA2", "WF", "IBA2", "TRN", "1"),
      Experience("WF", "SEMG", "WF", "SEMG", "TRN", "1"),
  };
}

}  // namespace

const std::vector<Step>& Experience3Steps() { return BuiltOnce<BuildSteps>(); }

}  // namespace kav::stages
