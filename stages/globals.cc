#include "stages/globals.h"

std::string gsMdbPath;
std::string gsMdwPath;
dao::Workspace gwsUpdate;
dao::Database gdbUpdate;
