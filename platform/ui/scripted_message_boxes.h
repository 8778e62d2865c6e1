// A message-box backend that shows nothing: it records every box with the
// mouse pointer that stood when it was shown, and answers from a script.

#ifndef KAV_PLATFORM_UI_SCRIPTED_MESSAGE_BOXES_H_
#define KAV_PLATFORM_UI_SCRIPTED_MESSAGE_BOXES_H_

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/message_box.h"

namespace ui {

struct ShownBox {
  std::string prompt;
  int style = 0;
  std::string title;
  int pointer = vbDefault;  // the mouse pointer while the box was shown
  bool operator==(const ShownBox&) const = default;
};

class ScriptedMessageBoxes : public MessageBoxes {
 public:
  // Installs itself; the destructor puts back the backend it replaced.
  ScriptedMessageBoxes();
  ~ScriptedMessageBoxes() override;
  ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
  ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

  // Answers for the next boxes, in order.  When the script is empty a box
  // answers Yes if it has Yes/No buttons and OK otherwise.
  void Answer(int button) { answers_.push_back(button); }
  // Called for every box before it is recorded; may throw kav::Error to
  // make the box fail, as a box that cannot be shown does.
  std::function<void(const ShownBox&)> on_show;
  // Called for every box after it is recorded.
  std::function<void(const ShownBox&)> after_show;

  const std::vector<ShownBox>& boxes() const { return boxes_; }
  void Clear() { boxes_.clear(); }

  int Show(const std::string& prompt, int style, const std::string& title) override;
  void SetMousePointer(int pointer) override;
  int pointer() const { return pointer_; }

 private:
  MessageBoxes* previous_;
  std::deque<int> answers_;
  std::vector<ShownBox> boxes_;
  int pointer_ = vbDefault;
};

}  // namespace ui

#endif  // KAV_PLATFORM_UI_SCRIPTED_MESSAGE_BOXES_H_
