#include "stages/training_error.h"

#include "platform/error.h"
#include "platform/ui/message_box.h"

void HandleTrainingStageError(long number, const std::string& description,
                              bool& bFailed) {
  if (number == dao::kErrDuplicateKey) return;
  bFailed = true;  // before the box, so a box that fails leaves it set
  ui::MsgBox(kav::ErrorBoxText(number, description), ui::vbOKOnly,
             "UpdateMDB_Jobs_Training");
}

namespace kav::stages {
Resume TrainingStageErrorHandler(const kav::Error& error, bool& bFailed) {
  HandleTrainingStageError(error.number(), error.description(), bFailed);
  return Resume::kNextOperation;
}
}  // namespace kav::stages
