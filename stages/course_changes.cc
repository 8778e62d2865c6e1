// UpdateMDB_CourseChanges: the course catalogue tbl_kav_courses and the
// position catalogue tbl_kav_jobs_skills brought to the v5.0 reference data.
//
// The stage runs fixed steps in this order:
//   1. course rows, each followed by its companion UPDATE;
//   2. more course rows (refresher courses among them), each but S-273
//      followed by its companion; the old S-481 renamed "S-481Old" and
//      retired; a new S-481 without companion; course corrections;
//   3. new positions, each followed by its companion.
//
// A companion UPDATE writes its row's values once more to the record of the
// same code and risk type.  When the row's update meets the existing key
// (3022, passed over in silence) the companion brings the existing record to
// the row's values, so a row and its companion act as insert-or-update.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stages/stages.h"
#include "stages/statement_text.h"

namespace kav::stages {
namespace {

constexpr const char* kCourses = "tbl_kav_courses";
constexpr const char* kPositions = "tbl_kav_jobs_skills";

// One "column  = 'value'" of a SET list: two blanks before the "=", the
// column qualified with its table, the value always quoted, never escaped
// (no value of the stage holds a quote).
struct Assignment {
  std::string column;
  std::string value;
};

std::string AssignmentList(const std::string& table, const std::vector<Assignment>& assignments) {
  std::string list;
  for (const Assignment& a : assignments) {
    if (!list.empty()) list += ", ";
    list += table + "." + a.column + "  = '" + a.value + "'";
  }
  return list;
}

// The comparison of course_code: "= 'code'" for one course, "in ('a','b')"
// for a list.
std::string CodeEquals(const std::string& code) { return "= " + Quoted(code); }

std::string CodeIn(const std::vector<std::string>& codes) { return "in " + QuotedCodeList(codes); }

// An UPDATE of the courses selected by code and risk type.  One blank stands
// between the SET list and WHERE; `before_where` says otherwise for the one
// statement that has two.
std::string CourseUpdateText(const std::vector<Assignment>& assignments,
                             const std::string& code_comparison, const std::string& risk_type,
                             const std::string& before_where = " ") {
  return std::string("UPDATE tbl_kav_courses SET ") + AssignmentList(kCourses, assignments) +
         before_where + "WHERE tbl_kav_courses.course_code " + code_comparison +
         " and tbl_kav_courses.risk_type = '" + risk_type + "';";
}

// A course row: positions 0 to 6, and 8 for a refresher course.  The
// standard is "NATIONAL" in every row; position 7 is never assigned.
struct Course {
  const char* risk_type;
  const char* code;
  const char* title;
  const char* hours;
  const char* type;
  const char* active_date;
  // The refresher period in years, assigned to position 8 as a 16-bit
  // integer rather than text.
  std::optional<int16_t> refresher_period = std::nullopt;
  bool has_companion = true;
};

RowStep CourseRow(const Course& c) {
  std::vector<FieldValue> fields = {{0, dao::Value(c.risk_type)},  {1, dao::Value(c.code)},
                                    {2, dao::Value(c.title)},      {3, dao::Value(c.hours)},
                                    {4, dao::Value("NATIONAL")},   {5, dao::Value(c.type)},
                                    {6, dao::Value(c.active_date)}};
  if (c.refresher_period) {
    fields.push_back({8, dao::Value(*c.refresher_period)});
  }
  return RowAt(kCourses, std::move(fields));
}

// The companion writes the row's positions 2 to 6 (and 8), the refresher
// period as its digits in quotes.
SqlStep CourseCompanion(const Course& c) {
  std::vector<Assignment> set = {{"course_title", c.title},
                                 {"course_hours", c.hours},
                                 {"course_standard", "NATIONAL"},
                                 {"course_type", c.type},
                                 {"course_active_date", c.active_date}};
  if (c.refresher_period) {
    set.push_back({"course_refresher_period", std::to_string(*c.refresher_period)});
  }
  return Sql(CourseUpdateText(set, CodeEquals(c.code), c.risk_type));
}

// The first run.
const Course kFirstRun[] = {
    {"WF", "A-207", "Aviation Conference and Education", "0", "CLASSROOM", "1/1/2006"},
    {"RX", "RX-341", "Prescribed Fire Burn Plan Preparation", "32", "CLASSROOM", "1/1/2006"},
    {"WF", "D-311", "Initial Attack Dispatcher", "32", "CLASSROOM", "1/1/2005"},
    {"WF", "D-312", "Aircraft Dispatcher", "32", "CLASSROOM", "1/1/2005"},
    {"WF", "FI-110", "Fire Cause Determination for First Responders", "4", "CLASSROOM", "1/1/2000"},
    {"WF", "FI-210", "Wildland Fire Origin and Cause Determination", "36", "CLASSROOM", "1/1/2005"},
    {"AR", "IS-100", "Introduction to ICS", "4", "CLASSROOM", "1/1/2006"},
    {"AR", "IS-200", "Basic ICS", "8", "CLASSROOM", "1/1/2006"},
    {"AR", "IS-700", "Introduction to NIMS", "4", "CLASSROOM", "1/1/2005"},
    {"AR", "IS-800", "Introduction to the National Response Plan", "4", "CLASSROOM", "1/1/2005"},
    {"WF", "J-158", "Radio Operator", "0", "CLASSROOM", "1/1/2006"},
    {"WF", "L-180", "Human Factors on the Fireline", "4", "CLASSROOM", "1/1/2000"},
    {"WF", "L-280", "Fellowship to the Leadership", "16", "CLASSROOM", "1/1/2003"},
    {"WF", "L-380", "Fireline Leadership", "32", "CLASSROOM", "1/1/2003"},
    {"WF", "L-381", "Incident Leadership", "32", "CLASSROOM", "1/1/2003"},
    {"WF", "L-480", "Incident Management Team Leadership", "32", "CLASSROOM", "1/1/2006"},
    {"WF", "M-480", "Multi-Agency Coordinating Group", "7", "CLASSROOM", "1/1/2003"},
    {"WF", "P-101", "Introduction to Wildfire Prevention", "2", "CLASSROOM", "1/1/1997"},
    {"WF", "P-301", "Wildland Fire Prevention Planning", "24", "CLASSROOM", "1/1/2000"},
    {"WF", "P-310", "Fire Prevention Education Team Member", "32", "CLASSROOM", "1/1/2006"},
    {"WF", "P-410", "Fire Prevention Education Team Leader", "32", "CLASSROOM", "1/1/2006"},
    {"AR", "Q-462", "Introduction to ICS", "4", "CLASSROOM", "1/1/2006"},
    {"AR", "Q-463", "Basic ICS", "8", "CLASSROOM", "1/1/2006"},
};

// The second run's course rows.  S-273 has no companion, so an existing
// S-273 keeps its values.
const Course kSecondRun[] = {
    {"WF", "RT-130", "Annual Fireline Safety Refresher", "0", "CLASSROOM", "1/1/2006", int16_t{1}},
    {"WF", "RT-273", "SEAT Workshop (Triennial)", "0", "CLASSROOM", "1/1/2005", int16_t{3}},
    {"WF", "RT-340", "Human Resources Specialist (Triennial)", "0", "CLASSROOM", "1/1/2006",
     int16_t{3}},
    {"WF", "S-273", "Single Engine Air Tanker Manager", "32", "CLASSROOM", "1/1/2006", std::nullopt,
     false},
    {"WF", "RT-372", "Helicopter Manager Workshop (Triennial)", "0", "CLASSROOM", "1/1/2005",
     int16_t{3}},
    {"WF", "S-290CD", "Intermediate Fire Behavior CD ROM", "0", "SELF STUDY", "1/1/2000"},
    {"WF", "S-340", "Human Resource Specialist", "32", "CLASSROOM", "1/1/2006"},
    {"WF", "S-341", "GIS for Incident Management", "32", "CLASSROOM", "1/1/2006"},
    {"WF", "N9027", "ISuite - All Modules", "28", "CLASSROOM", "1/1/2006"},
    {"WF", "N9028", "ISuite - Time Module", "8", "CLASSROOM", "1/1/2006"},
    {"WF", "N9029", "ISuite - Cost Module", "8", "CLASSROOM", "1/1/2006"},
    {"WF", "N9030", "ISuite - Plans Module", "8", "CLASSROOM", "1/1/2006"},
    {"WF", "NBHAV+", "BEHAVE Plus", "8", "CLASSROOM", "1/1/2006"},
};

// The new S-481 takes the code the rename has just freed; it has no
// companion.  The rename must run first: it selects by the same code and
// risk type and would otherwise retire the new course too.
const Course kNewS481 = {
    "WF", "S-481", "Incident Business Advisor", "32", "CLASSROOM", "1/1/2006", std::nullopt, false};

// A standalone correction of "WF" courses.
struct Correction {
  std::vector<Assignment> set;
  std::string code_comparison;
};

const std::vector<Correction>& Corrections() {
  static const std::vector<Correction> corrections = {
      {{{"course_inactive_date", "1/1/2006"}}, CodeEquals("P-130")},
      {{{"course_inactive_date", "1/1/2006"}}, CodeEquals("I-220")},
      {{{"course_inactive_date", "1/1/2000"}}, CodeEquals("IAMS")},
      {{{"course_title", "Food Unit Leader"}}, CodeEquals("J-357")},
      {{{"course_title", "Communications Unit Leader"}}, CodeEquals("J-358")},
      {{{"course_title", "Basic Wildland Fire Suppression Orientation"}}, CodeEquals("S-110")},
      {{{"course_title", "Firefighter Type 1"}}, CodeEquals("S-131")},
      {{{"course_title", "Wildland Fire Chainsaws"}, {"course_hours", "30"}}, CodeEquals("S-212")},
      // The S-234 retitle runs twice in succession, the same text both times.
      {{{"course_title", "Ignition Operations"}}, CodeEquals("S-234")},
      {{{"course_title", "Ignition Operations"}}, CodeEquals("S-234")},
      {{{"course_hours", "16"}, {"course_type", "CLASSROOM"}, {"course_active_date", "1/1/2006"}},
       CodeEquals("S-248")},
      {{{"course_title", "Incident Communication Technician"}}, CodeEquals("S-258")},
      {{{"course_inactive_date", "1/1/2006"}}, CodeEquals("S-272")},
      {{{"course_title", "Tactical Decision Making"}}, CodeEquals("S-336")},
      {{{"course_hours", "20"}}, CodeEquals("S-339")},
      {{{"course_inactive_date", "1/1/2006"}}, CodeIn({"S-362", "S-363", "S-365", "S-368"})},
      {{{"course_title", "Helicopter Management"}}, CodeEquals("S-372")},
      {{{"course_hours", "48"}}, CodeEquals("S-520")},
      {{{"course_hours", "16"}}, CodeIn({"S-260", "S-261"})},
  };
  return corrections;
}

// A new position: risk type "WF" and active date "1/1/2006" in every row.
struct Position {
  const char* code;
  const char* title;
  const char* cert_period;
  const char* standard;
  const char* fitness;
  const char* functional_area;
};

constexpr const char* kPositionRiskType = "WF";
constexpr const char* kPositionActiveDate = "1/1/2006";

// Positions 0 to 5, 7 and 8; job_inactive_date (6) is never assigned.
RowStep PositionRow(const Position& p) {
  return RowAt(kPositions, {{0, dao::Value(kPositionRiskType)},
                            {1, dao::Value(p.code)},
                            {2, dao::Value(p.title)},
                            {3, dao::Value(p.cert_period)},
                            {4, dao::Value(p.standard)},
                            {5, dao::Value(kPositionActiveDate)},
                            {7, dao::Value(p.fitness)},
                            {8, dao::Value(p.functional_area)}});
}

// The companion also writes the empty text to job_inactive_date, so a
// position that had been retired becomes active again.
SqlStep PositionCompanion(const Position& p) {
  const std::vector<Assignment> set = {{"job_title", p.title},
                                       {"job_cert_period", p.cert_period},
                                       {"job_standard", p.standard},
                                       {"job_active_date", kPositionActiveDate},
                                       {"job_inactive_date", ""},
                                       {"job_fitness_requirement", p.fitness},
                                       {"job_functional_area", p.functional_area}};
  return Sql(std::string("UPDATE tbl_kav_jobs_skills SET ") + AssignmentList(kPositions, set) +
             " WHERE tbl_kav_jobs_skills.job_code = '" + p.code +
             "' and tbl_kav_jobs_skills.job_risk_type = '" + kPositionRiskType + "';");
}

// The first twelve in the order of their titles, then EMT, ATBM and FWBM.
const Position kNewPositions[] = {
    {"ACDP", "Aircraft Dispatcher", "3", "NATIONAL", "N", "ED"},
    {"PETL", "Fire Prevention Education Team Leader", "5", "NATIONAL", "N", "PI"},
    {"PETM", "Fire Prevention Education Team Member", "5", "NATIONAL", "N", "PI"},
    {"FUM2", "Fire Use Manager Type 2", "5", "NATIONAL", "M", "CS"},
    {"GISS", "Geographic Information System Specialist", "5", "NATIONAL", "N", "PS"},
    {"HELM", "Helicopter Manager", "3", "NATIONAL", "M", "OS"},
    {"HRSP", "Human Resource Specialist", "5", "NATIONAL", "N", "PS"},
    {"IBA1", "Incident Business Advisor Type 1", "5", "NATIONAL", "N", "FS"},
    {"IBA2", "Incident Business Advisor Type 2", "5", "NATIONAL", "N", "FS"},
    {"IADP", "Initial Attack Dispatcher", "3", "NATIONAL", "N", "ED"},
    {"STPS", "Structure Protection Specialist", "5", "NATIONAL", "M", "OS"},
    {"INVF", "Wildland Fire Investigator", "5", "NATIONAL", "L", "PI"},
    {"EMT", "Emergency Medical Technician", "1", "STATE", "N", "LS"},
    {"ATBM", "Air Tanker Base Manager", "3", "NATIONAL", "N", "OS"},
    {"FWBM", "Fixed-Wing Base Manager", "3", "NATIONAL", "N", "OS"},
};

std::vector<Step> BuildSteps() {
  std::vector<Step> steps;
  auto add_course = [&](const Course& c) {
    steps.push_back(CourseRow(c));
    if (c.has_companion) steps.push_back(CourseCompanion(c));
  };

  for (const Course& c : kFirstRun) add_course(c);

  for (const Course& c : kSecondRun) add_course(c);
  // The only statement of the stage with two blanks before WHERE.
  steps.push_back(
      Sql(CourseUpdateText({{"course_code", "S-481Old"}, {"course_inactive_date", "1/1/2006"}},
                           CodeEquals("S-481"), "WF", "  ")));
  add_course(kNewS481);
  for (const Correction& c : Corrections()) {
    steps.push_back(Sql(CourseUpdateText(c.set, c.code_comparison, "WF")));
  }

  for (const Position& p : kNewPositions) {
    steps.push_back(PositionRow(p));
    steps.push_back(PositionCompanion(p));
  }
  return steps;
}

}  // namespace

const std::vector<Step>& CourseChangesSteps() { return BuiltOnce<BuildSteps>(); }

}  // namespace kav::stages
