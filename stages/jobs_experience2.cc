#include "stages/stages.h"

namespace kav::stages {

const std::vector<Step>& Experience2Steps() {
  static const std::vector<Step> steps = {};
  return steps;
}

}  // namespace kav::stages

void UpdateMDB_Jobs_Experience2(bool& bFailed) {
  using namespace kav::stages;
  RunStage(Experience2Steps(), [](const kav::Error& e, bool& f) { return ReportAndLeaveStage(e, f, "UpdateMDB_Jobs_Experience"); }, bFailed);
}
