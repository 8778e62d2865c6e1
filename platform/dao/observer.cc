#include "platform/dao/observer.h"

#include "platform/text.h"

namespace dao {

namespace {
CallObserver* g_observer = nullptr;
}  // namespace

CallObserver* SetCallObserver(CallObserver* observer) {
  CallObserver* old = g_observer;
  g_observer = observer;
  return old;
}

std::string TraceLine(const Call& call) {
  using kav::EscapeLineBreaks;
  switch (call.kind) {
    case CallKind::kOpenTable:
      return "OPEN\t" + call.text;
    case CallKind::kAddNew:
      return "ADDNEW";
    case CallKind::kEdit:
      return "EDIT";
    case CallKind::kSetField:
      return "SET\t" + std::to_string(call.index) + "\t" +
             (call.value.kind() == Value::Kind::kInteger ? "I" : "T") + "\t" +
             EscapeLineBreaks(call.value.ToString());
    case CallKind::kUpdate:
      return "UPDATE";
    case CallKind::kExecute:
      return "EXEC\t" + std::to_string(call.options) + "\t" + EscapeLineBreaks(call.text);
    case CallKind::kFieldLookup:  // never told by OnCall: no line of its own
      return {};
    case CallKind::kOther:
      break;
  }
  return "CALL\t" + EscapeLineBreaks(call.text);
}

namespace internal {
CallObserver* CurrentObserver() { return g_observer; }
}  // namespace internal

}  // namespace dao
