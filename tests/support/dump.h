// Whole-database dumps, for comparing a database with the one an
// uninterrupted update produces.

#ifndef KAV_TESTS_SUPPORT_DUMP_H_
#define KAV_TESTS_SUPPORT_DUMP_H_

#include <string>
#include <vector>

namespace kav::testing {

// Every table of the database at `mdb_path` (opened through the engine as
// "KAVOwner", with no observer installed): its fields with their
// properties, its indexes, the relations, and every row as its values
// joined by '|', each table's rows sorted, since the order in which rows
// were stored is not part of the content.
//
// The values that hold the time of the run are written as "<run time>":
// pq_expiration_date of the held qualifications that the update expired
// (their pq_comments is the update's expiry comment, their date is now())
// and the update note of the version row.
std::vector<std::string> DumpDatabase(const std::string& mdb_path);

// The lines of `expected` missing from `actual` ("- " lines) and the lines of
// `actual` missing from `expected` ("+ " lines), counted as multisets; empty
// when the two dumps hold the same lines.  At most `limit` lines are listed.
std::string DumpDifference(const std::vector<std::string>& expected,
                           const std::vector<std::string>& actual, size_t limit = 40);

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_DUMP_H_
