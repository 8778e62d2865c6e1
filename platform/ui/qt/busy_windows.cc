// The windows kept painting while the tool is busy, and deaf to input.

#include "platform/ui/qt/busy_windows.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>

#include <algorithm>

namespace ui {

BusyWindows::BusyWindows() {
  ++count_;
  if (qApp == nullptr) return;
  for (QWidget* window : QApplication::topLevelWidgets()) windows_.emplace_back(window);
  qApp->installEventFilter(this);
}

BusyWindows::~BusyWindows() {
  if (qApp != nullptr) {
    // The input that waits in the window system is taken now, while the
    // filter still drops it; else it would act as soon as the event loop
    // runs again.
    QCoreApplication::processEvents();
    qApp->removeEventFilter(this);
  }
  --count_;
}

void BusyWindows::KeepAlive() {
  if (qApp == nullptr) return;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool BusyWindows::IsBusy(QObject* object) const {
  if (!object->isWidgetType()) return false;
  QWidget* window = static_cast<QWidget*>(object)->window();
  return std::any_of(windows_.begin(), windows_.end(),
                     [window](const QPointer<QWidget>& w) { return w == window; });
}

bool BusyWindows::eventFilter(QObject* watched, QEvent* event) {
  // Only widgets are filtered: the windows' own handling of the window
  // system (which widget holds the mouse, which has the focus) stays whole.
  const bool input = event->isInputEvent() || event->type() == QEvent::Shortcut ||
                     event->type() == QEvent::InputMethod;
  if (event->type() == QEvent::Close) {
    if (!IsBusy(watched)) return false;
    event->ignore();
    return true;
  }
  if (!input || !IsBusy(watched)) return false;
  // A key that would press a button through its access key is claimed for
  // the focused control, so that the shortcut is not tried; then the key
  // itself is dropped.
  if (event->type() == QEvent::ShortcutOverride) event->accept();
  return true;
}

}  // namespace ui
