// The registration rows: the functional area "PI", to which the course stage
// assigns new positions, and five tables in the database's list of tables.

#include <cstdint>

#include "update/corrections.h"

namespace kav::update {

namespace {

using stages::FieldValue;
using stages::RowAt;
using stages::Step;

// Positions 4 and 5 of tbl_kav_tables are written as the 16-bit integer 0.
const dao::Value kZero(int16_t{0});

std::vector<Step> BuildRegistrations() {
  const char* kTables = "tbl_kav_tables";
  return {
      RowAt("tbl_kav_ics_functional_areas", {{0, "PI"}, {1, "Prevention and Investigation"}}),
      RowAt(kTables,
            {{0, "SYS"}, {1, "tbl_kav_course_types"}, {3, "1"}, {4, kZero}, {5, kZero}, {6, "N"}}),
      // Leaves the description, both numbers and the flag as a new row has
      // them.
      RowAt(kTables, {{0, "SYS"}, {1, "tbl_kav_orgs_stations"}, {3, "1"}}),
      RowAt(kTables, {{0, "SYS"},
                      {1, "tbl_kav_persons_instructors"},
                      {2, "Instructors and Coordinators"},
                      {3, "4"},
                      {4, kZero},
                      {5, kZero},
                      {6, "N"}}),
      RowAt(
          kTables,
          {{0, "SYS"}, {1, "tbl_kav_rptreq_rpt_steps"}, {3, "0"}, {4, kZero}, {5, kZero}, {6, "N"}}),
      RowAt(kTables,
            {{0, "SYS"}, {1, "tbl_kav_rptreq_steps"}, {3, "0"}, {4, kZero}, {5, kZero}, {6, "N"}}),
  };
}

}  // namespace

const std::vector<stages::Step>& RegistrationSteps() {
  static const std::vector<Step> steps = BuildRegistrations();
  return steps;
}

}  // namespace kav::update
