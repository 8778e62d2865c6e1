// The module-level state of one update.  The driver fills it in and owns it;
// the stages read gdbUpdate.  It sits in the stages' library, below the
// driver, so that the stages need nothing of the driver.  The globals keep
// their values after an update returns, until the next run replaces them.

#ifndef KAV_STAGES_GLOBALS_H_
#define KAV_STAGES_GLOBALS_H_

#include <string>

#include "platform/dao/dao.h"

extern std::string gsMdbPath;     // the database file under update
extern std::string gsMdwPath;     // its workgroup file
extern dao::Workspace gwsUpdate;  // logged on with the workgroup account
extern dao::Database gdbUpdate;   // the open database every stage works on

#endif  // KAV_STAGES_GLOBALS_H_
