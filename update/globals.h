// The module-level state of one update, shared by the driver and the stages.
// The globals keep their values after an update returns, until the next run
// replaces them.

#ifndef KAV_UPDATE_GLOBALS_H_
#define KAV_UPDATE_GLOBALS_H_

#include <string>

#include "platform/dao/dao.h"

extern std::string gsMdbPath;   // the database file under update
extern std::string gsMdwPath;   // its workgroup file
extern dao::Workspace gwsUpdate;  // logged on with the workgroup account
extern dao::Database gdbUpdate;   // the open database every stage works on

#endif  // KAV_UPDATE_GLOBALS_H_
