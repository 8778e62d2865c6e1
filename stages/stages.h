// The seven stage procedures, in the order the update runs them.  Each takes
// the driver's flag by reference, sets it to false on entry and to true when
// it fails, and works only through gdbUpdate.

#ifndef KAV_STAGES_STAGES_H_
#define KAV_STAGES_STAGES_H_

#include <string>
#include <vector>

#include "stages/stage.h"

void UpdateMDB_CourseChanges(bool& bFailed);
void UpdateMDB_Jobs_Training1(bool& bFailed);
void UpdateMDB_Jobs_Training2(bool& bFailed);
void UpdateMDB_Jobs_Experience1(bool& bFailed);
void UpdateMDB_Jobs_Experience2(bool& bFailed);
void UpdateMDB_Jobs_Experience3(bool& bFailed);
void UpdateMDB_Jobs_Currency(bool& bFailed);

// The error rule of both training stages, as a routine of its own: 3022 is
// passed over in silence; any other error sets bFailed, then shows
// Str(number) + "  :  " + description (OK only, no icon) titled
// "UpdateMDB_Jobs_Training".  The stage goes on with its next operation
// either way.  A box that cannot be shown raises, and that error leaves the
// stage.
void HandleTrainingStageError(long number, const std::string& description, bool& bFailed);

// The step lists, for tests.
namespace kav::stages {
const std::vector<Step>& CourseChangesSteps();
const std::vector<Step>& Training1Steps();
const std::vector<Step>& Training2Steps();
const std::vector<Step>& Experience1Steps();
const std::vector<Step>& Experience2Steps();
const std::vector<Step>& Experience3Steps();
const std::vector<Step>& CurrencySteps();
}  // namespace kav::stages

#endif  // KAV_STAGES_STAGES_H_
