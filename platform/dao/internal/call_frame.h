// The frame every public call of the engine runs in: it tells the observer
// of the call, fills the engine's error list when the call fails, and names
// the source of the errors the call raises.

#ifndef KAV_PLATFORM_DAO_INTERNAL_CALL_FRAME_H_
#define KAV_PLATFORM_DAO_INTERNAL_CALL_FRAME_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/dao/internal/errors.h"
#include "platform/dao/observer.h"
#include "platform/error.h"

namespace dao::internal {

CallObserver* CurrentObserver();

// The errors of the last public call that failed.
const std::vector<kav::Error>& ErrorList();

// The source of the public call under way, for the errors it raises.
const char* CurrentSource();

// One public call.  The outermost frame notifies the observer (when `call`
// is given) and, on failure, fills the engine's error list and tells the
// observer.  Frames inside it (the engine's own nested work) do neither.
class CallFrame {
 public:
  CallFrame(const Call* call, const char* source);
  ~CallFrame();
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;
  void Notify();  // before the work
  void Failed(const kav::Error& error);

 private:
  const Call* call_;
  bool outermost_;
  const char* previous_source_;
};

template <class F>
auto RunFrame(const Call* call, bool notify, const char* source, F&& body) -> decltype(body()) {
  CallFrame frame(call, source);
  try {
    if (notify) frame.Notify();
    return body();
  } catch (const kav::Error& error) {
    frame.Failed(error);
    throw;
  }
}

template <class F>
auto RunCall(const Call& call, const char* source, F&& body) -> decltype(body()) {
  return RunFrame(&call, true, source, std::forward<F>(body));
}

// A call of kind kOther named `name`.
template <class F>
auto RunOther(const char* name, const char* source, F&& body) -> decltype(body()) {
  Call call;
  call.kind = CallKind::kOther;
  call.text = name;
  return RunCall(call, source, std::forward<F>(body));
}

// A property getter: not notified, but a failure fills the error list.
template <class F>
auto RunQuiet(const char* source, F&& body) -> decltype(body()) {
  return RunFrame(nullptr, false, source, std::forward<F>(body));
}

// A look-up the observer hears of only when it fails: a failure fills the
// error list and is told to the observer as the failure of `call`.
template <class F>
auto RunLookup(const Call& call, const char* source, F&& body) -> decltype(body()) {
  return RunFrame(&call, false, source, std::forward<F>(body));
}

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_CALL_FRAME_H_
