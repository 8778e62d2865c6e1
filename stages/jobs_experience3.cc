#include "stages/stages.h"

namespace kav::stages {

const std::vector<Step>& Experience3Steps() {
  static const std::vector<Step> steps = {};
  return steps;
}

}  // namespace kav::stages

void UpdateMDB_Jobs_Experience3(bool& bFailed) {
  using namespace kav::stages;
  RunStage(Experience3Steps(), [](const kav::Error& e, bool& f) { return ReportAndLeaveStage(e, f, "UpdateMDB_Jobs_Experience"); }, bFailed);
}
