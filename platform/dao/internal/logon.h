// Logging on to a workgroup file (workgroup.cc).

#ifndef KAV_PLATFORM_DAO_INTERNAL_LOGON_H_
#define KAV_PLATFORM_DAO_INTERNAL_LOGON_H_

#include <string>

namespace dao::internal {

// Logs `user` on to the workgroup file at `path`: returns the workgroup's
// id and sets `stored_user` to the account's name as stored.  3028 for a
// file that is missing or no workgroup file, 3029 for a refused account.
std::string LogOnToWorkgroup(const std::string& path, const std::string& user,
                             const std::string& password, std::string& stored_user);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_LOGON_H_
