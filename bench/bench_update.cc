// kav-bench [--million] [PERSONS...]: times the whole update against its
// floor, plain SQLite doing the same work, in the same run and on the same
// sample.  This file runs the update and measures; the floor's plan, its
// run and the check of its rows are in floor.h.
//
// For each size (1,000, 10,000 and 100,000 persons, and 1,000,000 with
// --million; five held qualifications and one scheduled course each) it
// writes one sample database and copies it.  The headless runner updates the
// first copy in a child process with its trace on; the child's wall time
// (steady clock, process start included) and peak resident memory are the
// update's figures.  The floor then does the writes of that very trace on
// the second copy through one plain SQLite connection with the engine's
// journal settings (WAL, synchronous=NORMAL), after SQLite's integrity check
// of the whole file, as the update's checks at open make it (its time is
// printed on its own as well).  Afterwards the data rows of every table must
// equal those the update left, the current time each run wrote aside; the
// bench fails when they do not.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/floor.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "tests/support/harness.h"
#include "tools/sample.h"

#ifndef KAV_RUN_UPDATE
#error "KAV_RUN_UPDATE must name the headless runner"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using kav::bench::Die;
using kav::sample::PlainDatabase;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The update, in a child process.

struct UpdateRun {
  double seconds = 0;
  double peak_mib = 0;
  dao::DateTime started, finished;  // bounds of the current time it wrote
  std::vector<std::string> trace;
};

UpdateRun RunUpdate(const std::string& mdb, const std::string& trace_path) {
  UpdateRun run;
  run.started = dao::DateTime::Now();
  Clock::time_point start = Clock::now();
  std::fflush(stdout);  // the child must not print what the parent buffered
  pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen(trace_path.c_str(), "w", stdout) == nullptr) _exit(126);
    execl(KAV_RUN_UPDATE, KAV_RUN_UPDATE, "--trace", mdb.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = -1;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  run.seconds = Seconds(start);
  run.finished = dao::DateTime::Now();
  run.peak_mib = usage.ru_maxrss / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("the headless runner failed");
  std::ifstream in(trace_path);
  for (std::string line; std::getline(in, line);) run.trace.push_back(line);
  if (run.trace.empty() || run.trace.back() != "MSGBOX\t0\t\tDatabase Update completed.") {
    Die("the update did not complete: " + (run.trace.empty() ? "" : run.trace.back()));
  }
  return run;
}

struct SizeResult {
  double update_seconds = 0, floor_seconds = 0, check_seconds = 0, peak_mib = 0;
};

SizeResult Measure(int persons) {
  kav::testing::TempDir dir;
  const std::string updated = dir.File("update"), floor = dir.File("floor");
  std::filesystem::create_directories(updated);
  std::filesystem::create_directories(floor);
  kav::testing::SampleOptions options;
  options.persons = persons;
  options.cost = dao::PasswordCost::kInteractive;
  kav::testing::WriteSampleDatabase(updated, options);
  for (const char* file : {"/KAV.MDB", "/KAV.mdw"}) {
    std::filesystem::copy_file(updated + file, floor + file);
  }

  SizeResult result;
  const UpdateRun run = RunUpdate(updated + "/KAV.MDB", dir.File("trace.txt"));
  result.update_seconds = run.seconds;
  result.peak_mib = run.peak_mib;

  const kav::bench::Catalog catalog = kav::bench::ReadCatalog(updated + "/KAV.MDB");
  PlainDatabase db(floor + "/KAV.MDB");
  db.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=OFF");
  const dao::DateTime floor_started = dao::DateTime::Now();
  const std::vector<kav::bench::Work> plan = kav::bench::Planner(catalog, db).Plan(run.trace);
  const Clock::time_point start = Clock::now();
  // The update's checks at open include SQLite's integrity check of the
  // whole file; the floor does the same.
  if (const auto check = db.Query("PRAGMA integrity_check(1)");
      check.size() != 1 || check[0] != std::vector<std::string>{"ok"}) {
    Die("the floor's copy fails SQLite's integrity check");
  }
  result.check_seconds = Seconds(start);
  kav::bench::RunFloor(db, plan);
  result.floor_seconds = Seconds(start);
  const dao::DateTime floor_finished = dao::DateTime::Now();

  kav::bench::CheckSameRows(db, updated + "/KAV.MDB", run.started, run.finished, floor_started,
                            floor_finished);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  bool million = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--million") {
      million = true;
    } else if (arg.find_first_not_of("0123456789") == std::string::npos && !arg.empty()) {
      sizes.push_back(std::atoi(arg.c_str()));
    } else {
      std::fprintf(stderr, "usage: kav-bench [--million] [PERSONS...]\n");
      return 2;
    }
  }
  if (sizes.empty()) sizes = {1000, 10000, 100000};
  if (million) sizes.push_back(1000000);

  std::printf("%-10s %10s %10s %7s %10s %10s\n", "persons", "update s", "floor s", "ratio",
              "peak MiB", "check s");
  for (int persons : sizes) {
    try {
      const SizeResult r = Measure(persons);
      std::printf("%-10d %10.3f %10.3f %7.2f %10.1f %10.3f\n", persons, r.update_seconds,
                  r.floor_seconds, r.update_seconds / r.floor_seconds, r.peak_mib, r.check_seconds);
      std::fflush(stdout);
    } catch (const kav::Error& e) {
      Die("error " + std::to_string(e.number()) + ": " + e.description());
    }
  }
  return 0;
}
