#include "platform/dao/observer.h"

namespace dao {

namespace {
CallObserver* g_observer = nullptr;
}  // namespace

CallObserver* SetCallObserver(CallObserver* observer) {
  CallObserver* old = g_observer;
  g_observer = observer;
  return old;
}

namespace internal {
CallObserver* CurrentObserver() { return g_observer; }
}  // namespace internal

}  // namespace dao
