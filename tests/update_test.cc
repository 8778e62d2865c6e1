// The update driver, end to end on the sample database: the gate, the
// workgroup file, the phases and their error rules, the version stamp.

#include <algorithm>
#include <clocale>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "tests/support/harness.h"
#include "update/corrections.h"
#include "update/update.h"

namespace kav::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

ui::ShownBox Box(std::string prompt, int style = 0, std::string title = "",
                 int pointer = ui::vbDefault) {
  return ui::ShownBox{std::move(prompt), style, std::move(title), pointer};
}

// The 40 corrections as the records system writes them, copied by hand.
const char* const kCorrections[] = {
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'N' WHERE tbl_kav_jobs_skills.job_code = 'ABRO' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'L' WHERE tbl_kav_jobs_skills.job_code = 'BCMG' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'M' WHERE tbl_kav_jobs_skills.job_code = 'CREP' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'L' WHERE tbl_kav_jobs_skills.job_code = 'DECK' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'N' WHERE tbl_kav_jobs_skills.job_code = 'HLCO' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'L' WHERE tbl_kav_jobs_skills.job_code = 'COMT' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'M' WHERE tbl_kav_jobs_skills.job_code = 'FEMO' and tbl_kav_jobs_skills.job_risk_type = 'RX';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_inactive_date  = '12/31/2005' WHERE tbl_kav_jobs_skills.job_code = 'EMTB' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_persons_quals SET tbl_kav_persons_quals.pq_expiration_date  = now(), tbl_kav_persons_quals.pq_comments  = 'Expriration date set by ZURA5 Update' WHERE tbl_kav_persons_quals.pq_qual_code = 'EMTB' and tbl_kav_persons_quals.pq_qual_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Expanded Dispatch Supervisory Dispatcher' WHERE tbl_kav_jobs_skills.job_code = 'EDSP' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Expanded Dispatch Coordinator' WHERE tbl_kav_jobs_skills.job_code = 'CORD' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Expanded Dispatch Recorder' WHERE tbl_kav_jobs_skills.job_code = 'EDRC' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Expanded Dispatch Support Dispatcher' WHERE tbl_kav_jobs_skills.job_code = 'EDSD' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement = 'M' WHERE tbl_kav_jobs_skills.job_code = 'FIRB' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement = 'M' WHERE tbl_kav_jobs_skills.job_code = 'FOBS' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Finance/Administrative Section Chief Type 1' WHERE tbl_kav_jobs_skills.job_code = 'FSC1' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Finance/Administrative Section Chief Type 2' WHERE tbl_kav_jobs_skills.job_code = 'FSC2' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "DELETE from tbl_kav_jobs_prereq_training WHERE tbl_kav_jobs_prereq_training.jpt_job_code = 'FUMA' and tbl_kav_jobs_prereq_training.jpt_risk_type = 'WF';",
    "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'FUMA' and tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'RX';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Fire Use Manager Type 1', tbl_kav_jobs_skills.job_code  = 'FUM1', tbl_kav_jobs_skills.job_risk_type  = 'WF', tbl_kav_jobs_skills.job_active_date  = '1/1/2006' WHERE tbl_kav_jobs_skills.job_code = 'FUMA' and tbl_kav_jobs_skills.job_risk_type = 'RX';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Firefighter Type 1' WHERE tbl_kav_jobs_skills.job_code = 'FFT1' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Firefighter Type 2' WHERE tbl_kav_jobs_skills.job_code = 'FFT2' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Helibase Manager Type 1' WHERE tbl_kav_jobs_skills.job_code = 'HEB1' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Helibase Manager Type 2' WHERE tbl_kav_jobs_skills.job_code = 'HEB2' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_inactive_date  = '12/31/2005' WHERE tbl_kav_jobs_skills.job_code = 'HCWN' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_persons_quals SET tbl_kav_persons_quals.pq_expiration_date  = now(), tbl_kav_persons_quals.pq_comments  = 'Expriration date set by ZURA5 Update' WHERE tbl_kav_persons_quals.pq_qual_code = 'HEMG' and tbl_kav_persons_quals.pq_qual_risk_type = 'WF';",
    "UPDATE tbl_kav_persons_quals SET tbl_kav_persons_quals.pq_expiration_date  = now(), tbl_kav_persons_quals.pq_comments  = 'Expriration date set by ZURA5 Update' WHERE tbl_kav_persons_quals.pq_qual_code = 'HCWN' and tbl_kav_persons_quals.pq_qual_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_risk_type  = 'WF' WHERE tbl_kav_jobs_skills.job_code = 'LTAN' and tbl_kav_jobs_skills.job_risk_type = 'RX';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Personnel Time Recorder' WHERE tbl_kav_jobs_skills.job_code = 'PTRC' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_inactive_date  = '12/31/2005' WHERE tbl_kav_jobs_skills.job_code in ('IRIN','RXI1','RXI2') and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'L' WHERE tbl_kav_jobs_skills.job_code in ('RXB1') and tbl_kav_jobs_skills.job_risk_type = 'RX';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'M' WHERE tbl_kav_jobs_skills.job_code in ('RXB2') and tbl_kav_jobs_skills.job_risk_type = 'RX';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'N' WHERE tbl_kav_jobs_skills.job_code in ('RXM1','RXM2') and tbl_kav_jobs_skills.job_risk_type = 'RX';",
    "UPDATE tbl_kav_persons_quals SET tbl_kav_persons_quals.pq_expiration_date  = now(), tbl_kav_persons_quals.pq_comments  = 'Expriration date set by ZURA5 Update' WHERE tbl_kav_persons_quals.pq_qual_code in ('IRIN','RXI1','RXI2') and tbl_kav_persons_quals.pq_qual_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Public Information Officer Type 1', tbl_kav_jobs_skills.job_code  = 'PIO1', tbl_kav_jobs_skills.job_risk_type  = 'WF', tbl_kav_jobs_skills.job_active_date  = '1/1/2006' WHERE tbl_kav_jobs_skills.job_code = 'IOF1' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Public Information Officer Type 2', tbl_kav_jobs_skills.job_code  = 'PIO2', tbl_kav_jobs_skills.job_risk_type  = 'WF', tbl_kav_jobs_skills.job_active_date  = '1/1/2006' WHERE tbl_kav_jobs_skills.job_code = 'IOF2' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Public Information Officer', tbl_kav_jobs_skills.job_code  = 'PIOF', tbl_kav_jobs_skills.job_risk_type  = 'WF', tbl_kav_jobs_skills.job_active_date  = '1/1/2006' WHERE tbl_kav_jobs_skills.job_code = 'IOF3' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_title  = 'Safety Officer', tbl_kav_jobs_skills.job_code  = 'SOFR', tbl_kav_jobs_skills.job_risk_type  = 'WF', tbl_kav_jobs_skills.job_active_date  = '1/1/2006' WHERE tbl_kav_jobs_skills.job_code = 'SOF3' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'L' WHERE tbl_kav_jobs_skills.job_code = 'SITL' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
    "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'M' WHERE tbl_kav_jobs_skills.job_code in ('STDZ','STEN','STPL') and tbl_kav_jobs_skills.job_risk_type = 'WF';",
};

// Every table's rows in insertion order, for comparing whole databases.
std::vector<std::string> Dump(const std::string& mdb) {
  dao::Database db = OpenForCheck(mdb);
  std::vector<std::string> out;
  for (int i = 0; i < db.TableDefs().Count(); ++i) {
    std::string table = db.TableDefs().Item(i).Name();
    dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
    out.push_back("#" + table);
    while (!rs.IsEOF()) {
      std::string row;
      for (int f = 0; f < rs.FieldCount(); ++f) {
        row += rs.Fields(f).GetValue().ToString() + "|";
      }
      out.push_back(row);
      rs.MoveNext();
    }
  }
  db.Close();
  return out;
}

// Writes `value` into the version row; nullopt deletes the row.
void SetVersion(const std::string& mdb, const std::optional<dao::Value>& value) {
  dao::Database db = OpenForCheck(mdb);
  if (!value) {
    db.Execute(
        "DELETE FROM tbl_kav_version_info WHERE "
        "tbl_kav_version_info.kav_database_version = 'v4.0';");
  } else {
    db.TableDefs().Item("tbl_kav_version_info").Fields().Item(0).SetAllowZeroLength(true);
    dao::Recordset rs = db.OpenRecordset("tbl_kav_version_info", dao::dbOpenTable);
    rs.Edit();
    rs.Fields(0).SetValue(*value);
    rs.Update();
  }
  db.Close();
}

class DriverTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string mdb = MakeSample(dir);
  ui::ScriptedMessageBoxes boxes;
};

TEST_F(DriverTest, CleanRunCompletesAndAppliesTheDataPhase) {
  std::time_t before = std::time(nullptr);
  RunDatabaseUpdate(mdb);
  std::time_t after = std::time(nullptr);
  EXPECT_THAT(boxes.boxes(), ElementsAre(Box(kCompleted)));
  EXPECT_EQ(ui::MousePointer(), ui::vbDefault);

  dao::Database db = OpenForCheck(mdb);
  std::vector<std::string> version = Rows(db,
                                          "Select tbl_kav_version_info.kav_database_version, "
                                          "tbl_kav_version_info.kav_database_update_note from "
                                          "tbl_kav_version_info;");
  ASSERT_EQ(version.size(), 1u);
  std::vector<std::string> expected;
  for (std::time_t t = before; t <= after; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    expected.push_back("v5.0|" + update::UpdateNote(local));
  }
  EXPECT_THAT(expected, ::testing::Contains(version[0]));

  EXPECT_THAT(Rows(db,
                   "Select tbl_kav_ics_functional_areas.ifa_description from "
                   "tbl_kav_ics_functional_areas WHERE "
                   "tbl_kav_ics_functional_areas.ifa_code = 'PI';"),
              ElementsAre("Prevention and Investigation"));
  EXPECT_THAT(Rows(db,
                   "Select tbl_kav_tables.t_table_name, tbl_kav_tables.t_description, "
                   "tbl_kav_tables.t_code_no, tbl_kav_tables.t_number_1, "
                   "tbl_kav_tables.t_flag from tbl_kav_tables WHERE "
                   "tbl_kav_tables.t_category = 'SYS';"),
              ElementsAre("tbl_kav_courses|Courses|1|0|N", "tbl_kav_course_types||1|0|N",
                          "tbl_kav_orgs_stations||1||",
                          "tbl_kav_persons_instructors|Instructors and Coordinators|4|0|N",
                          "tbl_kav_rptreq_rpt_steps||0|0|N", "tbl_kav_rptreq_steps||0|0|N"));
  EXPECT_NO_THROW(db.TableDefs().Item("tbl_kav_courses").Fields().Item("course_refresher_period"));
  EXPECT_EQ(db.TableDefs().Item("tbl_kav_courses").Fields().Item(8).Name(),
            "course_refresher_period");

  // The recodes, the risk type correction and the expiries.
  for (const char* old_code : {"FUMA", "IOF1", "IOF2", "IOF3", "SOF3"}) {
    EXPECT_THAT(Rows(db, std::string("Select tbl_kav_jobs_skills.job_code from "
                                     "tbl_kav_jobs_skills WHERE "
                                     "tbl_kav_jobs_skills.job_code = '") +
                             old_code + "';"),
                ::testing::IsEmpty())
        << old_code;
  }
  EXPECT_THAT(Rows(db,
                   "Select tbl_kav_jobs_skills.job_risk_type, "
                   "tbl_kav_jobs_skills.job_title, tbl_kav_jobs_skills.job_active_date "
                   "from tbl_kav_jobs_skills WHERE tbl_kav_jobs_skills.job_code in "
                   "('FUM1','PIO1','PIO2','PIOF','SOFR','LTAN');"),
              ElementsAre("WF|Fire Use Manager Type 1|1/1/2006",
                          "WF|Public Information Officer Type 1|1/1/2006",
                          "WF|Public Information Officer Type 2|1/1/2006",
                          "WF|Public Information Officer|1/1/2006", "WF|Safety Officer|1/1/2006",
                          "WF|Long Term Fire Analyst|1/1/1998"));
  std::vector<std::string> expired =
      Rows(db,
           "Select tbl_kav_persons_quals.pq_qual_code, "
           "tbl_kav_persons_quals.pq_qual_risk_type, "
           "tbl_kav_persons_quals.pq_comments from tbl_kav_persons_quals WHERE "
           "tbl_kav_persons_quals.pq_comments = "
           "'Expriration date set by ZURA5 Update';");
  EXPECT_FALSE(expired.empty());
  for (const std::string& row : expired) {
    EXPECT_THAT(row,
                ::testing::AnyOf(HasSubstr("EMTB|WF"), HasSubstr("HEMG|WF"), HasSubstr("HCWN|WF"),
                                 HasSubstr("IRIN|WF"), HasSubstr("RXI1|WF")));
  }
  // IRIN held under another risk type keeps its expiry date.
  EXPECT_THAT(Rows(db,
                   "Select tbl_kav_persons_quals.pq_expiration_date from "
                   "tbl_kav_persons_quals WHERE "
                   "tbl_kav_persons_quals.pq_qual_code = 'IRIN' and "
                   "tbl_kav_persons_quals.pq_qual_risk_type = 'RX';"),
              ::testing::Each("12/31/2009"));
  db.Close();

  boxes.Clear();
  RunDatabaseUpdate(mdb);
  EXPECT_THAT(boxes.boxes(), ElementsAre(Box(kAlreadyUpdated, 0, "", ui::vbHourglass)));
}

TEST_F(DriverTest, TraceListsTheFortyCorrectionsAsWritten) {
  TraceRecorder trace;
  RunDatabaseUpdate(mdb);
  std::vector<std::string> executed;
  for (const std::string& line : trace.lines()) {
    if (line.starts_with("EXEC\t0\t")) {
      executed.push_back(line.substr(7));
    }
  }
  std::vector<std::string> expected(std::begin(kCorrections), std::end(kCorrections));
  ASSERT_EQ(std::size(kCorrections), 40u);
  // The corrections run as one block, in order, somewhere in the trace.
  auto it = std::search(executed.begin(), executed.end(), expected.begin(), expected.end());
  EXPECT_NE(it, executed.end());
  // And the driver's own list writes them so.
  ASSERT_EQ(update::CorrectionSteps().size(), 40u);
  for (size_t i = 0; i < 40; ++i) {
    EXPECT_EQ(std::get<stages::SqlStep>(update::CorrectionSteps()[i]).text, expected[i]) << i + 1;
  }
}

struct GateCase {
  const char* name;
  std::optional<dao::Value> version;  // nullopt: no row at all
  std::vector<ui::ShownBox> boxes;    // the boxes of a refused gate
};

TEST_F(DriverTest, VersionGate) {
  const std::vector<GateCase> cases = {
      {"already", dao::Value("v5.0"), {Box(kAlreadyUpdated, 0, "", ui::vbHourglass)}},
      // The comparison ignores letter case.
      {"already, capital V", dao::Value("V5.0"), {Box(kAlreadyUpdated, 0, "", ui::vbHourglass)}},
      {"trailing blank",
       dao::Value("v4.0 "),
       {Box("This database is v4.0  Please select a v4.0 database to be updated", 0, "",
            ui::vbHourglass)}},
      {"empty text",
       dao::Value(""),
       {Box("This database is  Please select a v4.0 database to be updated", 0, "",
            ui::vbHourglass)}},
      {"other version",
       dao::Value("v3.1"),
       {Box("This database is v3.1 Please select a v4.0 database to be updated", 0, "",
            ui::vbHourglass)}},
  };
  for (const GateCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    std::string path = MakeSample(d);
    SetVersion(path, c.version);
    std::vector<std::string> before = Dump(path);
    boxes.Clear();
    RunDatabaseUpdate(path);
    EXPECT_EQ(boxes.boxes(), c.boxes);
    EXPECT_EQ(ui::MousePointer(), ui::vbDefault);
    EXPECT_EQ(Dump(path), before) << "a refused database is left unchanged";
    EXPECT_TRUE(gdbUpdate.IsNothing());
  }
}

TEST_F(DriverTest, VersionThatPassesTheGate) {
  for (const dao::Value& version : {dao::Value("V4.0"), dao::Value()}) {
    TempDir d;
    std::string path = MakeSample(d);
    SetVersion(path, version);
    boxes.Clear();
    RunDatabaseUpdate(path);
    EXPECT_THAT(boxes.boxes(), ElementsAre(Box(kCompleted))) << version.ToString();
  }
}

TEST_F(DriverTest, VersionTableWithoutRowsFailsBeforeAnyChange) {
  SetVersion(mdb, std::nullopt);
  std::vector<std::string> before = Dump(mdb);
  RunDatabaseUpdate(mdb);
  ASSERT_EQ(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[0], Box(kUpdateFailedText, 16, "KAV Update"));
  EXPECT_THAT(boxes.boxes()[1].prompt, ::testing::StartsWith(" 3021  :  "));
  EXPECT_EQ(Dump(mdb), before);
}

TEST_F(DriverTest, MissingWorkgroupFile) {
  std::filesystem::remove(dir.File("KAV.mdw"));
  RunDatabaseUpdate(mdb);
  EXPECT_THAT(boxes.boxes(),
              ElementsAre(Box("The MDB you selected is missing it's MDW file. Please "
                              "copy it to the same directory then try again.",
                              0, "", ui::vbHourglass)));
  EXPECT_EQ(ui::MousePointer(), ui::vbDefault);
}

TEST_F(DriverTest, RefusedConnectionsEndInTheFailureBoxes) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> spoil;
    long number;
  };
  const std::vector<Case> cases = {
      {"wrong password",
       [](const TempDir& d) {
         std::filesystem::remove(d.File("KAV.mdw"));
         dao::CreateWorkgroupFile(d.File("KAV.mdw"), {{"KAVOwner", "Other"}},
                                  dao::PasswordCost::kMinimum);
       },
       3029},
      {"no such account",
       [](const TempDir& d) {
         std::filesystem::remove(d.File("KAV.mdw"));
         dao::CreateWorkgroupFile(d.File("KAV.mdw"), {{"Someone", "TelvoRm"}},
                                  dao::PasswordCost::kMinimum);
       },
       3029},
      {"another workgroup",
       [](const TempDir& d) {
         std::filesystem::remove(d.File("KAV.mdw"));
         dao::CreateWorkgroupFile(d.File("KAV.mdw"), {{"KAVOwner", "TelvoRm"}},
                                  dao::PasswordCost::kMinimum);
       },
       3033},
      {"not a database",
       [](const TempDir& d) {
         std::filesystem::remove(d.File("KAV.MDB"));
         std::ofstream(d.File("KAV.MDB")) << "Standard Jet DB, or so it says";
       },
       3343},
      {"empty file",
       [](const TempDir& d) {
         std::filesystem::remove(d.File("KAV.MDB"));
         std::ofstream(d.File("KAV.MDB"));
       },
       3343},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    std::string path = MakeSample(d);
    c.spoil(d);
    boxes.Clear();
    RunDatabaseUpdate(path);
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0], Box(kUpdateFailedText, 16, "KAV Update"));
    EXPECT_THAT(boxes.boxes()[1].prompt,
                ::testing::StartsWith(" " + std::to_string(c.number) + "  :  "));
    EXPECT_EQ(ui::MousePointer(), ui::vbDefault);
  }
}

TEST_F(DriverTest, StageFailureStopsTheUpdateAndARerunCompletes) {
  std::vector<std::string> calls;
  {
    FaultInjector faults;
    // The first training stage's first row open fails.
    faults.FailNth(dao::CallKind::kOpenTable, 1, 3051, "tbl_kav_jobs_prereq_training",
                   "The table is locked");
    RunDatabaseUpdate(mdb);
    calls = faults.lines();
  }
  ASSERT_GE(boxes.boxes().size(), 3u);
  EXPECT_EQ(boxes.boxes()[0],
            Box(" 3051  :  The table is locked", 0, "UpdateMDB_Jobs_Training", ui::vbHourglass));
  EXPECT_EQ(boxes.boxes()[boxes.boxes().size() - 2], Box(kUpdateFailedText, 16, "KAV Update"));
  EXPECT_EQ(boxes.boxes().back(), Box(" 0  :  "));
  // No later stage ran, and the version still reads v4.0.
  for (const std::string& line : calls) {
    EXPECT_NE(line, "OPEN\ttbl_kav_jobs_prereq_experiences");
    EXPECT_NE(line, "OPEN\ttbl_kav_version_info ");
  }
  dao::Database db = OpenForCheck(mdb);
  EXPECT_THAT(Rows(db,
                   "Select tbl_kav_version_info.kav_database_version from "
                   "tbl_kav_version_info;"),
              ElementsAre("v4.0"));
  db.Close();

  // The second run meets the appended column and the rows of the first run
  // without a message, and completes.
  boxes.Clear();
  RunDatabaseUpdate(mdb);
  EXPECT_THAT(boxes.boxes(), ElementsAre(Box(kCompleted)));
}

struct WorkgroupCase {
  const char* name;
  std::string mdb;                 // relative to the temporary directory
  std::vector<std::string> files;  // files made there
  std::vector<std::string> dirs;   // directories made there
  std::optional<std::string> found;
};

TEST(WorkgroupFile, DerivedFromTheFirstMdbInThePath) {
  const std::vector<WorkgroupCase> cases = {
      {"lower-case first", "KAV.MDB", {"KAV.mdw", "KAV.MDW"}, {}, "KAV.mdw"},
      {"upper-case second", "KAV.MDB", {"KAV.MDW"}, {}, "KAV.MDW"},
      {"mixed case mdb", "Kav.Mdb", {"Kav.mdw"}, {}, "Kav.mdw"},
      {"other case of the name does not count", "KAV.MDB", {"kav.mdw"}, {}, std::nullopt},
      {"first .mdb counts, even in a directory",
       "old.mdb files/KAV.MDB",
       {"old.mdw", "old.mdb files/KAV.mdw"},
       {"old.mdb files"},
       "old.mdw"},
      {"a directory is no file", "KAV.MDB", {"KAV.MDW"}, {"KAV.mdw"}, "KAV.MDW"},
      {"a hidden file is no file", ".KAV.MDB", {".KAV.mdw"}, {}, std::nullopt},
      {"neither", "KAV.MDB", {}, {}, std::nullopt},
  };
  for (const WorkgroupCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    for (const std::string& sub : c.dirs) std::filesystem::create_directories(d.File(sub));
    for (const std::string& f : c.files) std::ofstream(d.File(f)) << "x";
    std::optional<std::string> found = update::FindWorkgroupFile(d.File(c.mdb));
    if (c.found) {
      EXPECT_EQ(found, d.File(*c.found));
    } else {
      EXPECT_EQ(found, std::nullopt);
    }
  }
}

TEST(WorkgroupFile, PathWithoutMdbLooksInTheCurrentDirectory) {
  TempDir d;
  std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(d.path());
  std::ofstream("MDW") << "x";
  EXPECT_EQ(update::FindWorkgroupFile("/nowhere/KAV.DAT"), "MDW");
  std::ofstream("mdw") << "x";
  EXPECT_EQ(update::FindWorkgroupFile("/nowhere/KAV.DAT"), "mdw");
  std::filesystem::current_path(cwd);
}

TEST(UpdateNote, GeneralDateOfTheLocale) {
  // The C locale, which every machine has: month/day/year and a 24-hour
  // time; at midnight the time is left out.
  const std::string saved = std::setlocale(LC_TIME, nullptr);
  ASSERT_NE(std::setlocale(LC_TIME, "C"), nullptr);
  std::tm afternoon{};
  afternoon.tm_year = 106;
  afternoon.tm_mon = 2;
  afternoon.tm_mday = 15;
  afternoon.tm_hour = 14;
  afternoon.tm_min = 5;
  afternoon.tm_sec = 9;
  std::tm midnight = afternoon;
  midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
  std::tm second_past = midnight;
  second_past.tm_sec = 1;
  EXPECT_EQ(update::UpdateNote(afternoon), "Updated 03/15/06 14:05:09(davodo5.0.exe) ");
  EXPECT_EQ(update::UpdateNote(midnight), "Updated 03/15/06(davodo5.0.exe) ");
  EXPECT_EQ(update::UpdateNote(second_past), "Updated 03/15/06 00:00:01(davodo5.0.exe) ");
  std::setlocale(LC_TIME, saved.c_str());
}

}  // namespace
}  // namespace kav::testing
