// Windows and controls on Qt 6 Widgets, with the behaviour the tool's two
// windows rely on: modal forms, labels, command buttons, drive, directory
// and file lists with their events, tooltips and tab order.
//
// Sizes and positions are in twips, 15 to the pixel.  Texts are UTF-8 and
// are shown as plain text, character for character, never as markup.  File
// and directory names are kept as the file system's bytes, so a name that
// is not valid UTF-8 still opens; only what is drawn is decoded.
// Events are plain callbacks set by the window's code.  An error that an
// event handler raises is shown in a message box with its description and
// the window stays open, since a Qt event loop cannot carry an exception.
//
// Keyboard: a window opens with the focus on its control of the lowest tab
// index, Tab follows the tab indexes, Enter and Space press the focused
// button, and Escape does nothing (no button is a cancel button).  A list
// that has the focus frames its current entry with a dotted rectangle.

#ifndef KAV_PLATFORM_UI_QT_FORMS_H_
#define KAV_PLATFORM_UI_QT_FORMS_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QDialog;
class QLabel;
class QListWidget;
class QComboBox;
class QPushButton;
class QWidget;

namespace ui {

using Event = std::function<void()>;

constexpr int kTwipsPerPixel = 15;

// Runs `handler`; an error it raises is shown in a box.
void RaiseEvent(const Event& handler);

class Form;

class Control {
 public:
  virtual ~Control() = default;
  // The text is kept as given and read back unchanged.
  void SetToolTipText(const std::string& text);
  std::string ToolTipText() const { return tool_tip_; }
  void SetEnabled(bool enabled);
  bool Enabled() const;
  int TabIndex() const { return tab_index_; }
  QWidget* widget() const { return widget_; }

 protected:
  Control(Form& form, QWidget* widget, int left, int top, int width, int height, int tab_index);

 private:
  QWidget* widget_;
  int tab_index_;
  std::string tool_tip_;
};

class Label : public Control {
 public:
  Label(Form& form, int left, int top, int width, int height, int tab_index);
  void SetCaption(const std::string& caption);
  std::string Caption() const;
  void SetFont(const std::string& family, double points, bool bold);

 private:
  QLabel* label_;
};

class CommandButton : public Control {
 public:
  CommandButton(Form& form, int left, int top, int width, int height, int tab_index);
  // "&" marks the access key, as in "&Select".
  void SetCaption(const std::string& caption);
  std::string Caption() const;
  Event Click;

 private:
  QPushButton* button_;
};

// The drives are the mounted file systems, each named by its root path.
class DriveListBox : public Control {
 public:
  DriveListBox(Form& form, int left, int top, int width, int height, int tab_index);
  std::string Drive() const;
  // Choosing another drive raises Change.
  void SetDrive(const std::string& drive);
  std::vector<std::string> Drives() const;
  Event Change;
  Event GotFocus;

 private:
  QComboBox* combo_;
};

// Shows the open directory's ancestors and its subdirectories, the open
// directory highlighted; the ancestors and the open directory are drawn
// with the style's open-folder icon, the subdirectories with its closed
// one.  Moving the highlight, with the mouse or the keyboard, raises Click
// and leaves Path alone, and so does a click on the highlighted entry;
// opening the highlighted entry (double-click or Enter) makes it the Path;
// setting Path raises Change.
class DirListBox : public Control {
 public:
  DirListBox(Form& form, int left, int top, int width, int height, int tab_index);
  std::string Path() const { return path_; }
  void SetPath(const std::string& path);
  // The directory each entry stands for.
  std::vector<std::string> Entries() const { return entries_; }
  Event Change;
  Event Click;

 private:
  void Fill();
  QListWidget* list_;
  std::string path_;
  std::vector<std::string> entries_;
};

// The files of Path whose names match Pattern.  The pattern matches without
// regard to letter case, so "*.mdb" lists "KAV.MDB"; several patterns are
// separated by ";".  The selected entry is the highlighted one: getting the
// focus selects nothing.  Every change of the highlight, by the mouse or the
// keyboard (arrows, Home, End, typing a name), raises Click, and so does a
// click on the highlighted entry; a double-click raises Click, then DblClick.
class FileListBox : public Control {
 public:
  FileListBox(Form& form, int left, int top, int width, int height, int tab_index);
  std::string Path() const { return path_; }
  void SetPath(const std::string& path);  // raises PathChange
  std::string Pattern() const { return pattern_; }
  void SetPattern(const std::string& pattern);  // raises PatternChange
  // The highlighted entry's index, -1 when none is highlighted.
  int ListIndex() const;
  // The highlighted entry's name, "" when none is highlighted.
  std::string FileName() const;
  int ListCount() const { return static_cast<int>(names_.size()); }
  std::string List(int index) const;
  // Re-reads the directory.
  void Refresh();
  Event Click;
  Event DblClick;
  Event PathChange;
  Event PatternChange;
  QListWidget* list() const { return list_; }

 private:
  void Fill();
  QListWidget* list_;
  std::string path_;
  std::string pattern_ = "*.*";
  std::vector<std::string> names_;  // the entries' names, row by row
};

// A window, shown modally.  Subclasses build their controls in their
// constructor and handle the load in Form_Load.  It has a title and a close
// button but no minimise button; shown over another window, it comes back
// at once when the window system minimises it anyway.
class Form {
 public:
  Form();
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  void SetCaption(const std::string& caption);
  std::string Caption() const;
  void SetClientSize(int width, int height);  // twips

  // Loads the window: Form_Load runs, Tab is set to go through the
  // controls by tab index, and the focus goes to the control of the lowest
  // tab index that can take it.
  void Load();
  // Loads the window, shows it modally and returns when it is unloaded or
  // closed.
  void ShowModal();
  // Closes the window; ShowModal returns.
  void Unload();
  bool Visible() const;

  QWidget* widget() const;

 protected:
  virtual void Form_Load() {}

 private:
  friend class Control;
  std::unique_ptr<QDialog> dialog_;  // owns the controls' widgets
  std::vector<Control*> controls_;   // as they were made
};

}  // namespace ui

#endif  // KAV_PLATFORM_UI_QT_FORMS_H_
