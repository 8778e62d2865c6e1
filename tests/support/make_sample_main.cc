// kav-make-sample DIR [--persons N]: writes the sample v4.0 database
// KAV.MDB and its workgroup file KAV.mdw into DIR, for trying the tool.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/error.h"
#include "tests/support/sample.h"

int main(int argc, char** argv) {
  std::string dir;
  kav::testing::SampleOptions options;
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
    kav::testing::WriteSampleDatabase(dir, options);
  } catch (const kav::Error& e) {
    std::fprintf(stderr, "kav-make-sample: error %ld: %s\n", e.number(),
                 e.description().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kav-make-sample: %s\n", e.what());
    return 1;
  }
  std::printf("%s/KAV.MDB\n", dir.c_str());
  return 0;
}
