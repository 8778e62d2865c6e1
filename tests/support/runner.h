// Test support: the headless runner started in a child process, as a user
// starts it, with the environment and limits a test gives it, and ended
// when it takes too long, so that an update that blocks for ever fails the
// test instead of stopping the test run.

#ifndef KAV_TESTS_SUPPORT_RUNNER_H_
#define KAV_TESTS_SUPPORT_RUNNER_H_

#include <sys/types.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace kav::testing {

struct RunnerOptions {
  // Variables set in the runner's environment, over the test's own.
  std::vector<std::pair<std::string, std::string>> environment;
  // The largest file the runner may write (RLIMIT_FSIZE), in bytes; 0: the
  // test's own limit.  A runner that writes past it gets SIGXFSZ.
  off_t file_size_limit = 0;
  // The runner is killed after this many seconds.
  unsigned seconds = 120;
  // A pipe whose write end the runner's output goes into, and whose read
  // end Finish reads; the runner takes both ends.  By default one of its
  // own.
  std::array<int, 2> pipe = {-1, -1};
};

struct RunnerResult {
  // The prompts of the boxes the runner showed, in their order.
  std::vector<std::string> prompts;
  // How the runner ended: "exit 0", "exit 1", "signal 25", "timed out".
  std::string ending;
};

// A runner under way.
class RunnerProcess {
 public:
  RunnerProcess(const std::string& mdb, const RunnerOptions& options = {});
  ~RunnerProcess();
  RunnerProcess(const RunnerProcess&) = delete;
  RunnerProcess& operator=(const RunnerProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the runner to end (killing it when its time is up).
  RunnerResult Finish();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  unsigned seconds_;
};

// Runs the runner on `mdb` to its end.
RunnerResult RunRunner(const std::string& mdb, const RunnerOptions& options = {});

// The prompts of the boxes in the runner's output `text` (its MSGBOX
// lines), in their order; every other line goes into `*other`, where given.
std::vector<std::string> BoxPrompts(const std::string& text, std::string* other = nullptr);

// The exit status of a runner that showed `prompts`, where nothing went
// wrong with the runner itself: 1 after the update's failure box, else 0.
int ExpectedExitStatus(const std::vector<std::string>& prompts);

// The prompts of `run`, and a last line "<ending>" where the runner did not
// end with its expected exit status.
std::vector<std::string> PromptsOf(const RunnerResult& run);

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_RUNNER_H_
