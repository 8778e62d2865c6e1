// Test support: the sample database, the driver's box texts, opening the
// database as the driver does and reading its version, and observers that
// record or fail engine calls.

#ifndef KAV_TESTS_SUPPORT_HARNESS_H_
#define KAV_TESTS_SUPPORT_HARNESS_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/observer.h"
#include "tools/sample.h"

namespace kav::testing {

// The sample database builder of tools/, which the suites use as their own.
using sample::PlainDatabase;
using sample::SampleOptions;
using sample::WriteSampleDatabase;

// The texts of the driver's boxes, as the records system words them: an
// update that completed, a database that was updated before, and the first
// box of the failure path.
inline constexpr const char* kCompleted = "Database Update completed.";
inline constexpr const char* kAlreadyUpdated = "This database has already been updated";
inline constexpr const char* kUpdateFailedText =
    "This update failed. Please retry. If update continues to fail call your "
    "KAV support person for help.  A second screen will appear showing error. "
    "Please capture this error.";

// A fresh directory under the system's temporary directory (or under
// `parent`), removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  explicit TempDir(const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A directory that every user may pass through, for what a test runs as
// another user: the system's temporary directory where each folder on its
// path lets others pass (it may lie under a folder of mode 0700), else the
// first such of /tmp, /var/tmp and /dev/shm.
std::string DirectoryEveryUserReaches();

// Sample options for a sample of `persons` persons.
SampleOptions Persons(int persons);

// Writes the sample v4.0 database "KAV.MDB" and its workgroup file "KAV.mdw"
// into `dir`, with fast password hashing.  Returns the database's path.
std::string MakeSample(const TempDir& dir, const SampleOptions& options = {});

// Logs on as "KAVOwner" with the workgroup beside `mdb_path` and opens it
// into gwsUpdate and gdbUpdate, as the driver does before its first stage.
void OpenAsDriverDoes(const std::string& mdb_path);
// Opens `mdb_path` as "KAVOwner" in a workspace of its own, for checks.
dao::Database OpenForCheck(const std::string& mdb_path);
// The values of the version table that a check workspace reads from `mdb`,
// in the order the driver's version gate reads them.
std::vector<std::string> VersionRows(const std::string& mdb);
// The first of them, the one the gate goes by; "<no row>" where there is
// none.
std::string Version(const std::string& mdb);

// Every row of `rs` from the current one to the end, each row's values
// joined by '|' as Value::ToString writes them ("" for Null).
std::vector<std::string> Rows(dao::Recordset& rs);
// Rows of a forward-only recordset on `sql` (a SELECT).
std::vector<std::string> Rows(dao::Database& db, const std::string& sql);

// The headless runner's trace line of a call.
using dao::TraceLine;

// Records every call as trace lines while it is installed.
class TraceRecorder : public dao::CallObserver {
 public:
  // with_other_calls: also record CALL lines.
  explicit TraceRecorder(bool with_other_calls = false);
  ~TraceRecorder() override;
  void OnCall(const dao::Call& call) override;
  void OnError(const dao::Call& call, const kav::Error& error) override;
  const std::vector<std::string>& lines() const { return lines_; }
  void Clear() { lines_.clear(); }

 private:
  bool with_other_calls_;
  dao::CallObserver* previous_;
  std::vector<std::string> lines_;
};

// Fails chosen calls while it is installed.  Each rule counts the calls it
// matches; when its count reaches `nth` (1-based) that call fails with
// kav::Error(number, description, "FaultInjector").
class FaultInjector : public dao::CallObserver {
 public:
  FaultInjector();
  ~FaultInjector() override;
  // Fails the nth call for which `match` is true.
  void FailNth(std::function<bool(const dao::Call&)> match, int nth, long number,
               std::string description = "Injected fault");
  // Fails the nth call of `kind` (and, when `text` is not empty, with that
  // exact text: the table of an open, the SQL of an execute).
  void FailNth(dao::CallKind kind, int nth, long number, std::string text = {},
               std::string description = "Injected fault");
  // Records calls too, so a test can see what ran after the fault.
  const std::vector<std::string>& lines() const { return lines_; }
  void OnCall(const dao::Call& call) override;
  void OnError(const dao::Call& call, const kav::Error& error) override;

 private:
  struct Rule {
    std::function<bool(const dao::Call&)> match;
    int nth;
    int seen = 0;
    long number;
    std::string description;
  };
  dao::CallObserver* previous_;
  std::vector<Rule> rules_;
  std::vector<std::string> lines_;
};

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_HARNESS_H_
