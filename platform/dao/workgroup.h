// Workgroup files: the accounts a secured database is opened with.
//
// A workgroup file is an SQLite file that holds the workgroup's identity (a
// random id made when the file is created) and its accounts: user names and
// password hashes (libsodium crypto_pwhash_str; never a password in clear).
// The hash string carries its own cost, so files made with either cost below
// are read alike; a stored hash of any other cost is refused as a wrong
// password, and a hash whose memory cannot be had raises the out-of-memory
// error (kErrOutOfMemory).

#ifndef KAV_PLATFORM_DAO_WORKGROUP_H_
#define KAV_PLATFORM_DAO_WORKGROUP_H_

#include <string>
#include <vector>

namespace dao {

enum class PasswordCost {
  kInteractive,  // the product's files: libsodium's interactive limits
  kMinimum,      // test fixtures: libsodium's minimum limits, fast
};

struct Account {
  std::string user;
  std::string password;
};

// Creates a workgroup file at `path` (which must not exist) holding
// `accounts`.  Raises kav::Error on failure.
void CreateWorkgroupFile(const std::string& path, const std::vector<Account>& accounts,
                         PasswordCost cost = PasswordCost::kInteractive);

}  // namespace dao

#endif  // KAV_PLATFORM_DAO_WORKGROUP_H_
