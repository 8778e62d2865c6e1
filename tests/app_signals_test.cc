// SIGTERM, SIGHUP and SIGINT end the tool as closing its windows does: at
// once while it sits idle, and only once the work has ended while an update
// runs (closing the terminal must not cut an update off).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include <chrono>
#include <fstream>
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

TEST(EndingSignalsTest, EachEndsTheIdleToolAsClosingItsWindowsDoes) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    TempDir dir;
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.path().c_str()) != 0) _exit(126);
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      execl(KAV_UPDATE, KAV_UPDATE, static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(pid, 0);
    // The start-up question is up, and the tool waits for the answer.
    bool idle = false;
    for (int i = 0; i < 1000 && !idle; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      idle = WaitsForEvents(pid);
    }
    ASSERT_TRUE(idle) << "the tool did not come up";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, signal);
    const int status = WaitFor(pid, 10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  }
}

TEST(EndingSignalsTest, OneThatComesDuringTheWorkWaitsUntilItHasEnded) {
  App();
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

}  // namespace
}  // namespace kav::testing
