#include "tests/support/runs.h"

#include "update/update.h"

namespace kav::testing {

std::vector<std::string> Prompts(const std::vector<ui::ShownBox>& boxes) {
  std::vector<std::string> out;
  for (const ui::ShownBox& box : boxes) out.push_back(box.prompt);
  return out;
}

std::vector<std::string> RunHere(const std::string& mdb) {
  ui::ScriptedMessageBoxes boxes;
  RunDatabaseUpdate(mdb);
  return Prompts(boxes.boxes());
}

}  // namespace kav::testing
