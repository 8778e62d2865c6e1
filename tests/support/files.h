// Files on disk as a test looks at them without changing them: their bytes,
// the names in a folder, copies of a database with or without what lies
// beside it, and SQLite's integrity check of a database as it lies.

#ifndef KAV_TESTS_SUPPORT_FILES_H_
#define KAV_TESTS_SUPPORT_FILES_H_

#include <map>
#include <set>
#include <string>

#include "tests/support/harness.h"

namespace kav::testing {

// The bytes of the file at `path`; "" where it cannot be read.
std::string FileBytes(const std::string& path);

// Every regular file below `dir`, at any depth, by its path relative to
// `dir`, with its bytes.
std::map<std::string, std::string> Files(const std::string& dir);

// The names in `dir` itself.
std::set<std::string> Names(const std::string& dir);

// The two bytes of a database file's header that say its journal mode: "1 1"
// for rollback-journal mode, "2 2" for WAL; "<short>" for a file shorter
// than that.
std::string JournalBytes(const std::string& path);

// The database file at `path` and what SQLite would play into it at the next
// open, by path, with their bytes: its log ("-wal") and its rollback journal
// ("-journal"), where they lie beside it.  The "-shm" index is left out:
// SQLite builds it again from the log.
std::map<std::string, std::string> DatabaseFiles(const std::string& path);

// Which files differ between two DatabaseFiles readings, one line each
// ("gone", "new", or "changed" with the two sizes); "" where none does.
std::string DatabaseFilesDifference(const std::map<std::string, std::string>& before,
                                    const std::map<std::string, std::string>& after);

// Copies the database at `mdb` with its log and journal (DatabaseFiles) and
// the workgroup file "KAV.mdw" beside it into `to`, under their own names.
// Returns the copy's path.  Opening the copy plays the log or journal into
// it, and leaves the originals for the run that is to recover them.
std::string CopyWithLeftovers(const std::string& mdb, const TempDir& to);

// Copies the database file at `mdb` alone, with the workgroup file
// "KAV.mdw" beside it and nothing else, into `to`.  Returns the copy's path.
std::string CopyFileAlone(const std::string& mdb, const TempDir& to);

// SQLite's integrity check of the database at `path` in the state the next
// connection would read, with its log or hot journal played into it: "ok",
// SQLite's findings one a line, or why it could not run.  It checks a copy
// of the file and its log and journal in a private temporary folder, and so
// changes nothing: a connection on the file itself would merge a killed
// run's log into it and delete it, or roll a hot journal back, before the
// run under test could meet them.
std::string IntegrityCheck(const std::string& path);

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_FILES_H_
