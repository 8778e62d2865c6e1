#include "tools/sample.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/internal/sqlite.h"
#include "platform/error.h"

namespace kav::sample {

namespace {

using dao::dbDate;
using dao::dbInteger;
using dao::dbLong;
using dao::dbText;

struct Column {
  const char* name;
  int type;
  long size = 0;
};

void CreateTable(dao::Database& db, const char* name, std::initializer_list<Column> columns,
                 std::initializer_list<const char*> primary_key,
                 std::initializer_list<const char*> plain_index = {}) {
  dao::TableDef td = db.CreateTableDef(name);
  for (const Column& c : columns) {
    td.Fields().Append(td.CreateField(c.name, c.type, c.size));
  }
  if (primary_key.size() > 0) {
    dao::Index pk = td.CreateIndex("PrimaryKey");
    pk.SetPrimary(true);
    pk.SetUnique(true);
    pk.SetRequired(true);
    for (const char* f : primary_key) pk.Fields().Append(pk.CreateField(f));
    td.Indexes().Append(pk);
  }
  if (plain_index.size() > 0) {
    dao::Index ix = td.CreateIndex(*plain_index.begin());
    for (const char* f : plain_index) ix.Fields().Append(ix.CreateField(f));
    td.Indexes().Append(ix);
  }
  db.TableDefs().Append(td);
}

void Relate(dao::Database& db, const char* name, const char* table, const char* foreign_table,
            const char* field, const char* foreign_field) {
  dao::Relation rel = db.CreateRelation(name, table, foreign_table, 0);
  dao::Field f = rel.CreateField(field);
  f.SetForeignName(foreign_field);
  rel.Fields().Append(f);
  db.Relations().Append(rel);
}

// Adds one row, assigning the values to positions 0, 1, 2, ... as text
// (Null where a value is nullptr), through the recordset `rs` on `table`.
void AddRow(dao::Database& db, const char* table, std::initializer_list<dao::Value> values) {
  dao::Recordset rs = db.OpenRecordset(table, dao::dbOpenTable);
  rs.AddNew();
  int position = 0;
  for (const dao::Value& v : values) rs.Fields(position++).SetValue(v);
  rs.Update();
}

void CreateSchema(dao::Database& db) {
  CreateTable(db, "tbl_kav_version_info",
              {{"kav_database_version", dbText, 10}, {"kav_database_update_note", dbText, 255}},
              {});
  CreateTable(db, "tbl_kav_courses",
              {{"risk_type", dbText, 2},
               {"course_code", dbText, 10},
               {"course_title", dbText, 100},
               {"course_hours", dbInteger},
               {"course_standard", dbText, 20},
               {"course_type", dbText, 20},
               {"course_active_date", dbDate},
               {"course_inactive_date", dbDate}},
              {"course_code", "risk_type"});
  CreateTable(db, "tbl_kav_jobs_skills",
              {{"job_risk_type", dbText, 2},
               {"job_code", dbText, 4},
               {"job_title", dbText, 100},
               {"job_cert_period", dbInteger},
               {"job_standard", dbText, 20},
               {"job_active_date", dbDate},
               {"job_inactive_date", dbDate},
               {"job_fitness_requirement", dbText, 1},
               {"job_functional_area", dbText, 2}},
              {"job_code", "job_risk_type"});
  CreateTable(db, "tbl_kav_jobs_prereq_training",
              {{"jpt_risk_type", dbText, 2},
               {"jpt_job_code", dbText, 4},
               {"jpt_p_risk_type", dbText, 2},
               {"jpt_p_course_code", dbText, 10},
               {"jpt_p_type", dbText, 2},
               {"jpt_standard", dbText, 20}},
              {"jpt_risk_type", "jpt_job_code", "jpt_p_risk_type", "jpt_p_course_code"});
  CreateTable(
      db, "tbl_kav_jobs_prereq_experiences",
      {{"jpe_risk_type", dbText, 2},
       {"jpe_job_code", dbText, 4},
       {"jpe_p_risk_type", dbText, 2},
       {"jpe_p_job_code", dbText, 4},
       {"jpe_p_type", dbText, 3},
       {"jpe_exp_group_no", dbInteger},
       {"jpe_standard", dbText, 20}},
      {"jpe_risk_type", "jpe_job_code", "jpe_exp_group_no", "jpe_p_risk_type", "jpe_p_job_code"});
  CreateTable(db, "tbl_kav_jobs_currency",
              {{"jc_risk_type", dbText, 2},
               {"jc_job_code", dbText, 4},
               {"jc_c_risk_type", dbText, 2},
               {"jc_c_job_code", dbText, 4},
               {"jc_standard", dbText, 20}},
              {"jc_risk_type", "jc_job_code", "jc_c_risk_type", "jc_c_job_code"});
  CreateTable(db, "tbl_kav_ics_functional_areas",
              {{"ifa_code", dbText, 2}, {"ifa_description", dbText, 50}}, {"ifa_code"});
  CreateTable(db, "tbl_kav_tables",
              {{"t_category", dbText, 10},
               {"t_table_name", dbText, 64},
               {"t_description", dbText, 100},
               {"t_code_no", dbText, 2},
               {"t_number_1", dbInteger},
               {"t_number_2", dbInteger},
               {"t_flag", dbText, 1}},
              {"t_table_name"});
  CreateTable(db, "tbl_kav_jet_ports",
              {{"jet_port_abbrev", dbText, 3}, {"jet_port_name", dbText, 50}}, {"jet_port_abbrev"});
  CreateTable(db, "tbl_kav_persons",
              {{"p_id", dbLong},
               {"p_last_name", dbText, 50},
               {"p_first_name", dbText, 50},
               {"p_agency", dbText, 10},
               {"p_primary_jet_port", dbText, 3},
               {"p_secondary_jet_port", dbText, 3}},
              {"p_id"}, {"p_last_name", "p_first_name"});
  CreateTable(db, "tbl_kav_persons_quals",
              {{"pq_id", dbLong},
               {"pq_p_id", dbLong},
               {"pq_qual_code", dbText, 4},
               {"pq_qual_risk_type", dbText, 2},
               {"pq_expiration_date", dbDate},
               {"pq_comments", dbText, 255}},
              {"pq_id"}, {"pq_p_id"});
  CreateTable(db, "tbl_kav_training_scheduled",
              {{"ts_id", dbLong},
               {"ts_risk_type", dbText, 2},
               {"ts_course_code", dbText, 10},
               {"ts_start_date", dbDate},
               {"ts_comment", dbText, 100}},
              {"ts_id"});
  Relate(db, "tbl_kav_jet_portstbl_kav_persons", "tbl_kav_jet_ports", "tbl_kav_persons",
         "jet_port_abbrev", "p_primary_jet_port");
  Relate(db, "tbl_kav_jet_portstbl_kav_persons1", "tbl_kav_jet_ports", "tbl_kav_persons",
         "jet_port_abbrev", "p_secondary_jet_port");
  Relate(db, "tbl_kav_personstbl_kav_persons_quals", "tbl_kav_persons", "tbl_kav_persons_quals",
         "p_id", "pq_p_id");
}

void FillReferenceData(dao::Database& db, const std::string& version) {
  AddRow(db, "tbl_kav_version_info", {version, dao::Value()});

  const char* courses[][4] = {
      // risk type, code, title, hours
      {"WF", "S-481", "Incident Business Management", "24"},
      {"WF", "S-381", "Leadership and Organizational Development", "32"},
      {"WF", "S-234", "Ignition Operations Old", "24"},
      {"WF", "S-212", "Power Saws", "24"},
      {"WF", "S-248", "Status Check-In Recorder", "8"},
      {"WF", "J-357", "Food Unit Leader Old", "16"},
      {"WF", "P-130", "Prevention Basics", "8"},
      {"WF", "IAMS", "Incident Automated Management", "16"},
      {"WF", "S-130", "Firefighter Training", "32"},
      {"WF", "S-290", "Intermediate Fire Behavior", "32"},
      {"WF", "I-100", "Introduction to ICS", "4"},
      {"WF", "I-200", "Basic ICS", "12"},
      {"RX", "RX-310", "Introduction to Fire Effects", "32"},
      {"AR", "IS-100", "ICS Orientation", "3"},
  };
  for (const auto& c : courses) {
    AddRow(db, "tbl_kav_courses",
           {c[0], c[1], c[2], c[3], "NATIONAL", "CLASSROOM", "1/1/1998", dao::Value()});
  }

  const char* jobs[][4] = {
      // risk type, code, title, fitness
      {"RX", "FUMA", "Fire Use Manager", "M"},
      {"WF", "IOF1", "Information Officer Type 1", "N"},
      {"WF", "IOF2", "Information Officer Type 2", "N"},
      {"WF", "IOF3", "Information Officer Type 3", "N"},
      {"WF", "SOF3", "Safety Officer Type 3", "M"},
      {"RX", "LTAN", "Long Term Fire Analyst", "N"},
      {"WF", "EMTB", "Emergency Medical Technician Basic", "M"},
      {"WF", "HCWN", "Helicopter Crewmember", "M"},
      {"WF", "HEMG", "Helicopter Manager Old", "M"},
      {"WF", "ABRO", "Aircraft Base Radio Operator", "L"},
      {"WF", "FIRB", "Firing Boss", "A"},
      {"WF", "FOBS", "Field Observer", "A"},
      {"WF", "EDSP", "Expanded Dispatch Supervisor", "N"},
      {"WF", "FFT1", "Advanced Firefighter", "A"},
      {"WF", "FFT2", "Firefighter", "A"},
      {"WF", "RXI1", "Prescribed Fire Ignition Specialist 1", "M"},
      {"WF", "IRIN", "Infrared Interpreter", "N"},
      {"RX", "RXB2", "Prescribed Fire Burn Boss 2", "A"},
      {"RX", "FEMO", "Fire Effects Monitor", "A"},
      {"WF", "ICT3", "Incident Commander Type 3", "A"},
      {"WF", "ICT4", "Incident Commander Type 4", "A"},
      {"WF", "CRWB", "Crew Boss", "A"},
      {"WF", "HEB2", "Helibase Manager", "M"},
      {"WF", "AOBD", "Air Operations Branch Director", "N"},
      {"WF", "SITL", "Situation Unit Leader", "N"},
  };
  for (const auto& j : jobs) {
    AddRow(db, "tbl_kav_jobs_skills",
           {j[0], j[1], j[2], "3", "NATIONAL", "1/1/1998", dao::Value(), j[3], "OS"});
  }

  // clang-format off
  const char* training[][4] = {
      // job risk type, job, course, type
      {"WF", "FUMA", "S-481", "ST"},   // FUMA's old rows under WF: deleted
      {"WF", "FUMA", "S-290", "ST"},
      {"RX", "RXB2", "S-381", "ST"},   // removed by the first training stage
      {"WF", "RXI1", "S-234", "ST"},   // cleared with every row of RXI1
      {"WF", "AOBD", "S-481", "ST"},   // removed under S-481 and S-481Old
      {"WF", "HEB2", "S-381", "ST"},
      {"WF", "ICT3", "S-290", "ST"},
      {"WF", "FFT2", "I-100", "ST"},
  };
  // clang-format on
  for (const auto& t : training) {
    AddRow(db, "tbl_kav_jobs_prereq_training", {t[0], t[1], "WF", t[2], t[3], "NATIONAL"});
  }

  struct Experience {
    const char* risk;
    const char* job;
    const char* p_job;
    const char* type;
    int16_t group;
  };
  const Experience experiences[] = {
      {"RX", "FUMA", "FUMA", "TRN", 1},  // FUMA's old rows under RX: deleted
      {"RX", "FUMA", "FEMO", "JOB", 1}, {"WF", "ABRO", "HECM", "JOB", 1},
      {"WF", "HEB2", "HEMG", "JOB", 1}, {"WF", "ICT3", "ICT3", "TRN", 1},
      {"WF", "ICT3", "ICT4", "JOB", 1},
  };
  for (const Experience& e : experiences) {
    AddRow(db, "tbl_kav_jobs_prereq_experiences",
           {e.risk, e.job, "WF", e.p_job, e.type, e.group, "NATIONAL"});
  }

  const char* currency[][2] = {
      {"CRWB", "HEMG"}, {"CRWB", "HLCO"}, {"FFT1", "HEMG"},
      {"ICT3", "ICT4"}, {"FELB", "ICT3"}, {"RXI1", "RXB2"},
  };
  for (const auto& c : currency) {
    AddRow(db, "tbl_kav_jobs_currency", {"WF", c[0], "WF", c[1], "NATIONAL"});
  }

  AddRow(db, "tbl_kav_ics_functional_areas", {"OS", "Operations Section"});
  AddRow(db, "tbl_kav_tables",
         {"SYS", "tbl_kav_courses", "Courses", "1", int16_t{0}, int16_t{0}, "N"});
}

const char* const kJetPorts[][2] = {
    {"BOI", "Boise"},  {"MSO", "Missoula"},   {"RDD", "Redding"},
    {"FAT", "Fresno"}, {"SAC", "Sacramento"},
};

// Persons with five held qualifications each and one scheduled course: the
// bulk rows.  They go into the file the engine made, by position and in the
// form the engine stores, in one plain SQLite transaction: through the
// engine's recordsets a million persons took a minute and more.  The file's
// relation triggers check every row as they check the engine's writes.
// The transaction runs without a journal: the file is new and a failure
// leaves it to be written again (WriteSampleDatabase raises), while a
// statement journal for each row, which the relation triggers call for,
// would cost as much as the rows.  The file then returns to rollback-journal
// mode, in which the engine leaves every file it has closed: the sample is
// one file, with nothing beside it.
void FillPersons(const std::string& mdb, int persons) {
  const char* quals[][2] = {
      {"EMTB", "WF"}, {"HEMG", "WF"}, {"HCWN", "WF"}, {"IRIN", "WF"},
      {"IRIN", "RX"}, {"FFT2", "WF"}, {"FUMA", "RX"}, {"RXI1", "WF"},
  };
  const char* last_names[] = {"Lopez", "Smith", "Nguyen", "Okafor",
                              "Berg",  "Young", "Haddad", "Kowalski"};
  const dao::Value expires = dao::ConvertToFieldType("12/31/2009", dbDate);
  const dao::Value starts = dao::ConvertToFieldType("6/1/2006", dbDate);
  PlainDatabase db(mdb);
  db.Exec("PRAGMA journal_mode=OFF; BEGIN");
  sqlite3_stmt* people = db.Prepare("INSERT INTO tbl_kav_persons VALUES (?, ?, ?, ?, ?, ?)");
  sqlite3_stmt* held = db.Prepare("INSERT INTO tbl_kav_persons_quals VALUES (?, ?, ?, ?, ?, ?)");
  sqlite3_stmt* scheduled =
      db.Prepare("INSERT INTO tbl_kav_training_scheduled VALUES (?, ?, ?, ?, ?)");
  int32_t qual_id = 1;
  for (int32_t p = 1; p <= persons; ++p) {
    // Every third person has no second jet port.
    db.Write(people,
             {p, last_names[p % 8], "Person " + std::to_string(p), "BLM", kJetPorts[p % 5][0],
              p % 3 == 0 ? dao::Value() : dao::Value(kJetPorts[(p + 2) % 5][0])});
    for (int q = 0; q < 5; ++q) {
      const auto& qual = quals[(p + q) % 8];
      db.Write(held, {qual_id++, p, qual[0], qual[1], expires, dao::Value()});
    }
    db.Write(scheduled,
             {p, "WF", p % 2 ? "S-290" : "S-130", starts,
              p % 4 == 0 ? dao::Value() : dao::Value("Confirmed by the dispatch office")});
  }
  db.Exec("COMMIT; PRAGMA journal_mode=DELETE");
}

}  // namespace

void WriteSampleDatabase(const std::string& dir, const SampleOptions& options) {
  const std::string mdb = dir + "/KAV.MDB";
  const std::string mdw = dir + "/KAV.mdw";
  std::filesystem::remove(mdb);
  std::filesystem::remove(mdb + "-wal");
  std::filesystem::remove(mdb + "-shm");
  std::filesystem::remove(mdw);
  dao::CreateWorkgroupFile(mdw, {{"KAVOwner", "TelvoRm"}}, options.cost);
  dao::DBEngine& engine = dao::DBEngine::Instance();
  const std::string previous_system_db = engine.SystemDB();
  engine.SetSystemDB(mdw);
  dao::Workspace ws = engine.CreateWorkspace("", "KAVOwner", "TelvoRm", dao::dbUseJet);
  engine.SetSystemDB(previous_system_db);
  dao::Database db = ws.CreateDatabase(mdb);
  CreateSchema(db);
  FillReferenceData(db, options.version);
  for (const auto& port : kJetPorts) AddRow(db, "tbl_kav_jet_ports", {port[0], port[1]});
  db.Close();
  ws.Close();
  FillPersons(mdb, options.persons);
}

PlainDatabase::PlainDatabase(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db_);
    sqlite3_close_v2(db_);
    throw kav::Error(3000, "plain SQLite: " + message, "PlainDatabase");
  }
  sqlite3_extended_result_codes(db_, 1);
}

PlainDatabase::~PlainDatabase() {
  for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

void PlainDatabase::Fail() const {
  throw kav::Error(3000, std::string("plain SQLite: ") + sqlite3_errmsg(db_), "PlainDatabase");
}

void PlainDatabase::Exec(const std::string& sql) {
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
}

sqlite3_stmt* PlainDatabase::Prepare(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) Fail();
  statements_.push_back(stmt);
  return stmt;
}

int PlainDatabase::Step(sqlite3_stmt* stmt, const std::vector<dao::Value>& values) {
  // The engine's own binding, so that every value is stored as the engine
  // stores it.  The statement stays this connection's; it is reset, with
  // its bindings cleared, when `bound` goes.
  dao::internal::Statement bound(db_, stmt);
  int position = 1;
  for (const dao::Value& v : values) bound.BindValue(position++, v);
  int rc = sqlite3_step(stmt);
  while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
  return rc;
}

void PlainDatabase::Write(sqlite3_stmt* stmt, const std::vector<dao::Value>& values) {
  if (Step(stmt, values) != SQLITE_DONE) Fail();
}

std::vector<std::vector<std::string>> PlainDatabase::Query(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) Fail();
  std::vector<std::vector<std::string>> rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) Fail();
  return rows;
}

}  // namespace kav::sample
