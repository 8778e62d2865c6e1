// UpdateMDB_Jobs_Experience2: rows of tbl_kav_jobs_prereq_experiences, the
// experience groups 29 to 45 of ICT3 and group 5 of ICT4.  Every row opens
// the table afresh and writes its seven values as text; the stage runs no
// statement.
//
// In every group of this stage the "JOB" members come first, in
// alphabetical order of their code, and the position's own "TRN" row closes
// the group: the reverse of the first experience stage's groups.

#include <string>
#include <vector>

#include "stages/stages.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_prereq_experiences";

// One group: the position, the group number and its "JOB" members in the
// order they are written.
struct Group {
  const char* job;
  int number;
  std::vector<const char*> members;
};

// Groups 29 to 44 pair CRWB or ENGB with TRPB or HELB, and each such pair
// with STCR, STEN, STDZ and STPL in turn (STEN before STDZ); group 45 has
// FELB in the second place, with STDZ alone.
const Group kGroups[] = {
    {"ICT3", 29, {"CRWB", "ICT4", "STCR", "TRPB"}}, {"ICT3", 30, {"CRWB", "ICT4", "STEN", "TRPB"}},
    {"ICT3", 31, {"CRWB", "ICT4", "STDZ", "TRPB"}}, {"ICT3", 32, {"CRWB", "ICT4", "STPL", "TRPB"}},
    {"ICT3", 33, {"CRWB", "HELB", "ICT4", "STCR"}}, {"ICT3", 34, {"CRWB", "HELB", "ICT4", "STEN"}},
    {"ICT3", 35, {"CRWB", "HELB", "ICT4", "STDZ"}}, {"ICT3", 36, {"CRWB", "HELB", "ICT4", "STPL"}},
    {"ICT3", 37, {"ENGB", "ICT4", "STCR", "TRPB"}}, {"ICT3", 38, {"ENGB", "ICT4", "STEN", "TRPB"}},
    {"ICT3", 39, {"ENGB", "ICT4", "STDZ", "TRPB"}}, {"ICT3", 40, {"ENGB", "ICT4", "STPL", "TRPB"}},
    {"ICT3", 41, {"ENGB", "HELB", "ICT4", "STCR"}}, {"ICT3", 42, {"ENGB", "HELB", "ICT4", "STEN"}},
    {"ICT3", 43, {"ENGB", "HELB", "ICT4", "STDZ"}}, {"ICT3", 44, {"ENGB", "HELB", "ICT4", "STPL"}},
    {"ICT3", 45, {"ENGB", "FELB", "ICT4", "STDZ"}}, {"ICT4", 5, {"HELB"}},
};

std::vector<Step> BuildSteps() {
  std::vector<Step> steps;
  for (const Group& g : kGroups) {
    auto add = [&](const std::string& p_job, const char* p_type) {
      steps.push_back(
          Row(kTable, {"WF", g.job, "WF", p_job, p_type, std::to_string(g.number), "NATIONAL"}));
    };
    for (const char* member : g.members) add(member, "JOB");
    add(g.job, "TRN");
  }
  return steps;
}

}  // namespace

const std::vector<Step>& Experience2Steps() { return BuiltOnce<BuildSteps>(); }

}  // namespace kav::stages
