// Small text helpers shared by the layers.

#ifndef KAV_PLATFORM_TEXT_H_
#define KAV_PLATFORM_TEXT_H_

#include <string>
#include <string_view>

namespace kav {

// The one case folding of the tool.  Text compares without regard to letter
// case wherever the records system compares it, as its names and stored keys
// expect: the names of tables, fields, indexes and relations, unique keys,
// related keys, WHERE comparisons, file names and registry keys.  ASCII
// letters fold to lower case, and every other byte stays as it is, the bytes
// of non-ASCII letters included, whatever the locale ('fuma' matches 'FUMA',
// 'é' does not match 'É').  Comparisons in the tool go through these;
// comparisons in the file use SQLite's NOCASE collation, which folds the
// same letters.
char FoldCase(char c);
std::string FoldCase(std::string text);

// Whether `a` and `b` are the same text after FoldCase.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The text with each line feed written as "\n" and each carriage return as
// "\r", so that it fits on one line of a trace.
std::string EscapeLineBreaks(const std::string& text);

}  // namespace kav

#endif  // KAV_PLATFORM_TEXT_H_
