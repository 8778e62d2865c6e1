// The one error type of the tool's layers.
//
// An Error carries what the records system's runtime reported for a failing
// operation: a number, a description and the name of its source.  The
// database engine layer raises it for every failing engine call; the windowing
// layer raises it when a window or box cannot be shown; the update routines
// raise it with their own numbers (55555 from ChangeFieldType).  Callers catch
// it only where a rule says what happens next.

#ifndef KAV_PLATFORM_ERROR_H_
#define KAV_PLATFORM_ERROR_H_

#include <exception>
#include <string>
#include <utility>

namespace kav {

class Error : public std::exception {
 public:
  Error(long number, std::string description, std::string source = {})
      : number_(number), description_(std::move(description)), source_(std::move(source)) {}

  long number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }

  const char* what() const noexcept override { return description_.c_str(); }

 private:
  long number_;
  std::string description_;
  std::string source_;
};

// The number as the runtime's Str formats it: one leading blank for zero or
// more, the minus sign in that place for a negative number.
std::string StrNumber(long number);

// The text every error box of the tool shows: Str(number), "  :  ", and the
// description.  With no error pending it reads " 0  :  ".
std::string ErrorBoxText(long number, const std::string& description);

}  // namespace kav

#endif  // KAV_PLATFORM_ERROR_H_
