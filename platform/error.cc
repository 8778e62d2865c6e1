#include "platform/error.h"

namespace kav {

std::string StrNumber(long number) {
  return number < 0 ? std::to_string(number) : " " + std::to_string(number);
}

std::string ErrorBoxText(long number, const std::string& description) {
  return StrNumber(number) + "  :  " + description;
}

}  // namespace kav
