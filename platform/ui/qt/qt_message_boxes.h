// Message boxes and the mouse pointer on Qt 6 Widgets.

#ifndef KAV_PLATFORM_UI_QT_QT_MESSAGE_BOXES_H_
#define KAV_PLATFORM_UI_QT_QT_MESSAGE_BOXES_H_

#include "platform/ui/message_box.h"

namespace ui {

class QtMessageBoxes : public MessageBoxes {
 public:
  // Installs itself; the destructor puts back the backend it replaced.
  QtMessageBoxes();
  ~QtMessageBoxes() override;

  int Show(const std::string& prompt, int style, const std::string& title) override;
  void SetMousePointer(int pointer) override;

 private:
  MessageBoxes* previous_;
  bool waiting_ = false;
};

}  // namespace ui

#endif  // KAV_PLATFORM_UI_QT_QT_MESSAGE_BOXES_H_
