// The update run in this process as the suites that check its outcome run
// it: with scripted boxes, read back as the prompts they showed.

#ifndef KAV_TESTS_SUPPORT_RUNS_H_
#define KAV_TESTS_SUPPORT_RUNS_H_

#include <string>
#include <vector>

#include "platform/ui/scripted_message_boxes.h"

namespace kav::testing {

// The prompt of each box, in the order they were shown.
std::vector<std::string> Prompts(const std::vector<ui::ShownBox>& boxes);

// Runs the update on `mdb` in this process and returns the prompts of its
// boxes.  The database objects it leaves open stay open, as in the running
// tool (CloseDriverDatabase closes them).
std::vector<std::string> RunHere(const std::string& mdb);

}  // namespace kav::testing

#endif  // KAV_TESTS_SUPPORT_RUNS_H_
