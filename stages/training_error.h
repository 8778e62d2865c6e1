// The error rule of both training stages.

#ifndef KAV_STAGES_TRAINING_ERROR_H_
#define KAV_STAGES_TRAINING_ERROR_H_

#include <string>

#include "stages/stage.h"

// 3022 is passed over in silence.  Any other failure sets bFailed, then shows
// Str(number) + "  :  " + description (OK only, no icon) titled
// "UpdateMDB_Jobs_Training"; the stage then goes on with its next operation
// either way.  A box that cannot be shown raises, and that error leaves the
// stage.
void HandleTrainingStageError(long number, const std::string& description,
                              bool& bFailed);

namespace kav::stages {
// HandleTrainingStageError as the executor calls it.
Resume TrainingStageErrorHandler(const kav::Error& error, bool& bFailed);
}  // namespace kav::stages

#endif  // KAV_STAGES_TRAINING_ERROR_H_
