// Workgroup files: an SQLite file with the workgroup's identity row and its
// accounts.  It is written once, when it is made, in rollback-journal mode,
// and read through read-only connections, so logging on writes nothing and
// makes no file beside it.  A file that is damaged, or that SQLite could
// read only by changing it or the files beside it, is refused as such.

#include "platform/dao/workgroup.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/dao/dao.h"
#include "platform/dao/internal/call_frame.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/internal/file_header.h"
#include "platform/dao/internal/leftovers.h"
#include "platform/dao/internal/logon.h"
#include "platform/dao/internal/new_file.h"
#include "platform/dao/internal/sqlite.h"

namespace dao {

namespace internal {
namespace {
constexpr char kWorkgroupFormat[] = "kav-workgroup 1";

[[noreturn]] void NoWorkgroup(const std::string& path, const std::string& why) {
  Raise(kErrWorkgroupMissing, "The workgroup information file '" + path + "' " + why + ".");
}

[[noreturn]] void OutOfMemory() { Raise(kErrOutOfMemory, "Out of memory"); }

[[noreturn]] void Damaged(const std::string& path, const std::string& why) {
  NoWorkgroup(path, "is damaged: " + why);
}

// Refuses the file when what lies beside it would make SQLite change it or
// read more than the file: the journal of a change that was not finished,
// which SQLite plays back into the file before it reads it (logging on
// writes nothing, and the file as it stands is damaged); or a log of
// changes not yet written into the file, which SQLite reads only through
// an index that it makes and writes beside the file.  Neither is touched.
void CheckNothingLeftBeside(const std::string& path) {
  const Leftovers left = FindLeftovers(path);
  if (!left.not_regular.empty()) {
    NoWorkgroup(path, "cannot be read as it is: beside it lies '" + left.not_regular +
                          "', which is not a regular file, where the database engine keeps a "
                          "journal or log of the file. Remove it and try again");
  }
  if (!left.journal.empty()) {
    Damaged(path, "beside it lies '" + left.journal +
                      "', the journal of a change to it that was not finished. Open the "
                      "workgroup information file once with the program that was changing it, "
                      "which undoes that change, and try again");
  }
  if (!left.wal.empty()) {
    NoWorkgroup(path, "cannot be read as it is: beside it lies '" + left.wal +
                          "', a log of changes not yet written into it. Close the program that "
                          "has it open, or open it once with an SQLite program, which writes the "
                          "log into it, and try again");
  }
}

// Refuses a file that is shorter than its header says, or that ends within
// a page: cut short, it may have lost the end of an account's row, and its
// password would no longer match.
void CheckSizeAgainstHeader(const std::string& path, const DatabaseHeader& header, off_t size) {
  if (header.size() < DatabaseHeader::kSize) Damaged(path, "it ends within its header");
  const uint32_t page_size = header.PageSize();
  if (page_size == 0) Damaged(path, "its header gives no page size");
  const auto expected = static_cast<off_t>(header.PageCount()) * page_size;
  if (size < expected) {
    Damaged(path, "cut short, it holds " + std::to_string(size) + " bytes of the " +
                      std::to_string(expected) + " its header gives");
  }
  if (size % page_size != 0) {
    Damaged(path, "it ends within a page: it holds " + std::to_string(size) +
                      " bytes, in pages of " + std::to_string(page_size));
  }
}

// Why a file that SQLite fails to read is refused, for the box.  A table
// or column of the workgroup's missing (SQLite's plain error) makes it
// another file; damage is damage, and any other failure (the disk, a lock)
// says that the file cannot be read, and why.
std::string WhyUnreadable(const SqliteError& error) {
  const std::string reason = sqlite3_errstr(error.code());
  switch (error.code() & 0xFF) {
    case SQLITE_ERROR:
      return "is not a workgroup information file";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return "is damaged (" + reason + ")";
    case SQLITE_NOMEM:
      OutOfMemory();
    default:
      return "cannot be read (" + reason + ")";
  }
}

// The limits a password is hashed with.
struct HashCost {
  unsigned long long ops;
  size_t mem;
};

HashCost CostOf(PasswordCost cost) {
  if (cost == PasswordCost::kMinimum) {
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
  }
  return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

// Decodes `text` (unpadded base64) into `out`; false when it is not that or
// does not fit.
bool DecodeBase64(std::string_view text, unsigned char* out, size_t capacity, size_t& size) {
  const char* end = nullptr;
  return sodium_base642bin(out, capacity, text.data(), text.size(), nullptr, &size, &end,
                           sodium_base64_VARIANT_ORIGINAL_NO_PADDING) == 0 &&
         end == text.data() + text.size();
}

// Whether `password` is the one `stored` was hashed from.  Only a hash made
// with one of the costs the engine writes is tried: any other cost is taken
// for a wrong password at once, for a cost above them would keep the log-on
// busy for hours or ask for gigabytes.  The hash is computed here and
// compared, rather than through crypto_pwhash_str_verify, because that
// reports a failed allocation as a mismatch; here it raises the engine's
// out-of-memory error.
bool PasswordMatches(const std::string& stored, const std::string& password) {
  for (PasswordCost kind : {PasswordCost::kMinimum, PasswordCost::kInteractive}) {
    const HashCost cost = CostOf(kind);
    if (crypto_pwhash_str_needs_rehash(stored.c_str(), cost.ops, cost.mem) != 0) continue;
    // "$argon2id$v=19$m=<KiB>,t=<ops>,p=1$<salt>$<hash>", as crypto_pwhash_str
    // writes it.
    const std::string head = std::string(crypto_pwhash_argon2id_STRPREFIX) +
                             "v=19$m=" + std::to_string(cost.mem / 1024) +
                             ",t=" + std::to_string(cost.ops) + ",p=1$";
    if (stored.compare(0, head.size(), head) != 0) return false;
    const std::string_view rest = std::string_view(stored).substr(head.size());
    const size_t dollar = rest.find('$');
    if (dollar == std::string_view::npos) return false;
    unsigned char salt[crypto_pwhash_SALTBYTES];
    unsigned char hash[crypto_pwhash_STRBYTES];
    size_t salt_size = 0;
    size_t hash_size = 0;
    if (!DecodeBase64(rest.substr(0, dollar), salt, sizeof salt, salt_size) ||
        salt_size != sizeof salt ||
        !DecodeBase64(rest.substr(dollar + 1), hash, sizeof hash, hash_size) ||
        hash_size < crypto_pwhash_BYTES_MIN) {
      return false;
    }
    unsigned char computed[sizeof hash];
    // With limits and sizes in range, crypto_pwhash fails only for want of
    // memory.
    if (crypto_pwhash(computed, hash_size, password.c_str(), password.size(), salt, cost.ops,
                      cost.mem, crypto_pwhash_ALG_ARGON2ID13) != 0) {
      OutOfMemory();
    }
    return sodium_memcmp(computed, hash, hash_size) == 0;
  }
  return false;
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
  if (const std::string why = PathTooLongForSqlite(path); !why.empty()) {
    NoWorkgroup(path, "cannot be opened: " + why);
  }
  const DatabaseHeader header(path);
  if (!header.HasSqliteSignature()) {
    NoWorkgroup(path, "is not a workgroup information file");
  }
  // SQLite keeps a journal or log beside the file the name leads to.
  const std::string full_path = SqliteFullPath(path);
  CheckNothingLeftBeside(full_path);
  CheckSizeAgainstHeader(path, header, st.st_size);

  sqlite3* conn = nullptr;
  // Closes the connection on every way out, the refusals included.
  const ConnectionCloser closer{conn};
  // SQLite reads a file in WAL mode through an index of its log (-shm),
  // which it makes beside the file together with the log itself, and
  // leaves there when the connection cannot write; so it would also for a
  // file in rollback-journal mode with a log beside it.  No log of changes
  // lies beside the file here (CheckNothingLeftBeside), so the file alone
  // holds every account, and it is read as a file that nothing changes
  // (immutable), which makes nothing beside it.  A file in rollback-journal
  // mode is read with SQLite's locks, which make nothing either.
  const bool immutable = header.InWalMode() || ::access((full_path + "-wal").c_str(), F_OK) == 0;
  const int rc = immutable
                     ? OpenSqlite(ImmutableUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, &conn)
                     : OpenSqlite(path, SQLITE_OPEN_READONLY, &conn);
  if (rc != SQLITE_OK) {
    if ((rc & 0xFF) == SQLITE_NOMEM) OutOfMemory();
    NoWorkgroup(path, "cannot be opened (" + std::string(sqlite3_errstr(rc)) + ")");
  }
  std::string workgroup_id;
  std::string hash;
  bool found = false;
  try {
    {
      Statement id(conn, "SELECT format, workgroup_id FROM daosys_workgroup WHERE id = 1");
      if (!id.Step() || id.Text(0) != kWorkgroupFormat) {
        NoWorkgroup(path, "is not a workgroup information file");
      }
      workgroup_id = id.Text(1);
    }
    Statement account(conn, "SELECT user, hash FROM daosys_accounts WHERE user = ?");
    account.Bind(1, user);
    if (account.Step()) {
      found = true;
      stored_user = account.Text(0);
      hash = account.Text(1);
    }
  } catch (const SqliteError& error) {
    NoWorkgroup(path, WhyUnreadable(error));
  }
  if (!found || !PasswordMatches(hash, password)) {
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
    NewFile file;
    file.Make(path, "The file '" + path + "' already exists.",
              "The file '" + path + "' cannot be created: ");
    // The file is there, made above: SQLite opens it and makes no other.
    sqlite3* conn = nullptr;
    if (OpenSqlite(path, SQLITE_OPEN_READWRITE, &conn) != SQLITE_OK) {
      std::string message = conn ? sqlite3_errmsg(conn) : "out of memory";
      sqlite3_close_v2(conn);
      Raise(kErrOpenFailed, "The file '" + path + "' cannot be created: " + message);
    }
    try {
      unsigned char raw[16];
      randombytes_buf(raw, sizeof raw);
      char hex[2 * sizeof raw + 1];
      sodium_bin2hex(hex, sizeof hex, raw, sizeof raw);
      const HashCost limits = CostOf(cost);
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
        // With the engine's limits, hashing fails only for want of memory.
        if (crypto_pwhash_str(hash, a.password.c_str(), a.password.size(), limits.ops,
                              limits.mem) != 0) {
          OutOfMemory();
        }
        Statement add(conn, "INSERT INTO daosys_accounts(user, hash) VALUES (?, ?)");
        add.Bind(1, a.user).Bind(2, std::string(hash));
        add.Run();
      }
      Exec(conn, "COMMIT");
    } catch (...) {
      sqlite3_close_v2(conn);  // before `file` goes, and with it the file
      throw;
    }
    sqlite3_close_v2(conn);
    file.Keep();
  });
}

}  // namespace dao
