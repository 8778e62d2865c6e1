#include "tests/support/files.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace kav::testing {

namespace fs = std::filesystem;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> Files(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = FileBytes(e.path());
  }
  return out;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> out;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    out.insert(e.path().filename());
  }
  return out;
}

std::string JournalBytes(const std::string& path) {
  const std::string bytes = FileBytes(path);
  if (bytes.size() < 20) return "<short>";
  return std::to_string(bytes[18]) + " " + std::to_string(bytes[19]);
}

namespace {
// The database file at `path` with its log and journal, where they lie
// beside it, the file first.
std::vector<std::string> WithLeftovers(const std::string& path) {
  std::vector<std::string> out = {path};
  for (const std::string& file : {path + "-wal", path + "-journal"}) {
    if (fs::exists(file)) out.push_back(file);
  }
  return out;
}

// Copies each of `files` into `dir` under its own name; returns the path
// there of the first.
std::string CopyInto(const std::vector<std::string>& files, const std::string& dir) {
  for (const std::string& from : files) {
    fs::copy_file(from, fs::path(dir) / fs::path(from).filename(),
                  fs::copy_options::overwrite_existing);
  }
  return (fs::path(dir) / fs::path(files.front()).filename()).string();
}

std::string WorkgroupBeside(const std::string& mdb) {
  return (fs::path(mdb).parent_path() / "KAV.mdw").string();
}
}  // namespace

std::map<std::string, std::string> DatabaseFiles(const std::string& path) {
  std::map<std::string, std::string> out;
  for (const std::string& file : WithLeftovers(path)) {
    if (fs::exists(file)) out[file] = FileBytes(file);
  }
  return out;
}

std::string DatabaseFilesDifference(const std::map<std::string, std::string>& before,
                                    const std::map<std::string, std::string>& after) {
  std::string out;
  for (const auto& [path, bytes] : before) {
    const auto it = after.find(path);
    if (it == after.end()) {
      out += "gone: " + path + "\n";
    } else if (it->second != bytes) {
      out += "changed: " + path + " (" + std::to_string(bytes.size()) + " bytes, now " +
             std::to_string(it->second.size()) + ")\n";
    }
  }
  for (const auto& [path, bytes] : after) {
    if (!before.contains(path)) out += "new: " + path + "\n";
  }
  return out;
}

std::string CopyWithLeftovers(const std::string& mdb, const TempDir& to) {
  std::vector<std::string> files = WithLeftovers(mdb);
  files.push_back(WorkgroupBeside(mdb));
  return CopyInto(files, to.path());
}

std::string CopyFileAlone(const std::string& mdb, const TempDir& to) {
  return CopyInto({mdb, WorkgroupBeside(mdb)}, to.path());
}

std::string IntegrityCheck(const std::string& path) {
  if (!fs::exists(path)) return "cannot open: no file '" + path + "'";
  TempDir scratch;
  const std::string copy = CopyInto(WithLeftovers(path), scratch.path());
  // The copies keep the originals' permission bits; a file marked read-only
  // would be opened read-only.
  for (const fs::directory_entry& e : fs::directory_iterator(scratch.path())) {
    fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add);
  }
  // Read-write, as the next connection to the file opens it: a read-only
  // connection cannot roll a hot journal back, and refuses the file.
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    result = std::string("cannot open: ") + sqlite3_errmsg(db);
  } else {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK) {
      result = sqlite3_errmsg(db);
    }
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
      if (!result.empty()) result += "\n";
      result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    if (result.empty()) result = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

}  // namespace kav::testing
