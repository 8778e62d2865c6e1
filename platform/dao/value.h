// Values that flow through the engine layer.
//
// A Value is Null or one of the engine's scalar kinds: Boolean, 16-bit or
// 32-bit integer, double, text (UTF-8) or date/time.  Values are converted to
// a column's type when they are assigned to a field or bound into a
// statement; ConvertToFieldType below is that one conversion.

#ifndef KAV_PLATFORM_DAO_VALUE_H_
#define KAV_PLATFORM_DAO_VALUE_H_

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace dao {

// Field types, with the engine's constant values.
enum DataType : int {
  dbBoolean = 1,
  dbInteger = 3,  // 16-bit signed
  dbLong = 4,     // 32-bit signed
  dbDouble = 7,
  dbDate = 8,
  dbText = 10,
};

struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  auto operator<=>(const DateTime&) const = default;

  // "2006-01-01 00:00:00", the form stored in a database file.
  std::string ToIso() const;
  static std::optional<DateTime> FromIso(const std::string& text);
  // Month/day/year text with optional time ("1/1/2006", "12/31/2005 2:05:09 PM",
  // "3/15/2006 14:05"), read the same whatever the user's locale; ISO text
  // ("2006-01-01", "2006-01-01 10:00:00") is accepted too.
  static std::optional<DateTime> Parse(const std::string& text);
  // The current local date and time, to the second.
  static DateTime Now();
};

class Value {
 public:
  enum class Kind { kNull, kBoolean, kInteger, kLong, kDouble, kText, kDate };

  Value() = default;  // Null
  Value(bool b) : v_(b) {}
  Value(int16_t i) : v_(i) {}
  Value(int32_t i) : v_(i) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(DateTime d) : v_(d) {}

  static Value Null() { return Value(); }

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return kind() == Kind::kNull; }

  // Accessors; each requires the matching kind and raises Error 3421 for a
  // value of another kind, such as a stored value that does not fit its
  // field and is read as it is (see Statement::ReadValue): 70000 read from
  // an Integer field is a Long, text read from a Date field is Text.
  bool AsBoolean() const { return Get<bool>(Kind::kBoolean); }
  int16_t AsInteger() const { return Get<int16_t>(Kind::kInteger); }
  int32_t AsLong() const { return Get<int32_t>(Kind::kLong); }
  double AsDouble() const { return Get<double>(Kind::kDouble); }
  const std::string& AsText() const { return Get<std::string>(Kind::kText); }
  const DateTime& AsDate() const { return Get<DateTime>(Kind::kDate); }

  // Any value as display text: "" for Null, digits for numbers, "True" /
  // "False", month/day/year for dates (with the time when it is not midnight).
  std::string ToString() const;

  bool operator==(const Value&) const = default;

 private:
  template <class T>
  const T& Get(Kind kind) const {
    if (const T* v = std::get_if<T>(&v_)) return *v;
    RaiseNotOfKind(kind);
  }
  [[noreturn]] void RaiseNotOfKind(Kind kind) const;

  std::variant<std::monostate, bool, int16_t, int32_t, double, std::string, DateTime> v_;
};

// Converts `value` to a field of type `type`: text to a number or a date
// (empty text becomes Null for every type but text), numbers to text as their
// digits, and so on.  Raises Error 3421 when the value cannot be converted,
// and for not-a-number, infinity and text numbers beyond a Double's range
// ("1e400") to any type but text.  Numbers are read and written the same in
// every locale ("1.5", "2.25").
// Size and zero-length rules are the caller's; this is the type step only.
Value ConvertToFieldType(const Value& value, int type);

}  // namespace dao

#endif  // KAV_PLATFORM_DAO_VALUE_H_
