// Making a new file: a workgroup file (CreateWorkgroupFile) or a database
// (CreateDatabase).  Neither takes a file that is already there, and a call
// that fails takes away the file it made, and no other: not a file another
// process put at the path in the meantime.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/internal/errors.h"
#include "platform/dao/workgroup.h"
#include "tests/dao_fixture.h"
#include "tests/support/open_hook.h"

namespace dao_test {
namespace {

namespace fs = std::filesystem;
using dao::internal::kErrDatabaseExists;
using dao::internal::kErrGeneric;
using dao::internal::kErrOpenFailed;

// The bytes of another program's file.
const std::string kForeignBytes =
    "another program's file, not a database\n" + std::string(200, 'x');

// While it lives, SQLite's default file system meets one event at the
// database file `path`, as another process or a failing disk would bring
// it.
class EventAtPath {
 public:
  enum Event {
    // Just before SQLite opens the file, another process puts a file of its
    // own at the path, renaming it over whatever is there, as a program that
    // writes its files whole does.
    kReplacedBeforeOpen,
    // SQLite cannot open the file.
    kOpenFails,
    // SQLite cannot lock the file.  (A failed write or sync would serve
    // as well, but after one SQLite keeps the file's locks in the process
    // for good, and would hold them against a later file of the same inode.)
    kLocksFail,
  };

  EventAtPath(Event event, std::string path)
      : hook_(
            [event, path](const std::string& name, int flags) {
              if ((flags & SQLITE_OPEN_MAIN_DB) == 0 || name != path) return SQLITE_OK;
              if (event == kReplacedBeforeOpen) {
                const std::string theirs = path + ".theirs";
                std::ofstream(theirs, std::ios::binary) << kForeignBytes;
                fs::rename(theirs, path);
              }
              return event == kOpenFails ? SQLITE_CANTOPEN : SQLITE_OK;
            },
            [event, path](const std::string& name, int flags, sqlite3_file* file) {
              if ((flags & SQLITE_OPEN_MAIN_DB) == 0 || name != path || event != kLocksFail) return;
              methods_ = *file->pMethods;
              methods_.xLock = [](sqlite3_file*, int) { return SQLITE_IOERR_LOCK; };
              file->pMethods = &methods_;
            }) {}

 private:
  kav::testing::OpenHook hook_;
  static inline sqlite3_io_methods methods_{};
};

// The two calls that make a file, each on a path of its own in `dir`.
struct Maker {
  const char* name;
  const char* file;
  std::function<void(const std::string&)> make;
};

class CreateTest : public DaoTest {
 protected:
  std::vector<Maker> Makers() {
    return {
        {"CreateWorkgroupFile", "N.mdw",
         [](const std::string& path) {
           dao::CreateWorkgroupFile(path, {{"Owner", "Secret1"}}, dao::PasswordCost::kMinimum);
         }},
        {"CreateDatabase", "N.mdb",
         [this](const std::string& path) { ws.CreateDatabase(path).Close(); }},
    };
  }

  // The error `make` raises on `path`, with its description in `*text`.
  long Make(const Maker& maker, const std::string& path, std::string* text = nullptr) {
    try {
      maker.make(path);
    } catch (const kav::Error& e) {
      if (text != nullptr) *text = e.description();
      return e.number();
    }
    return 0;
  }

  // The names in `dir` that begin with the file name of `path`.
  std::vector<std::string> FilesOf(const std::string& path) {
    const std::string stem = fs::path(path).filename().string();
    std::vector<std::string> out;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) {
      if (e.path().filename().string().starts_with(stem)) {
        out.push_back(e.path().filename().string());
      }
    }
    return out;
  }
};

// A file that another process puts at the path while the call makes its
// own is that process's: the call fails on it and leaves it as it is.
TEST_F(CreateTest, AFileAnotherProcessPutsAtThePathStays) {
  for (const Maker& m : Makers()) {
    SCOPED_TRACE(m.name);
    const std::string path = dir.File(m.file);
    {
      const EventAtPath replaced(EventAtPath::kReplacedBeforeOpen, path);
      EXPECT_NE(Make(m, path), 0);
    }
    EXPECT_TRUE(fs::exists(path)) << "another process's file was removed";
    EXPECT_EQ(FileBytes(path), kForeignBytes);
  }
}

// A call that fails after it has made its file takes that file away, and
// leaves nothing beside it.
TEST_F(CreateTest, AFailedCallRemovesTheFileItMade) {
  struct Case {
    const char* name;
    EventAtPath::Event event;
    long error;
  };
  const Case cases[] = {
      {"SQLite cannot open the file", EventAtPath::kOpenFails, kErrOpenFailed},
      {"SQLite cannot lock the file", EventAtPath::kLocksFail, kErrGeneric},
  };
  for (const Maker& m : Makers()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(m.name) + ": " + c.name);
      const std::string path = dir.File(m.file);
      {
        const EventAtPath event(c.event, path);
        EXPECT_EQ(Make(m, path), c.error);
      }
      EXPECT_EQ(FilesOf(path), std::vector<std::string>{});
    }
  }
}

// Where something is at the path, or the path cannot hold a file, the call
// refuses with the number and words it always has, and changes nothing.
TEST_F(CreateTest, RefusalsKeepTheirErrorsAndChangeNothing) {
  const std::string existing = dir.File("existing");
  std::ofstream(existing, std::ios::binary) << kForeignBytes;
  const std::string folder = dir.File("folder");
  fs::create_directory(folder);
  const std::string missing_folder = dir.File("none/N");
  // A link to nothing is something at the path too: the file is not made
  // where it leads.
  const std::string link = dir.File("link");
  fs::create_symlink(dir.File("target"), link);
  struct Case {
    const char* name;
    std::string path;
    long error;
    // The description, by call.
    std::string workgroup_text;
    std::string database_text;
  };
  const Case cases[] = {
      {"a file", existing, kErrDatabaseExists, "The file '" + existing + "' already exists.",
       "The database '" + existing + "' already exists."},
      {"a folder", folder, kErrDatabaseExists, "The file '" + folder + "' already exists.",
       "The database '" + folder + "' already exists."},
      {"a link to nothing", link, kErrDatabaseExists, "The file '" + link + "' already exists.",
       "The database '" + link + "' already exists."},
      {"no such folder", missing_folder, kErrOpenFailed,
       "The file '" + missing_folder + "' cannot be created: unable to open database file",
       "The file '" + missing_folder + "' cannot be opened: unable to open database file"},
  };
  for (const Maker& m : Makers()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(m.name) + ": " + c.name);
      std::string text;
      EXPECT_EQ(Make(m, c.path, &text), c.error);
      EXPECT_EQ(text, std::string(m.name) == "CreateDatabase" ? c.database_text : c.workgroup_text);
    }
  }
  EXPECT_EQ(FileBytes(existing), kForeignBytes);
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_FALSE(fs::exists(dir.File("none")));
  EXPECT_FALSE(fs::exists(dir.File("target")));
}

}  // namespace
}  // namespace dao_test
