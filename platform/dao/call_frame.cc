// The frame of every public call: observer notification, the engine's error
// list and the source of the errors raised.

#include "platform/dao/internal/call_frame.h"

#include "platform/dao/internal/progress.h"

namespace dao::internal {
namespace {

// The engine's error list and the frame depth; one thread uses the engine.
std::vector<kav::Error>& StoredErrors() {
  static std::vector<kav::Error> errors;
  return errors;
}
int g_depth = 0;
const char* g_source = "DAO";

}  // namespace

const std::vector<kav::Error>& ErrorList() { return StoredErrors(); }

const char* CurrentSource() { return g_source; }

CallFrame::CallFrame(const Call* call, const char* source)
    : call_(call), outermost_(g_depth == 0), previous_source_(g_source) {
  // Between two public calls the progress hook gets its chance.
  if (outermost_) ReportProgress();
  ++g_depth;
  if (outermost_) g_source = source;
}

CallFrame::~CallFrame() {
  --g_depth;
  g_source = previous_source_;
}

void CallFrame::Notify() {
  if (!outermost_ || call_ == nullptr) return;
  if (CallObserver* observer = CurrentObserver()) observer->OnCall(*call_);
}

void CallFrame::Failed(const kav::Error& error) {
  if (!outermost_) return;
  StoredErrors().assign(1, error);
  if (call_ == nullptr) return;
  if (CallObserver* observer = CurrentObserver()) observer->OnError(*call_, error);
}

void Raise(long number, const std::string& description) {
  throw kav::Error(number, description, g_source);
}

void RaiseNothing() { Raise(kErrObjectNotSet, "Object variable or With block variable not set."); }

}  // namespace dao::internal
