// The windows while the tool works on its one thread without going back to
// the event loop, as it does through a whole update: they go on painting
// and answering the window system, but take no input and do not close.

#ifndef KAV_PLATFORM_UI_QT_BUSY_WINDOWS_H_
#define KAV_PLATFORM_UI_QT_BUSY_WINDOWS_H_

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace ui {

// While it exists, the windows open when it was made (and their controls)
// receive no mouse, key, wheel, touch or input-method event and no
// shortcut, and refuse every close request: input reaches only the windows
// opened later, such as the message boxes the work shows.  Nothing else of
// the windows changes, the mouse pointer included.
class BusyWindows : public QObject {
 public:
  BusyWindows();
  // Drops the input that came in for the windows meanwhile and is still
  // waiting, so that none of it acts once the work is done.
  ~BusyWindows() override;
  BusyWindows(const BusyWindows&) = delete;
  BusyWindows& operator=(const BusyWindows&) = delete;

  // Handles the events that are waiting, but for user input: the windows
  // paint, and the window system's requests (expose, resize, ping, close)
  // are answered.  User input stays waiting.  Meant to be called every few
  // tens of milliseconds while the work runs.
  void KeepAlive();

  // Whether one exists: the tool is at work.
  static bool Any() { return count_ > 0; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool IsBusy(QObject* object) const;
  std::vector<QPointer<QWidget>> windows_;
  static inline int count_ = 0;
};

}  // namespace ui

#endif  // KAV_PLATFORM_UI_QT_BUSY_WINDOWS_H_
