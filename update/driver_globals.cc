#include "update/driver_globals.h"

std::string gsMdbPath;
std::string gsMdwPath;
dao::Workspace gwsUpdate;
