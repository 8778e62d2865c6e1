// The sample v4.0 database: every table the update opens, names in SQL or
// retypes, with the keys and relations a real v4.0 database has, filled with
// a modest data set that the upgrade acts on.

#ifndef KAV_TOOLS_SAMPLE_H_
#define KAV_TOOLS_SAMPLE_H_

#include <string>
#include <vector>

#include "platform/dao/value.h"
#include "platform/dao/workgroup.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kav::sample {

struct SampleOptions {
  int persons = 20;  // persons, each with five held qualifications
  dao::PasswordCost cost = dao::PasswordCost::kMinimum;
  std::string version = "v4.0";  // the version row's value
};

// Writes `dir`/KAV.MDB and `dir`/KAV.mdw (account "KAVOwner", password
// "TelvoRm").  Schema and reference rows go through the engine layer; the
// bulk rows (persons, their held qualifications and scheduled courses) are
// written in the engine's stored form by one plain SQLite transaction.
// Raises kav::Error on failure.
void WriteSampleDatabase(const std::string& dir, const SampleOptions& options);

// A plain SQLite connection to a database file of the engine, past the
// engine: the sample's bulk rows and the benchmark's floor are written
// through it.  Every failure raises kav::Error 3000 with SQLite's message.
class PlainDatabase {
 public:
  explicit PlainDatabase(const std::string& path);
  ~PlainDatabase();  // finalizes the statements; an open transaction is rolled back
  PlainDatabase(const PlainDatabase&) = delete;
  PlainDatabase& operator=(const PlainDatabase&) = delete;

  void Exec(const std::string& sql);
  // A statement kept until the connection goes.
  sqlite3_stmt* Prepare(const std::string& sql);
  // Binds `values` by position with the engine's own binding, so each is
  // stored in the form the engine stores it, runs the statement to its end
  // and resets it.  Returns SQLite's extended result code, SQLITE_DONE on
  // success.
  int Step(sqlite3_stmt* stmt, const std::vector<dao::Value>& values);
  // Step that raises unless the statement ran to its end.
  void Write(sqlite3_stmt* stmt, const std::vector<dao::Value>& values);
  // Every row of `sql`, each column as SQLite's text ("" for Null).
  std::vector<std::vector<std::string>> Query(const std::string& sql);

 private:
  [[noreturn]] void Fail() const;

  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

}  // namespace kav::sample

#endif  // KAV_TOOLS_SAMPLE_H_
