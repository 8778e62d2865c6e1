// Workgroup files: an SQLite file with the workgroup's identity row and its
// accounts.  It is written once, when it is made, in rollback-journal mode,
// and read through read-only connections, so logging on writes nothing.

#include "platform/dao/workgroup.h"

#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dao/internal/engine.h"
#include "platform/dao/internal/sqlite.h"

namespace dao {

namespace internal {
namespace {
constexpr char kWorkgroupFormat[] = "kav-workgroup 1";

[[noreturn]] void NoWorkgroup(const std::string& path, const std::string& why) {
  Raise(kErrWorkgroupMissing, "The workgroup information file '" + path + "' " + why + ".");
}
}  // namespace

std::string LogOnToWorkgroup(const std::string& path, const std::string& user,
                             const std::string& password, std::string& stored_user) {
  if (path.empty()) NoWorkgroup(path, "is not set");
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    NoWorkgroup(path, "is missing");
  }
  if (::access(path.c_str(), R_OK) != 0) NoWorkgroup(path, "cannot be read");
  if (!HasSqliteHeader(path)) NoWorkgroup(path, "is not a workgroup information file");
  sqlite3* conn = nullptr;
  if (sqlite3_open_v2(path.c_str(), &conn, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(conn);
    NoWorkgroup(path, "cannot be opened");
  }
  std::string workgroup_id;
  std::string hash;
  bool found = false;
  try {
    {
      Statement id(conn, "SELECT format, workgroup_id FROM daosys_workgroup WHERE id = 1");
      if (!id.Step() || id.Text(0) != kWorkgroupFormat) throw 0;
      workgroup_id = id.Text(1);
    }
    Statement account(conn, "SELECT user, hash FROM daosys_accounts WHERE user = ?");
    account.Bind(1, user);
    if (account.Step()) {
      found = true;
      stored_user = account.Text(0);
      hash = account.Text(1);
    }
  } catch (...) {
    sqlite3_close_v2(conn);
    NoWorkgroup(path, "is not a workgroup information file");
  }
  sqlite3_close_v2(conn);
  if (!found || crypto_pwhash_str_verify(hash.c_str(), password.c_str(), password.size()) != 0) {
    Raise(kErrBadAccount, "Not a valid account name or password for this workgroup.");
  }
  return workgroup_id;
}

}  // namespace internal

void CreateWorkgroupFile(const std::string& path, const std::vector<Account>& accounts,
                         PasswordCost cost) {
  using namespace internal;
  RunOther("CreateWorkgroupFile", "DAO.DBEngine", [&] {
    DBEngine::Instance();  // sodium_init
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      Raise(kErrDatabaseExists, "The file '" + path + "' already exists.");
    }
    sqlite3* conn = nullptr;
    if (sqlite3_open_v2(path.c_str(), &conn, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      std::string message = conn ? sqlite3_errmsg(conn) : "out of memory";
      sqlite3_close_v2(conn);
      Raise(kErrOpenFailed, "The file '" + path + "' cannot be created: " + message);
    }
    try {
      unsigned char raw[16];
      randombytes_buf(raw, sizeof raw);
      char hex[2 * sizeof raw + 1];
      sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
      const unsigned long long ops = cost == PasswordCost::kMinimum
                                         ? crypto_pwhash_OPSLIMIT_MIN
                                         : crypto_pwhash_OPSLIMIT_INTERACTIVE;
      const size_t mem = cost == PasswordCost::kMinimum ? crypto_pwhash_MEMLIMIT_MIN
                                                        : crypto_pwhash_MEMLIMIT_INTERACTIVE;
      Exec(conn,
           "BEGIN;"
           "CREATE TABLE daosys_workgroup(id INTEGER PRIMARY KEY CHECK (id = 1), "
           "format TEXT NOT NULL, workgroup_id TEXT NOT NULL);"
           "CREATE TABLE daosys_accounts(user TEXT PRIMARY KEY COLLATE NOCASE, "
           "hash TEXT NOT NULL);");
      {
        Statement id(conn,
                     "INSERT INTO daosys_workgroup(id, format, workgroup_id) VALUES (1, ?, ?)");
        id.Bind(1, std::string(kWorkgroupFormat)).Bind(2, std::string(hex));
        id.Run();
      }
      for (const Account& a : accounts) {
        char hash[crypto_pwhash_STRBYTES];
        if (crypto_pwhash_str(hash, a.password.c_str(), a.password.size(), ops, mem) != 0) {
          Raise(kErrGeneric, "The password of '" + a.user + "' cannot be hashed.");
        }
        Statement add(conn, "INSERT INTO daosys_accounts(user, hash) VALUES (?, ?)");
        add.Bind(1, a.user).Bind(2, std::string(hash));
        add.Run();
      }
      Exec(conn, "COMMIT");
    } catch (...) {
      sqlite3_close_v2(conn);
      ::unlink(path.c_str());
      throw;
    }
    sqlite3_close_v2(conn);
  });
}

}  // namespace dao
