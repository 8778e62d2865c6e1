#include "tests/support/harness.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "stages/globals.h"
#include "update/driver_globals.h"
#include "update/update.h"

namespace kav::testing {

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}

TempDir::TempDir(const std::string& parent) {
  std::string pattern = (std::filesystem::path(parent) / "kav-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {
// Whether every folder from the root down to `dir` lets other users pass,
// and this process may write in `dir`.
bool EveryUserReaches(const std::string& dir) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::canonical(dir, ec);
  if (ec || ::access(full.c_str(), W_OK | X_OK) != 0) return false;
  for (std::filesystem::path at = full;; at = at.parent_path()) {
    struct stat st;
    if (::stat(at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & S_IXOTH) == 0) {
      return false;
    }
    if (at == at.root_path()) return true;
  }
}
}  // namespace

std::string DirectoryEveryUserReaches() {
  for (const std::string& dir :
       {std::filesystem::temp_directory_path().string(), std::string("/tmp"),
        std::string("/var/tmp"), std::string("/dev/shm")}) {
    if (EveryUserReaches(dir)) return dir;
  }
  throw std::runtime_error("no temporary directory that every user may enter");
}

SampleOptions Persons(int persons) {
  SampleOptions options;
  options.persons = persons;
  return options;
}

std::string MakeSample(const TempDir& dir, const SampleOptions& options) {
  WriteSampleDatabase(dir.path(), options);
  return dir.File("KAV.MDB");
}

namespace {
dao::Workspace LogOn(const std::string& mdb_path) {
  std::optional<std::string> mdw = kav::update::FindWorkgroupFile(mdb_path);
  if (!mdw) throw std::runtime_error("no workgroup file beside " + mdb_path);
  dao::DBEngine& engine = dao::DBEngine::Instance();
  engine.SetSystemDB(*mdw);
  return engine.CreateWorkspace("", "KAVOwner", "TelvoRm", dao::dbUseJet);
}
}  // namespace

void OpenAsDriverDoes(const std::string& mdb_path) {
  gsMdbPath = mdb_path;
  gwsUpdate = LogOn(mdb_path);
  gsMdwPath = dao::DBEngine::Instance().SystemDB();
  gdbUpdate = gwsUpdate.OpenDatabase(mdb_path);
}

dao::Database OpenForCheck(const std::string& mdb_path) {
  dao::Workspace ws = LogOn(mdb_path);
  return ws.OpenDatabase(mdb_path);
}

std::vector<std::string> VersionRows(const std::string& mdb) {
  dao::Database db = OpenForCheck(mdb);
  std::vector<std::string> rows = Rows(db,
                                       "Select tbl_kav_version_info.kav_database_version from "
                                       "tbl_kav_version_info;");
  db.Close();
  return rows;
}

std::string Version(const std::string& mdb) {
  const std::vector<std::string> rows = VersionRows(mdb);
  return rows.empty() ? "<no row>" : rows.front();
}

std::vector<std::string> Rows(dao::Database& db, const std::string& sql) {
  dao::Recordset rs = db.OpenRecordset(sql, dao::dbOpenForwardOnly);
  return Rows(rs);
}

std::vector<std::string> Rows(dao::Recordset& rs) {
  std::vector<std::string> rows;
  while (!rs.IsEOF()) {
    std::string row;
    for (int i = 0; i < rs.FieldCount(); ++i) {
      if (i > 0) row += "|";
      row += rs.Fields(i).GetValue().ToString();
    }
    rows.push_back(row);
    rs.MoveNext();
  }
  return rows;
}

TraceRecorder::TraceRecorder(bool with_other_calls)
    : with_other_calls_(with_other_calls), previous_(dao::SetCallObserver(this)) {}

TraceRecorder::~TraceRecorder() { dao::SetCallObserver(previous_); }

void TraceRecorder::OnCall(const dao::Call& call) {
  if (call.kind == dao::CallKind::kOther && !with_other_calls_) return;
  lines_.push_back(TraceLine(call));
}

void TraceRecorder::OnError(const dao::Call& call, const kav::Error& error) {
  if (call.kind == dao::CallKind::kOther && !with_other_calls_) return;
  lines_.push_back("ERR\t" + std::to_string(error.number()));
}

FaultInjector::FaultInjector() : previous_(dao::SetCallObserver(this)) {}

FaultInjector::~FaultInjector() { dao::SetCallObserver(previous_); }

void FaultInjector::FailNth(std::function<bool(const dao::Call&)> match, int nth, long number,
                            std::string description) {
  rules_.push_back(Rule{std::move(match), nth, 0, number, std::move(description)});
}

void FaultInjector::FailNth(dao::CallKind kind, int nth, long number, std::string text,
                            std::string description) {
  FailNth(
      [kind, text](const dao::Call& call) {
        return call.kind == kind && (text.empty() || call.text == text);
      },
      nth, number, std::move(description));
}

void FaultInjector::OnCall(const dao::Call& call) {
  if (call.kind != dao::CallKind::kOther) lines_.push_back(TraceLine(call));
  // Every rule counts the call before any of them fails it.
  const Rule* failing = nullptr;
  for (Rule& rule : rules_) {
    if (rule.match(call) && ++rule.seen == rule.nth && failing == nullptr) failing = &rule;
  }
  if (failing != nullptr) {
    throw kav::Error(failing->number, failing->description, "FaultInjector");
  }
}

void FaultInjector::OnError(const dao::Call& call, const kav::Error& error) {
  if (call.kind != dao::CallKind::kOther) {
    lines_.push_back("ERR\t" + std::to_string(error.number()));
  }
}

}  // namespace kav::testing
