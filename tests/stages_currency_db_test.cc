// The currency stage on the sample database: the rows it leaves, the rows
// its error rule leaves after a fault, what it does to stored rows, and its
// own rows removed again.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/scripted_message_boxes.h"
#include "stages/globals.h"
#include "stages/stages.h"
#include "tests/support/harness.h"
#include "tests/support/stage_checks.h"
#include "tests/support/stage_fixture.h"
#include "update/update.h"

namespace kav::testing {
namespace {

using stages::CurrencySteps;
using ::testing::IsEmpty;

using Table = std::multiset<std::string>;

// The text of step `number`, counted from 1.
std::string TextOf(int number) { return NumberedSteps(CurrencySteps).TextOf(number); }

// Adds a stored row of five text values through gdbUpdate.
void AddStoredRow(const std::string& row) { AddTableRow(gdbUpdate, "tbl_kav_jobs_currency", row); }

using CurrencyStageDb = OneStageTest<UpdateMDB_Jobs_Currency>;

TEST_F(CurrencyStageDb, LeavesItsRowsAndTheSampleRowsReworked) {
  EXPECT_FALSE(RunStage());
  EXPECT_EQ(CurrencyRows(gdbUpdate), CurrencyTableAfterStage());
  EXPECT_EQ(CurrencyTableAfterStage().size(), 73u + 5u);
}

TEST_F(CurrencyStageDb, ErrorRule) {
  struct Case {
    FaultCase run;
    std::vector<std::string> present, absent;  // stored and stage rows
  };
  // Stored rows that show which deletions ran.
  const std::vector<std::string> stored = {
      "WF|CRWB|WF|PSC2|NATIONAL",  // step 149
      "WF|CRWB|WF|SOF1|NATIONAL",  // step 150
      "WF|CRWB|WF|SOF2|NATIONAL",  // step 151
      "WF|TRPB|WF|FUM1|NATIONAL",  // step 381
      "WF|CLMS|RX|INJR|LOCAL",     // step 9
  };
  const std::vector<Case> cases = {
      {{"duplicate key at the first row's update is skipped",
        {{"UPDATE", 1, dao::kErrDuplicateKey}},
        false,
        {},
        {}},
       {"WF|ACDP|WF|EDRC|NATIONAL", "WF|CLMS|RX|INJR|NATIONAL"},
       {"WF|ABRO|WF|RADO|NATIONAL", "WF|TRPB|WF|FUM1|NATIONAL"}},
      {{"duplicate key at the last operation ends the stage normally",
        {{Exec(TextOf(381)), 1, dao::kErrDuplicateKey}},
        false,
        {},
        {"EXEC\t0\t" + TextOf(381), "ERR\t3022"}},
       {"WF|TRPB|WF|FUM1|NATIONAL", "WF|TRPB|WF|HELB|NATIONAL"},
       {"WF|CRWB|WF|SOF1|NATIONAL"}},
      {{"failure at the first operation",
        {{"OPEN\t", 1, 3078, "The table was not found"}},
        true,
        {{3078, "The table was not found"}},
        {"OPEN\ttbl_kav_jobs_currency", "ERR\t3078"}},
       {"WF|CRWB|WF|HEMG|NATIONAL", "WF|CRWB|WF|SOF1|NATIONAL"},
       {"WF|ABRO|WF|RADO|NATIONAL"}},
      {{"failure at a field of step 20: neither that row nor a later step is written",
        {{"SET\t", 16 * 5 + 3, 3163, "Field too small"}},
        true,
        {{3163, "Field too small"}},
        {"ADDNEW", "SET\t0\tT\tWF", "SET\t1\tT\tDMOB", "SET\t2\tT\tWF", "ERR\t3163"}},
       {"WF|DIVS|WF|STPS|NATIONAL", "WF|CRWB|WF|HELB|NATIONAL", "WF|CRWB|WF|HELM|NATIONAL",
        "WF|RXI1|WF|RXB2|NATIONAL"},
       {"WF|DMOB|WF|PSC2|NATIONAL", "WF|DOCL|WF|PSC2|NATIONAL"}},
      {{"negative number at a deletion; earlier deletions stand",
        {{Exec(TextOf(150)), 1, -2147217900}},
        true,
        {{-2147217900, "Injected fault"}},
        {"EXEC\t0\t" + TextOf(149), "EXEC\t0\t" + TextOf(150), "ERR\t-2147217900"}},
       {"WF|CRWB|WF|SOF1|NATIONAL", "WF|CRWB|WF|SOF2|NATIONAL", "WF|SOF2|WF|SOFR|NATIONAL"},
       {"WF|CRWB|WF|PSC2|NATIONAL", "WF|RXI1|WF|RXB2|NATIONAL"}},
      {{"empty description keeps the separator's trailing blanks",
        {{Exec(TextOf(292)), 1, 3075, ""}},
        true,
        {{3075, ""}},
        {}},
       {"WF|TRPB|WF|FUM1|NATIONAL"},
       {"WF|CRWB|WF|SOF1|NATIONAL"}},
      {{"skips then one failure show one box",
        {{"UPDATE", 1, dao::kErrDuplicateKey},
         {Exec(TextOf(9)), 1, dao::kErrDuplicateKey},
         {Exec(TextOf(15)), 1, 3061, "Too few parameters"}},
        true,
        {{3061, "Too few parameters"}},
        {"EXEC\t0\t" + TextOf(14), "EXEC\t0\t" + TextOf(15), "ERR\t3061"}},
       {"WF|ACDP|WF|EDRC|NATIONAL", "WF|ACDR|WF|ICT1|NATIONAL", "WF|CLMS|RX|INJR|LOCAL",
        "WF|CRWB|WF|HELB|NATIONAL", "WF|CRWB|WF|HLCO|NATIONAL"},
       {"WF|ABRO|WF|RADO|NATIONAL", "WF|DECK|WF|HEB2|NATIONAL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run.name);
    Reopen();
    for (const std::string& row : stored) AddStoredRow(row);
    ExpectFaultedRun(StageNamed("Currency"), c.run);
    Table table = CurrencyRows(gdbUpdate);
    ExpectRowsPresentAndAbsent(table, c.present, c.absent);
  }
}

// Stored rows, each with what the stage makes of it ("" for gone).
TEST_F(CurrencyStageDb, StoredRowsAreReworkedByTheirPairOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // A re-pointing changes jc_c_job_code alone.
      {"WF|ICT2|RX|FUMA|NATIONAL", "WF|ICT2|RX|FUM1|NATIONAL"},
      {"WF|OSC1|WF|FUMA|NATIONAL", "WF|OSC1|WF|FUMA|NATIONAL"},
      {"WF|ICT3|WF|FUM1|NATIONAL", "WF|ICT3|WF|FUM2|NATIONAL"},
      {"WF|RXM2|WF|RXB1|NATIONAL", "WF|RXM2|WF|RXB2|NATIONAL"},
      {"WF|RXB2|WF|FUM1|NATIONAL", "WF|RXB2|WF|FUM2|NATIONAL"},
      {"WF|ENGB|WF|HEMG|NATIONAL", "WF|ENGB|WF|HELM|NATIONAL"},
      {"WF|ENGB|WF|HLCO|NATIONAL", "WF|ENGB|WF|HELB|NATIONAL"},
      {"WF|DOZB|WF|HLCO|NATIONAL", "WF|DOZB|WF|HELB|NATIONAL"},
      {"WF|EDRC|WF|EDSP|LOCAL", "WF|EDRC|WF|EDSD|LOCAL"},
      // The standard of (CLMS, INJR), whatever its risk types.
      {"WF|CLMS|RX|INJR|LOCAL", "WF|CLMS|RX|INJR|NATIONAL"},
      // Deletions compare the two codes only.
      {"WF|CRWB|RX|RXB1|LOCAL", ""},
      {"WF|FFT1|RX|RXB1|NATIONAL", ""},
      {"WF|DOZB|WF|HEMG|NATIONAL", ""},
      {"WF|FFT2|WF|HEMG|NATIONAL", ""},
      {"WF|RXB2|WF|RXM1|NATIONAL", ""},
      {"WF|RXI2|WF|ICT1|NATIONAL", ""},
      {"WF|GSUL|WF|FUM1|NATIONAL", ""},
      {"WF|ORDM|WF|SVBD|NATIONAL", ""},
      {"WF|ORDM|WF|ACLC|NATIONAL", ""},  // after a blank in the list
      {"WF|TRPB|WF|RXI2|NATIONAL", ""},
      {"WF|STDZ|WF|DIVS|NATIONAL", ""},
      {"WF|ICT3|WF|RXM1|NATIONAL", ""},
      // Pairs no step names stay as they are.
      {"WF|ICT3|WF|RXI1|NATIONAL", "WF|ICT3|WF|RXI1|NATIONAL"},
      {"WF|TFLD|WF|SOFR|NATIONAL", "WF|TFLD|WF|SOFR|NATIONAL"},
      {"WF|STCR|WF|DIVS|NATIONAL", "WF|STCR|WF|DIVS|NATIONAL"},
      {"WF|FFT1|WF|HELM|LOCAL", "WF|FFT1|WF|HELM|LOCAL"},
  };
  for (const auto& [before, after] : cases) AddStoredRow(before);
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());

  Table expected = CurrencyTableAfterStage();
  for (const auto& [before, after] : cases) {
    if (!after.empty()) expected.insert(after);
  }
  Table actual = CurrencyRows(gdbUpdate);
  EXPECT_EQ(actual, expected);
  for (const std::string& row : actual) {
    EXPECT_EQ(actual.count(row), expected.count(row)) << row;
  }
  for (const std::string& row : expected) {
    EXPECT_EQ(actual.count(row), expected.count(row)) << row;
  }
}

TEST_F(CurrencyStageDb, RePointingThatCollidesLeavesThatRowWithoutError) {
  // The sample holds (WF, CRWB, WF, HEMG); re-pointing it to HELB would give
  // it the key of the first row below.  The second row of the same pair has
  // a key of its own and is re-pointed.
  AddStoredRow("WF|CRWB|WF|HELB|OLD");
  AddStoredRow("WF|CRWB|RX|HEMG|NATIONAL");
  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(std::count_if(trace.lines().begin(), trace.lines().end(),
                          [](const std::string& l) { return l.rfind("ERR", 0) == 0; }),
            0);

  Table crwb;
  for (const std::string& row : CurrencyRows(gdbUpdate)) {
    if (row.rfind("WF|CRWB|", 0) == 0) crwb.insert(row);
  }
  EXPECT_EQ(crwb, (Table{"WF|CRWB|WF|HEMG|NATIONAL", "WF|CRWB|WF|HELB|OLD",
                         "WF|CRWB|RX|HELB|NATIONAL", "WF|CRWB|WF|HELM|NATIONAL"}));
}

TEST_F(CurrencyStageDb, ThirteenOwnRowsAreGoneAfterwardsAndAfterARerun) {
  // Stopped before the first of the list deletions that remove them, the
  // thirteen stay.
  {
    FaultInjector faults;
    faults.FailNth(dao::CallKind::kExecute, 1, 3078, TextOf(356));
    EXPECT_TRUE(RunStage());
  }
  ASSERT_EQ(boxes.boxes().size(), 1u);
  Table table = CurrencyRows(gdbUpdate);
  for (const std::string& row : CurrencyRowsRemovedAgain()) {
    EXPECT_EQ(table.count(row), 1u) << row;
  }

  // A complete run removes them; the rest of the stage's rows stay.
  boxes.Clear();
  EXPECT_FALSE(RunStage());
  table = CurrencyRows(gdbUpdate);
  for (const std::string& row : CurrencyRowsRemovedAgain()) {
    EXPECT_EQ(table.count(row), 0u) << row;
  }
  EXPECT_EQ(table, CurrencyTableAfterStage());

  // A second complete run skips the 73 rows it finds as duplicates,
  // silently, inserts and removes the thirteen again, and ends the same.
  TraceRecorder trace;
  EXPECT_FALSE(RunStage());
  EXPECT_THAT(boxes.boxes(), IsEmpty());
  EXPECT_EQ(std::count(trace.lines().begin(), trace.lines().end(), std::string("ERR\t3022")), 73);
  EXPECT_EQ(std::count_if(trace.lines().begin(), trace.lines().end(),
                          [](const std::string& l) { return l.rfind("ERR", 0) == 0; }),
            73);
  EXPECT_EQ(CurrencyRows(gdbUpdate), CurrencyTableAfterStage());
}

}  // namespace
}  // namespace kav::testing
