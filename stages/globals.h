// The open database the driver shares with the stages: the driver opens it
// and owns it, every stage works on it.  It sits in the stages' library,
// below the driver, so that the stages need nothing of the driver; the
// driver's own state is in update/driver_globals.h.  It keeps its value
// after an update returns, until the next run replaces it.

#ifndef KAV_STAGES_GLOBALS_H_
#define KAV_STAGES_GLOBALS_H_

#include "platform/dao/dao.h"

extern dao::Database gdbUpdate;  // the open database every stage works on

#endif  // KAV_STAGES_GLOBALS_H_
