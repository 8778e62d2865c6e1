// Names, quoting and the length of text as the engine counts it.

#include "platform/dao/internal/names.h"

#include <string>

#include "platform/text.h"

namespace dao::internal {

bool SameName(const std::string& a, const std::string& b) { return kav::EqualsIgnoringCase(a, b); }

std::string QuoteName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0 where none
// begins there (a stray continuation byte, a sequence cut short, an overlong
// form, a surrogate, a code point beyond U+10FFFF).
size_t SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) -> unsigned {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
  const unsigned b0 = byte(0);
  if (b0 < 0x80) return 1;
  if (in(b0, 0xC2, 0xDF)) return in(byte(1), 0x80, 0xBF) ? 2 : 0;
  if (in(b0, 0xE0, 0xEF)) {
    const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
    return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
  }
  if (in(b0, 0xF0, 0xF4)) {
    const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
    return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

}  // namespace

// Each well-formed UTF-8 sequence counts as one character, and each byte
// that begins none counts as one of its own, as a decoder that puts a
// replacement character in its place counts it: no byte goes uncounted.
long CharacterCount(const std::string& utf8) {
  long n = 0;
  for (size_t i = 0; i < utf8.size(); ++n) {
    const size_t length = SequenceLength(utf8, i);
    i += length == 0 ? 1 : length;
  }
  return n;
}

}  // namespace dao::internal
