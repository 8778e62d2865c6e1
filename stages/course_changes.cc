#include "stages/stages.h"

namespace kav::stages {

const std::vector<Step>& CourseChangesSteps() {
  static const std::vector<Step> steps = {};
  return steps;
}

}  // namespace kav::stages

void UpdateMDB_CourseChanges(bool& bFailed) {
  using namespace kav::stages;
  RunStage(CourseChangesSteps(), [](const kav::Error& e, bool& f) { return ReportAndLeaveStage(e, f, "UpdateMDB_CourseChanges"); }, bFailed);
}
