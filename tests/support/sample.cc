#include "tests/support/sample.h"

#include "platform/error.h"

namespace kav::testing {

void WriteSampleDatabase(const std::string&, const SampleOptions&) {
  throw kav::Error(3000, "The sample database is not built yet", "sample");
}

}  // namespace kav::testing
