// RunDatabaseUpdate: one whole upgrade of one database file.
//
// The procedure is one straight sequence of operations in three phases, each
// with its error rule: in the connection phase every error ends the update;
// in the schema phase 3191 (the field exists) goes on with the next
// operation; in the data phase 3022 (duplicate key) does.  Every other error,
// and every stage that comes back with bFailed set, ends in
// ReportUpdateFailure.  Nothing is rolled back: a failed update leaves the
// version at "v4.0" and can be run again on the same file.

#include "update/update.h"

#include <clocale>
#include <ctime>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>

#include "platform/error.h"
#include "platform/text.h"
#include "platform/ui/message_box.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "update/corrections.h"

namespace kav::update {

namespace {

// The driver's error rules, one per phase after the connection: each passes
// over one error, and the operation after the failing one runs; every other
// error goes to ReportUpdateFailure.  A rule says whether it passes over
// `error`.
using DriverRule = bool (*)(const kav::Error& error);

// The schema phase's rule: 3191, the field exists.
bool SkipExistingField(const kav::Error& error) { return error.number() == dao::kErrFieldExists; }

// The data phase's rule, from the registration rows to the version stamp,
// stage calls included: the duplicate key, which every stage passes over
// too.
bool SkipDuplicateKey(const kav::Error& error) { return stages::IsPassedOver(error); }

// Runs one operation under `rule`: returns when it succeeded or the rule
// passes over its error, raises otherwise.
void RunUnder(DriverRule rule, const std::function<void()>& operation) {
  try {
    operation();
  } catch (const kav::Error& error) {
    if (!rule(error)) throw;
  }
}

// `rule` as the executor calls it, for the driver's own step lists.
stages::StageErrorHandler StepHandler(DriverRule rule) {
  return [rule](const kav::Error& error, bool&) {
    if (!rule(error)) throw error;
    return stages::Resume::kNextOperation;
  };
}

// An ordinary file: not a directory, not hidden (on Linux, a name that
// starts with a dot), read-only files included.
bool OrdinaryFileExists(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p(path);
  if (!std::filesystem::is_regular_file(p, ec)) return false;
  std::string name = p.filename().string();
  return !name.empty() && name[0] != '.';
}

const char* const kFailureText =
    "This update failed. Please retry. If update continues to fail call your "
    "KAV support person for help. "
    " A second screen will appear showing error. Please capture this error.";

void ReportUpdateFailure(long number, const std::string& description) {
  ui::SetMousePointer(ui::vbDefault);
  ui::MsgBox(kFailureText, ui::vbCritical, "KAV Update");
  ui::MsgBox(kav::ErrorBoxText(number, description), ui::vbOKOnly);
}

// The stage calls of the data phase, each followed by the test of bFailed.
// Returns false when a stage failed.
bool CallStage(void (*stage)(bool&), bool& bFailed) {
  RunUnder(SkipDuplicateKey, [&] { stage(bFailed); });
  return !bFailed;
}

}  // namespace

std::string GeneralDate(const std::tm& time) {
  char buffer[128];
  const bool midnight = time.tm_hour == 0 && time.tm_min == 0 && time.tm_sec == 0;
  size_t n = std::strftime(buffer, sizeof buffer, midnight ? "%x" : "%x %X", &time);
  return std::string(buffer, n);
}

std::string UpdateNote(const std::tm& time) {
  return "Updated " + GeneralDate(time) + "(davodo5.0.exe) ";
}

std::optional<std::string> FindWorkgroupFile(const std::string& mdb_path) {
  // The first ".mdb" anywhere in the path counts, in any letter case, also
  // inside a directory name; without one the bare names are looked up in
  // the current directory.
  const std::string lower = kav::FoldCase(mdb_path);
  size_t dot = lower.find(".mdb");
  std::string prefix = dot == std::string::npos ? "" : mdb_path.substr(0, dot + 1);
  for (const char* extension : {"mdw", "MDW"}) {
    if (OrdinaryFileExists(prefix + extension)) return prefix + extension;
  }
  return std::nullopt;
}

}  // namespace kav::update

void RunDatabaseUpdate(std::string path) {
  using kav::update::RunUnder;
  using kav::update::SkipDuplicateKey;
  using kav::update::SkipExistingField;
  using kav::update::StepHandler;
  namespace stages = kav::stages;

  stages::StepLocals locals;  // rs and sSQL, shared by every phase
  dao::Recordset& rs = locals.rs;
  std::string& sSQL = locals.sSQL;
  bool bFailed = false;

  try {
    // Connection phase.
    ui::SetMousePointer(ui::vbHourglass);
    gsMdbPath = path;
    std::optional<std::string> mdw = kav::update::FindWorkgroupFile(gsMdbPath);
    if (!mdw) {
      ui::MsgBox(
          "The MDB you selected is missing it's MDW file. Please copy it to "
          "the same directory then try again.");
      ui::SetMousePointer(ui::vbDefault);
      return;
    }
    gsMdwPath = *mdw;

    dao::DBEngine& engine = dao::DBEngine::Instance();
    engine.SetSystemDB(gsMdwPath);
    gwsUpdate = engine.CreateWorkspace("", "KAVOwner", "TelvoRm", dao::dbUseJet);
    gdbUpdate = gwsUpdate.OpenDatabase(gsMdbPath);

    // Version gate.
    sSQL =
        "Select tbl_kav_version_info.kav_database_version from "
        "tbl_kav_version_info;";
    rs = gdbUpdate.OpenRecordset(sSQL, dao::dbOpenForwardOnly);
    dao::Value version = rs.Fields(0).GetValue();
    if (!version.IsNull()) {
      const std::string text = version.ToString();
      std::optional<std::string> refusal;
      if (kav::EqualsIgnoringCase(text, "v5.0")) {
        refusal = "This database has already been updated";
      } else if (!kav::EqualsIgnoringCase(text, "v4.0")) {
        refusal = "This database is " + text + " Please select a v4.0 database to be updated";
      }
      if (refusal) {
        ui::MsgBox(*refusal);
        rs.Close();
        rs = dao::Recordset();
        gdbUpdate.Close();
        gdbUpdate = dao::Database();
        ui::SetMousePointer(ui::vbDefault);
        return;
      }
    }
    // rs stays open; the first registration row replaces it.

    // Schema phase.
    dao::TableDef td;
    RunUnder(SkipExistingField, [&] { td = gdbUpdate.TableDefs().Item("tbl_kav_courses"); });
    RunUnder(SkipExistingField, [&] {
      td.Fields().Append(td.CreateField("course_refresher_period", dao::dbText, 3));
    });
    RunUnder(SkipExistingField, [&] { td = dao::TableDef(); });
    struct Retyping {
      const char* table;
      const char* field;
      long size;
      bool allow_zero_length;
    };
    for (const Retyping& r : {Retyping{"tbl_kav_persons", "p_primary_jet_port", 4, false},
                              Retyping{"tbl_kav_persons", "p_secondary_jet_port", 4, false},
                              Retyping{"tbl_kav_jet_ports", "jet_port_abbrev", 4, false},
                              Retyping{"tbl_kav_training_scheduled", "ts_comment", 255, true}}) {
      RunUnder(SkipExistingField, [&] {
        ChangeFieldType(gdbUpdate, r.table, r.field, dao::dbText, r.size, r.allow_zero_length,
                        /*bNotRequired=*/true,
                        /*lAttributes=*/0);
      });
    }

    // Data phase.
    stages::RunSteps(gdbUpdate, kav::update::RegistrationSteps(), locals,
                     StepHandler(SkipDuplicateKey), bFailed);
    bool stages_ok = kav::update::CallStage(UpdateMDB_CourseChanges, bFailed);
    if (stages_ok) {
      stages::RunSteps(gdbUpdate, kav::update::CorrectionSteps(), locals,
                       StepHandler(SkipDuplicateKey), bFailed);
      for (void (*stage)(bool&) :
           {UpdateMDB_Jobs_Training1, UpdateMDB_Jobs_Training2, UpdateMDB_Jobs_Experience1,
            UpdateMDB_Jobs_Experience2, UpdateMDB_Jobs_Experience3, UpdateMDB_Jobs_Currency}) {
        if (!(stages_ok = kav::update::CallStage(stage, bFailed))) break;
      }
    }
    if (!stages_ok) {
      // The stage has shown its own error; none is pending.
      kav::update::ReportUpdateFailure(0, "");
      return;
    }

    // Version stamp.  The database object opened first is not closed; only
    // the reference to it is replaced.
    RunUnder(SkipDuplicateKey, [&] { gdbUpdate = gwsUpdate.OpenDatabase(gsMdbPath); });
    RunUnder(SkipDuplicateKey,
             [&] { rs = gdbUpdate.OpenRecordset("tbl_kav_version_info ", dao::dbOpenTable); });
    RunUnder(SkipDuplicateKey, [&] { rs.Edit(); });
    RunUnder(SkipDuplicateKey, [&] { rs.Fields(0).SetValue("v5.0"); });
    RunUnder(SkipDuplicateKey, [&] {
      std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      rs.Fields(1).SetValue(kav::update::UpdateNote(local));
    });
    RunUnder(SkipDuplicateKey, [&] { rs.Update(dao::dbUpdateRegular, false); });
    RunUnder(SkipDuplicateKey, [&] { rs.Close(); });
    RunUnder(SkipDuplicateKey, [&] { rs = dao::Recordset(); });
    RunUnder(SkipDuplicateKey, [&] { gdbUpdate.Close(); });
    RunUnder(SkipDuplicateKey, [&] { gdbUpdate = dao::Database(); });
    ui::SetMousePointer(ui::vbDefault);
    ui::MsgBox("Database Update completed.");
  } catch (const kav::Error& error) {
    kav::update::ReportUpdateFailure(error.number(), error.description());
  } catch (const std::bad_alloc&) {
    kav::update::ReportUpdateFailure(7, "Out of memory");
  } catch (const std::exception& error) {
    kav::update::ReportUpdateFailure(51, std::string("Internal error: ") + error.what());
  }
}
