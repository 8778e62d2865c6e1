// The seven stage procedures side by side: each runs its step list under
// its error rule.  The training stages report an error and go on with the
// next operation, so one bad row can show several boxes; every other stage
// leaves at its first reported error.  Both training stages show one title,
// so a box does not tell which of them failed; the three experience stages
// share theirs likewise.

#include "stages/stages.h"

namespace kav::stages {
namespace {

constexpr Resume kGoOn = Resume::kNextOperation;
constexpr Resume kLeave = Resume::kLeaveStage;

constexpr ErrorRule kCourseChangesRule = {"UpdateMDB_CourseChanges", kLeave};
constexpr ErrorRule kTrainingRule = {"UpdateMDB_Jobs_Training", kGoOn};
constexpr ErrorRule kExperienceRule = {"UpdateMDB_Jobs_Experience", kLeave};
constexpr ErrorRule kCurrencyRule = {"UpdateMDB_Jobs_Currency", kLeave};

}  // namespace

const ErrorRule& TrainingRule() { return kTrainingRule; }

}  // namespace kav::stages

using namespace kav::stages;

void UpdateMDB_CourseChanges(bool& bFailed) {
  RunStage(CourseChangesSteps(), kCourseChangesRule, bFailed);
}
void UpdateMDB_Jobs_Training1(bool& bFailed) { RunStage(Training1Steps(), kTrainingRule, bFailed); }
void UpdateMDB_Jobs_Training2(bool& bFailed) { RunStage(Training2Steps(), kTrainingRule, bFailed); }
void UpdateMDB_Jobs_Experience1(bool& bFailed) {
  RunStage(Experience1Steps(), kExperienceRule, bFailed);
}
void UpdateMDB_Jobs_Experience2(bool& bFailed) {
  RunStage(Experience2Steps(), kExperienceRule, bFailed);
}
void UpdateMDB_Jobs_Experience3(bool& bFailed) {
  RunStage(Experience3Steps(), kExperienceRule, bFailed);
}
void UpdateMDB_Jobs_Currency(bool& bFailed) { RunStage(CurrencySteps(), kCurrencyRule, bFailed); }
