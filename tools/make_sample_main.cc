// kav-make-sample DIR [--persons N]: writes the sample v4.0 database
// KAV.MDB and its workgroup file KAV.mdw into DIR, for trying the tool.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/error.h"
#include "tools/sample.h"

int main(int argc, char** argv) {
  std::string dir;
  kav::sample::SampleOptions options;
  options.cost = dao::PasswordCost::kInteractive;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--persons" && i + 1 < argc) {
      options.persons = std::atoi(argv[++i]);
    } else if (arg == "--fast-login") {
      options.cost = dao::PasswordCost::kMinimum;
    } else if (dir.empty() && !arg.starts_with("--")) {
      dir = arg;
    } else {
      dir.clear();
      break;
    }
  }
  if (dir.empty() || options.persons < 0) {
    std::fprintf(stderr, "usage: kav-make-sample DIR [--persons N] [--fast-login]\n");
    return 2;
  }
  try {
    std::filesystem::create_directories(dir);
    kav::sample::WriteSampleDatabase(dir, options);
  } catch (const kav::Error& e) {
    std::fprintf(stderr, "kav-make-sample: error %ld: %s\n", e.number(), e.description().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kav-make-sample: %s\n", e.what());
    return 1;
  }
  // A Wine prefix whose machine hive registers the database program, so the
  // tool's prerequisite check passes on a machine without it.
  std::filesystem::create_directories(dir + "/wine");
  std::ofstream(dir + "/wine/system.reg")
      << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
      << "[Software\\\\Classes\\\\Access.Application.11\\\\shell\\\\open\\\\command] 1134567890\n"
      << "@=\"\\\"C:\\\\Program Files\\\\Microsoft Office\\\\OFFICE11\\\\MSACCESS.EXE\\\" "
         "/NOSTARTUP \\\"%1\\\"\"\n";
  std::printf("%s/KAV.MDB\n", dir.c_str());
  return 0;
}
