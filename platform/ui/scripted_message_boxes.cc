#include "platform/ui/scripted_message_boxes.h"

namespace ui {

ScriptedMessageBoxes::ScriptedMessageBoxes()
    : previous_(SetMessageBoxes(this)), pointer_(MousePointer()) {}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { SetMessageBoxes(previous_); }

int ScriptedMessageBoxes::Show(const std::string& prompt, int style, const std::string& title) {
  ShownBox box{prompt, style, title, pointer_};
  if (on_show) on_show(box);
  boxes_.push_back(box);
  if (after_show) after_show(box);
  if (!answers_.empty()) {
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  return (style & 7) == vbYesNo ? vbYes : vbOK;
}

void ScriptedMessageBoxes::SetMousePointer(int pointer) { pointer_ = pointer; }

}  // namespace ui
