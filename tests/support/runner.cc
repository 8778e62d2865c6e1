#include "tests/support/runner.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "tests/support/harness.h"

namespace kav::testing {

RunnerProcess::RunnerProcess(const std::string& mdb, const RunnerOptions& options)
    : seconds_(options.seconds) {
  int out[2] = {options.pipe[0], options.pipe[1]};
  if (out[0] < 0 && pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    if (options.file_size_limit > 0) {
      const struct rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                                   static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    // The runner meets SIGXFSZ as a user's shell would give it: not ignored.
    signal(SIGXFSZ, SIG_DFL);
    execl(KAV_RUN_UPDATE, KAV_RUN_UPDATE, mdb.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    return;
  }
  output_ = out[0];
}

RunnerProcess::~RunnerProcess() {
  if (pid_ > 0) Finish();
}

RunnerResult RunnerProcess::Finish() {
  RunnerResult result;
  if (pid_ < 0) {
    result.ending = "not started";
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_);
  std::string text;
  bool timed_out = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    struct pollfd ready = {output_, POLLIN, 0};
    const int n = poll(&ready, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(output_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  if (timed_out) kill(pid_, SIGKILL);
  close(output_);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  result.prompts = BoxPrompts(text);
  if (timed_out) {
    result.ending = "timed out";
  } else if (WIFSIGNALED(status)) {
    result.ending = "signal " + std::to_string(WTERMSIG(status));
  } else {
    result.ending = "exit " + std::to_string(WEXITSTATUS(status));
  }
  return result;
}

RunnerResult RunRunner(const std::string& mdb, const RunnerOptions& options) {
  return RunnerProcess(mdb, options).Finish();
}

std::vector<std::string> BoxPrompts(const std::string& text, std::string* other) {
  std::vector<std::string> prompts;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line.starts_with("MSGBOX\t")) {
      prompts.push_back(line.substr(line.rfind('\t') + 1));
    } else if (other != nullptr) {
      *other += line + "\n";
    }
    at = end + 1;
  }
  return prompts;
}

int ExpectedExitStatus(const std::vector<std::string>& prompts) {
  return std::find(prompts.begin(), prompts.end(), kUpdateFailedText) != prompts.end() ? 1 : 0;
}

std::vector<std::string> PromptsOf(const RunnerResult& run) {
  std::vector<std::string> prompts = run.prompts;
  if (run.ending != "exit " + std::to_string(ExpectedExitStatus(run.prompts))) {
    prompts.push_back("<" + run.ending + ">");
  }
  return prompts;
}

}  // namespace kav::testing
