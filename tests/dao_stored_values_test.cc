// Values that another program stored and that do not fit their field: the
// engine reads them as they are, writes them back unchanged, copies them as
// they are, and refuses what a field cannot hold.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/dao/internal/set_based_update.h"
#include "platform/dao/value.h"
#include "tests/dao_fixture.h"

namespace dao_test {
namespace {

using dao::DateTime;
using dao::Value;

// The error of reading `v` with the accessor of a field of type `type`.
long AccessorError(const Value& v, int type) {
  return ErrorOf([&] {
    switch (type) {
      case dao::dbBoolean:
        (void)v.AsBoolean();
        break;
      case dao::dbInteger:
        (void)v.AsInteger();
        break;
      case dao::dbLong:
        (void)v.AsLong();
        break;
      case dao::dbDouble:
        (void)v.AsDouble();
        break;
      case dao::dbDate:
        (void)v.AsDate();
        break;
      default:
        (void)v.AsText();
    }
  });
}

// The kind of value a field of type `type` holds.
Value::Kind KindOf(int type) {
  switch (type) {
    case dao::dbBoolean:
      return Value::Kind::kBoolean;
    case dao::dbInteger:
      return Value::Kind::kInteger;
    case dao::dbLong:
      return Value::Kind::kLong;
    case dao::dbDouble:
      return Value::Kind::kDouble;
    case dao::dbDate:
      return Value::Kind::kDate;
    default:
      return Value::Kind::kText;
  }
}

// Runs the statement row by row, or set-based where the engine may.
class SetBasedWrites {
 public:
  explicit SetBasedWrites(bool allowed) : saved_(dao::internal::SetBasedStatementWrites()) {
    dao::internal::SetBasedStatementWrites().allowed = allowed;
  }
  ~SetBasedWrites() { dao::internal::SetBasedStatementWrites() = saved_; }

 private:
  dao::internal::SetBasedWrites saved_;
};

class StoredValues : public DaoTest {
 protected:
  void SetUp() override {
    DaoTest::SetUp();
    Table("t", {{"i", dao::dbInteger},
                {"l", dao::dbLong},
                {"d", dao::dbDouble},
                {"b", dao::dbBoolean},
                {"dt", dao::dbDate},
                {"s", dao::dbText, 30},
                {"other", dao::dbText, 10}});
    Insert("t", {int16_t{1}, int32_t{1}, 1.5, true, "1/1/2006", "x", "o"});
  }

  int FieldIndex(const std::string& name) {
    dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
    for (int i = 0; i < rs.FieldCount(); ++i) {
      if (rs.Fields(i).Name() == name) return i;
    }
    ADD_FAILURE() << name;
    return 0;
  }

  // The stored value of column `column` of the row, as SQLite holds it.
  std::vector<std::string> Stored(const std::string& column) {
    return Query(mdb, "SELECT quote(" + column + "), typeof(" + column + ") FROM t");
  }
};

TEST_F(StoredValues, AreReadAsTheyAreWrittenBackUnchangedAndCopiedAsTheyAre) {
  struct Case {
    const char* column;
    int type;
    const char* stored;  // as another program writes it, in SQL
    Value read;
    const char* copied;  // what a copy into the text field writes
  };
  const std::vector<Case> cases = {
      // Values that fit their field, for comparison.
      {"i", dao::dbInteger, "12", Value(int16_t{12}), "12"},
      {"l", dao::dbLong, "-2147483648", Value(int32_t{-2147483647 - 1}), "-2147483648"},
      {"d", dao::dbDouble, "2.5", Value(2.5), "2.5"},
      {"d", dao::dbDouble, "7", Value(7.0), "7"},
      {"b", dao::dbBoolean, "1", Value(true), "True"},
      {"b", dao::dbBoolean, "0", Value(false), "False"},
      {"dt", dao::dbDate, "'2006-01-01 10:00:00'", Value(DateTime{2006, 1, 1, 10, 0, 0}),
       "1/1/2006 10:00:00 AM"},
      // Values that do not.
      {"i", dao::dbInteger, "70000", Value(int32_t{70000}), "70000"},
      {"i", dao::dbInteger, "-32769", Value(int32_t{-32769}), "-32769"},
      {"i", dao::dbInteger, "2.7", Value(2.7), "2.7"},
      {"i", dao::dbInteger, "'abc'", Value("abc"), "abc"},
      {"l", dao::dbLong, "3000000000", Value(3000000000.0), "3000000000"},
      {"l", dao::dbLong, "9007199254740993", Value("9007199254740993"), "9007199254740993"},
      {"l", dao::dbLong, "'abc'", Value("abc"), "abc"},
      {"l", dao::dbLong, "2.5", Value(2.5), "2.5"},
      {"d", dao::dbDouble, "'abc'", Value("abc"), "abc"},
      {"b", dao::dbBoolean, "'yes'", Value("yes"), "yes"},
      {"b", dao::dbBoolean, "5", Value(int32_t{5}), "5"},
      {"b", dao::dbBoolean, "-1", Value(int32_t{-1}), "-1"},
      {"dt", dao::dbDate, "'not a date'", Value("not a date"), "not a date"},
      {"dt", dao::dbDate, "'2006-02-30 00:00:00'", Value("2006-02-30 00:00:00"),
       "2006-02-30 00:00:00"},
      // A date, but not as the engine writes it: written back it would change.
      {"dt", dao::dbDate, "'2006-01-01'", Value("2006-01-01"), "2006-01-01"},
      {"dt", dao::dbDate, "38718", Value("38718"), "38718"},
  };
  for (bool set_based : {false, true}) {
    SetBasedWrites writes(set_based);
    const long set_based_before = dao::internal::SetBasedStatementWrites().statements;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.column) + " = " + c.stored + (set_based ? ", set-based" : ""));
      const std::string column = c.column;
      Sqlite(mdb, "UPDATE t SET " + column + " = " + c.stored + ", s = 'x', other = 'o'");
      const std::vector<std::string> stored = Stored(column);
      const int field = FieldIndex(column);

      // Read from a table-type and from a forward-only recordset.
      dao::Recordset rs = db.OpenRecordset("t", dao::dbOpenTable);
      const Value read = rs.Fields(field).GetValue();
      EXPECT_EQ(read, c.read);
      EXPECT_EQ(db.OpenRecordset("SELECT t." + column + " FROM t", dao::dbOpenForwardOnly)
                    .Fields(0)
                    .GetValue(),
                c.read);
      // Reading it as the field's type raises the engine's conversion error
      // where it does not fit.
      EXPECT_EQ(AccessorError(read, c.type),
                read.kind() == KindOf(c.type) ? 0L : long{dao::kErrConversion});

      // Editing only another field writes the value back as it was.
      rs.Edit();
      EXPECT_EQ(rs.Fields(field).GetValue(), c.read);
      rs.Fields("other").SetValue("edited");
      rs.Update();
      EXPECT_EQ(Query(mdb, "SELECT other FROM t"), std::vector<std::string>{"edited"});
      EXPECT_EQ(Stored(column), stored);

      // A copy into the text field writes the value as it is.
      db.Execute("UPDATE t SET t.s = t." + column + ";", dao::dbFailOnError);
      EXPECT_EQ(db.RecordsAffected(), 1);
      EXPECT_EQ(Query(mdb, "SELECT s, typeof(s) FROM t"),
                std::vector<std::string>{std::string(c.copied) + "|text"});
      EXPECT_EQ(Stored(column), stored);
    }
    // The copies of text went set-based where that was allowed.
    EXPECT_EQ(dao::internal::SetBasedStatementWrites().statements > set_based_before, set_based);
  }
}

// A copy into a field that cannot hold the stored value is refused with the
// conversion error and changes nothing; without dbFailOnError the row stays
// as it was.  Where it can, the value is stored as it was.
TEST_F(StoredValues, CopiesIntoATypedFieldConvertWhatIsStored) {
  struct Case {
    const char* target;
    const char* source;
    const char* stored;
    long error;
    const char* result;  // the target afterwards: quote() and typeof()
  };
  const std::vector<Case> cases = {
      {"i", "l", "70000", dao::kErrConversion, nullptr},
      {"l", "i", "70000", 0, "70000|integer"},
      {"l", "i", "2.5", 0, "2|integer"},  // the Long conversion rounds half to even
      {"l", "d", "'abc'", dao::kErrConversion, nullptr},
      {"d", "l", "3000000000", 0, "3000000000.0|real"},
      {"dt", "s", "'not a date'", dao::kErrConversion, nullptr},
      {"b", "s", "'yes'", 0, "1|integer"},
      {"b", "i", "'maybe'", dao::kErrConversion, nullptr},
  };
  for (bool set_based : {false, true}) {
    SetBasedWrites writes(set_based);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.target) + " = " + c.source + " holding " + c.stored +
                   (set_based ? ", set-based" : ""));
      Sqlite(mdb,
             "UPDATE t SET i = 1, l = 1, d = 1.5, b = 1, dt = '2006-01-01 00:00:00', "
             "s = 'x', other = 'o'");
      Sqlite(mdb, std::string("UPDATE t SET ") + c.source + " = " + c.stored);
      const std::vector<std::string> before = FileState(mdb);
      const std::string sql = std::string("UPDATE t SET t.") + c.target + " = t." + c.source + ";";
      EXPECT_EQ(ErrorOf([&] { db.Execute(sql, dao::dbFailOnError); }), c.error);
      if (c.error != 0) {
        EXPECT_EQ(FileState(mdb), before);
        EXPECT_EQ(ErrorOf([&] { db.Execute(sql); }), 0);
        EXPECT_EQ(db.RecordsAffected(), 0);
        EXPECT_EQ(FileState(mdb), before);
      } else {
        EXPECT_EQ(Stored(c.target), std::vector<std::string>{c.result});
      }
    }
  }
}

// A blob that another program stored is copied into a text field as that
// blob, byte for byte, whichever field holds it and however the statement
// is written; the field's rules apply to its bytes as to text (the NUL
// byte counts as one character); a field of another type converts the
// bytes as text.
TEST_F(StoredValues, ABlobIsCopiedIntoATextFieldAsTheBlob) {
  Table("short", {{"code", dao::dbText, 2}, {"n", dao::dbLong}, {"blob", dao::dbText, 10}});
  Insert("short", {"a", int32_t{1}, "x"});
  struct Case {
    const char* table;
    const char* target;
    const char* source;
    const char* stored;
    long error;
    const char* result;  // the target afterwards: hex() and typeof()
  };
  const std::vector<Case> cases = {
      {"t", "s", "other", "x'00FF41'", 0, "00FF41|blob"},
      {"t", "s", "i", "x'00FF41'", 0, "00FF41|blob"},
      {"t", "s", "dt", "x'414243'", 0, "414243|blob"},
      {"t", "s", "other", "x''", dao::kErrZeroLength, nullptr},
      {"short", "code", "blob", "x'00FF41'", dao::kErrFieldTooSmall, nullptr},
      {"short", "code", "blob", "x'00FF'", 0, "00FF|blob"},
      {"short", "n", "blob", "x'3132'", 0, "3132|integer"},
  };
  for (bool set_based : {false, true}) {
    SetBasedWrites writes(set_based);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.table) + "." + c.target + " = " + c.source + " holding " +
                   c.stored + (set_based ? ", set-based" : ""));
      const std::string table = c.table;
      Sqlite(mdb, "UPDATE " + table + " SET " + c.source + " = " + c.stored);
      const std::vector<std::string> before = FileState(mdb);
      const std::string sql = "UPDATE " + table + " SET " + table + "." + c.target + " = " + table +
                              "." + c.source + ";";
      EXPECT_EQ(ErrorOf([&] { db.Execute(sql, dao::dbFailOnError); }), c.error);
      if (c.error != 0) {
        EXPECT_EQ(FileState(mdb), before);
      } else {
        EXPECT_EQ(Query(mdb, "SELECT hex(" + std::string(c.target) + "), typeof(" + c.target +
                                 ") FROM " + table),
                  std::vector<std::string>{c.result});
        // Except where converted, the source and the copy are one value.
        if (std::string(c.result).ends_with("|blob")) {
          EXPECT_EQ(
              Query(mdb, "SELECT " + std::string(c.target) + " IS " + c.source + " FROM " + table),
              std::vector<std::string>{"1"});
        }
      }
      Sqlite(mdb,
             "UPDATE t SET i = 1, l = 1, d = 1.5, b = 1, dt = '2006-01-01 00:00:00', s = 'x', "
             "other = 'o'; UPDATE short SET code = 'a', n = 1, blob = 'x'");
    }
  }
}

// What no field holds is refused when it is assigned: not-a-number (which
// SQLite would store as Null, past the Required check), infinity and a text
// number too large for a Double; text longer than the field also where it is
// not UTF-8, each stray byte counting as a character.
TEST_F(StoredValues, WhatNoFieldHoldsIsRefusedAtAssignment) {
  Table("r", {{"d", dao::dbDouble}, {"code", dao::dbText, 4}});
  db.TableDefs().Item("r").Fields().Item("d").SetRequired(true);
  struct Case {
    const char* field;
    Value value;
    long error;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {"d", Value(nan), dao::kErrConversion},
      {"d", Value(-nan), dao::kErrConversion},
      {"d", Value(inf), dao::kErrConversion},
      {"d", Value(-inf), dao::kErrConversion},
      {"d", Value("1e400"), dao::kErrConversion},
      {"d", Value("-1e400"), dao::kErrConversion},
      {"d", Value("1.5"), 0},
      {"code", Value(std::string(8, '\x80')), dao::kErrFieldTooSmall},
      {"code", Value("\xE9t\xE9s\xE9"), dao::kErrFieldTooSmall},            // Latin-1, 5 bytes
      {"code", Value("\xC3\xA9t\xC3\xA9s\xC3"), dao::kErrFieldTooSmall},    // cut short
      {"code", Value("\xC0\xAF\xC0\xAF"), 0},                               // overlong: 4 bytes
      {"code", Value("\xED\xA0\x80\xED\xA0\x80"), dao::kErrFieldTooSmall},  // surrogates
      {"code", Value("\xF0\x9F\x94\xA5\xC3\xA9t\xC3\xA9"), 0},              // 4 characters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " = " + c.value.ToString());
    dao::Recordset rs = db.OpenRecordset("r", dao::dbOpenTable);
    rs.AddNew();
    if (std::string(c.field) == "code") rs.Fields("d").SetValue(1.0);
    EXPECT_EQ(ErrorOf([&] { rs.Fields(c.field).SetValue(c.value); }), c.error);
    // A refused not-a-number leaves the required field Null: refused too.
    if (c.error != 0 && std::string(c.field) == "d") {
      EXPECT_EQ(ErrorOf([&] { rs.Update(); }), dao::kErrFieldRequired);
    }
    rs.CancelUpdate();
  }
  EXPECT_EQ(Query(mdb, "SELECT count(*) FROM r"), std::vector<std::string>{"0"});
  // A statement's literal is refused the same way.
  Insert("r", {1.0, "a"});
  EXPECT_EQ(ErrorOf([&] { db.Execute("UPDATE r SET r.d = '1e400';", dao::dbFailOnError); }),
            dao::kErrConversion);
  EXPECT_EQ(Query(mdb, "SELECT quote(d) FROM r"), std::vector<std::string>{"1.0"});
}

}  // namespace
}  // namespace dao_test
