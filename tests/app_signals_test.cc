// SIGTERM, SIGHUP and SIGINT end the tool as closing its windows does: at
// once while it sits idle, and only once the work has ended while an update
// runs (closing the terminal must not cut an update off).  One that was
// ignored when the tool started stays ignored, and each has its action from
// before again once the tool no longer answers them.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/ui/qt/busy_windows.h"
#include "platform/ui/qt/ending_signals.h"
#include "tests/support/harness.h"
#include "tests/support/offscreen_app.h"

namespace kav::testing {
namespace {

// Whether the process `pid` waits in its event loop.
bool WaitsForEvents(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/wchan");
  std::string wchan;
  std::getline(in, wchan);
  return wchan.find("poll") != std::string::npos;
}

// Waits up to `seconds` for the child `pid` to end; its wait status, or -1.
int WaitFor(pid_t pid, int seconds) {
  for (int i = 0; i < seconds * 100; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Starts the tool (on the offscreen platform, in `dir`) as a shell starts a
// program: the ending signals unblocked, at their defaults but for
// `ignored`, which is ignored (as nohup ignores SIGHUP).  Returns its pid
// once it waits for the answer to its start-up question, or -1.
pid_t StartIdleTool(const TempDir& dir, int ignored = 0) {
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int signal : kEndingSignals) ::signal(signal, signal == ignored ? SIG_IGN : SIG_DFL);
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(KAV_UPDATE, KAV_UPDATE, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid < 0) return -1;
  for (int i = 0; i < 1000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (WaitsForEvents(pid)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return pid;
    }
  }
  WaitFor(pid, 0);
  return -1;
}

TEST(EndingSignalsTest, EachEndsTheIdleToolAsClosingItsWindowsDoes) {
  for (const int signal : kEndingSignals) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    const pid_t pid = StartIdleTool(dir);
    ASSERT_GT(pid, 0) << "the tool did not come up";
    kill(pid, signal);
    const int status = WaitFor(pid, 10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  }
}

// Under nohup SIGHUP is ignored, and a shell without job control starts a
// background job with SIGINT ignored: the tool leaves such a signal
// ignored, and still ends on the others.
TEST(EndingSignalsTest, OneIgnoredWhenTheToolStartsStaysIgnored) {
  struct Case {
    int ignored;
    int ends;
  };
  for (const Case& c : {Case{SIGHUP, SIGTERM}, Case{SIGINT, SIGHUP}, Case{SIGTERM, SIGINT}}) {
    SCOPED_TRACE(strsignal(c.ignored));
    TempDir dir;
    const pid_t pid = StartIdleTool(dir, c.ignored);
    ASSERT_GT(pid, 0) << "the tool did not come up";
    kill(pid, c.ignored);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (waitpid(pid, nullptr, WNOHANG) != 0) {
      ADD_FAILURE() << "the ignored signal ended the tool";
      continue;
    }
    kill(pid, c.ends);
    const int status = WaitFor(pid, 10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  }
}

TEST(EndingSignalsTest, OneThatComesDuringTheWorkWaitsUntilItHasEnded) {
  App();
  // The test may have been started with some of them ignored.
  for (const int signal : kEndingSignals) ::signal(signal, SIG_DFL);
  int ended = 0;
  ui::EndingSignals ending([&] { ++ended; });
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    const int before = ended;
    {
      // As through an update: the windows are kept alive, not left.
      ui::BusyWindows busy;
      raise(signal);
      for (int i = 0; i < 20; ++i) {
        busy.KeepAlive();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_EQ(ended, before) << "ended while the work ran";
    }
    QTest::qWait(300);
    EXPECT_EQ(ended, before + 1) << "not ended when the work had ended";
  }
  raise(SIGHUP);  // idle: at once
  QTest::qWait(100);
  EXPECT_EQ(ended, 4);
}

volatile sig_atomic_t g_handled = 0;
void CountSignal(int) { g_handled = g_handled + 1; }

// While it exists a signal the process ignored stays ignored; when it goes,
// each signal has its action from before again: a handler of the
// process's own with its flags and mask, ignored, or the default.
TEST(EndingSignalsTest, TheActionsFromBeforeComeBackWhenItGoes) {
  App();
  struct sigaction own = {}, ignore = {}, by_default = {};
  own.sa_handler = CountSignal;
  sigemptyset(&own.sa_mask);
  sigaddset(&own.sa_mask, SIGUSR1);
  own.sa_flags = 0;  // unlike the handler of EndingSignals, no SA_RESTART
  ignore.sa_handler = SIG_IGN;
  by_default.sa_handler = SIG_DFL;
  const struct sigaction* const before[] = {&own, &ignore, &by_default};  // as kEndingSignals
  struct sigaction original[std::size(kEndingSignals)];
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ASSERT_EQ(sigaction(kEndingSignals[i], before[i], &original[i]), 0);
  }
  int ended = 0;
  {
    ui::EndingSignals ending([&] { ++ended; });
    raise(SIGHUP);
    QTest::qWait(100);
    EXPECT_EQ(ended, 0) << "the ignored SIGHUP ended the tool";
    raise(SIGTERM);
    QTest::qWait(100);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(g_handled, 0) << "the handler from before ran while it existed";
  }
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
    SCOPED_TRACE(strsignal(kEndingSignals[i]));
    struct sigaction now = {};
    ASSERT_EQ(sigaction(kEndingSignals[i], nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, before[i]->sa_handler);
    EXPECT_EQ(now.sa_flags & SA_RESTART, before[i]->sa_flags & SA_RESTART);
    EXPECT_EQ(sigismember(&now.sa_mask, SIGUSR1), sigismember(&before[i]->sa_mask, SIGUSR1));
  }
  raise(SIGTERM);
  EXPECT_EQ(g_handled, 1);
  for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
    sigaction(kEndingSignals[i], &original[i], nullptr);
  }
}

// The handler writes into one pipe of the process: a second one would take
// the signals from the first, so it is refused loudly.
TEST(EndingSignalsDeathTest, ASecondOneWhileOneExistsEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  App();
  ui::EndingSignals first([] {});
  EXPECT_DEATH(ui::EndingSignals second([] {}), "only one may exist at a time");
}

}  // namespace
}  // namespace kav::testing
