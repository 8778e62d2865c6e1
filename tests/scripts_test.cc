// The commands of scripts/: what scripts/run does with and without a
// desktop session, and what scripts/build builds.  Each runs the real script
// in a copy of the project's folder whose other scripts, tools and cmake
// are stand-ins that only write down how they were called, so nothing is
// installed, built or started.

#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/harness.h"

namespace kav::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const char* const kNeedsDesktop = "the tool needs a desktop session";
const char* const kCannotBeReached = "cannot be reached";
const char* const kNamesNoDisplay = "names no display";

// A socket bound to an address, listening or not; closed when it goes.
class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Close(); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Binds a Unix socket at `path`, or the abstract one `path` names after
  // its leading NUL; false when the address is taken.
  bool BindUnix(const std::string& path, bool listen) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::copy(path.begin(), path.end(), address.sun_path);
    return Bind(AF_UNIX, reinterpret_cast<sockaddr*>(&address),
                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size()), listen);
  }
  // Binds a TCP socket at 127.0.0.1:`port`; false when the port is taken.
  bool BindTcp(int port, bool listen) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Bind(AF_INET, reinterpret_cast<sockaddr*>(&address), sizeof address, listen);
  }

 private:
  bool Bind(int family, sockaddr* address, socklen_t size, bool listen) {
    Close();
    fd_ = ::socket(family, SOCK_STREAM, 0);
    // Nothing accepts: each connection a check makes stays queued, so the
    // queue holds more than all the cases make.
    if (fd_ >= 0 && ::bind(fd_, address, size) == 0 && (!listen || ::listen(fd_, 64) == 0)) {
      return true;
    }
    Close();
    return false;
  }
  int fd_ = -1;
};

// The first X display number from 7100 on whose sockets are free, bound at
// its abstract socket (listening or not, as `listen` says).
int BindFreeXDisplay(Socket& socket, bool listen) {
  for (int number = 7100; number < 8000; ++number) {
    const std::string file = "/tmp/.X11-unix/X" + std::to_string(number);
    if (!fs::exists(file) && socket.BindUnix(std::string(1, '\0') + file, listen)) return number;
  }
  return -1;
}

// The first X display number from 100 on whose TCP port (6000 and the
// number) is free, bound at that port.
int BindFreeTcpDisplay(Socket& socket, bool listen) {
  for (int number = 100; number < 1000; ++number) {
    if (socket.BindTcp(6000 + number, listen)) return number;
  }
  return -1;
}

struct Outcome {
  int status = -1;     // the exit status
  std::string output;  // stdout and stderr
};

Outcome Shell(const std::string& command) {
  Outcome outcome;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A copy of the project's folder for one script: the script itself, and
// stand-ins that append "NAME ARGUMENTS" to calls.txt.
class ScriptsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder.File("scripts"));
    fs::create_directories(folder.File("bin"));
  }

  void CopyScript(const std::string& name) {
    fs::copy_file(std::string(KAV_SOURCE_DIR) + "/scripts/" + name, folder.File("scripts/" + name));
  }

  // A stand-in at `path` (in the copy) that notes its call as `name`, then
  // runs `more`.
  void StandIn(const std::string& path, const std::string& name, const std::string& more = "") {
    const std::string file = folder.File(path);
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file) << "#!/usr/bin/env bash\necho \"" << name << " $*\" >> '"
                        << folder.File("calls.txt") << "'\n"
                        << more;
    fs::permissions(file, fs::perms::owner_all, fs::perm_options::add);
  }

  // Runs scripts/`script` of the copy with `environment` (assignments for
  // env, after DISPLAY, WAYLAND_DISPLAY, XDG_RUNTIME_DIR and QT_QPA_PLATFORM
  // are removed), the stand-ins of bin/ first on PATH.
  Outcome Run(const std::string& script, const std::string& environment,
              const std::string& arguments = "") {
    return Shell("env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u QT_QPA_PLATFORM PATH='" +
                 folder.File("bin") + "':\"$PATH\" " + environment + " '" +
                 folder.File("scripts/" + script) + "' " + arguments);
  }

  std::vector<std::string> Calls() { return Lines(folder.File("calls.txt")); }

  TempDir folder;
};

TEST_F(ScriptsTest, RunSaysThatItNeedsADesktopSessionThatAnswersBeforeItDoesAnything) {
  CopyScript("run");
  StandIn("scripts/install-deps", "install-deps");
  StandIn("scripts/build", "build");
  // The sample builder writes the files run looks for; the tool notes the
  // prefix and the folder it starts in.
  StandIn("build/tools/kav-make-sample", "kav-make-sample",
          "mkdir -p \"$1/wine\" && touch \"$1/KAV.MDB\" \"$1/KAV.mdw\" \"$1/wine/system.reg\"\n");
  StandIn("build/app/kav-update", "kav-update",
          "echo \"in $(basename \"$PWD\") with $(basename \"$WINEPREFIX\")\" >> '" +
              folder.File("calls.txt") + "'\n");
  // Displays that answer, and displays at which nothing does: an X display
  // on its abstract socket and one over TCP, each bound but not listening,
  // a Wayland socket left behind by a server that is gone, and names with
  // no socket at all.  An X display may also be named by its socket's path.
  Socket x_served, x_unserved, tcp_served, tcp_unserved, wayland_served, wayland_stale;
  const std::string x_live = ":" + std::to_string(BindFreeXDisplay(x_served, true));
  const std::string x_dead = std::to_string(BindFreeXDisplay(x_unserved, false));
  const std::string tcp_live = "127.0.0.1:" + std::to_string(BindFreeTcpDisplay(tcp_served, true));
  const std::string tcp_dead =
      "127.0.0.1:" + std::to_string(BindFreeTcpDisplay(tcp_unserved, false));
  ASSERT_THAT(x_live + x_dead + tcp_live + tcp_dead, Not(HasSubstr("-1")));
  const std::string runtime = folder.File("runtime");
  fs::create_directories(runtime);
  ASSERT_TRUE(wayland_served.BindUnix(runtime + "/wayland-live", true));
  ASSERT_TRUE(wayland_stale.BindUnix(runtime + "/wayland-stale", false));
  wayland_stale.Close();
  const std::string in_runtime = " XDG_RUNTIME_DIR='" + runtime + "'";
  enum Expected { kNoSession, kUnreachable, kNoDisplay, kGoesOn };
  struct Case {
    std::string environment;
    Expected expected;
    std::vector<std::string> named = {};  // the displays an unreachable one names
  };
  const std::vector<Case> cases = {
      {"", kNoSession},
      {"DISPLAY=", kNoSession},  // set, but empty
      {"QT_QPA_PLATFORM=xcb", kNoSession},
      {"QT_QPA_PLATFORM='wayland;xcb'", kNoSession},
      {"DISPLAY=" + x_live, kGoesOn},
      {"DISPLAY=" + x_live + ".0", kGoesOn},
      {"DISPLAY=" + tcp_live, kGoesOn},
      {"WAYLAND_DISPLAY=wayland-live" + in_runtime, kGoesOn},
      {"WAYLAND_DISPLAY='" + runtime + "/wayland-live'", kGoesOn},
      {"QT_QPA_PLATFORM=offscreen", kGoesOn},
      {"QT_QPA_PLATFORM='xcb;vnc:size=800x600'", kGoesOn},
      {"DISPLAY=:" + x_dead + " QT_QPA_PLATFORM=offscreen", kGoesOn},
      {"DISPLAY=:" + x_dead + " WAYLAND_DISPLAY=wayland-live" + in_runtime, kGoesOn},
      {"DISPLAY=:" + x_dead, kUnreachable, {"DISPLAY=:" + x_dead}},
      {"DISPLAY=unix:" + x_dead + ".0", kUnreachable, {"DISPLAY=unix:" + x_dead + ".0"}},
      {"DISPLAY=" + tcp_dead, kUnreachable, {"DISPLAY=" + tcp_dead}},
      {"WAYLAND_DISPLAY=wayland-stale" + in_runtime,
       kUnreachable,
       {"WAYLAND_DISPLAY=wayland-stale"}},
      {"WAYLAND_DISPLAY=wayland-none" + in_runtime, kUnreachable, {"WAYLAND_DISPLAY=wayland-none"}},
      // Without XDG_RUNTIME_DIR, a Wayland display's name leads to no socket.
      {"WAYLAND_DISPLAY=wayland-live", kUnreachable, {"WAYLAND_DISPLAY=wayland-live"}},
      {"DISPLAY=:" + x_dead + " WAYLAND_DISPLAY=wayland-none" + in_runtime,
       kUnreachable,
       {"DISPLAY=:" + x_dead, "WAYLAND_DISPLAY=wayland-none"}},
      {"DISPLAY='" + runtime + "/wayland-live'", kGoesOn},
      {"DISPLAY='" + runtime + "/wayland-live.1'", kGoesOn},
      {"DISPLAY='" + runtime + "/wayland-stale'",
       kUnreachable,
       {"DISPLAY=" + runtime + "/wayland-stale"}},
      // Values that name no display at all, which the X client library
      // refuses before it connects anywhere.
      {"DISPLAY=garbage", kNoDisplay, {"DISPLAY=garbage"}},
      {"DISPLAY=localhost", kNoDisplay, {"DISPLAY=localhost"}},
      {"DISPLAY=:x", kNoDisplay, {"DISPLAY=:x"}},
      {"DISPLAY=:0.", kNoDisplay, {"DISPLAY=:0."}},
      {"DISPLAY=tcp/localhost", kNoDisplay, {"DISPLAY=tcp/localhost"}},
      {"DISPLAY=garbage WAYLAND_DISPLAY=wayland-none" + in_runtime,
       kNoDisplay,
       {"DISPLAY=garbage", "WAYLAND_DISPLAY=wayland-none", kCannotBeReached}},
      {"DISPLAY=garbage WAYLAND_DISPLAY=wayland-live" + in_runtime, kGoesOn},
      {"DISPLAY=garbage QT_QPA_PLATFORM=offscreen", kGoesOn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.environment);
    fs::remove(folder.File("calls.txt"));
    fs::remove_all(folder.File("sample"));
    const Outcome outcome = Run("run", c.environment);
    if (c.expected != kGoesOn) {
      EXPECT_NE(outcome.status, 0);
      EXPECT_THAT(outcome.output, HasSubstr(c.expected == kNoSession   ? kNeedsDesktop
                                            : c.expected == kNoDisplay ? kNamesNoDisplay
                                                                       : kCannotBeReached));
      for (const std::string& display : c.named) EXPECT_THAT(outcome.output, HasSubstr(display));
      EXPECT_THAT(Calls(), IsEmpty());
      EXPECT_FALSE(fs::exists(folder.File("sample")));
      continue;
    }
    // Only the tool, the sample builder and the headless runner are built.
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_THAT(outcome.output, Not(HasSubstr(kNeedsDesktop)));
    EXPECT_THAT(outcome.output, Not(HasSubstr(kCannotBeReached)));
    EXPECT_THAT(outcome.output, Not(HasSubstr(kNamesNoDisplay)));
    EXPECT_THAT(Calls(),
                ElementsAre("install-deps ",
                            "build --target kav-update --target kav-make-sample --target "
                            "kav-run-update build",
                            "kav-make-sample sample", "kav-update ", "in sample with wine"));
  }
}

TEST_F(ScriptsTest, BuildBuildsTheTargetsItIsGivenAndElseEverything) {
  CopyScript("build");
  StandIn("bin/cmake", "cmake");
  StandIn("bin/nproc", "nproc", "echo 4\n");
  struct Case {
    const char* arguments;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"",
       {"cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo", "nproc ",
        "cmake --build build -j4"}},
      // As scripts/test builds.
      {"build-asan -DKAV_SANITIZE=ON -DKAV_WERROR=ON",
       {"cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAV_SANITIZE=ON "
        "-DKAV_WERROR=ON",
        "nproc ", "cmake --build build-asan -j4"}},
      // As scripts/run builds.
      {"--target kav-update --target kav-make-sample --target kav-run-update build",
       {"cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo", "nproc ",
        "cmake --build build -j4 --target kav-update kav-make-sample kav-run-update"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    fs::remove(folder.File("calls.txt"));
    Outcome outcome = Run("build", "", c.arguments);
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_EQ(Calls(), c.calls);
  }
  // A --target without its name is refused.
  fs::remove(folder.File("calls.txt"));
  Outcome outcome = Run("build", "", "--target");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_THAT(Calls(), IsEmpty());
}

// The include check passes on the project's sources, and fails, naming the
// file, for an include that goes up a layer (from a source, too, above the
// layer of its header) or into the engine's private headers from outside
// it, and for a file that no layer holds.
TEST_F(ScriptsTest, CheckIncludesRefusesAnIncludeThatGoesUp) {
  CopyScript("check-includes");
  for (const char* layer : {"app", "platform", "stages", "update"}) {
    fs::copy(std::string(KAV_SOURCE_DIR) + "/" + layer, folder.File(layer),
             fs::copy_options::recursive);
  }
  Outcome outcome = Run("check-includes", "");
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  struct Case {
    const char* file;
    const char* line;
    const char* complaint;
  };
  const Case cases[] = {
      {"platform/dao/internal/sqlite.h", "#include \"platform/dao/internal/schema.h\"",
       "platform/dao/internal/sqlite.h includes platform/dao/internal/schema.h, a layer above it"},
      {"platform/dao/value.cc", "#include \"platform/dao/dao.h\"",
       "platform/dao/value.cc includes platform/dao/dao.h, a layer above it"},
      {"stages/stage.cc", "#include \"update/update.h\"",
       "stages/stage.cc includes update/update.h, a layer above it"},
      {"app/frm_start.cc", "#include \"platform/dao/internal/catalog.h\"",
       "which is the engine's own"},
      {"platform/new_topic.cc", "", "platform/new_topic.cc: in no layer"},
      // A source is in the layer of its header, below the public calls.
      {"platform/dao/database.cc", "#include \"platform/dao/internal/execute.h\"",
       "platform/dao/database.cc includes platform/dao/internal/execute.h, a layer above it"},
      {"platform/dao/new_topic.cc", "", "platform/dao/new_topic.cc: in no layer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = folder.File(c.file);
    const std::string before = FileBytes(path);
    std::ofstream(path, std::ios::app) << c.line << "\n";
    outcome = Run("check-includes", "");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.output, HasSubstr(c.complaint));
    if (before.empty()) {
      fs::remove(path);
    } else {
      std::ofstream(path, std::ios::trunc) << before;
    }
  }
  EXPECT_EQ(Run("check-includes", "").status, 0);
}

}  // namespace
}  // namespace kav::testing
