// Values: conversion to a field's type, text dates, display text, and the
// checks a field makes when a value is assigned and when the row is written.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>

#include "platform/dao/dao.h"
#include "platform/dao/sql_parser.h"
#include "platform/dao/value.h"
#include "platform/text.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using dao::DateTime;
using dao::Value;

DateTime D(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return DateTime{y, mo, d, h, mi, s};
}

TEST(Conversion, ToEachFieldType) {
  struct Case {
    Value in;
    int type;
    Value out;
  };
  const std::vector<Case> cases = {
      {Value("12"), dao::dbInteger, Value(int16_t{12})},
      {Value(" -7 "), dao::dbLong, Value(int32_t{-7})},
      {Value("2.5"), dao::dbInteger, Value(int16_t{2})},  // half to even
      {Value("3.5"), dao::dbInteger, Value(int16_t{4})},
      {Value("1.25"), dao::dbDouble, Value(1.25)},
      {Value(int16_t{5}), dao::dbText, Value("5")},
      {Value(2.5), dao::dbText, Value("2.5")},
      {Value(true), dao::dbText, Value("True")},
      {Value(true), dao::dbInteger, Value(int16_t{-1})},
      {Value("True"), dao::dbBoolean, Value(true)},
      {Value("0"), dao::dbBoolean, Value(false)},
      {Value(""), dao::dbInteger, Value()},
      {Value(""), dao::dbDate, Value()},
      {Value(""), dao::dbBoolean, Value()},
      {Value(""), dao::dbText, Value("")},
      {Value(), dao::dbText, Value()},
      {Value("1/1/2006"), dao::dbDate, Value(D(2006, 1, 1))},
      {Value(D(2006, 3, 15, 14, 5, 9)), dao::dbText, Value("3/15/2006 2:05:09 PM")},
      {Value(int32_t{38718}), dao::dbDate, Value(D(2006, 1, 1))},
      {Value(D(2006, 1, 1, 12)), dao::dbDouble, Value(38718.5)},
      {Value("1e308"), dao::dbDouble, Value(1e308)},
      {Value("-1e-400"), dao::dbDouble, Value(-0.0)},  // too small: zero
      {Value("+.5e1"), dao::dbDouble, Value(5.0)},
      {Value(1e20), dao::dbText, Value("1E+20")},
      {Value(0.1 + 0.2), dao::dbText, Value("0.3")},
      {Value(-1.0 / 3), dao::dbText, Value("-0.333333333333333")},
      {Value(1e-5), dao::dbText, Value("1E-5")},
      {Value(" yes "), dao::dbBoolean, Value(true)},
      {Value("OFF"), dao::dbBoolean, Value(false)},
      {Value("1/1/2006 2:05 pm"), dao::dbDate, Value(D(2006, 1, 1, 14, 5))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.ToString() + " to type " + std::to_string(c.type));
    EXPECT_EQ(dao::ConvertToFieldType(c.in, c.type), c.out);
  }
}

TEST(Conversion, RefusedWith3421) {
  struct Case {
    Value in;
    int type;
  };
  const std::vector<Case> cases = {
      {Value("abc"), dao::dbLong},
      {Value("12abc"), dao::dbInteger},
      {Value("40000"), dao::dbInteger},
      {Value("3000000000"), dao::dbLong},
      {Value("13/1/2006"), dao::dbDate},
      {Value("2/30/2006"), dao::dbDate},
      {Value("maybe"), dao::dbBoolean},
      {Value("1.2.3"), dao::dbDouble},
      {Value(true), dao::dbDate},
      {Value(std::numeric_limits<double>::quiet_NaN()), dao::dbDouble},
      {Value(std::numeric_limits<double>::quiet_NaN()), dao::dbBoolean},
      {Value(std::numeric_limits<double>::infinity()), dao::dbDouble},
      {Value(-std::numeric_limits<double>::infinity()), dao::dbBoolean},
      {Value("1e400"), dao::dbDouble},
      {Value("-1e400"), dao::dbDouble},
      {Value("1e400"), dao::dbBoolean},
      {Value("1e99999999999"), dao::dbDouble},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.ToString() + " to type " + std::to_string(c.type));
    EXPECT_EQ(ErrorOf([&] { dao::ConvertToFieldType(c.in, c.type); }), dao::kErrConversion);
  }
}

// Switches every locale category to the first of `names` that is installed,
// and back when it goes.
class LocaleSwitch {
 public:
  explicit LocaleSwitch(std::initializer_list<const char*> names)
      : saved_(std::setlocale(LC_ALL, nullptr)) {
    for (const char* name : names) {
      if (std::setlocale(LC_ALL, name) != nullptr) {
        name_ = name;
        return;
      }
    }
  }
  ~LocaleSwitch() { std::setlocale(LC_ALL, saved_.c_str()); }
  const char* name() const { return name_; }

 private:
  std::string saved_;
  const char* name_ = nullptr;
};

// As the windowed tool runs: every category from the user's environment.
TEST(Conversion, NumbersAreTheSameInADecimalCommaLocale) {
  LocaleSwitch locale({"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "it_IT.UTF-8",
                       "es_ES.UTF-8", "ru_RU.UTF-8"});
  if (locale.name() == nullptr) {
    GTEST_SKIP() << "no decimal-comma locale is installed (scripts/install-deps makes de_DE.UTF-8)";
  }
  ASSERT_STREQ(std::localeconv()->decimal_point, ",") << locale.name();
  EXPECT_EQ(dao::ConvertToFieldType("1.5", dao::dbDouble), Value(1.5));
  EXPECT_EQ(dao::ConvertToFieldType(" -2.5e1 ", dao::dbLong), Value(int32_t{-25}));
  EXPECT_EQ(ErrorOf([] { dao::ConvertToFieldType("1,5", dao::dbDouble); }), dao::kErrConversion);
  EXPECT_EQ(Value(2.25).ToString(), "2.25");
  EXPECT_EQ(dao::ConvertToFieldType(Value(-1234.5), dao::dbText), Value("-1234.5"));
  EXPECT_EQ(Value(1.5e-7).ToString(), "1.5E-7");
}

// In a single-byte locale the C library folds the bytes of other letters
// too ('\xC4' and '\xE4' are Ä and ä in Latin-1) and takes them for letters;
// the engine, its SQL, the registry and the update fold ASCII letters only,
// in any locale.
TEST(CaseFolding, AsciiLettersOnlyInASingleByteLocale) {
  LocaleSwitch locale(
      {"de_DE.ISO-8859-1", "de_DE.iso88591", "de_DE", "fr_FR.ISO-8859-1", "en_US.ISO-8859-1"});
  if (locale.name() == nullptr) {
    GTEST_SKIP() << "no Latin-1 locale is installed (scripts/install-deps makes de_DE.ISO-8859-1)";
  }
  ASSERT_EQ(std::tolower(0xC4), 0xE4) << locale.name();
  EXPECT_TRUE(kav::EqualsIgnoringCase("FuMa", "fUmA"));
  EXPECT_FALSE(kav::EqualsIgnoringCase("\xC4", "\xE4"));
  EXPECT_EQ(kav::FoldCase("A\xC4Z"), "a\xC4z");
  // Nor are its letters letters of a name in SQL, as in the C locale.
  EXPECT_NE(ErrorOf([] { dao::sql::Parse("SELECT t.\xE4 FROM t;"); }), 0);
  EXPECT_EQ(ErrorOf([] { dao::sql::Parse("SELECT t.a FROM t;"); }), 0);
}

TEST(TextDates, MonthDayYearWhateverTheLocaleAndIso) {
  struct Case {
    const char* text;
    std::optional<DateTime> date;
  };
  const std::vector<Case> cases = {
      {"1/1/2006", D(2006, 1, 1)},
      {"12/31/2005", D(2005, 12, 31)},
      {"12/31/2005 2:05:09 PM", D(2005, 12, 31, 14, 5, 9)},
      {"3/15/2006 14:05", D(2006, 3, 15, 14, 5)},
      {"3/15/2006 12:00:00 AM", D(2006, 3, 15)},
      {"2/29/2008", D(2008, 2, 29)},
      {"2006-01-01", D(2006, 1, 1)},
      {"2006-01-01 10:00:00", D(2006, 1, 1, 10)},
      {"2/29/2006", std::nullopt},
      {"31/12/2005", std::nullopt},
      {"1/1/2006 25:00", std::nullopt},
      {"1/1/2006 13:00 PM", std::nullopt},
      {"yesterday", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DateTime::Parse(c.text), c.date);
  }
  EXPECT_EQ(D(2006, 1, 1).ToIso(), "2006-01-01 00:00:00");
  EXPECT_EQ(DateTime::FromIso("2006-01-01 00:00:00"), D(2006, 1, 1));
  EXPECT_EQ(DateTime::FromIso("1/1/2006"), std::nullopt);
}

TEST(DisplayText, OfEachKind) {
  EXPECT_EQ(Value().ToString(), "");
  EXPECT_EQ(Value(false).ToString(), "False");
  EXPECT_EQ(Value(int32_t{-12}).ToString(), "-12");
  EXPECT_EQ(Value(0.1).ToString(), "0.1");
  EXPECT_EQ(Value(D(2006, 1, 1)).ToString(), "1/1/2006");
  EXPECT_EQ(Value(D(2006, 1, 1, 0, 0, 1)).ToString(), "1/1/2006 12:00:01 AM");
}

class FieldRules : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("t", {{"code", dao::dbText, 4},
                {"n", dao::dbInteger},
                {"d", dao::dbDate},
                {"note", dao::dbText, 10}});
    dao::Field note = db.TableDefs().Item("t").Fields().Item("note");
    note.SetAllowZeroLength(true);
    db.TableDefs().Item("t").Fields().Item("n").SetRequired(true);
  }
};

TEST_F(FieldRules, AssignmentConvertsOrRefusesAtOnce) {
  struct Case {
    int field;
    Value value;
    long error;
    Value stored;
  };
  const std::vector<Case> cases = {
      {0, Value("ABCD"), 0, Value("ABCD")},
      {0, Value("ABCDE"), dao::kErrFieldTooSmall, {}},
      {0, Value("\xC3\xA9t\xC3\xA9s"), 0, Value("\xC3\xA9t\xC3\xA9s")},  // 4 characters
      // Bytes that are no UTF-8 count one character each.
      {0, Value(std::string(8, '\x80')), dao::kErrFieldTooSmall, {}},
      {0, Value("\x80\x80\x80\x80"), 0, Value("\x80\x80\x80\x80")},
      {0, Value(""), dao::kErrZeroLength, {}},
      {3, Value(""), 0, Value("")},
      {0, Value(int16_t{12345}), dao::kErrFieldTooSmall, {}},
      {1, Value("12"), 0, Value(int16_t{12})},
      {1, Value("twelve"), dao::kErrConversion, {}},
      {1, Value(""), 0, Value()},
      {2, Value("1/1/2006"), 0, Value(D(2006, 1, 1))},
      {2, Value(""), 0, Value()},
      {2, Value("not a date"), dao::kErrConversion, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.field) + " = " + c.value.ToString());
    dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
    rs.AddNew();
    EXPECT_EQ(ErrorOf([&] { rs.Fields(c.field).SetValue(c.value); }), c.error);
    if (c.error == 0) {
      EXPECT_EQ(rs.Fields(c.field).GetValue(), c.stored);
    }
    if (c.error != 0) {
      ASSERT_EQ(dao::DBEngine::Instance().Errors().size(), 1u);
      EXPECT_EQ(dao::DBEngine::Instance().Errors()[0].number(), c.error);
    }
  }
}

TEST_F(FieldRules, NullInARequiredFieldIsRefusedAtUpdate) {
  dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
  rs.AddNew();
  rs.Fields(0).SetValue("A");
  rs.Fields(1).SetValue("");  // Null, accepted at the assignment
  EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrFieldRequired);
  // The record stays pending: filling the field lets it through.
  rs.Fields(1).SetValue("3");
  rs.Update();
  EXPECT_EQ(RowsOf("t"), std::vector<std::string>{"A|3||"});
}

// While it lives, every connection opened meanwhile takes strings and
// blobs of at most `bytes` bytes, as SQLite's own limit would at its
// largest.
class LongestString {
 public:
  explicit LongestString(int bytes) {
    bytes_ = bytes;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&Limit));
  }
  ~LongestString() { sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&Limit)); }
  LongestString(const LongestString&) = delete;
  LongestString& operator=(const LongestString&) = delete;

 private:
  static int Limit(sqlite3* db, char**, const sqlite3_api_routines*) {
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, bytes_);
    return SQLITE_OK;
  }
  static inline int bytes_ = 0;
};

// A value that SQLite cannot take (here a text longer than the longest
// string of the connection) fails the write with SQLite's error; it is
// never written as Null in its place.
TEST_F(FieldRules, AValueSqliteCannotTakeFailsTheWrite) {
  Table("wide", {{"k", dao::dbLong}, {"a", dao::dbText, 255}});
  Insert("wide", {int32_t{1}, "short"});
  db.Close();
  // 255 characters of four bytes each: 1020 bytes, past the limit below
  // and past nothing else; the catalog's longest text is far shorter.
  std::string wide;
  for (int i = 0; i < 255; ++i) wide += "\xF0\x9F\x98\x80";
  const LongestString limit(600);
  db = ws.OpenDatabase(mdb);
  dao::Recordset rs = db.OpenRecordset("wide", dao::dbOpenTable);
  struct Case {
    const char* name;
    std::function<void()> write;
  };
  const Case cases[] = {
      {"AddNew",
       [&] {
         rs.AddNew();
         rs.Fields(0).SetValue(int32_t{2});
         rs.Fields(1).SetValue(wide);
         rs.Update();
       }},
      {"Edit",
       [&] {
         rs.CancelUpdate();
         rs.Edit();
         rs.Fields(1).SetValue(wide);
         rs.Update();
       }},
      {"Execute", [&] { db.Execute("UPDATE wide SET a = '" + wide + "'", dao::dbFailOnError); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "no error";
    try {
      c.write();
    } catch (const kav::Error& e) {
      text = std::to_string(e.number()) + " " + e.description();
    }
    EXPECT_EQ(text, "3000 Database engine error: string or blob too big");
    EXPECT_EQ(RowsOf("wide"), std::vector<std::string>{"1|short"});
  }
}

TEST_F(FieldRules, StoredFormIsPlainSqlite) {
  Insert("t", {"A", int16_t{1}, "12/31/2005 2:05:09 PM", "x"});
  db.Close();
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2(mdb.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT code, n, d, typeof(n) FROM t", -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "A");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)), "2005-12-31 14:05:09");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 3)), "integer");
  sqlite3_finalize(st);
  sqlite3_close(raw);
}

}  // namespace
}  // namespace dao_test
