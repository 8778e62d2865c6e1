// Logging on to a workgroup file (workgroup.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_LOGON_H_
#define KAV_PLATFORM_DAO_INTERNAL_LOGON_H_

#include <string>

namespace dao::internal {

// Logs `user` on to the workgroup file at `path`: returns the workgroup's
// id and sets `stored_user` to the account's name as stored.  3028 for a
// file that is missing, no workgroup file, damaged (cut short, or beside
// the journal of an unfinished change), beside a log of changes not yet
// written into it, or at a path too long to open; 3029 for a refused
// account.  It writes nothing, and makes no file beside the workgroup file.
std::string LogOnToWorkgroup(const std::string& path, const std::string& user,
                             const std::string& password, std::string& stored_user);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_LOGON_H_
