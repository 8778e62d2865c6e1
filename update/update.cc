// RunDatabaseUpdate: one whole upgrade of one database file.
//
// The procedure is one straight sequence of named steps (connection, version
// gate, schema phase, data phase, version stamp), each with its error rule:
// in the connection step and the version stamp every error ends the
// update; in the schema phase 3191 (the field exists) goes on with the next
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
#include "update/driver_globals.h"

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
    // The executor calls its handler while it handles `error`, so the error
    // leaves as it came, of its own type, not as a copy of kav::Error.
    if (!rule(error)) throw;
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

// ---------------------------------------------------------------------------
// The steps of one update, in their order.  Each step that can end the
// update says so; how every end that got a connection is shown lies in
// one place, EndUpdate.

namespace {

namespace stages = kav::stages;

// What one run shares between its steps: rs and sSQL, and bFailed.
struct UpdateRun {
  stages::StepLocals locals;
  bool bFailed = false;
};

// How an update that got a connection ends.
struct Ending {
  enum Kind { kCompleted, kRefused, kFailed } kind;
  std::string text = {};  // kRefused: the version gate's box
  long number = 0;        // kFailed: the pending error, 0 and "" after a stage
  std::string description = {};
};

// Connection phase: the workgroup file, the workspace and the database.
// Returns false when there is no workgroup file: its box is shown and
// nothing is open.  Every error ends the update.
bool ConnectStep(const std::string& path) {
  ui::SetMousePointer(ui::vbHourglass);
  gsMdbPath = path;
  std::optional<std::string> mdw = FindWorkgroupFile(gsMdbPath);
  if (!mdw) {
    ui::MsgBox(
        "The MDB you selected is missing it's MDW file. Please copy it to "
        "the same directory then try again.");
    ui::SetMousePointer(ui::vbDefault);
    return false;
  }
  gsMdwPath = *mdw;
  dao::DBEngine& engine = dao::DBEngine::Instance();
  engine.SetSystemDB(gsMdwPath);
  gwsUpdate = engine.CreateWorkspace("", "KAVOwner", "TelvoRm", dao::dbUseJet);
  gdbUpdate = gwsUpdate.OpenDatabase(gsMdbPath);
  return true;
}

// Version gate: the box that refuses the file, when its version is not
// "v4.0" (a Null version refuses nothing).  Without a refusal rs stays
// open; the first registration row replaces it.
std::optional<std::string> VersionGateStep(UpdateRun& run) {
  run.locals.sSQL =
      "Select tbl_kav_version_info.kav_database_version from "
      "tbl_kav_version_info;";
  run.locals.rs = gdbUpdate.OpenRecordset(run.locals.sSQL, dao::dbOpenForwardOnly);
  dao::Value version = run.locals.rs.Fields(0).GetValue();
  if (version.IsNull()) return std::nullopt;
  const std::string text = version.ToString();
  if (kav::EqualsIgnoringCase(text, "v5.0")) return "This database has already been updated";
  if (!kav::EqualsIgnoringCase(text, "v4.0")) {
    return "This database is " + text + " Please select a v4.0 database to be updated";
  }
  return std::nullopt;
}

// Schema phase: 3191 (the field exists) goes on with the next operation.
void SchemaStep() {
  struct Retyping {
    const char* table;
    const char* field;
    long size;
    bool allow_zero_length;
  };
  static constexpr Retyping kRetypings[] = {
      {"tbl_kav_persons", "p_primary_jet_port", 4, false},
      {"tbl_kav_persons", "p_secondary_jet_port", 4, false},
      {"tbl_kav_jet_ports", "jet_port_abbrev", 4, false},
      {"tbl_kav_training_scheduled", "ts_comment", 255, true}};
  // What other programs made on a column to be retyped and that cannot be
  // kept refuses the file here, before the first change, rather than
  // between two retypings.
  for (const Retyping& r : kRetypings) gdbUpdate.CheckOtherProgramsObjects(r.table, r.field);
  dao::TableDef td;
  RunUnder(SkipExistingField, [&] { td = gdbUpdate.TableDefs().Item("tbl_kav_courses"); });
  RunUnder(SkipExistingField,
           [&] { td.Fields().Append(td.CreateField("course_refresher_period", dao::dbText, 3)); });
  RunUnder(SkipExistingField, [&] { td = dao::TableDef(); });
  for (const Retyping& r : kRetypings) {
    RunUnder(SkipExistingField, [&] {
      ChangeFieldType(gdbUpdate, r.table, r.field, dao::dbText, r.size, r.allow_zero_length,
                      /*bNotRequired=*/true,
                      /*lAttributes=*/0);
    });
  }
}

// Data phase: 3022 (duplicate key) goes on with the next operation.
// Returns false when a stage failed; it has shown its own error.
bool DataStep(UpdateRun& run) {
  stages::RunSteps(gdbUpdate, RegistrationSteps(), run.locals, StepHandler(SkipDuplicateKey),
                   run.bFailed);
  if (!CallStage(UpdateMDB_CourseChanges, run.bFailed)) return false;
  stages::RunSteps(gdbUpdate, CorrectionSteps(), run.locals, StepHandler(SkipDuplicateKey),
                   run.bFailed);
  for (void (*stage)(bool&) :
       {UpdateMDB_Jobs_Training1, UpdateMDB_Jobs_Training2, UpdateMDB_Jobs_Experience1,
        UpdateMDB_Jobs_Experience2, UpdateMDB_Jobs_Experience3, UpdateMDB_Jobs_Currency}) {
    if (!CallStage(stage, run.bFailed)) return false;
  }
  return true;
}

// Version stamp.  The database object opened first is not closed; only the
// reference to it is replaced.  Every error of the stamp ends the update:
// a version row that was not written must not be reported as updated.
void VersionStampStep(UpdateRun& run) {
  dao::Recordset& rs = run.locals.rs;
  gdbUpdate = gwsUpdate.OpenDatabase(gsMdbPath);
  rs = gdbUpdate.OpenRecordset("tbl_kav_version_info ", dao::dbOpenTable);
  rs.Edit();
  rs.Fields(0).SetValue("v5.0");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  rs.Fields(1).SetValue(UpdateNote(local));
  rs.Update(dao::dbUpdateRegular, false);
  rs.Close();
  rs = dao::Recordset();
  gdbUpdate.Close();
  gdbUpdate = dao::Database();
}

// Runs `steps`; returns the failure ending for an error that left them.
std::optional<Ending> FailureOf(const std::function<void()>& steps) {
  try {
    steps();
    return std::nullopt;
  } catch (const kav::Error& error) {
    return Ending{Ending::kFailed, {}, error.number(), error.description()};
  } catch (const std::bad_alloc&) {
    return Ending{Ending::kFailed, {}, 7, "Out of memory"};
  } catch (const std::exception& error) {
    return Ending{Ending::kFailed, {}, 51, std::string("Internal error: ") + error.what()};
  }
}

// Every end of an update that got a connection: before the last box, every
// committed change is written into the database file itself, on disk, so
// that the file alone is the whole database while the tool sits idle (the
// first database object stays open).  Where the disk has no room for that,
// a completion or a refusal becomes the failure that says so; a failure
// keeps its own error.
void EndUpdate(Ending ending, UpdateRun& run) {
  std::optional<Ending> flushed = FailureOf([] { dao::DBEngine::Instance().FlushFiles(); });
  if (flushed && ending.kind != Ending::kFailed) ending = *flushed;
  switch (ending.kind) {
    case Ending::kCompleted:
      ui::SetMousePointer(ui::vbDefault);
      ui::MsgBox("Database Update completed.");
      return;
    case Ending::kRefused:
      ui::MsgBox(ending.text);
      if (std::optional<Ending> closing = FailureOf([&] {
            run.locals.rs.Close();
            run.locals.rs = dao::Recordset();
            gdbUpdate.Close();
            gdbUpdate = dao::Database();
          })) {
        ReportUpdateFailure(closing->number, closing->description);
        return;
      }
      ui::SetMousePointer(ui::vbDefault);
      return;
    case Ending::kFailed:
      ReportUpdateFailure(ending.number, ending.description);
      return;
  }
}

}  // namespace

}  // namespace kav::update

void RunDatabaseUpdate(std::string path) {
  using namespace kav::update;
  UpdateRun run;
  bool no_workgroup_file = false;  // its box is shown; nothing was opened
  Ending ending{Ending::kCompleted};
  std::optional<Ending> failure = FailureOf([&] {
    if (!ConnectStep(path)) {
      no_workgroup_file = true;
    } else if (std::optional<std::string> refusal = VersionGateStep(run)) {
      ending = Ending{Ending::kRefused, *refusal};
    } else {
      SchemaStep();
      if (!DataStep(run)) {
        ending = Ending{Ending::kFailed, {}, 0, ""};
      } else {
        VersionStampStep(run);
      }
    }
  });
  if (!no_workgroup_file) EndUpdate(failure ? *failure : ending, run);
}
