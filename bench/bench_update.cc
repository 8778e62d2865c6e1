// kav-bench [PERSONS...]: times the whole update on sample databases and
// compares the engine's cost per reference row with plain SQLite.
//
// For each size (default 1000, 10000, 100000 persons, five held
// qualifications each and one scheduled course) it writes a sample
// database, runs the headless runner on it in a child process and reports
// the wall time and the child's peak resident memory.  Then, in this
// process, it inserts reference rows through the engine layer (open the
// table, add, assign six fields, update: one commit per row) and the same
// rows through one plain SQLite prepared statement with the engine's journal
// settings, and single-statement updates the same way.

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/workgroup.h"
#include "tests/support/harness.h"
#include "tests/support/sample.h"

#ifndef KAV_RUN_UPDATE
#error "KAV_RUN_UPDATE must name the headless runner"
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct ChildRun {
  double seconds = 0;
  long peak_kib = 0;
  int status = -1;
};

ChildRun RunUpdate(const std::string& mdb) {
  ChildRun run;
  Clock::time_point start = Clock::now();
  std::fflush(stdout);  // the child must not print what the parent buffered
  pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execl(KAV_RUN_UPDATE, KAV_RUN_UPDATE, mdb.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  struct rusage usage {};
  wait4(pid, &run.status, 0, &usage);
  run.seconds = Seconds(start);
  run.peak_kib = usage.ru_maxrss;
  return run;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Plain SQLite: n single-row inserts, then n single-statement updates, each
// committed by itself.
std::pair<double, double> Floor(const std::string& path, int n) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                         "CREATE TABLE t(a TEXT, b TEXT, c TEXT, d TEXT, e TEXT, f TEXT);"
                         "CREATE UNIQUE INDEX t_key ON t(a COLLATE NOCASE, b COLLATE NOCASE,"
                         " c COLLATE NOCASE, d COLLATE NOCASE);",
                     nullptr, nullptr, nullptr),
        db, "schema");
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?,?,?)", -1, &insert, nullptr), db,
        "prepare");
  Clock::time_point start = Clock::now();
  for (int i = 0; i < n; ++i) {
    std::string code = "C" + std::to_string(i);
    const char* values[] = {"WF", "JOB1", "WF", code.c_str(), "ST", "NATIONAL"};
    for (int v = 0; v < 6; ++v) sqlite3_bind_text(insert, v + 1, values[v], -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  }
  double inserts = Seconds(start) / n;
  sqlite3_finalize(insert);
  sqlite3_stmt* update = nullptr;
  Check(sqlite3_prepare_v2(db, "UPDATE t SET e = 'RT' WHERE d = ? AND b = 'JOB1'", -1, &update,
                           nullptr),
        db, "prepare");
  start = Clock::now();
  for (int i = 0; i < n; ++i) {
    std::string code = "C" + std::to_string(i);
    sqlite3_bind_text(update, 1, code.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(update), db, "update");
    sqlite3_reset(update);
  }
  double updates = Seconds(start) / n;
  sqlite3_finalize(update);
  sqlite3_close(db);
  return {inserts, updates};
}

// The engine layer: n reference rows and n single-statement updates.
std::pair<double, double> Engine(const kav::testing::TempDir& dir, int n) {
  dao::CreateWorkgroupFile(dir.File("b.mdw"), {{"KAVOwner", "TelvoRm"}},
                           dao::PasswordCost::kMinimum);
  dao::DBEngine::Instance().SetSystemDB(dir.File("b.mdw"));
  dao::Workspace ws = dao::DBEngine::Instance().CreateWorkspace("", "KAVOwner", "TelvoRm");
  dao::Database db = ws.CreateDatabase(dir.File("b.mdb"));
  dao::TableDef td = db.CreateTableDef("t");
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
    td.Fields().Append(td.CreateField(name, dao::dbText, 20));
  }
  dao::Index key = td.CreateIndex("PrimaryKey");
  key.SetPrimary(true);
  key.SetUnique(true);
  for (const char* name : {"a", "b", "c", "d"}) key.Fields().Append(key.CreateField(name));
  td.Indexes().Append(key);
  db.TableDefs().Append(td);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < n; ++i) {
    dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
    rs.AddNew();
    rs.Fields(0).SetValue("WF");
    rs.Fields(1).SetValue("JOB1");
    rs.Fields(2).SetValue("WF");
    rs.Fields(3).SetValue("C" + std::to_string(i));
    rs.Fields(4).SetValue("ST");
    rs.Fields(5).SetValue("NATIONAL");
    rs.Update();
  }
  double inserts = Seconds(start) / n;
  start = Clock::now();
  for (int i = 0; i < n; ++i) {
    db.Execute("UPDATE t SET t.e  = 'RT' WHERE t.d  = 'C" + std::to_string(i) +
               "' AND t.b = 'JOB1';");
  }
  double updates = Seconds(start) / n;
  db.Close();
  return {inserts, updates};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {1000, 10000, 100000};

  std::printf("%-10s %10s %12s\n", "persons", "update s", "peak MiB");
  for (int persons : sizes) {
    kav::testing::TempDir dir;
    kav::testing::SampleOptions options;
    options.persons = persons;
    options.cost = dao::PasswordCost::kInteractive;
    kav::testing::WriteSampleDatabase(dir.path(), options);
    ChildRun run = RunUpdate(dir.File("KAV.MDB"));
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
      std::fprintf(stderr, "the update of %d persons did not finish\n", persons);
      return 1;
    }
    std::printf("%-10d %10.3f %12.1f\n", persons, run.seconds, run.peak_kib / 1024.0);
    std::fflush(stdout);
  }

  const int rows = 2000;
  kav::testing::TempDir dir;
  auto [floor_insert, floor_update] = Floor(dir.File("floor.db"), rows);
  auto [engine_insert, engine_update] = Engine(dir, rows);
  std::printf("\nper row (%d rows)     engine us   plain SQLite us   ratio\n", rows);
  std::printf("reference row insert  %9.1f   %15.1f   %5.2f\n", engine_insert * 1e6,
              floor_insert * 1e6, engine_insert / floor_insert);
  std::printf("one-row UPDATE        %9.1f   %15.1f   %5.2f\n", engine_update * 1e6,
              floor_update * 1e6, engine_update / floor_update);
  return 0;
}
