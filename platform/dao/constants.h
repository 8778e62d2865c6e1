// The engine's constants: the recordset types, the options of Execute and
// of a workspace, the attributes of relations and fields, and the error
// numbers callers rely on.  The field types are in value.h.

#ifndef KAV_PLATFORM_DAO_CONSTANTS_H_
#define KAV_PLATFORM_DAO_CONSTANTS_H_

namespace dao {

// Constants, with the engine's values.
enum : int {
  dbOpenTable = 1,
  dbOpenDynaset = 2,
  dbOpenSnapshot = 4,
  dbOpenForwardOnly = 8,
};
enum : int { dbFailOnError = 128 };
enum : int { dbUseJet = 2 };
enum : int { dbUpdateRegular = 1 };
// Relation attributes.
enum : long {
  dbRelationUnique = 1,
  dbRelationDontEnforce = 2,
  dbRelationUpdateCascade = 256,
  dbRelationDeleteCascade = 4096,
};
// Field attributes.
enum : long {
  dbFixedField = 1,
  dbVariableField = 2,
  dbUpdatableField = 32,
  dbDescending = 1,  // on an index field
};

// Error numbers the callers rely on.
enum : long {
  kErrOutOfMemory = 7,    // an allocation failed
  kErrObjectNotSet = 91,  // a handle that refers to nothing
  kErrNoCurrentRecord = 3021,
  kErrUpdateWithoutEdit = 3020,
  kErrDuplicateKey = 3022,
  kErrFileNotFound = 3024,
  kErrWorkgroupMissing = 3028,
  kErrBadAccount = 3029,
  kErrNoPermission = 3033,
  kErrTooFewParameters = 3061,  // unknown column name in SQL
  kErrTableNotFound = 3078,
  kErrFieldTooSmall = 3163,
  kErrFieldExists = 3191,
  kErrRelatedRecordRequired = 3201,
  kErrItemNotFound = 3265,
  kErrFieldRequired = 3314,
  kErrZeroLength = 3315,
  kErrUnrecognizedFormat = 3343,
  kErrConversion = 3421,
};

}  // namespace dao

#endif  // KAV_PLATFORM_DAO_CONSTANTS_H_
