// SIGTERM, SIGHUP and SIGINT end the tool as closing its windows does.

#ifndef KAV_PLATFORM_UI_QT_ENDING_SIGNALS_H_
#define KAV_PLATFORM_UI_QT_ENDING_SIGNALS_H_

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

namespace ui {

// While it exists, SIGTERM, SIGHUP and SIGINT call `end` from the event
// loop: at once while the tool sits idle, and once the work has ended while
// the tool works without going back to its event loop (while a BusyWindows
// exists), as a request to close a window waits for it.  A signal that was
// ignored when it was made stays ignored (as under nohup, or for a job its
// shell started with SIGINT ignored), and when it goes every signal has the
// action again that it had before.
//
// Only one may exist at a time in the process: making a second one while
// one exists ends the process at once (abort), with a message on stderr.
class EndingSignals : public QObject {
 public:
  explicit EndingSignals(std::function<void()> end);
  ~EndingSignals() override;
  EndingSignals(const EndingSignals&) = delete;
  EndingSignals& operator=(const EndingSignals&) = delete;

 private:
  void Arrived();
  void EndWhenIdle();

  std::function<void()> end_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer waiting_;  // runs while a signal waits for the work to end
};

}  // namespace ui

#endif  // KAV_PLATFORM_UI_QT_ENDING_SIGNALS_H_
