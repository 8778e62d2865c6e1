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

// The step lists and the training stages' error rule, for tests.
namespace kav::stages {
const std::vector<Step>& CourseChangesSteps();
const std::vector<Step>& Training1Steps();
const std::vector<Step>& Training2Steps();
const std::vector<Step>& Experience1Steps();
const std::vector<Step>& Experience2Steps();
const std::vector<Step>& Experience3Steps();
const std::vector<Step>& CurrencySteps();
const ErrorRule& TrainingRule();
}  // namespace kav::stages

#endif  // KAV_STAGES_STAGES_H_
