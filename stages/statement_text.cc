#include "stages/statement_text.h"

#include <algorithm>

namespace kav::stages {

std::string Quoted(const std::string& code) { return "'" + code + "'"; }

std::string QuotedCodeList(const std::vector<std::string>& codes,
                           const std::vector<std::string>& blank_after) {
  std::string list = "(";
  for (size_t i = 0; i < codes.size(); ++i) {
    if (i > 0) {
      list += ',';
      if (std::find(blank_after.begin(), blank_after.end(), codes[i - 1]) != blank_after.end()) {
        list += ' ';
      }
    }
    list += Quoted(codes[i]);
  }
  return list + ")";
}

}  // namespace kav::stages
