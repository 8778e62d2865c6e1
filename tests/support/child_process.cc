#include "tests/support/child_process.h"

#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <fstream>
#include <new>

namespace kav::testing {

namespace {

// The child's end of the pipe, for the handler of a failed allocation.
int g_child_output = -1;

// Ends the child when an allocation fails, before anything can take the
// failure for a mere error of its own (a stream sets its failure bit on it).
void RanOutOfMemory() {
  static const char kText[] = "ran out of memory";
  const ssize_t written = write(g_child_output, kText, sizeof kText - 1);
  _exit(written > 0 ? 3 : 1);
}

// Limits the address space to what it is now and `mib` more.
void LimitAddressSpace(unsigned mib) {
#if defined(__SANITIZE_ADDRESS__)
  (void)mib;
#else
  long size_kib = 0;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmSize:", 0) == 0) size_kib = std::stol(line.substr(7));
  }
  if (size_kib <= 0) return;
  const rlim_t limit = (static_cast<rlim_t>(size_kib) << 10) + (static_cast<rlim_t>(mib) << 20);
  const struct rlimit rl = {limit, limit};
  setrlimit(RLIMIT_AS, &rl);
#endif
}

}  // namespace

ChildOutcome RunInChild(const std::function<std::string()>& body, unsigned seconds,
                        unsigned memory_mib) {
  ChildOutcome outcome;
  int out[2];
  if (pipe(out) != 0) {
    outcome.output = "no pipe";
    return outcome;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    outcome.output = "no child process";
    return outcome;
  }
  if (pid == 0) {
    close(out[0]);
    g_child_output = out[1];
    alarm(seconds);
    LimitAddressSpace(memory_mib);
    std::set_new_handler(RanOutOfMemory);
    std::string result;
    try {
      result = body();
    } catch (const std::exception& error) {
      result = std::string("threw: ") + error.what();
    } catch (...) {
      result = "threw something that is no std::exception";
    }
    size_t done = 0;
    while (done < result.size()) {
      const ssize_t n = write(out[1], result.data() + done, result.size() - done);
      if (n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(out[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) break;
    outcome.output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (WIFSIGNALED(status)) {
    outcome.output = WTERMSIG(status) == SIGALRM
                         ? "did not end within " + std::to_string(seconds) + " s"
                         : std::string("killed by signal ") + strsignal(WTERMSIG(status));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    outcome.output += " (an address space of " + std::to_string(memory_mib) + " MiB more)";
  } else if (!outcome.finished) {
    outcome.output = "ended with status " + std::to_string(WEXITSTATUS(status));
  }
  return outcome;
}

}  // namespace kav::testing
