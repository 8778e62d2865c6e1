// The prerequisite check: is the database program of the records system
// (Microsoft Access 2000 or later) registered on this machine?

#ifndef KAV_APP_ACCESS_CHECK_H_
#define KAV_APP_ACCESS_CHECK_H_

#include <string>

#include "platform/registry/registry.h"

// The executable path of the registered program; empty when none was found.
extern std::string gsAccessPath;

// Reads the command of `sSubKey`'s value `sValueName` and cuts the
// executable path out of it into sPath.  Returns false, with sPath empty,
// when the key does not open or the value is not read.  A value that fills
// the whole buffer without a NUL cannot be cut and raises error 5.
bool ReadAccessCommandPath(HKEY hKey, const std::string& sSubKey, const std::string& sValueName,
                           std::string& sPath);

// Looks up the registrations of Access 2003, 2002 and 2000, in that order,
// and keeps the first path found in gsAccessPath.  An error is shown in a
// box and ends the look-up.
void FindAccess();

#endif  // KAV_APP_ACCESS_CHECK_H_
