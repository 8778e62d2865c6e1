// The update driver and the column retyping routine.

#ifndef KAV_UPDATE_UPDATE_H_
#define KAV_UPDATE_UPDATE_H_

#include <ctime>
#include <optional>
#include <string>

#include "platform/dao/dao.h"

// Runs one whole upgrade of the database file `path` from "v4.0" to "v5.0",
// under the wait cursor, reporting only through message boxes.
void RunDatabaseUpdate(std::string path);

// Changes the type of sTable's column sField to iType, keeping its name,
// ordinal position, data, indexes and relations; the new column takes the
// size lSize (0: the type's default), the other properties as given.
// Raises kav::Error 55555 (source "ChangeFieldType") describing the step
// that failed.
void ChangeFieldType(dao::Database& db, const std::string& sTable, const std::string& sField,
                     int iType, long lSize, bool bAllowZeroLength, bool bNotRequired,
                     long lAttributes);

namespace kav::update {

// The general date of the user's regional settings: the short date, one
// blank, the long time (strftime's %x %X under LC_TIME); the date alone at
// exactly midnight.
std::string GeneralDate(const std::tm& time);
// "Updated " + GeneralDate(time) + "(davodo5.0.exe) ".
std::string UpdateNote(const std::tm& time);
// The workgroup file of `mdb_path`: up to and including the dot of its first
// ".mdb" (any case), then "mdw", else "MDW", as an ordinary file.
std::optional<std::string> FindWorkgroupFile(const std::string& mdb_path);

}  // namespace kav::update

#endif  // KAV_UPDATE_UPDATE_H_
