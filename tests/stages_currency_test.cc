// The currency stage's steps as data: counts, the statement texts, the
// expected trace of its first, last and unusual steps, and what the
// statements name, checked without a database.

#include <map>
#include <regex>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dao/sql_parser.h"
#include "stages/stages.h"
#include "tests/support/stage_checks.h"

namespace kav::stages {
namespace {

using kav::testing::Exec;
using kav::testing::Join;
using kav::testing::NumberedSteps;
using Pair = std::pair<std::string, std::string>;

constexpr NumberedSteps kSteps(CurrencySteps);

// The trace of one requirement row, written out in full.
std::vector<std::string> RowTrace(const std::string& risk, const std::string& job,
                                  const std::string& c_risk, const std::string& c_job,
                                  const std::string& standard) {
  return kav::testing::RowTrace("tbl_kav_jobs_currency", {risk, job, c_risk, c_job, standard});
}

// The pair (field 1, field 3) of every row step, in step order.
std::vector<Pair> RowPairs() {
  std::vector<Pair> pairs;
  for (const Step& step : kSteps.all()) {
    if (const auto* row = std::get_if<RowStep>(&step)) {
      pairs.emplace_back(row->fields.at(1).value.AsText(), row->fields.at(3).value.AsText());
    }
  }
  return pairs;
}

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

// The codes of one comparison: "= 'X'" gives {X}, "IN ('X','Y', 'Z')" gives
// {X, Y, Z}.
std::vector<std::string> CodesOf(const std::string& operand) {
  std::vector<std::string> codes;
  static const std::regex quoted("'([A-Z0-9]+)'");
  for (std::sregex_iterator it(operand.begin(), operand.end(), quoted), end; it != end; ++it) {
    codes.push_back((*it)[1]);
  }
  return codes;
}

// What a DELETE text names: every (job, required) pair, with "*" as the
// required position of a whole-position deletion.
std::vector<Pair> PairsNamedBy(const std::string& text) {
  static const std::regex job(R"(jc_job_code (= '[A-Z0-9]+'|IN \([^)]*\)))");
  static const std::regex required(R"(jc_c_job_code (= '[A-Z0-9]+'|IN \([^)]*\)))");
  std::smatch j, r;
  std::vector<Pair> pairs;
  if (!std::regex_search(text, j, job)) return pairs;
  std::vector<std::string> requireds = {"*"};
  if (std::regex_search(text, r, required)) requireds = CodesOf(r[1]);
  for (const std::string& a : CodesOf(j[1])) {
    for (const std::string& b : requireds) pairs.emplace_back(a, b);
  }
  return pairs;
}

TEST(CurrencySteps, CountsOfStepsOperationsAndKinds) {
  const std::vector<Step>& steps = kSteps.all();
  ASSERT_EQ(steps.size(), 381u);

  int rows = 0, re_pointings = 0, standards = 0;
  for (int n = 1; n <= 101; ++n) {
    if (std::holds_alternative<RowStep>(kSteps.At(n))) {
      ++rows;
      continue;
    }
    const std::string text = kSteps.TextOf(n);
    if (text.find("SET tbl_kav_jobs_currency.jc_c_job_code ") != std::string::npos) {
      ++re_pointings;
    } else if (text.find("SET tbl_kav_jobs_currency.jc_standard ") != std::string::npos) {
      ++standards;
    }
  }
  EXPECT_EQ(rows, 86);
  EXPECT_EQ(re_pointings, 14);
  EXPECT_EQ(standards, 1);

  int pair_deletions = 0, position_deletions = 0;
  for (int n = 102; n <= 291; ++n) {
    const std::string text = kSteps.TextOf(n);
    ASSERT_EQ(text.rfind("DELETE from tbl_kav_jobs_currency ", 0), 0u) << n;
    if (text.find("jc_c_job_code") != std::string::npos) {
      ++pair_deletions;
    } else {
      ++position_deletions;
    }
  }
  EXPECT_EQ(pair_deletions, 188);
  EXPECT_EQ(position_deletions, 2);

  int form1 = 0, form2 = 0, form3 = 0;
  for (int n = 292; n <= 381; ++n) {
    const std::string text = kSteps.TextOf(n);
    ASSERT_EQ(text.rfind("DELETE from tbl_kav_jobs_currency ", 0), 0u) << n;
    if (text.find("jc_job_code IN (") != std::string::npos) {
      ++form1;
      EXPECT_LE(n, 353) << n;
    } else if (text.find("jc_c_job_code IN (") != std::string::npos) {
      ++form2;
      EXPECT_GE(n, 354) << n;
    } else {
      ++form3;
      EXPECT_EQ(n, 372);
    }
  }
  EXPECT_EQ(form1, 62);
  EXPECT_EQ(form2, 27);
  EXPECT_EQ(form3, 1);

  // Eight operations a row (open, add, five fields, update), two a statement.
  std::vector<Operation> ops = ExpandOperations(steps);
  EXPECT_EQ(ops.size(), 86u * 8 + 295u * 2);
  EXPECT_EQ(kav::testing::CountOperations(steps),
            (kav::testing::OperationCounts{86, 86, 86 * 5, 86, 295, 295}));
  // The last operation of the stage executes step 381.
  EXPECT_EQ(ops.back().kind, OperationKind::kExecute);
  EXPECT_EQ(ops.back().step, &steps.back());
}

TEST(CurrencySteps, RowsFollowTheLayoutAndAreDistinctPairs) {
  std::set<Pair> rescue;
  for (const Step& step : kSteps.all()) {
    const auto* row = std::get_if<RowStep>(&step);
    if (!row) continue;
    EXPECT_EQ(row->table, "tbl_kav_jobs_currency");
    EXPECT_FALSE(row->through_previous_recordset);
    ASSERT_EQ(row->fields.size(), 5u);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(row->fields[i].position, i);
      EXPECT_EQ(row->fields[i].value.kind(), dao::Value::Kind::kText);
    }
    const std::string job = row->fields[1].value.AsText();
    const std::string c_job = row->fields[3].value.AsText();
    EXPECT_EQ(row->fields[0].value.AsText(), "WF") << job;
    EXPECT_EQ(row->fields[4].value.AsText(), "NATIONAL") << job;
    EXPECT_EQ(job.size(), 4u);
    EXPECT_EQ(c_job.size(), 4u);
    EXPECT_NE(job, c_job);
    const std::string c_risk = row->fields[2].value.AsText();
    if (c_risk == "RX") {
      rescue.emplace(job, c_job);
    } else {
      EXPECT_EQ(c_risk, "WF") << job << " " << c_job;
    }
  }
  EXPECT_EQ(rescue, (std::set<Pair>{{"FOBS", "FEMO"}, {"FUM1", "RXB1"}, {"FUM2", "RXB2"}}));
  std::vector<Pair> pairs = RowPairs();
  EXPECT_EQ(std::set<Pair>(pairs.begin(), pairs.end()).size(), 86u);
}

TEST(CurrencySteps, TextsMatchTheStoredStatements) {
  const std::vector<std::pair<int, std::string>> cases = {
      {9,
       "UPDATE tbl_kav_jobs_currency SET tbl_kav_jobs_currency.jc_standard  = "
       "'NATIONAL' WHERE tbl_kav_jobs_currency.jc_job_code  = 'CLMS' AND "
       "tbl_kav_jobs_currency.jc_c_job_code = 'INJR';"},
      {14,
       "UPDATE tbl_kav_jobs_currency SET tbl_kav_jobs_currency.jc_c_job_code  "
       "= 'HELB' WHERE tbl_kav_jobs_currency.jc_job_code  = 'CRWB' AND "
       "tbl_kav_jobs_currency.jc_c_job_code = 'HEMG';"},
      {102,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'RXB2' and "
       "tbl_kav_jobs_currency.jc_c_job_code = 'RXM1';"},
      {103,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'RXI1';"},
      {104,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'RXI2';"},
      {105,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'ABRO' and "
       "tbl_kav_jobs_currency.jc_c_job_code = 'DECK';"},
      {292,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code IN "
       "('FFT1','FFT2','FIRB','FSC2','GSUL') and "
       "tbl_kav_jobs_currency.jc_c_job_code = 'FUM1';"},
      {360,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'ORDM' and "
       "tbl_kav_jobs_currency.jc_c_job_code IN ('FUM1','ACDR', "
       "'ACLC','ACPC','ICT1','ICT2','LSC1','LSC2', 'SUBD','SVBD');"},
      {372,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'SOF2' and "
       "tbl_kav_jobs_currency.jc_c_job_code = 'SOFR';"},
  };
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(kSteps.TextOf(number), text) << "step " << number;
  }
}

// A blank follows a comma only after the codes a list marks; there are 28
// such places, all in lists of required positions, and no code list has a
// blank anywhere else.
TEST(CurrencySteps, BlanksInsideListsStandOnlyWhereMarked) {
  int blanks = 0;
  for (int n = 102; n <= 381; ++n) {
    const std::string text = kSteps.TextOf(n);
    const int here = Occurrences(text, ", '");
    if (n < 354) {
      EXPECT_EQ(here, 0) << n;
    }
    EXPECT_EQ(Occurrences(text, "' ,"), 0) << n;
    EXPECT_EQ(Occurrences(text, "( "), 0) << n;
    EXPECT_EQ(Occurrences(text, " )"), 0) << n;
    blanks += here;
  }
  EXPECT_EQ(blanks, 28);

  const std::vector<std::pair<int, std::string>> cases = {
      {355,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'ICT3' and "
       "tbl_kav_jobs_currency.jc_c_job_code IN ('LTAN','RXM1','ACDR','ACLC',"
       "'ACPC','FBAN','ICT1', 'OPBD','OSC1','OSC2','SOF1','SOF2');"},
      {361,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'OSC1' and "
       "tbl_kav_jobs_currency.jc_c_job_code IN ('ACDR');"},
      {373,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'SOFR' and "
       "tbl_kav_jobs_currency.jc_c_job_code IN ('ICT4','STCR', "
       "'STDZ','STEN','STPL','TFLD');"},
      {380,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code = 'TIME' and "
       "tbl_kav_jobs_currency.jc_c_job_code IN ('FUM1','ACDR', "
       "'ACLC','ACPC','ICT1','ICT2','FSC1', 'SUBD','SVBD');"},
      {300,
       "DELETE from tbl_kav_jobs_currency WHERE "
       "tbl_kav_jobs_currency.jc_job_code IN ('FFT2') and "
       "tbl_kav_jobs_currency.jc_c_job_code = 'ABRO';"},
  };
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(kSteps.TextOf(number), text) << "step " << number;
  }
}

TEST(CurrencySteps, TraceOfFirstLastAndUnusualSteps) {
  const std::string pair_delete =
      "DELETE from tbl_kav_jobs_currency WHERE "
      "tbl_kav_jobs_currency.jc_job_code = ";
  struct Case {
    int first, last;
    std::vector<std::string> expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      // The first step.
      {1, 1, RowTrace("WF", "ABRO", "WF", "RADO", "NATIONAL")},
      // A range: required positions in step order, not sorted.
      {2, 3,
       Join({RowTrace("WF", "ACDP", "WF", "EDRC", "NATIONAL"),
             RowTrace("WF", "ACDP", "WF", "ABRO", "NATIONAL")})},
      // The standard between rows 8 and 10.
      {8, 10,
       Join({RowTrace("WF", "BCMG", "WF", "FACL", "NATIONAL"),
             {Exec("UPDATE tbl_kav_jobs_currency SET "
                   "tbl_kav_jobs_currency.jc_standard  = 'NATIONAL' WHERE "
                   "tbl_kav_jobs_currency.jc_job_code  = 'CLMS' AND "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'INJR';")},
             RowTrace("WF", "CMSY", "WF", "TIME", "NATIONAL")})},
      // CRWB's two re-pointings.
      {14, 15,
       {Exec("UPDATE tbl_kav_jobs_currency SET "
             "tbl_kav_jobs_currency.jc_c_job_code  = 'HELB' WHERE "
             "tbl_kav_jobs_currency.jc_job_code  = 'CRWB' AND "
             "tbl_kav_jobs_currency.jc_c_job_code = 'HEMG';"),
        Exec("UPDATE tbl_kav_jobs_currency SET "
             "tbl_kav_jobs_currency.jc_c_job_code  = 'HELM' WHERE "
             "tbl_kav_jobs_currency.jc_job_code  = 'CRWB' AND "
             "tbl_kav_jobs_currency.jc_c_job_code = 'HLCO';")}},
      // EDRC's re-pointing before its rows.
      {24, 26,
       Join({{Exec("UPDATE tbl_kav_jobs_currency SET "
                   "tbl_kav_jobs_currency.jc_c_job_code  = 'EDSD' WHERE "
                   "tbl_kav_jobs_currency.jc_job_code  = 'EDRC' AND "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'EDSP';")},
             RowTrace("WF", "EDRC", "WF", "IADP", "NATIONAL"),
             RowTrace("WF", "EDRC", "WF", "ACDP", "NATIONAL")})},
      // The three rows whose required position is of risk type RX.
      {36, 36, RowTrace("WF", "FOBS", "RX", "FEMO", "NATIONAL")},
      {39, 39, RowTrace("WF", "FUM1", "RX", "RXB1", "NATIONAL")},
      {42, 43,
       Join({RowTrace("WF", "FUM2", "RX", "RXB2", "NATIONAL"),
             RowTrace("WF", "FUM2", "WF", "ICT3", "NATIONAL")})},
      // HEB2: re-pointing, then row; HECM: row, then re-pointing.
      {45, 48,
       Join({{Exec("UPDATE tbl_kav_jobs_currency SET "
                   "tbl_kav_jobs_currency.jc_c_job_code  = 'HELB' WHERE "
                   "tbl_kav_jobs_currency.jc_job_code  = 'HEB2' AND "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'HEMG';")},
             RowTrace("WF", "HEB2", "WF", "HELM", "NATIONAL"),
             RowTrace("WF", "HECM", "WF", "HELB", "NATIONAL"),
             {Exec("UPDATE tbl_kav_jobs_currency SET "
                   "tbl_kav_jobs_currency.jc_c_job_code  = 'HELM' WHERE "
                   "tbl_kav_jobs_currency.jc_job_code  = 'HECM' AND "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'HEMG';")}})},
      // FUMA re-pointed to FUM1, then ICT3's FUM1 to FUM2.
      {59, 60,
       {Exec("UPDATE tbl_kav_jobs_currency SET "
             "tbl_kav_jobs_currency.jc_c_job_code  = 'FUM1' WHERE "
             "tbl_kav_jobs_currency.jc_job_code  = 'ICT2' AND "
             "tbl_kav_jobs_currency.jc_c_job_code = 'FUMA';"),
        Exec("UPDATE tbl_kav_jobs_currency SET "
             "tbl_kav_jobs_currency.jc_c_job_code  = 'FUM2' WHERE "
             "tbl_kav_jobs_currency.jc_job_code  = 'ICT3' AND "
             "tbl_kav_jobs_currency.jc_c_job_code = 'FUM1';")}},
      // RXM2 before RXB2, out of alphabetical order.
      {76, 79,
       Join({RowTrace("WF", "RADO", "WF", "IADP", "NATIONAL"),
             {Exec("UPDATE tbl_kav_jobs_currency SET "
                   "tbl_kav_jobs_currency.jc_c_job_code  = 'RXB2' WHERE "
                   "tbl_kav_jobs_currency.jc_job_code  = 'RXM2' AND "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'RXB1';"),
              Exec("UPDATE tbl_kav_jobs_currency SET "
                   "tbl_kav_jobs_currency.jc_c_job_code  = 'FUM2' WHERE "
                   "tbl_kav_jobs_currency.jc_job_code  = 'RXB2' AND "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'FUM1';")},
             RowTrace("WF", "SEMG", "WF", "ATBM", "NATIONAL")})},
      // The last row, then the opening deletions and the first of a run.
      {101, 106,
       Join({RowTrace("WF", "TRPB", "WF", "HELB", "NATIONAL"),
             {Exec(pair_delete + "'RXB2' and "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'RXM1';"),
              Exec(pair_delete + "'RXI1';"), Exec(pair_delete + "'RXI2';"),
              Exec(pair_delete + "'ABRO' and "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'DECK';"),
              Exec(pair_delete + "'ASGS' and "
                   "tbl_kav_jobs_currency.jc_c_job_code = 'ACAC';")}})},
      // A run's first and last partners: BCMG's FUM1 at 107, SVBD at 116.
      {107, 107,
       {Exec(pair_delete +
             "'BCMG' and tbl_kav_jobs_currency.jc_c_job_code = 'FUM1';")}},
      {116, 117,
       {Exec(pair_delete +
             "'BCMG' and tbl_kav_jobs_currency.jc_c_job_code = 'SVBD';"),
        Exec(pair_delete +
             "'COST' and tbl_kav_jobs_currency.jc_c_job_code = 'FUM1';")}},
      // The end of the pair deletions and the first list deletion.
      {291, 292,
       {Exec(pair_delete +
             "'FELB' and tbl_kav_jobs_currency.jc_c_job_code = 'TFLD';"),
        Exec("DELETE from tbl_kav_jobs_currency WHERE "
             "tbl_kav_jobs_currency.jc_job_code IN "
             "('FFT1','FFT2','FIRB','FSC2','GSUL') and "
             "tbl_kav_jobs_currency.jc_c_job_code = 'FUM1';")}},
      // The single pair among the lists.
      {371, 373,
       {Exec(pair_delete +
             "'SITL' and tbl_kav_jobs_currency.jc_c_job_code IN "
             "('FUM1','ACDR', 'ACLC','ACPC','FBAN','ICT1','ICT2','PSC1');"),
        Exec(pair_delete +
             "'SOF2' and tbl_kav_jobs_currency.jc_c_job_code = 'SOFR';"),
        Exec(pair_delete +
             "'SOFR' and tbl_kav_jobs_currency.jc_c_job_code IN "
             "('ICT4','STCR', 'STDZ','STEN','STPL','TFLD');")}},
      // The last step, with a blank after RXI2, ACDR and ICT3.
      {381, 381,
       {Exec(pair_delete +
             "'TRPB' and tbl_kav_jobs_currency.jc_c_job_code IN "
             "('FUM1','LTAN','RXB1','RXB2','RXI1','RXI2', 'RXM1','RXM2',"
             "'ACAC','ACDR', 'ACLC','ACPC','AOBD','ASGS','ATGS','DIVS',"
             "'FBAN','HEB1','HEB2','HEMG','HLCO','ICT1','ICT2','ICT3', "
             "'OPBD','OSC1','OSC2','PSC1','PSC2','SITL','SOF1','SOF2',"
             "'SOFR','TFLD');")}},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(kSteps.Trace(c.first, c.last), c.expected) << "steps " << c.first << " to " << c.last;
  }
  // The slices add up to the whole trace: 8 lines a row, 1 a statement.
  EXPECT_EQ(TraceLines(kSteps.all()).size(), 86u * 8 + 295u);
}

// What the statements name, read off their texts: on an empty table the
// stage removes exactly thirteen of its own rows again, re-pointings touch
// no pair that another step writes or deletes, and only the RXM1 pairs of
// eight positions are named by two deletions.
TEST(CurrencySteps, DeletionsNameOnlyTheIntendedRowsOfTheStage) {
  std::vector<Pair> rows = RowPairs();
  std::set<Pair> inserted(rows.begin(), rows.end());

  std::map<Pair, int> deleted;
  std::set<std::string> deleted_positions;
  std::set<Pair> re_pointed;  // old and new pairs, and the standard's pair
  static const std::regex pair_update(
      R"(SET tbl_kav_jobs_currency\.(jc_c_job_code|jc_standard)  = '([A-Z0-9]+)' )"
      R"(WHERE tbl_kav_jobs_currency\.jc_job_code  = '([A-Z0-9]+)' AND )"
      R"(tbl_kav_jobs_currency\.jc_c_job_code = '([A-Z0-9]+)';$)");
  for (int n = 1; n <= 381; ++n) {
    if (std::holds_alternative<RowStep>(kSteps.At(n))) continue;
    const std::string text = kSteps.TextOf(n);
    std::smatch m;
    if (std::regex_search(text, m, pair_update)) {
      ASSERT_LE(n, 101);
      re_pointed.emplace(m[3], m[4]);
      if (m[1] == "jc_c_job_code") re_pointed.emplace(m[3], m[2]);
      continue;
    }
    ASSERT_GE(n, 102) << text;
    std::vector<Pair> pairs = PairsNamedBy(text);
    ASSERT_FALSE(pairs.empty()) << text;
    for (const Pair& p : pairs) {
      if (p.second == "*") {
        deleted_positions.insert(p.first);
      } else {
        ++deleted[p];
      }
    }
  }
  EXPECT_EQ(re_pointed.size(), 14u * 2 + 1);
  EXPECT_EQ(deleted_positions, (std::set<std::string>{"RXI1", "RXI2"}));

  std::set<Pair> removed_again;
  for (const Pair& p : inserted) {
    if (deleted.count(p)) removed_again.insert(p);
    EXPECT_FALSE(deleted_positions.count(p.first)) << p.first;
    EXPECT_FALSE(re_pointed.count(p)) << p.first << " " << p.second;
  }
  EXPECT_EQ(removed_again, (std::set<Pair>{{"ICT4", "SOFR"},
                                           {"PIOF", "PIO2"},
                                           {"SOF2", "SOFR"},
                                           {"SOFR", "ICT4"},
                                           {"SOFR", "STCR"},
                                           {"SOFR", "STDZ"},
                                           {"SOFR", "STEN"},
                                           {"SOFR", "STPL"},
                                           {"SOFR", "TFLD"},
                                           {"STCR", "SOFR"},
                                           {"STDZ", "SOFR"},
                                           {"STEN", "SOFR"},
                                           {"STPL", "SOFR"}}));
  EXPECT_EQ(inserted.size() - removed_again.size(), 73u);

  std::set<Pair> twice;
  for (const auto& [pair, times] : deleted) {
    EXPECT_FALSE(re_pointed.count(pair)) << pair.first << " " << pair.second;
    EXPECT_NE(pair.second, "HELB");
    EXPECT_NE(pair.second, "HELM");
    if (times > 1) twice.insert(pair);
  }
  EXPECT_EQ(twice, (std::set<Pair>{{"ICT3", "RXM1"},
                                   {"ICT4", "RXM1"},
                                   {"STCR", "RXM1"},
                                   {"STDZ", "RXM1"},
                                   {"STEN", "RXM1"},
                                   {"STPL", "RXM1"},
                                   {"TFLD", "RXM1"},
                                   {"TRPB", "RXM1"}}));
  // Pairs a later step must leave in place.
  for (const Pair& kept : std::vector<Pair>{{"PIO2", "PIOF"},
                                            {"SOFR", "SOF2"},
                                            {"ICT4", "HELB"},
                                            {"ICT4", "ICT3"},
                                            {"TFLD", "SOFR"},
                                            {"STCR", "DIVS"},
                                            {"ICT3", "RXI1"},
                                            {"RXB2", "FUM2"},
                                            {"FELB", "HELB"},
                                            {"FELB", "ICT3"},
                                            {"FELB", "ICT4"}}) {
    EXPECT_FALSE(deleted.count(kept)) << kept.first << " " << kept.second;
  }
  // And pairs that go.
  for (const Pair& gone : std::vector<Pair>{{"CRWB", "RXB1"},
                                            {"CRWB", "RXI1"},
                                            {"DOZB", "HEMG"},
                                            {"FFT2", "HEMG"},
                                            {"FFT1", "RXB1"},
                                            {"STDZ", "DIVS"},
                                            {"TRPB", "RXI2"}}) {
    EXPECT_TRUE(deleted.count(gone)) << gone.first << " " << gone.second;
  }
}

// Every text of the stage is a statement of the engine's dialect, and it
// acts on the stage's table.
TEST(CurrencyStepsParse, EveryTextParses) {
  for (int n = 1; n <= 381; ++n) {
    const auto* sql = std::get_if<SqlStep>(&kSteps.At(n));
    if (!sql) continue;
    dao::sql::Statement statement;
    try {
      statement = dao::sql::Parse(sql->text);
    } catch (const kav::Error& e) {
      ADD_FAILURE() << "step " << n << ": " << e.number() << " " << e.description() << "\n"
                    << sql->text;
      continue;
    }
    if (n <= 101) {
      const auto* update = std::get_if<dao::sql::UpdateStatement>(&statement);
      ASSERT_NE(update, nullptr) << n;
      EXPECT_EQ(update->table, "tbl_kav_jobs_currency");
      EXPECT_EQ(update->assignments.size(), 1u);
      EXPECT_EQ(update->where.size(), 2u);
    } else {
      const auto* del = std::get_if<dao::sql::DeleteStatement>(&statement);
      ASSERT_NE(del, nullptr) << n;
      EXPECT_EQ(del->table, "tbl_kav_jobs_currency");
      EXPECT_EQ(del->where.size(), n == 103 || n == 104 ? 1u : 2u) << n;
    }
  }
}

}  // namespace
}  // namespace kav::stages
