#include "stages/stages.h"

namespace kav::stages {

const std::vector<Step>& CurrencySteps() {
  static const std::vector<Step> steps = {};
  return steps;
}

}  // namespace kav::stages

void UpdateMDB_Jobs_Currency(bool& bFailed) {
  using namespace kav::stages;
  RunStage(CurrencySteps(), [](const kav::Error& e, bool& f) { return ReportAndLeaveStage(e, f, "UpdateMDB_Jobs_Currency"); }, bFailed);
}
