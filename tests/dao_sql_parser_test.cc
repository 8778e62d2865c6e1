#include "platform/dao/sql_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "stages/stages.h"

namespace dao::sql {
namespace {

ColumnRef Col(std::string table, std::string column) {
  return ColumnRef{std::move(table), std::move(column)};
}
ColumnRef Col(std::string column) { return ColumnRef{"", std::move(column)}; }

Literal Text(std::string text) { return Literal{Literal::Kind::kText, std::move(text), 0}; }
Literal Int(int64_t value) { return Literal{Literal::Kind::kInteger, "", value}; }
Literal Now() { return Literal{Literal::Kind::kNow, "", 0}; }

Condition Eq(ColumnRef column, Literal value) {
  return Condition{std::move(column), Condition::Op::kEquals, {std::move(value)}};
}
Condition In(ColumnRef column, std::vector<Literal> values) {
  return Condition{std::move(column), Condition::Op::kIn, std::move(values)};
}

std::string Show(const Statement& statement);

struct ParseCase {
  const char* what;
  std::string text;
  Statement expected;
};

// Statements as the update sends them, byte for byte, with the blanks, the
// keyword cases and the missing separators they carry.
std::vector<ParseCase> DialectCases() {
  const std::string js = "tbl_kav_jobs_skills";
  const std::string pq = "tbl_kav_persons_quals";
  const std::string c = "tbl_kav_courses";
  const std::string jpt = "tbl_kav_jobs_prereq_training";
  const std::string jpe = "tbl_kav_jobs_prereq_experiences";
  const std::string jc = "tbl_kav_jobs_currency";
  return {
      {"update with two blanks before = in SET, lower-case and",
       "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement  = 'N' WHERE tbl_kav_jobs_skills.job_code = 'ABRO' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
       UpdateStatement{
           js,
           {{Col(js, "job_fitness_requirement"), Text("N")}},
           {Eq(Col(js, "job_code"), Text("ABRO")), Eq(Col(js, "job_risk_type"), Text("WF"))}}},
      {"now() and a second assignment",
       "UPDATE tbl_kav_persons_quals SET tbl_kav_persons_quals.pq_expiration_date  = now(), tbl_kav_persons_quals.pq_comments  = 'Expriration date set by ZURA5 Update' WHERE tbl_kav_persons_quals.pq_qual_code in ('IRIN','RXI1','RXI2') and tbl_kav_persons_quals.pq_qual_risk_type = 'WF';",
       UpdateStatement{pq,
                       {{Col(pq, "pq_expiration_date"), Now()},
                        {Col(pq, "pq_comments"), Text("Expriration date set by ZURA5 Update")}},
                       {In(Col(pq, "pq_qual_code"), {Text("IRIN"), Text("RXI1"), Text("RXI2")}),
                        Eq(Col(pq, "pq_qual_risk_type"), Text("WF"))}}},
      {"one blank before = in SET, list of one code",
       "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_fitness_requirement = 'L' WHERE tbl_kav_jobs_skills.job_code in ('RXB1') and tbl_kav_jobs_skills.job_risk_type = 'RX';",
       UpdateStatement{
           js,
           {{Col(js, "job_fitness_requirement"), Text("L")}},
           {In(Col(js, "job_code"), {Text("RXB1")}), Eq(Col(js, "job_risk_type"), Text("RX"))}}},
      {"empty text value",
       "UPDATE tbl_kav_jobs_skills SET tbl_kav_jobs_skills.job_inactive_date  = '', tbl_kav_jobs_skills.job_functional_area  = 'ED' WHERE tbl_kav_jobs_skills.job_code = 'ACDP' and tbl_kav_jobs_skills.job_risk_type = 'WF';",
       UpdateStatement{
           js,
           {{Col(js, "job_inactive_date"), Text("")}, {Col(js, "job_functional_area"), Text("ED")}},
           {Eq(Col(js, "job_code"), Text("ACDP")), Eq(Col(js, "job_risk_type"), Text("WF"))}}},
      {"two blanks before WHERE",
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_code  = 'S-481Old', tbl_kav_courses.course_inactive_date  = '1/1/2006'  WHERE tbl_kav_courses.course_code = 'S-481' and tbl_kav_courses.risk_type = 'WF';",
       UpdateStatement{
           c,
           {{Col(c, "course_code"), Text("S-481Old")},
            {Col(c, "course_inactive_date"), Text("1/1/2006")}},
           {Eq(Col(c, "course_code"), Text("S-481")), Eq(Col(c, "risk_type"), Text("WF"))}}},
      {"course list form",
       "UPDATE tbl_kav_courses SET tbl_kav_courses.course_inactive_date  = '1/1/2006' WHERE tbl_kav_courses.course_code in ('S-362','S-363','S-365','S-368') and tbl_kav_courses.risk_type = 'WF';",
       UpdateStatement{
           c,
           {{Col(c, "course_inactive_date"), Text("1/1/2006")}},
           {In(Col(c, "course_code"), {Text("S-362"), Text("S-363"), Text("S-365"), Text("S-368")}),
            Eq(Col(c, "risk_type"), Text("WF"))}}},
      {"copy between bracketed columns, no WHERE, no semicolon",
       "UPDATE [tbl_kav_jobs_prereq_experiences] SET [jpe_exp_group_no]=[XXX1]",
       UpdateStatement{jpe, {{Col("jpe_exp_group_no"), Col("XXX1")}}, {}}},
      {"version query",
       "Select tbl_kav_version_info.kav_database_version from tbl_kav_version_info;",
       SelectStatement{
           {Col("tbl_kav_version_info", "kav_database_version")}, "tbl_kav_version_info", {}}},
      {"DELETE FROM, upper-case AND, two blanks before the first =",
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'S-381' AND tbl_kav_jobs_prereq_training.jpt_job_code = 'RXB2';",
       DeleteStatement{jpt,
                       {Eq(Col(jpt, "jpt_p_course_code"), Text("S-381")),
                        Eq(Col(jpt, "jpt_job_code"), Text("RXB2"))}}},
      {"two blanks before in",
       "DELETE FROM tbl_kav_jobs_prereq_training WHERE tbl_kav_jobs_prereq_training.jpt_p_course_code  in ('S-481','S-481Old') AND tbl_kav_jobs_prereq_training.jpt_job_code = 'AOBD';",
       DeleteStatement{jpt,
                       {In(Col(jpt, "jpt_p_course_code"), {Text("S-481"), Text("S-481Old")}),
                        Eq(Col(jpt, "jpt_job_code"), Text("AOBD"))}}},
      {"update with two conditions and upper-case AND",
       "UPDATE tbl_kav_jobs_prereq_training SET tbl_kav_jobs_prereq_training.jpt_p_type  = 'RT' WHERE tbl_kav_jobs_prereq_training.jpt_p_course_code  = 'I-100' AND tbl_kav_jobs_prereq_training.jpt_job_code = 'FFT2';",
       UpdateStatement{jpt,
                       {{Col(jpt, "jpt_p_type"), Text("RT")}},
                       {Eq(Col(jpt, "jpt_p_course_code"), Text("I-100")),
                        Eq(Col(jpt, "jpt_job_code"), Text("FFT2"))}}},
      {"DELETE from with a bare number",
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'LTAN' and tbl_kav_jobs_prereq_experiences.jpe_exp_group_no = 3;",
       DeleteStatement{
           jpe,
           {Eq(Col(jpe, "jpe_job_code"), Text("LTAN")), Eq(Col(jpe, "jpe_exp_group_no"), Int(3))}}},
      {"three conditions, DELETE from with AND",
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'HLCO' AND tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'HEMG' AND tbl_kav_jobs_prereq_experiences.jpe_risk_type = 'WF';",
       DeleteStatement{jpe,
                       {Eq(Col(jpe, "jpe_job_code"), Text("HLCO")),
                        Eq(Col(jpe, "jpe_p_job_code"), Text("HEMG")),
                        Eq(Col(jpe, "jpe_risk_type"), Text("WF"))}}},
      {"literal directly followed by and",
       "DELETE from tbl_kav_jobs_prereq_experiences WHERE tbl_kav_jobs_prereq_experiences.jpe_job_code = 'RXB2'and tbl_kav_jobs_prereq_experiences.jpe_p_job_code = 'RXI2';",
       DeleteStatement{jpe,
                       {Eq(Col(jpe, "jpe_job_code"), Text("RXB2")),
                        Eq(Col(jpe, "jpe_p_job_code"), Text("RXI2"))}}},
      {"upper-case IN with blanks inside the list",
       "DELETE from tbl_kav_jobs_currency WHERE tbl_kav_jobs_currency.jc_job_code = 'ORDM' and tbl_kav_jobs_currency.jc_c_job_code IN ('FUM1','ACDR', 'ACLC','ACPC','ICT1','ICT2','LSC1','LSC2', 'SUBD','SVBD');",
       DeleteStatement{
           jc,
           {Eq(Col(jc, "jc_job_code"), Text("ORDM")),
            In(Col(jc, "jc_c_job_code"),
               {Text("FUM1"), Text("ACDR"), Text("ACLC"), Text("ACPC"), Text("ICT1"), Text("ICT2"),
                Text("LSC1"), Text("LSC2"), Text("SUBD"), Text("SVBD")})}}},
      {"single condition",
       "DELETE from tbl_kav_jobs_currency WHERE tbl_kav_jobs_currency.jc_job_code = 'RXI1';",
       DeleteStatement{jc, {Eq(Col(jc, "jc_job_code"), Text("RXI1"))}}},
      {"currency re-pointing",
       "UPDATE tbl_kav_jobs_currency SET tbl_kav_jobs_currency.jc_c_job_code  = 'HELB' WHERE tbl_kav_jobs_currency.jc_job_code  = 'CRWB' AND tbl_kav_jobs_currency.jc_c_job_code = 'HEMG';",
       UpdateStatement{
           jc,
           {{Col(jc, "jc_c_job_code"), Text("HELB")}},
           {Eq(Col(jc, "jc_job_code"), Text("CRWB")), Eq(Col(jc, "jc_c_job_code"), Text("HEMG"))}}},
      // Beyond the fixed texts: what the tokenizer must handle as well.
      {"doubled quote inside a literal", "UPDATE t SET t.c = 'O''Brien' WHERE t.k = 'it''s'''",
       UpdateStatement{
           "t", {{Col("t", "c"), Text("O'Brien")}}, {Eq(Col("t", "k"), Text("it's'"))}}},
      {"tabs, line breaks, keyword case, NOW in capitals, blanks after ;",
       "\tupdate\r\n[my table] sEt [my table].[a b]=NOW ( ) wHeRe [k]=12 AnD x in(0) ;  \n",
       UpdateStatement{"my table",
                       {{Col("my table", "a b"), Now()}},
                       {Eq(Col("k"), Int(12)), In(Col("x"), {Int(0)})}}},
      {"column named now, unqualified columns, select list",
       "SELECT a, t.now FROM t WHERE now = 'x'",
       SelectStatement{{Col("a"), Col("t", "now")}, "t", {Eq(Col("now"), Text("x"))}}},
  };
}

TEST(SqlParser, ParsesEveryFormOfTheDialect) {
  for (const ParseCase& c : DialectCases()) {
    SCOPED_TRACE(c.what);
    Statement parsed;
    try {
      parsed = Parse(c.text);
    } catch (const kav::Error& e) {
      ADD_FAILURE() << "error " << e.number() << ": " << e.description();
      continue;
    }
    EXPECT_EQ(parsed, c.expected) << "got " << Show(parsed);
  }
}

struct MalformedCase {
  std::string text;
  long number;
  std::string quoted;  // must appear in the description
};

TEST(SqlParser, RejectsWhatLiesOutsideTheDialect) {
  const std::vector<MalformedCase> cases = {
      {"", 3129, "end of the text"},
      {"   ;", 3129, "\";\""},
      {"INSERT INTO t VALUES ('a')", 3129, "\"INSERT\""},
      {"-- DELETE FROM t WHERE a = 'b'", 3129, "\"-\""},
      {"DROP TABLE t", 3129, "\"DROP\""},
      {"UPDATE t WHERE a = 'b'", 3144, "\"WHERE\""},
      {"UPDATE SET a = 'b'", 3144, "\"SET\""},
      {"UPDATE t SET a 'b'", 3144, "\"'b'\""},
      {"UPDATE t SET a = 'b' c = 'd'", 3144, "\"c\""},
      {"UPDATE t SET a = 'b', WHERE k = 1", 3144, "\"WHERE\""},
      {"UPDATE t SET a = 'b' || 'c'", 3144, "\"|\""},
      {"UPDATE t SET a = -1", 3144, "\"-\""},
      {"UPDATE t SET a = 1 + 2", 3144, "\"+\""},
      {"UPDATE t SET a = now(", 3144, "\"(\""},
      {"UPDATE t SET a = 'open", 3144, "not closed"},
      {"UPDATE t SET [a = 'b'", 3144, "not closed"},
      {"UPDATE t SET [] = 'b'", 3144, "\"[]\""},
      {"UPDATE t SET t. = 'b'", 3144, "\"=\""},
      {"UPDATE t SET a = 99999999999999999999", 3144, "too large"},
      {"UPDATE t SET a = 3x", 3144, "\"3x\""},
      {"UPDATE t SET a = 3x", 3144, "begin with a digit"},
      {"UPDATE t SET a = 99999999999999999999x", 3144, "begin with a digit"},
      {"UPDATE t SET [a[b] = 'c'", 3144, "must not hold '['"},
      {"UPDATE t SET a = 'b' WHERE", 3075, "end of the text"},
      {"UPDATE t SET a = 'b' WHERE k = 'c' OR k = 'd'", 3075, "\"OR\""},
      {"UPDATE t SET a = 'b' WHERE (k = 'c')", 3075, "\"(\""},
      {"UPDATE t SET a = 'b' WHERE k = m", 3075, "\"m\""},
      {"UPDATE t SET a = 'b' WHERE k <> 'c'", 3075, "\"<\""},
      {"UPDATE t SET a = 'b' WHERE k = 'c' and", 3075, "end of the text"},
      {"DELETE FROM t WHERE k in ()", 3075, "\")\""},
      {"DELETE FROM t WHERE k in ('a',)", 3075, "\")\""},
      {"DELETE FROM t WHERE k in ('a' 'b')", 3075, "\"'b'\""},
      {"DELETE FROM t WHERE k in 'a'", 3075, "\"'a'\""},
      {"DELETE FROM t WHERE k = 'a' /* x */", 3075, "\"/\""},
      {"DELETE FROM t WHERE and = 'a'", 3075, "\"and\""},
      {"SELECT FROM t", 3075, "\"FROM\""},
      {"SELECT * FROM t", 3075, "\"*\""},
      {"DELETE t WHERE k = 'a'", 3131, "\"t\""},
      {"DELETE FROM WHERE k = 'a'", 3131, "\"WHERE\""},
      {"DELETE FROM t", 3131, "end of the text"},
      {"DELETE FROM t;", 3131, "\";\""},
      {"DELETE FROM t, u WHERE k = 'a'", 3131, "\",\""},
      {"SELECT a FROM", 3131, "end of the text"},
      {"SELECT a b FROM t", 3131, "\"b\""},
      {"SELECT a FROM t u", 3131, "\"u\""},
      {"DELETE FROM t WHERE k = 'a';;", 3142, "\";\""},
      {"DELETE FROM t WHERE k = 'a'; DELETE FROM u WHERE k = 'b'", 3142, "\"DELETE\""},
      {"UPDATE t SET a = 'b'; x", 3142, "\"x\""},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      Statement parsed = Parse(c.text);
      ADD_FAILURE() << "accepted as " << Show(parsed);
    } catch (const kav::Error& e) {
      EXPECT_EQ(e.number(), c.number) << e.description();
      EXPECT_NE(e.description().find(c.quoted), std::string::npos) << e.description();
    }
  }
}

// Every SQL text the stages send must parse; the lists are fixed data, so a
// typo in one of them shows here instead of in a stage's error box.
TEST(SqlParser, ParsesEverySqlStepOfTheStages) {
  using StepList = const std::vector<kav::stages::Step>& (*)();
  const std::vector<std::pair<const char*, StepList>> lists = {
      {"course changes", kav::stages::CourseChangesSteps},
      {"training 1", kav::stages::Training1Steps},
      {"training 2", kav::stages::Training2Steps},
      {"experience 1", kav::stages::Experience1Steps},
      {"experience 2", kav::stages::Experience2Steps},
      {"experience 3", kav::stages::Experience3Steps},
      {"currency", kav::stages::CurrencySteps},
  };
  for (const auto& [name, list] : lists) {
    SCOPED_TRACE(name);
    for (const kav::stages::Step& step : list()) {
      const auto* sql = std::get_if<kav::stages::SqlStep>(&step);
      if (sql == nullptr) continue;
      try {
        Parse(sql->text);
      } catch (const kav::Error& e) {
        ADD_FAILURE() << sql->text << "\nerror " << e.number() << ": " << e.description();
      }
    }
  }
}

// A readable form of a statement for failure messages.
std::string ShowColumn(const ColumnRef& c) {
  return c.table.empty() ? "[" + c.column + "]" : "[" + c.table + "].[" + c.column + "]";
}

std::string ShowLiteral(const Literal& l) {
  switch (l.kind) {
    case Literal::Kind::kText:
      return "'" + l.text + "'";
    case Literal::Kind::kInteger:
      return std::to_string(l.integer);
    case Literal::Kind::kNow:
      return "now()";
  }
  return "?";
}

std::string ShowWhere(const std::vector<Condition>& where) {
  std::string out;
  for (const Condition& c : where) {
    out += " {" + ShowColumn(c.column) + (c.op == Condition::Op::kEquals ? " =" : " in");
    for (const Literal& v : c.values) out += " " + ShowLiteral(v);
    out += "}";
  }
  return out;
}

std::string Show(const Statement& statement) {
  if (const auto* u = std::get_if<UpdateStatement>(&statement)) {
    std::string out = "UPDATE [" + u->table + "] SET";
    for (const Assignment& a : u->assignments) {
      out += " {" + ShowColumn(a.column) + " = ";
      if (const auto* l = std::get_if<Literal>(&a.value)) {
        out += ShowLiteral(*l);
      } else {
        out += ShowColumn(std::get<ColumnRef>(a.value));
      }
      out += "}";
    }
    return out + " WHERE" + ShowWhere(u->where);
  }
  if (const auto* d = std::get_if<DeleteStatement>(&statement)) {
    return "DELETE [" + d->table + "] WHERE" + ShowWhere(d->where);
  }
  const auto& s = std::get<SelectStatement>(statement);
  std::string out = "SELECT";
  for (const ColumnRef& c : s.columns) out += " " + ShowColumn(c);
  return out + " FROM [" + s.table + "] WHERE" + ShowWhere(s.where);
}

}  // namespace
}  // namespace dao::sql
