#include "update/update.h"

// Column retyping is being built; until then the schema phase's four calls
// leave the columns as they are.
void ChangeFieldType(dao::Database&, const std::string&, const std::string&,
                     int, long&, bool&, bool&, long&) {}
