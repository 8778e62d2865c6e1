#include "stages/globals.h"

dao::Database gdbUpdate;
