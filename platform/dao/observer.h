// Watching the engine's calls, for the trace and for fault tests.
//
// The product installs no observer and writes no log.  The headless runner
// installs one to print every call the update makes; the fault tests install
// one that fails the k-th call.  There is one observer per process.

#ifndef KAV_PLATFORM_DAO_OBSERVER_H_
#define KAV_PLATFORM_DAO_OBSERVER_H_

#include <string>

#include "platform/dao/value.h"
#include "platform/error.h"

namespace dao {

enum class CallKind {
  kOpenTable,  // OpenRecordset(table, dbOpenTable); text = table as passed
  kAddNew,
  kEdit,
  kSetField,  // Fields(index).Value = value
  kUpdate,
  kExecute,  // Execute(text, options)
  // Fields(index) or Fields(text) of a recordset: the observer hears of it
  // only when it fails (OnError without OnCall), so that a failing look-up
  // shows in a trace while a clean trace holds no line for look-ups.
  kFieldLookup,
  kOther,  // everything else; text names the call ("CreateWorkspace", ...)
};

struct Call {
  CallKind kind = CallKind::kOther;
  std::string text;  // table, SQL text, or the name of another call
  int index = -1;    // field ordinal of kSetField and kFieldLookup
  Value value;       // value of kSetField, as the caller passed it
  int options = 0;   // options of kExecute
};

class CallObserver {
 public:
  virtual ~CallObserver() = default;
  // Called before the engine carries out `call`.  Throwing kav::Error here
  // makes the call fail with that error, exactly as if the engine had raised
  // it (it reaches the engine's Errors list and OnError).
  virtual void OnCall(const Call& call) = 0;
  // Called when `call` fails, after OnCall (a kFieldLookup has none).
  virtual void OnError(const Call& call, const kav::Error& error) {
    (void)call;
    (void)error;
  }
};

// Installs `observer` (nullptr removes it).  Returns the one it replaces.
CallObserver* SetCallObserver(CallObserver* observer);

// The call as one line of a trace, fields separated by one TAB:
//   OPEN table | ADDNEW | EDIT | SET i T|I value | UPDATE | EXEC options sql
//   | CALL name
// ("I" marks a value written as a 16-bit integer).  Line feeds and carriage
// returns are written as \n and \r.  A look-up, which OnCall never hears
// of, has no line: its failure shows as the observer's error line.
std::string TraceLine(const Call& call);

}  // namespace dao

#endif  // KAV_PLATFORM_DAO_OBSERVER_H_
