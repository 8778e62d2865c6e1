// Modal message boxes and the mouse pointer, as the tool's code calls them.
//
// MsgBox and SetMousePointer go to the installed backend: the Qt backend in
// the product, ScriptedMessageBoxes in tests and in the headless runner.
// With no backend installed MsgBox raises kav::Error, as a box that cannot be
// shown does.

#ifndef KAV_PLATFORM_UI_MESSAGE_BOX_H_
#define KAV_PLATFORM_UI_MESSAGE_BOX_H_

#include <string>

namespace ui {

// Style values: buttons plus icon.
enum : int {
  vbOKOnly = 0,
  vbYesNo = 4,
  vbCritical = 16,
  vbInformation = 64,
};
// Buttons a box returns.
enum : int { vbOK = 1, vbYes = 6, vbNo = 7 };
// Mouse pointers.
enum : int { vbDefault = 0, vbHourglass = 11 };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows a modal box and returns the button pressed.  An empty title shows
  // the application's name.  May raise kav::Error when the box cannot be
  // shown.
  virtual int Show(const std::string& prompt, int style, const std::string& title) = 0;
  virtual void SetMousePointer(int pointer) = 0;
};

// Installs `boxes` (nullptr removes it); returns the one it replaces.
MessageBoxes* SetMessageBoxes(MessageBoxes* boxes);

int MsgBox(const std::string& prompt, int style = vbOKOnly,
           const std::string& title = std::string());

// Screen.MousePointer.
void SetMousePointer(int pointer);
int MousePointer();

}  // namespace ui

#endif  // KAV_PLATFORM_UI_MESSAGE_BOX_H_
