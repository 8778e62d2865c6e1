// Small text helpers shared by the layers.

#ifndef KAV_PLATFORM_TEXT_H_
#define KAV_PLATFORM_TEXT_H_

#include <string>

namespace kav {

// Compares without regard to letter case, folding ASCII letters only, as the
// records system's names and stored keys are compared.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

// The text with each line feed written as "\n" and each carriage return as
// "\r", so that it fits on one line of a trace.
std::string EscapeLineBreaks(const std::string& text);

}  // namespace kav

#endif  // KAV_PLATFORM_TEXT_H_
