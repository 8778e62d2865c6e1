// The steps the driver runs itself in its data phase.

#ifndef KAV_UPDATE_CORRECTIONS_H_
#define KAV_UPDATE_CORRECTIONS_H_

#include <vector>

#include "stages/stage.h"

namespace kav::update {

// The functional area "PI" and the five registrations in tbl_kav_tables.
const std::vector<stages::Step>& RegistrationSteps();

// The 40 corrections of positions, held qualifications and FUMA's
// prerequisites, in the order they run.
const std::vector<stages::Step>& CorrectionSteps();

}  // namespace kav::update

#endif  // KAV_UPDATE_CORRECTIONS_H_
