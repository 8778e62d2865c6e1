// UpdateMDB_Jobs_Currency: the currency requirements of positions in
// tbl_kav_jobs_currency.  The stage runs fixed steps in this order: the
// requirement rows with the re-pointings of stored requirements among them,
// deletions of single pairs, and deletions that name a list of positions or
// of required positions.
//
// Every statement follows one of a few texts; the functions below build each
// of them in one place, with exactly the blanks and keyword case the stored
// texts have.  A pair (A, B) is the rows whose jc_job_code is A and whose
// jc_c_job_code is B.

#include <initializer_list>
#include <string>
#include <vector>

#include "stages/stages.h"
#include "stages/statement_text.h"

namespace kav::stages {
namespace {

constexpr const char* kTable = "tbl_kav_jobs_currency";

// One currency requirement: `job` requires currency in `required`.  The risk
// types and the standard follow from the two codes: the required position's
// risk type is "RX" for the rescue positions FEMO, RXB1 and RXB2, "WF" for
// every other.
RowStep Requirement(const std::string& job, const std::string& required) {
  const bool rescue = required == "FEMO" || required == "RXB1" || required == "RXB2";
  return Row(kTable, {"WF", job, rescue ? "RX" : "WF", required, "NATIONAL"});
}

// Sets one column in every row of the pair (job, required).  Two blanks
// before the "=" of the SET and of the first comparison, one before the
// second, "AND" in capitals.
std::string PairUpdateText(const std::string& column, const std::string& value,
                           const std::string& job, const std::string& required) {
  return std::string("UPDATE tbl_kav_jobs_currency SET ") +
         ("tbl_kav_jobs_currency." + column + "  = '" + value + "' ") +
         ("WHERE tbl_kav_jobs_currency.jc_job_code  = '" + job + "' AND ") +
         ("tbl_kav_jobs_currency.jc_c_job_code = '" + required + "';");
}

// Deletes every row of the pair (job, required): "from" and "and" in lower
// case, one blank on each side of each "=".
std::string PairDeletionText(const std::string& job, const std::string& required) {
  return std::string("DELETE from tbl_kav_jobs_currency ") +
         ("WHERE tbl_kav_jobs_currency.jc_job_code = '" + job + "' and ") +
         ("tbl_kav_jobs_currency.jc_c_job_code = '" + required + "';");
}

// Deletes every row of the position `job`, whatever it requires.
std::string PositionDeletionText(const std::string& job) {
  return std::string("DELETE from tbl_kav_jobs_currency ") +
         ("WHERE tbl_kav_jobs_currency.jc_job_code = '" + job + "';");
}

// Deletes the pairs (job, required) for every position of `jobs`.
std::string PositionsDeletionText(const std::vector<std::string>& jobs,
                                  const std::string& required) {
  return "DELETE from tbl_kav_jobs_currency WHERE "
         "tbl_kav_jobs_currency.jc_job_code IN " +
         QuotedCodeList(jobs) + " and tbl_kav_jobs_currency.jc_c_job_code = '" + required + "';";
}

// Deletes the pairs (job, r) for every required position r of `required`.
std::string RequiredDeletionText(const std::string& job, const std::vector<std::string>& required,
                                 const std::vector<std::string>& blank_after) {
  return "DELETE from tbl_kav_jobs_currency WHERE "
         "tbl_kav_jobs_currency.jc_job_code = '" +
         job + "' and tbl_kav_jobs_currency.jc_c_job_code IN " +
         QuotedCodeList(required, blank_after) + ";";
}

// Appends the stage's steps in the order they run, one call per line of the
// stage's step table.
class StepList {
 public:
  // One row step per required position, in the order given.
  void Rows(const std::string& job, std::initializer_list<std::string> required) {
    for (const std::string& r : required) steps_.push_back(Requirement(job, r));
  }
  // Moves the rows of the pair (job, from) to (job, to).
  void RePoint(const std::string& job, const std::string& from, const std::string& to) {
    steps_.push_back(Sql(PairUpdateText("jc_c_job_code", to, job, from)));
  }
  // Sets the standard of the pair (job, required) to "NATIONAL".
  void Standard(const std::string& job, const std::string& required) {
    steps_.push_back(Sql(PairUpdateText("jc_standard", "NATIONAL", job, required)));
  }
  // One pair deletion per required position, in the order given.
  void PairDeletions(const std::string& job, std::initializer_list<std::string> required) {
    for (const std::string& r : required) {
      steps_.push_back(Sql(PairDeletionText(job, r)));
    }
  }
  void PositionDeletion(const std::string& job) {
    steps_.push_back(Sql(PositionDeletionText(job)));
  }
  void PositionsDeletion(std::vector<std::string> jobs, const std::string& required) {
    steps_.push_back(Sql(PositionsDeletionText(jobs, required)));
  }
  void RequiredDeletion(const std::string& job, std::vector<std::string> required,
                        std::vector<std::string> blank_after) {
    steps_.push_back(Sql(RequiredDeletionText(job, required, blank_after)));
  }

  std::vector<Step> Take() { return std::move(steps_); }

 private:
  std::vector<Step> steps_;
};

std::vector<Step> BuildSteps() {
  StepList b;
  // Requirement rows and re-pointings.  The steps follow
  // jc_job_code alphabetically, but RXM2's re-pointing (77) precedes RXB2's
  // (78), and within a position rows and statements keep their own order.
  b.Rows("ABRO", {"RADO"});                                                  // 1
  b.Rows("ACDP", {"EDRC", "ABRO"});                                          // 2-3
  b.Rows("ACDR", {"ICT1"});                                                  // 4
  b.Rows("ACLC", {"ICT1"});                                                  // 5
  b.Rows("ACPC", {"ICT1"});                                                  // 6
  b.Rows("AREP", {"LOFR"});                                                  // 7
  b.Rows("BCMG", {"FACL"});                                                  // 8
  b.Standard("CLMS", "INJR");                                                // 9
  b.Rows("CMSY", {"TIME", "PTRC"});                                          // 10-11
  b.Rows("COMP", {"FSC2"});                                                  // 12
  b.Rows("CREP", {"IARR"});                                                  // 13
  b.RePoint("CRWB", "HEMG", "HELB");                                         // 14
  b.RePoint("CRWB", "HLCO", "HELM");                                         // 15
  b.Rows("DECK", {"HEB2"});                                                  // 16
  b.Rows("DIVS", {"STCR", "STEN", "STPS"});                                  // 17-19
  b.Rows("DMOB", {"PSC2"});                                                  // 20
  b.Rows("DOCL", {"PSC2"});                                                  // 21
  b.RePoint("DOZB", "HLCO", "HELB");                                         // 22
  b.Rows("DPRO", {"SITL"});                                                  // 23
  b.RePoint("EDRC", "EDSP", "EDSD");                                         // 24
  b.Rows("EDRC", {"IADP", "ACDP"});                                          // 25-26
  b.RePoint("ENGB", "HEMG", "HELM");                                         // 27
  b.RePoint("ENGB", "HLCO", "HELB");                                         // 28
  b.Rows("EQTR", {"PTRC"});                                                  // 29
  b.Rows("FELB", {"HELB"});                                                  // 30
  b.RePoint("FELB", "ICT3", "ICT4");                                         // 31
  b.RePoint("FFT1", "HEMG", "HELB");                                         // 32
  b.Rows("FIRB", {"HELB", "ICT4"});                                          // 33-34
  b.Rows("FOBS", {"HELB", "FEMO"});                                          // 35-36
  b.Rows("FSC1", {"IBA1"});                                                  // 37
  b.Rows("FSC2", {"IBA2"});                                                  // 38
  b.Rows("FUM1", {"RXB1", "FUM2", "ICT2"});                                  // 39-41
  b.Rows("FUM2", {"RXB2", "ICT3", "FUM1"});                                  // 42-44
  b.RePoint("HEB2", "HEMG", "HELB");                                         // 45
  b.Rows("HEB2", {"HELM"});                                                  // 46
  b.Rows("HECM", {"HELB"});                                                  // 47
  b.RePoint("HECM", "HEMG", "HELM");                                         // 48
  b.Rows("HELB", {"FOBS", "ICT4", "HEB2", "HELM"});                          // 49-52
  b.Rows("HELM", {"HEB2"});                                                  // 53
  b.Rows("HLCO", {"ATGS"});                                                  // 54
  b.Rows("IBA1", {"FSC1", "IBA2"});                                          // 55-56
  b.Rows("IBA2", {"FSC2", "IBA1"});                                          // 57-58
  b.RePoint("ICT2", "FUMA", "FUM1");                                         // 59
  b.RePoint("ICT3", "FUM1", "FUM2");                                         // 60
  b.Rows("ICT3", {"STPS"});                                                  // 61
  b.Rows("ICT4", {"HELB", "SOFR", "ICT3"});                                  // 62-64
  b.Rows("ICT5", {"ICT4"});                                                  // 65
  b.Rows("OPBD", {"OSC2", "ICT3"});                                          // 66-67
  b.Rows("OSC2", {"ICT3"});                                                  // 68
  b.Rows("PETL", {"PETM"});                                                  // 69
  b.Rows("PETM", {"PETL"});                                                  // 70
  b.Rows("PIO2", {"PIOF"});                                                  // 71
  b.Rows("PIOF", {"PIO2"});                                                  // 72
  b.Rows("PROC", {"PTRC"});                                                  // 73
  b.Rows("PTRC", {"TIME", "EQTR"});                                          // 74-75
  b.Rows("RADO", {"IADP"});                                                  // 76
  b.RePoint("RXM2", "RXB1", "RXB2");                                         // 77
  b.RePoint("RXB2", "FUM1", "FUM2");                                         // 78
  b.Rows("SEMG", {"ATBM", "FWBM", "HELM"});                                  // 79-81
  b.Rows("SOF2", {"SOFR"});                                                  // 82
  b.Rows("SOFR", {"ICT4", "SOF2", "STCR", "STDZ", "STEN", "STPL", "TFLD"});  // 83-89
  b.Rows("STCR", {"SOFR"});                                                  // 90
  b.Rows("STDZ", {"SOFR"});                                                  // 91
  b.Rows("STEN", {"SOFR"});                                                  // 92
  b.Rows("STPL", {"SOFR"});                                                  // 93
  b.Rows("STPS", {"DIVS", "ICT3", "OPBD", "OSC2"});                          // 94-97
  b.Rows("TFLD", {"ICT4", "HLCO"});                                          // 98-99
  b.Rows("TOLC", {"HEB2"});                                                  // 100
  b.Rows("TRPB", {"HELB"});                                                  // 101

  // Pair deletions: RXB2's pair and the two retired
  // positions first, then the runs of ABRO to FELB.
  b.PairDeletions("RXB2", {"RXM1"});  // 102
  b.PositionDeletion("RXI1");         // 103
  b.PositionDeletion("RXI2");         // 104
  b.PairDeletions("ABRO", {"DECK"});  // 105
  b.PairDeletions("ASGS", {"ACAC"});  // 106
  b.PairDeletions("BCMG", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "LSC1", "LSC2", "SUBD",
                           "SVBD"});                                                  // 107-116
  b.PairDeletions("COST", {"FUM1", "ACDR", "ACLC", "ACPC", "FSC1", "ICT1", "ICT2"});  // 117-123
  b.PairDeletions(
      "CRWB", {"FUM1", "LTAN", "RXB1", "RXB2", "RXI1", "RXI2", "RXM1", "RXM2", "ACAC", "ACDR",
               "ACLC", "ACPC", "AOBD", "ASGS", "ATGS", "DIVS", "FBAN", "HEB1", "HEB2", "ICT1",
               "ICT2", "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"});  // 124-152
  b.PairDeletions("DIVS", {"FUM1", "LTAN", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "OPBD", "OSC1",
                           "SOF1"});  // 153-162
  b.PairDeletions("DOZB", {"FUM1", "LTAN", "RXB1", "RXB2", "RXI1", "RXI2", "RXM1", "RXM2", "ACAC",
                           "ACDR", "ACLC", "ACPC", "AOBD", "ASGS", "ATGS", "DIVS", "FBAN", "HEB1",
                           "HEB2", "HEMG", "ICT1", "ICT2", "ICT3", "OPBD", "OSC1", "OSC2", "PSC1",
                           "PSC2", "SITL", "SOF1", "SOF2", "SOFR", "TFLD"});  // 163-195
  b.PairDeletions("EDRC", {"FUM1", "ACDR", "ACLC", "ACPC", "CORD", "ICT1", "ICT2", "LSC1", "LSC2",
                           "SPUL", "SUBD", "SVBD"});  // 196-207
  b.PairDeletions("EDSD", {"CORD"});                  // 208
  b.PairDeletions(
      "ENGB", {"FUM1", "LTAN", "RXB1", "RXB2", "RXI1", "RXI2", "RXM1", "RXM2", "ACAC", "ACDR",
               "ACLC", "ACPC", "AOBD", "ASGS", "ATGS", "DIVS", "FBAN", "HEB1", "HEB2", "ICT1",
               "ICT2", "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"});  // 209-237
  b.PairDeletions("EQPM", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "LSC1", "LSC2", "SUBD",
                           "SVBD"});  // 238-247
  b.PairDeletions("EQTR",
                  {"FUM1", "ACDR", "ACLC", "ACPC", "FSC1", "FSC2", "ICT1", "ICT2"});  // 248-255
  b.PairDeletions(
      "FACL", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "LSC1", "SUBD", "SVBD"});  // 256-264
  b.PairDeletions("FBAN", {"LTAN"});                                                      // 265
  b.PairDeletions("FELB",
                  {"FUM1", "LTAN", "RXB1", "RXB2", "RXI1", "RXI2", "RXM1", "RXM2", "ACDR",
                   "ACLC", "ACPC", "ATGS", "DIVS", "FBAN", "HLCO", "ICT1", "ICT2", "OPBD",
                   "OSC1", "OSC2", "PSC1", "PSC2", "SITL", "SOF1", "SOF2", "TFLD"});  // 266-291

  // A list of positions and one required position.
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB", "FSC2", "GSUL"}, "FUM1");  // 292
  b.PositionsDeletion({"FFT1", "FFT2"}, "LTAN");                          // 293
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "RXB1");                  // 294
  b.PositionsDeletion({"FFT1", "FFT2"}, "RXB2");                          // 295
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "RXI1");                  // 296
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "RXI2");                  // 297
  b.PositionsDeletion(
      {"FFT1", "FFT2", "FIRB", "ICT3", "ICT4", "STCR", "STDZ", "STEN", "STPL", "TFLD", "TRPB"},
      "RXM1");                                                    // 298
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "RXM2");          // 299
  b.PositionsDeletion({"FFT2"}, "ABRO");                          // 300
  b.PositionsDeletion({"FFT1", "FFT2", "HEB1", "HEB2"}, "ACAC");  // 301
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB", "FSC1", "FSC2", "GSUL"},
                      "ACDR");                                            // 302
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB", "FSC2", "GSUL"}, "ACLC");  // 303
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB", "FSC2", "GSUL"}, "ACPC");  // 304
  b.PositionsDeletion({"FFT1", "FFT2", "HEB1", "HEB2"}, "AOBD");          // 305
  b.PositionsDeletion({"FFT1", "FFT2", "HEB2"}, "ASGS");                  // 306
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "ATGS");                  // 307
  b.PositionsDeletion({"FFT1", "FFT2"}, "CREP");                          // 308
  b.PositionsDeletion({"FFT2"}, "CRWB");                                  // 309
  b.PositionsDeletion({"FFT2"}, "DECK");                                  // 310
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "DIVS");                  // 311
  b.PositionsDeletion({"FFT2"}, "DOZB");                                  // 312
  b.PositionsDeletion({"FFT2"}, "ENGB");                                  // 313
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "FBAN");                  // 314
  b.PositionsDeletion({"FFT2", "ICT4"}, "FELB");                          // 315
  b.PositionsDeletion({"FFT2"}, "FIRB");                                  // 316
  b.PositionsDeletion({"FFT1", "FFT2"}, "FOBS");                          // 317
  b.PositionsDeletion({"FFT1", "FFT2"}, "HEB1");                          // 318
  b.PositionsDeletion({"FFT1", "FFT2"}, "HEB2");                          // 319
  b.PositionsDeletion({"FFT2"}, "HEMG");                                  // 320
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "HLCO");                  // 321
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB", "FSC2", "GSUL"}, "ICT1");  // 322
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB", "GSUL"}, "ICT2");          // 323
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "ICT3");                  // 324
  b.PositionsDeletion({"FFT1", "FFT2"}, "ICT4");                          // 325
  b.PositionsDeletion({"GSUL"}, "LSC1");                                  // 326
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "OPBD");                  // 327
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "OSC1");                  // 328
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "OSC2");                  // 329
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "PSC1");                  // 330
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "PSC2");                  // 331
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "SITL");                  // 332
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "SOF1");                  // 333
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "SOF2");                  // 334
  b.PositionsDeletion({"FFT1", "FFT2"}, "SOFR");                          // 335
  b.PositionsDeletion({"FFT1", "FFT2"}, "STCR");                          // 336
  b.PositionsDeletion({"FFT1", "FFT2"}, "STDZ");                          // 337
  b.PositionsDeletion({"FFT1", "FFT2"}, "STEN");                          // 338
  b.PositionsDeletion({"FFT1", "FFT2"}, "STPL");                          // 339
  b.PositionsDeletion({"GSUL"}, "SUBD");                                  // 340
  b.PositionsDeletion({"GSUL"}, "SVBD");                                  // 341
  b.PositionsDeletion({"FFT1", "FFT2", "FIRB"}, "TFLD");                  // 342
  b.PositionsDeletion({"FFT2"}, "TOLC");                                  // 343
  b.PositionsDeletion({"FFT2"}, "TRPB");                                  // 344
  b.PositionsDeletion({"HECM"}, "ABRO");                                  // 345
  b.PositionsDeletion({"HECM", "HEMG"}, "ACAC");                          // 346
  b.PositionsDeletion({"HECM", "HEMG"}, "AOBD");                          // 347
  b.PositionsDeletion({"HECM", "HEMG"}, "ASGS");                          // 348
  b.PositionsDeletion({"HECM"}, "DECK");                                  // 349
  b.PositionsDeletion({"HECM", "HEMG"}, "HEB1");                          // 350
  b.PositionsDeletion({"HECM", "HEMG"}, "HEB2");                          // 351
  b.PositionsDeletion({"HECM", "HEMG"}, "HLCO");                          // 352
  b.PositionsDeletion({"HECM"}, "TOLC");                                  // 353

  // One position and a list of required positions; SOF2's deletion among
  // them names a single pair.  The third list is the codes after which a
  // blank follows the comma.
  b.RequiredDeletion("ICT2", {"ACDR", "ACLC", "ACPC"}, {});  // 354
  b.RequiredDeletion("ICT3",
                     {"LTAN", "RXM1", "ACDR", "ACLC", "ACPC", "FBAN", "ICT1", "OPBD", "OSC1",
                      "OSC2", "SOF1", "SOF2"},
                     {"ICT1"});  // 355
  b.RequiredDeletion("ICT4",
                     {"FUM1", "LTAN", "RXB1", "RXM1", "RXM2", "ACAC", "ACDR", "ACLC", "ACPC",
                      "AOBD", "ASGS", "ATGS", "FBAN", "HEB1", "HEB2", "HEMG", "HLCO", "ICT1",
                      "ICT2", "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"},
                     {"ACDR", "ICT2"});                                      // 356
  b.RequiredDeletion("PIOF", {"PIO1", "PIO2"}, {});                          // 357
  b.RequiredDeletion("LSC1", {"ACDR", "ICT1"}, {});                          // 358
  b.RequiredDeletion("LSC2", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1"}, {});  // 359
  b.RequiredDeletion(
      "ORDM", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "LSC1", "LSC2", "SUBD", "SVBD"},
      {"ACDR", "LSC2"});                                                                     // 360
  b.RequiredDeletion("OSC1", {"ACDR"}, {});                                                  // 361
  b.RequiredDeletion("OSC2", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1"}, {});                  // 362
  b.RequiredDeletion("PROC", {"FUM1", "ACDR", "ACLC", "ACPC", "FSC1", "ICT1", "ICT2"}, {});  // 363
  b.RequiredDeletion("PSC1", {"ACDR", "ICT1"}, {});                                          // 364
  b.RequiredDeletion("PSC2", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1"}, {});                  // 365
  b.RequiredDeletion("PTRC", {"FUM1", "ACDR", "ACLC", "ACPC", "FSC1", "FSC2", "ICT1", "ICT2"},
                     {});                    // 366
  b.RequiredDeletion("RADO", {"COML"}, {});  // 367
  b.RequiredDeletion(
      "RCDM", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "LSC1", "LSC2", "SUBD", "SVBD"},
      {"ACDR", "LSC2"});  // 368
  b.RequiredDeletion("RESL", {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "PSC1"},
                     {"ACDR"});  // 369
  b.RequiredDeletion("SCKN",
                     {"FUM1", "ACDR", "ACLC", "ACPC", "DMOB", "ICT1", "ICT2", "PSC1", "PSC2"},
                     {"ACDR"});  // 370
  b.RequiredDeletion("SITL", {"FUM1", "ACDR", "ACLC", "ACPC", "FBAN", "ICT1", "ICT2", "PSC1"},
                     {"ACDR"});                                                            // 371
  b.PairDeletions("SOF2", {"SOFR"});                                                       // 372
  b.RequiredDeletion("SOFR", {"ICT4", "STCR", "STDZ", "STEN", "STPL", "TFLD"}, {"STCR"});  // 373
  b.RequiredDeletion("SPUL",
                     {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "LSC1", "SUBD", "SVBD"},
                     {"ACDR", "LSC1"});  // 374
  b.RequiredDeletion(
      "STCR",
      {"FUM1", "LTAN", "RXB1", "RXM1", "ACDR", "ACLC", "ACPC", "ATGS", "FBAN", "ICT1", "ICT2",
       "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"},
      {"ACDR", "ICT2"});  // 375
  b.RequiredDeletion(
      "STDZ", {"FUM1", "LTAN", "RXB1", "RXM1", "ACDR", "ACLC", "ACPC", "ATGS", "DIVS", "FBAN",
               "ICT1", "ICT2", "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"},
      {"ACDR", "ICT2"});  // 376
  b.RequiredDeletion(
      "STEN",
      {"FUM1", "LTAN", "RXB1", "RXM1", "ACDR", "ACLC", "ACPC", "ATGS", "FBAN", "ICT1", "ICT2",
       "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"},
      {"ACDR", "ICT2"});  // 377
  b.RequiredDeletion(
      "STPL", {"FUM1", "LTAN", "RXB1", "RXM1", "ACDR", "ACLC", "ACPC", "ATGS", "DIVS", "FBAN",
               "ICT1", "ICT2", "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2", "SOFR"},
      {"ACDR", "ICT2"});  // 378
  b.RequiredDeletion("TFLD",
                     {"FUM1", "LTAN", "RXB1", "RXM1", "ACDR", "ACLC", "ACPC", "ATGS", "FBAN",
                      "ICT1", "ICT2", "OPBD", "OSC1", "OSC2", "PSC1", "PSC2", "SOF1", "SOF2"},
                     {"ACDR", "ICT2"});  // 379
  b.RequiredDeletion("TIME",
                     {"FUM1", "ACDR", "ACLC", "ACPC", "ICT1", "ICT2", "FSC1", "SUBD", "SVBD"},
                     {"ACDR", "FSC1"});  // 380
  b.RequiredDeletion("TRPB",
                     {"FUM1", "LTAN", "RXB1", "RXB2", "RXI1", "RXI2", "RXM1", "RXM2", "ACAC",
                      "ACDR", "ACLC", "ACPC", "AOBD", "ASGS", "ATGS", "DIVS", "FBAN", "HEB1",
                      "HEB2", "HEMG", "HLCO", "ICT1", "ICT2", "ICT3", "OPBD", "OSC1", "OSC2",
                      "PSC1", "PSC2", "SITL", "SOF1", "SOF2", "SOFR", "TFLD"},
                     {"RXI2", "ACDR", "ICT3"});  // 381
  return b.Take();
}

}  // namespace

const std::vector<Step>& CurrencySteps() { return BuiltOnce<BuildSteps>(); }

}  // namespace kav::stages
