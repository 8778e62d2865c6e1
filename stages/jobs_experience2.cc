// UpdateMDB_Jobs_Experience2: 87 rows of tbl_kav_jobs_prereq_experiences,
// the experience groups 29 to 45 of ICT3 and group 5 of ICT4.  Every row
// opens the table afresh and writes its seven values as text; the stage runs
// no statement.
//
// In every group of this stage the "JOB" members come first, in alphabetical
// order of their code, and the position's own "TRN" row closes the group.

#include <algorithm>
#include <string>
#include <vector>

#include "stages/stages.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_experiences";

// Appends group `group` of `job`: one "JOB" row per code of `others`, sorted,
// then the "TRN" row.
void AppendGroup(std::vector<Step>& steps, const std::string& job, int group,
                 std::vector<std::string> others) {
  std::sort(others.begin(), others.end());
  auto add = [&](const std::string& p_job, const char* p_type) {
    steps.push_back(Row(kTable, {"WF", job, "WF", p_job, p_type,
                                 std::to_string(group), "NATIONAL"}));
  };
  for (const std::string& other : others) add(other, "JOB");
  add(job, "TRN");
}

std::vector<Step> BuildExperience2Steps() {
  std::vector<Step> steps;
  // ICT3 groups 29 to 44 each name one code of `first`, one of `second`,
  // ICT4 and one of `rotating`; the group number is 29 + 8 f + 4 s + r for
  // the indexes f, s and r below.  The rotating codes run in this order,
  // which is not alphabetical (STEN before STDZ).
  const char* const first[] = {"CRWB", "ENGB"};
  const char* const second[] = {"TRPB", "HELB"};
  const char* const rotating[] = {"STCR", "STEN", "STDZ", "STPL"};
  for (int f = 0; f < 2; ++f) {
    for (int s = 0; s < 2; ++s) {
      for (int r = 0; r < 4; ++r) {
        AppendGroup(steps, "ICT3", 29 + 8 * f + 4 * s + r,
                    {first[f], second[s], "ICT4", rotating[r]});
      }
    }
  }
  // Group 45 falls outside that pattern: FELB in the second place, with
  // STDZ alone.
  AppendGroup(steps, "ICT3", 45, {"ENGB", "FELB", "ICT4", "STDZ"});
  AppendGroup(steps, "ICT4", 5, {"HELB"});
  return steps;
}

}  // namespace

const std::vector<Step>& Experience2Steps() {
  static const std::vector<Step> steps = BuildExperience2Steps();
  return steps;
}

}  // namespace kav::stages
