// Names and text for SQLite: comparing names, quoting names and text, and
// counting the characters of UTF-8 text.

#ifndef KAV_PLATFORM_DAO_INTERNAL_NAMES_H_
#define KAV_PLATFORM_DAO_INTERNAL_NAMES_H_

#include <string>

namespace dao::internal {

// Whether two names of tables, fields, indexes or relations are the same
// (kav::EqualsIgnoringCase).
bool SameName(const std::string& a, const std::string& b);
std::string QuoteName(const std::string& name);  // "name" for SQLite
std::string QuoteText(const std::string& text);  // 'text' for SQLite
// The characters of UTF-8 text.
long CharacterCount(const std::string& utf8);

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_NAMES_H_
