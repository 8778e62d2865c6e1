// The update driver and the column retyping routine.

#ifndef KAV_UPDATE_UPDATE_H_
#define KAV_UPDATE_UPDATE_H_

#include <string>

#include "platform/dao/dao.h"

// Runs one whole upgrade of the database file `path` from "v4.0" to "v5.0",
// under the wait cursor, reporting only through message boxes.
void RunDatabaseUpdate(std::string path);

// Changes the type of sTable's column sField, keeping its name, ordinal
// position, data, indexes and relations.  Raises kav::Error 55555 (source
// "ChangeFieldType") describing the step that failed.
void ChangeFieldType(dao::Database& db, const std::string& sTable,
                     const std::string& sField, int iType, long& lSize,
                     bool& bAllowZeroLength, bool& bNotRequired,
                     long& lAttributes);

#endif  // KAV_UPDATE_UPDATE_H_
