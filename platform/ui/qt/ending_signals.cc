// A signal handler may do almost nothing: it writes one byte into a pipe,
// and the event loop reads it and ends the tool there, where every window
// and database can be closed as a close of the windows closes them.

#include "platform/ui/qt/ending_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ui/qt/busy_windows.h"

namespace ui {

namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

int g_pipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

EndingSignals::EndingSignals(std::function<void()> end) : end_(std::move(end)) {
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their defaults
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &EndingSignals::Arrived);
  waiting_.setInterval(50);
  connect(&waiting_, &QTimer::timeout, this, &EndingSignals::EndWhenIdle);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kEndingSignals) sigaction(signal, &action, nullptr);
}

EndingSignals::~EndingSignals() {
  if (notifier_ == nullptr) return;
  for (const int signal : kEndingSignals) ::signal(signal, SIG_DFL);
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
