// Small text helpers shared by the layers.

#ifndef KAV_PLATFORM_TEXT_H_
#define KAV_PLATFORM_TEXT_H_

#include <string>
#include <string_view>

namespace kav {

// The one case folding of the tool: ASCII letters fold to lower case, and
// every other byte stays as it is, the bytes of non-ASCII letters included,
// whatever the locale ('fuma' matches 'FUMA', 'é' does not match 'É').
// Every comparison that ignores letter case goes through these, as SQLite's
// NOCASE collation, which the engine's keys use, folds the same letters.
char FoldCase(char c);
std::string FoldCase(std::string text);

// Compares without regard to letter case, folding ASCII letters only, as the
// records system's names and stored keys are compared.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// The text with each line feed written as "\n" and each carriage return as
// "\r", so that it fits on one line of a trace.
std::string EscapeLineBreaks(const std::string& text);

}  // namespace kav

#endif  // KAV_PLATFORM_TEXT_H_
