// Test support: a piece of a test run in a child process, so that code that
// blocks for ever or takes memory without end fails the test instead of
// stopping or exhausting the test run.

#ifndef KAV_TESTS_SUPPORT_CHILD_PROCESS_H_
#define KAV_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <functional>
#include <string>

namespace kav::testing {

struct ChildOutcome {
  // Whether the body returned within its time; else `output` says how the
  // child ended.
  bool finished = false;
  // What the body returned, or the description of what it threw.
  std::string output;
};

// Runs `body` in a child process that is killed after `seconds` and whose
// address space may grow by `memory_mib` only (no limit under
// AddressSanitizer, which maps terabytes of shadow memory).  An exception
// the body lets out is reported as "threw: " and its description; an
// allocation that fails ends the child at once, as "ran out of memory".
ChildOutcome RunInChild(const std::function<std::string()>& body, unsigned seconds,
                        unsigned memory_mib = 512);

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_CHILD_PROCESS_H_
