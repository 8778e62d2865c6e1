// The engine's own error numbers, and Raise, which throws an error with the
// source of the public call under way (defined with the call frame).

#ifndef KAV_PLATFORM_DAO_INTERNAL_ERRORS_H_
#define KAV_PLATFORM_DAO_INTERNAL_ERRORS_H_

#include <string>

#include "platform/dao/constants.h"

namespace dao::internal {

// Numbers of our own beyond those in platform/dao/constants.h.
enum : long {
  kErrGeneric = 3000,
  kErrTableExists = 3010,
  kErrNotUpdatable = 3027,
  kErrNoTransaction = 3034,
  kErrOpenFailed = 3051,
  kErrNullInIndex = 3058,
  kErrSelectExecuted = 3065,
  kErrBadName = 3125,
  kErrRecordDeleted = 3167,
  kErrDataChanged = 3197,
  kErrRelatedRecordsExist = 3200,
  kErrDatabaseExists = 3204,
  kErrInvalidOperation = 3219,
  kErrBadFieldType = 3259,
  kErrLocked = 3260,
  kErrNoFields = 3264,
  kErrFieldInIndex = 3280,
  kErrPrimaryExists = 3283,
  kErrIndexExists = 3284,
  kErrFieldInRelation = 3303,
  kErrRelationInvalid = 3368,
  kErrObjectInvalid = 3420,
  kErrCriteriaMismatch = 3464,
};

// Throws kav::Error with the source of the public call under way.
[[noreturn]] void Raise(long number, const std::string& description);

// 91: a handle that refers to nothing.
[[noreturn]] void RaiseNothing();

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_ERRORS_H_
