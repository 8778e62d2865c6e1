// Access to the private parts of the public classes: making a handle of an
// object, and the object behind a handle.

#ifndef KAV_PLATFORM_DAO_INTERNAL_ACCESS_H_
#define KAV_PLATFORM_DAO_INTERNAL_ACCESS_H_

#include <memory>

#include "platform/dao/dao.h"
#include "platform/dao/internal/database.h"
#include "platform/dao/internal/recordset.h"
#include "platform/dao/internal/schema_objects.h"

namespace dao::internal {

// Access to the private parts of the public classes.
struct Access {
  static Field MakeField(std::shared_ptr<FieldImpl> impl);
  static Index MakeIndex(std::shared_ptr<IndexImpl> impl);
  static TableDef MakeTableDef(std::shared_ptr<TableDefImpl> impl);
  static Relation MakeRelation(std::shared_ptr<RelationImpl> impl);
  static Database MakeDatabase(std::shared_ptr<DatabaseImpl> impl);
  static Workspace MakeWorkspace(std::shared_ptr<WorkspaceImpl> impl);
  static Recordset MakeRecordset(std::shared_ptr<RecordsetImpl> impl);
  static const std::shared_ptr<FieldImpl>& ImplOf(const Field& f);
  static const std::shared_ptr<IndexImpl>& ImplOf(const Index& i);
  static const std::shared_ptr<TableDefImpl>& ImplOf(const TableDef& t);
  static const std::shared_ptr<RelationImpl>& ImplOf(const Relation& r);
};

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_ACCESS_H_
