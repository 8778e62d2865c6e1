// Pieces every stage's statement texts share, written in one place: a
// quoted code and a list of quoted codes.  No code of any stage holds a
// quote, so nothing is escaped.

#ifndef KAV_STAGES_STATEMENT_TEXT_H_
#define KAV_STAGES_STATEMENT_TEXT_H_

#include <string>
#include <vector>

namespace kav::stages {

// The code in single quotes: 'S-381'.
std::string Quoted(const std::string& code);

// The codes as the statements' lists write them: in parentheses, each code
// quoted, separated by a comma alone: ('S-481','S-481Old').  A blank
// follows the comma after each code of `blank_after`, as a few stored
// texts have it; the blanks lie outside the quotes and change nothing in
// what the statement selects.
std::string QuotedCodeList(const std::vector<std::string>& codes,
                           const std::vector<std::string>& blank_after = {});

}  // namespace kav::stages

#endif  // KAV_STAGES_STATEMENT_TEXT_H_
