// The sample v4.0 database: every table the update opens, names in SQL or
// retypes, with the keys and relations a real v4.0 database has, filled with
// a modest data set that the upgrade acts on.

#ifndef KAV_TESTS_SUPPORT_SAMPLE_H_
#define KAV_TESTS_SUPPORT_SAMPLE_H_

#include <string>

#include "platform/dao/workgroup.h"

namespace kav::testing {

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

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_SAMPLE_H_
