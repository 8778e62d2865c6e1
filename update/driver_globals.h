// The driver's own module-level state of one update: the paths of the
// database and of its workgroup file, and the workspace logged on with the
// workgroup account.  The driver fills them in; no stage reads them.  They
// keep their values after an update returns, until the next run replaces
// them.

#ifndef KAV_UPDATE_DRIVER_GLOBALS_H_
#define KAV_UPDATE_DRIVER_GLOBALS_H_

#include <string>

#include "platform/dao/dao.h"

extern std::string gsMdbPath;     // the database file under update
extern std::string gsMdwPath;     // its workgroup file
extern dao::Workspace gwsUpdate;  // logged on with the workgroup account

#endif  // KAV_UPDATE_DRIVER_GLOBALS_H_
