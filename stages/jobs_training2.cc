#include "stages/stages.h"
#include "stages/training_error.h"
namespace kav::stages {

const std::vector<Step>& Training2Steps() {
  static const std::vector<Step> steps = {};
  return steps;
}

}  // namespace kav::stages

void UpdateMDB_Jobs_Training2(bool& bFailed) {
  using namespace kav::stages;
  RunStage(Training2Steps(), TrainingStageErrorHandler, bFailed);
}
