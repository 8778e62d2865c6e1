// The 40 SQL corrections of positions, held qualifications and FUMA's
// prerequisites that the driver runs between the course stage and the first
// training stage.

#include "update/corrections.h"

#include <string>
#include <utility>
#include <vector>

namespace kav::update {

namespace {

using stages::Sql;
using stages::Step;

// A column and its value as the text writes it: a quoted literal ('N'),
// now(), or a parenthesised list for an "in" condition.
using Term = std::pair<const char*, const char*>;

struct Correction {
  const char* table;
  std::vector<Term> set;  // empty for a DELETE
  std::vector<Term> where;
  // Two corrections write one blank before "=" in their assignment where
  // every other writes two.
  bool one_blank_before_equals = false;
};

// "UPDATE t SET t.c  = v, ... WHERE t.c = v and t.d in ('a','b');" or
// "DELETE from t WHERE ...;", every column qualified with its table.
std::string CorrectionText(const Correction& c) {
  const std::string table = c.table;
  std::string text;
  if (c.set.empty()) {
    text = "DELETE from " + table;
  } else {
    text = "UPDATE " + table + " SET ";
    const char* equals = c.one_blank_before_equals ? " = " : "  = ";
    for (size_t i = 0; i < c.set.size(); ++i) {
      if (i > 0) text += ", ";
      text += table + "." + c.set[i].first + equals + c.set[i].second;
    }
  }
  text += " WHERE ";
  for (size_t i = 0; i < c.where.size(); ++i) {
    if (i > 0) text += " and ";
    const std::string value = c.where[i].second;
    text += table + "." + c.where[i].first + (value.front() == '(' ? " in " : " = ") + value;
  }
  return text + ";";
}

constexpr const char* kSkills = "tbl_kav_jobs_skills";
constexpr const char* kQuals = "tbl_kav_persons_quals";
constexpr const char* kExpiryComment = "'Expriration date set by ZURA5 Update'";

Correction Fitness(const char* value, const char* code, const char* risk, bool one_blank = false) {
  return {kSkills,
          {{"job_fitness_requirement", value}},
          {{"job_code", code}, {"job_risk_type", risk}},
          one_blank};
}

Correction Retire(const char* code) {
  return {kSkills,
          {{"job_inactive_date", "'12/31/2005'"}},
          {{"job_code", code}, {"job_risk_type", "'WF'"}}};
}

Correction Expire(const char* code) {
  return {kQuals,
          {{"pq_expiration_date", "now()"}, {"pq_comments", kExpiryComment}},
          {{"pq_qual_code", code}, {"pq_qual_risk_type", "'WF'"}}};
}

Correction Retitle(const char* title, const char* code) {
  return {kSkills, {{"job_title", title}}, {{"job_code", code}, {"job_risk_type", "'WF'"}}};
}

Correction Recode(const char* title, const char* code, const char* old_code, const char* old_risk) {
  return {kSkills,
          {{"job_title", title},
           {"job_code", code},
           {"job_risk_type", "'WF'"},
           {"job_active_date", "'1/1/2006'"}},
          {{"job_code", old_code}, {"job_risk_type", old_risk}}};
}

std::vector<Step> BuildCorrections() {
  const std::vector<Correction> corrections = {
      Fitness("'N'", "'ABRO'", "'WF'"),
      Fitness("'L'", "'BCMG'", "'WF'"),
      Fitness("'M'", "'CREP'", "'WF'"),
      Fitness("'L'", "'DECK'", "'WF'"),
      Fitness("'N'", "'HLCO'", "'WF'"),
      Fitness("'L'", "'COMT'", "'WF'"),
      Fitness("'M'", "'FEMO'", "'RX'"),
      Retire("'EMTB'"),
      Expire("'EMTB'"),
      Retitle("'Expanded Dispatch Supervisory Dispatcher'", "'EDSP'"),
      Retitle("'Expanded Dispatch Coordinator'", "'CORD'"),
      Retitle("'Expanded Dispatch Recorder'", "'EDRC'"),
      Retitle("'Expanded Dispatch Support Dispatcher'", "'EDSD'"),
      Fitness("'M'", "'FIRB'", "'WF'", /*one_blank=*/true),
      Fitness("'M'", "'FOBS'", "'WF'", /*one_blank=*/true),
      Retitle("'Finance/Administrative Section Chief Type 1'", "'FSC1'"),
      Retitle("'Finance/Administrative Section Chief Type 2'", "'FSC2'"),
      // FUMA's old prerequisites go just before FUMA is recoded: the
      // training rows under 'WF', the experience rows under 'RX'.
      {"tbl_kav_jobs_prereq_training", {}, {{"jpt_job_code", "'FUMA'"}, {"jpt_risk_type", "'WF'"}}},
      {"tbl_kav_jobs_prereq_experiences",
       {},
       {{"jpe_job_code", "'FUMA'"}, {"jpe_risk_type", "'RX'"}}},
      Recode("'Fire Use Manager Type 1'", "'FUM1'", "'FUMA'", "'RX'"),
      Retitle("'Firefighter Type 1'", "'FFT1'"),
      Retitle("'Firefighter Type 2'", "'FFT2'"),
      Retitle("'Helibase Manager Type 1'", "'HEB1'"),
      Retitle("'Helibase Manager Type 2'", "'HEB2'"),
      Retire("'HCWN'"),
      Expire("'HEMG'"),
      Expire("'HCWN'"),
      {kSkills, {{"job_risk_type", "'WF'"}}, {{"job_code", "'LTAN'"}, {"job_risk_type", "'RX'"}}},
      Retitle("'Personnel Time Recorder'", "'PTRC'"),
      Retire("('IRIN','RXI1','RXI2')"),
      Fitness("'L'", "('RXB1')", "'RX'"),
      Fitness("'M'", "('RXB2')", "'RX'"),
      Fitness("'N'", "('RXM1','RXM2')", "'RX'"),
      Expire("('IRIN','RXI1','RXI2')"),
      Recode("'Public Information Officer Type 1'", "'PIO1'", "'IOF1'", "'WF'"),
      Recode("'Public Information Officer Type 2'", "'PIO2'", "'IOF2'", "'WF'"),
      Recode("'Public Information Officer'", "'PIOF'", "'IOF3'", "'WF'"),
      Recode("'Safety Officer'", "'SOFR'", "'SOF3'", "'WF'"),
      Fitness("'L'", "'SITL'", "'WF'"),
      Fitness("'M'", "('STDZ','STEN','STPL')", "'WF'"),
  };
  std::vector<Step> steps;
  for (const Correction& c : corrections) steps.push_back(Sql(CorrectionText(c)));
  return steps;
}

}  // namespace

const std::vector<stages::Step>& CorrectionSteps() {
  static const std::vector<Step> steps = BuildCorrections();
  return steps;
}

}  // namespace kav::update
