// A signal handler may do almost nothing: it writes one byte into a pipe,
// and the event loop reads it and ends the tool there, where every window
// and database can be closed as a close of the windows closes them.

#include "platform/ui/qt/ending_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "platform/ui/qt/busy_windows.h"

namespace ui {

namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr size_t kSignalCount = std::size(kEndingSignals);

// A signal's handler is one per process, and so is what it writes into: the
// pipe, and the actions the signals had before, which come back when the
// one EndingSignals goes.
bool g_exists = false;
int g_pipe[2] = {-1, -1};
struct SavedAction {
  bool replaced = false;  // false: the signal was ignored and is left alone
  struct sigaction action = {};
} g_saved[kSignalCount];

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

// Whether `signal` is ignored now.  A program started under nohup, or in the
// background by a shell without job control, finds SIGHUP or SIGINT ignored
// and must leave it so.
bool Ignored(int signal) {
  struct sigaction current = {};
  if (sigaction(signal, nullptr, &current) != 0) return false;
  return (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

EndingSignals::EndingSignals(std::function<void()> end) : end_(std::move(end)) {
  // A second one would take the signals over from the first and close the
  // pipe the first one reads when it went: a programming error, found at
  // once rather than as a tool that no longer ends on a signal.
  if (g_exists) {
    std::fputs("EndingSignals: only one may exist at a time, and one exists already\n", stderr);
    std::abort();
  }
  g_exists = true;
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their actions
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &EndingSignals::Arrived);
  waiting_.setInterval(50);
  connect(&waiting_, &QTimer::timeout, this, &EndingSignals::EndWhenIdle);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kSignalCount; ++i) {
    SavedAction& saved = g_saved[i];
    saved.replaced =
        !Ignored(kEndingSignals[i]) && sigaction(kEndingSignals[i], &action, &saved.action) == 0;
  }
}

EndingSignals::~EndingSignals() {
  g_exists = false;
  if (notifier_ == nullptr) return;
  for (size_t i = 0; i < kSignalCount; ++i) {
    SavedAction& saved = g_saved[i];
    if (saved.replaced) sigaction(kEndingSignals[i], &saved.action, nullptr);
    saved = SavedAction();
  }
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void EndingSignals::Arrived() {
  char bytes[64];
  while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
  }
  EndWhenIdle();
}

void EndingSignals::EndWhenIdle() {
  if (BusyWindows::Any()) {
    waiting_.start();
    return;
  }
  waiting_.stop();
  if (end_) end_();
}

}  // namespace ui
