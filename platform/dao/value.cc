// Values and their conversion to a field's type.
//
// Dates convert to and from numbers as serial days counted from 30 December
// 1899, with the time as the fraction of the day, as the records system's
// runtime counts them.  Text dates are month/day/year whatever the user's
// locale, so the update's fixed texts ("1/1/2006") mean one date everywhere.
// Numbers, too, are read and written the same whatever the user's locale
// (std::from_chars and std::to_chars, not strtod and printf's "%g", which
// follow LC_NUMERIC, which the windowed tool sets from the environment):
// "1.5" is one and a half, 2.25 is written "2.25".

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <system_error>

#include "platform/dao/internal/errors.h"
#include "platform/dao/value.h"
#include "platform/text.h"

namespace dao {
namespace {

// ASCII classes, whatever the locale.
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool Valid(const DateTime& d) {
  return d.year >= 100 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 &&
         d.minute <= 59 && d.second >= 0 && d.second <= 59;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kSerialEpoch = DaysFromCivil(1899, 12, 30);

double ToSerial(const DateTime& d) {
  const double days = static_cast<double>(DaysFromCivil(d.year, d.month, d.day) - kSerialEpoch);
  const double time = (d.hour * 3600 + d.minute * 60 + d.second) / 86400.0;
  // A date before the epoch counts its time away from zero, as the runtime does.
  return days < 0 ? days - time : days + time;
}

std::optional<DateTime> FromSerial(double serial) {
  if (!std::isfinite(serial) || serial < -657434.0 || serial > 2958465.999999) {
    return std::nullopt;
  }
  double whole = std::trunc(serial);
  double fraction = std::fabs(serial - whole);
  long seconds = std::lround(fraction * 86400.0);
  if (seconds >= 86400) {
    seconds = 0;
    whole += serial < 0 ? -1 : 1;
  }
  DateTime d;
  CivilFromDays(static_cast<int64_t>(whole) + kSerialEpoch, d.year, d.month, d.day);
  d.hour = static_cast<int>(seconds / 3600);
  d.minute = static_cast<int>(seconds / 60 % 60);
  d.second = static_cast<int>(seconds % 60);
  if (!Valid(d)) return std::nullopt;
  return d;
}

// Reads digits at text[i...]; false when there are none or too many.
bool ReadNumber(const std::string& text, size_t& i, int& out, size_t max_digits) {
  size_t start = i;
  long value = 0;
  while (i < text.size() && IsDigit(text[i])) {
    value = value * 10 + (text[i] - '0');
    ++i;
    if (i - start > max_digits) return false;
  }
  if (i == start) return false;
  out = static_cast<int>(value);
  return true;
}

void SkipBlanks(const std::string& text, size_t& i) {
  while (i < text.size() && text[i] == ' ') ++i;
}

// "h:mm[:ss] [AM|PM]" from text[i...] to the end.
bool ParseTime(const std::string& text, size_t i, DateTime& d) {
  SkipBlanks(text, i);
  if (i == text.size()) return true;
  if (!ReadNumber(text, i, d.hour, 2) || i >= text.size() || text[i] != ':') {
    return false;
  }
  ++i;
  if (!ReadNumber(text, i, d.minute, 2)) return false;
  if (i < text.size() && text[i] == ':') {
    ++i;
    if (!ReadNumber(text, i, d.second, 2)) return false;
  }
  SkipBlanks(text, i);
  if (i < text.size()) {
    std::string rest = kav::FoldCase(text.substr(i));
    while (!rest.empty() && rest.back() == ' ') rest.pop_back();
    if (rest != "am" && rest != "pm") return false;
    if (d.hour < 1 || d.hour > 12) return false;
    if (rest == "am" && d.hour == 12) d.hour = 0;
    if (rest == "pm" && d.hour != 12) d.hour += 12;
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// A number written as text: optional sign, digits with an optional decimal
// point, an optional exponent; blanks around it.  A number too large for a
// Double is none ("1e400"); one too small to tell from zero is zero.
std::optional<double> ParseNumber(const std::string& text) {
  const std::string t = Trimmed(text);
  if (t.empty()) return std::nullopt;
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  // The power of ten of the first digit that is not zero, less the
  // exponent: to tell an overflow from an underflow.
  long magnitude = 0;
  bool digits = false, nonzero = false;
  for (; i < t.size() && IsDigit(t[i]); ++i, digits = true) {
    if (nonzero) {
      ++magnitude;
    } else if (t[i] != '0') {
      nonzero = true;
    }
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && IsDigit(t[i]); ++i, digits = true) {
      if (!nonzero) {
        --magnitude;
        if (t[i] != '0') nonzero = true;
      }
    }
  }
  if (!digits) return std::nullopt;
  long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    const bool negative = i < t.size() && t[i] == '-';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    bool exp_digits = false;
    for (; i < t.size() && IsDigit(t[i]); ++i, exp_digits = true) {
      if (exponent < 100000) exponent = exponent * 10 + (t[i] - '0');
    }
    if (!exp_digits) return std::nullopt;
    if (negative) exponent = -exponent;
  }
  if (i != t.size()) return std::nullopt;
  // from_chars takes no '+'.
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  double d = 0;
  const std::from_chars_result r = std::from_chars(first, t.data() + t.size(), d);
  if (r.ec == std::errc::result_out_of_range) {
    if (magnitude + exponent > 0) return std::nullopt;
    return t[0] == '-' ? -0.0 : 0.0;
  }
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return d;
}

// `d` in at most 15 significant digits, fixed or with an exponent as
// printf's "%.15g" chooses, but the exponent written with a capital E, its
// sign and no leading zeros: 1E+20, 1.5E-7, 1E-5 (where %.15g writes 1e-05).
std::string DoubleText(double d) {
  char buf[40];
  const std::to_chars_result r =
      std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  size_t e = s.find('e');
  if (e != std::string::npos) {
    s[e] = 'E';
    size_t digit = e + 2;
    while (digit + 1 < s.size() && s[digit] == '0') s.erase(digit, 1);
  }
  return s;
}

[[noreturn]] void ConversionError(const Value& value, int type) {
  static const char* const kNames[] = {"", "Yes/No", "",          "Integer", "Long Integer", "",
                                       "", "Double", "Date/Time", "",        "Text"};
  const char* name = type >= 1 && type <= 10 ? kNames[type] : "";
  internal::Raise(kErrConversion, "The value '" + value.ToString() + "' cannot be converted to a " +
                                      name + " value.");
}

// Rounds half to even, as the runtime's integer conversions do.
double RoundHalfEven(double d) {
  double r = std::nearbyint(d);  // default rounding mode: to nearest, ties even
  return r;
}

std::optional<double> NumberOf(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kBoolean:
      return value.AsBoolean() ? -1.0 : 0.0;
    case Value::Kind::kInteger:
      return value.AsInteger();
    case Value::Kind::kLong:
      return value.AsLong();
    case Value::Kind::kDouble:
      // Not-a-number and infinity are no number of a field: a Double field
      // would store not-a-number as Null, past the Required check.
      if (!std::isfinite(value.AsDouble())) return std::nullopt;
      return value.AsDouble();
    case Value::Kind::kDate:
      return ToSerial(value.AsDate());
    case Value::Kind::kText:
      return ParseNumber(value.AsText());
    case Value::Kind::kNull:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::string DateTime::ToIso() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return buf;
}

std::optional<DateTime> DateTime::FromIso(const std::string& text) {
  DateTime d;
  size_t i = 0;
  if (!ReadNumber(text, i, d.year, 4) || i != 4 || i >= text.size() || text[i] != '-') {
    return std::nullopt;
  }
  ++i;
  if (!ReadNumber(text, i, d.month, 2) || i >= text.size() || text[i] != '-') {
    return std::nullopt;
  }
  ++i;
  if (!ReadNumber(text, i, d.day, 2)) return std::nullopt;
  d.hour = d.minute = d.second = 0;
  if (i < text.size()) {
    if (text[i] != ' ' && text[i] != 'T') return std::nullopt;
    ++i;
    if (!ReadNumber(text, i, d.hour, 2) || i >= text.size() || text[i] != ':') {
      return std::nullopt;
    }
    ++i;
    if (!ReadNumber(text, i, d.minute, 2)) return std::nullopt;
    if (i < text.size() && text[i] == ':') {
      ++i;
      if (!ReadNumber(text, i, d.second, 2)) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
  }
  if (!Valid(d)) return std::nullopt;
  return d;
}

std::optional<DateTime> DateTime::Parse(const std::string& raw) {
  const std::string text = Trimmed(raw);
  if (text.size() >= 10 && text[4] == '-') return FromIso(text);
  DateTime d;
  size_t i = 0;
  if (!ReadNumber(text, i, d.month, 2) || i >= text.size() || text[i] != '/') {
    return std::nullopt;
  }
  ++i;
  if (!ReadNumber(text, i, d.day, 2) || i >= text.size() || text[i] != '/') {
    return std::nullopt;
  }
  ++i;
  size_t year_start = i;
  if (!ReadNumber(text, i, d.year, 4)) return std::nullopt;
  if (i - year_start <= 2) d.year += d.year < 30 ? 2000 : 1900;
  d.hour = d.minute = d.second = 0;
  if (i < text.size() && text[i] != ' ') return std::nullopt;
  if (!ParseTime(text, i, d)) return std::nullopt;
  if (!Valid(d)) return std::nullopt;
  return d;
}

DateTime DateTime::Now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  DateTime d;
  d.year = tm.tm_year + 1900;
  d.month = tm.tm_mon + 1;
  d.day = tm.tm_mday;
  d.hour = tm.tm_hour;
  d.minute = tm.tm_min;
  d.second = tm.tm_sec;
  return d;
}

std::string Value::ToString() const {
  switch (kind()) {
    case Kind::kNull:
      return "";
    case Kind::kBoolean:
      return AsBoolean() ? "True" : "False";
    case Kind::kInteger:
      return std::to_string(AsInteger());
    case Kind::kLong:
      return std::to_string(AsLong());
    case Kind::kDouble:
      return DoubleText(AsDouble());
    case Kind::kText:
      return AsText();
    case Kind::kDate: {
      const DateTime& d = AsDate();
      std::string s =
          std::to_string(d.month) + "/" + std::to_string(d.day) + "/" + std::to_string(d.year);
      if (d.hour != 0 || d.minute != 0 || d.second != 0) {
        char buf[24];
        int h = d.hour % 12 == 0 ? 12 : d.hour % 12;
        std::snprintf(buf, sizeof buf, " %d:%02d:%02d %s", h, d.minute, d.second,
                      d.hour < 12 ? "AM" : "PM");
        s += buf;
      }
      return s;
    }
  }
  return "";
}

void Value::RaiseNotOfKind(Kind kind) const {
  static const char* const kNames[] = {"Null",   "Yes/No", "Integer",  "Long Integer",
                                       "Double", "Text",   "Date/Time"};
  internal::Raise(kErrConversion, "The value '" + ToString() + "' is not a " +
                                      kNames[static_cast<int>(kind)] + " value.");
}

Value ConvertToFieldType(const Value& value, int type) {
  if (value.IsNull()) return value;
  // The empty text stands for "no value" in every field but a text field.
  if (type != dbText && value.kind() == Value::Kind::kText && value.AsText().empty()) {
    return Value();
  }
  switch (type) {
    case dbText:
      return Value(value.ToString());
    case dbBoolean: {
      if (value.kind() == Value::Kind::kBoolean) return value;
      if (value.kind() == Value::Kind::kText) {
        const std::string t = kav::FoldCase(Trimmed(value.AsText()));
        if (t == "true" || t == "yes" || t == "on") return Value(true);
        if (t == "false" || t == "no" || t == "off") return Value(false);
      }
      std::optional<double> n = NumberOf(value);
      if (!n) ConversionError(value, type);
      return Value(*n != 0.0);
    }
    case dbInteger:
    case dbLong: {
      std::optional<double> n = NumberOf(value);
      if (!n) ConversionError(value, type);
      const double r = RoundHalfEven(*n);
      const double lo = type == dbInteger ? -32768.0 : -2147483648.0;
      const double hi = type == dbInteger ? 32767.0 : 2147483647.0;
      if (!(r >= lo && r <= hi)) ConversionError(value, type);
      if (type == dbInteger) return Value(static_cast<int16_t>(r));
      return Value(static_cast<int32_t>(r));
    }
    case dbDouble: {
      std::optional<double> n = NumberOf(value);
      if (!n) ConversionError(value, type);
      return Value(*n);
    }
    case dbDate: {
      if (value.kind() == Value::Kind::kDate) return value;
      if (value.kind() == Value::Kind::kText) {
        std::optional<DateTime> d = DateTime::Parse(value.AsText());
        if (!d) ConversionError(value, type);
        return Value(*d);
      }
      if (value.kind() == Value::Kind::kBoolean) ConversionError(value, type);
      std::optional<double> n = NumberOf(value);
      std::optional<DateTime> d = n ? FromSerial(*n) : std::nullopt;
      if (!d) ConversionError(value, type);
      return Value(*d);
    }
    default:
      internal::Raise(internal::kErrBadFieldType,
                      "The field type " + std::to_string(type) + " is not known.");
  }
}

}  // namespace dao
