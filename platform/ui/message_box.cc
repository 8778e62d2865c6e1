#include "platform/ui/message_box.h"

#include "platform/error.h"

namespace ui {

namespace {
MessageBoxes* g_boxes = nullptr;
int g_pointer = vbDefault;
}  // namespace

MessageBoxes* SetMessageBoxes(MessageBoxes* boxes) {
  MessageBoxes* old = g_boxes;
  g_boxes = boxes;
  return old;
}

int MsgBox(const std::string& prompt, int style, const std::string& title) {
  if (g_boxes == nullptr) {
    throw kav::Error(5, "Cannot show a message box: no window system", "KAV");
  }
  return g_boxes->Show(prompt, style, title);
}

void SetMousePointer(int pointer) {
  g_pointer = pointer;
  if (g_boxes != nullptr) g_boxes->SetMousePointer(pointer);
}

int MousePointer() { return g_pointer; }

}  // namespace ui
