#include "stages/stages.h"
#include "stages/training_error.h"
namespace kav::stages {

const std::vector<Step>& Training1Steps() {
  static const std::vector<Step> steps = {};
  return steps;
}

}  // namespace kav::stages

void UpdateMDB_Jobs_Training1(bool& bFailed) {
  using namespace kav::stages;
  RunStage(Training1Steps(), TrainingStageErrorHandler, bFailed);
}
