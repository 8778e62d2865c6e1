// The objects behind TableDef, Field, Index and Relation handles: what an
// object not appended yet keeps itself, and where an appended one lives.

#ifndef KAV_PLATFORM_DAO_INTERNAL_SCHEMA_OBJECTS_H_
#define KAV_PLATFORM_DAO_INTERNAL_SCHEMA_OBJECTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dao/internal/catalog.h"
#include "platform/dao/internal/database.h"

namespace dao::internal {

struct FieldImpl {
  enum class Home { kNone, kTable, kIndex, kRelation };
  // Properties of a field that is not appended yet.
  FieldDef def;
  bool ordinal_set = false;
  std::string foreign_name;
  // Where an appended field lives.
  Home home = Home::kNone;
  std::shared_ptr<DatabaseImpl> db;
  int64_t table_id = 0;  // kTable, kIndex: the table
  int64_t field_id = 0;  // kTable, kIndex: the table field
  int64_t owner_id = 0;  // kIndex: the index; kRelation: the relation
  int position = 0;      // kIndex, kRelation: place in the owner's fields
};

struct TableDefImpl {
  std::string name;
  std::shared_ptr<DatabaseImpl> db;  // the database that made it
  int64_t id = 0;                    // 0 until appended
  std::vector<std::shared_ptr<FieldImpl>> fields;
  std::vector<std::shared_ptr<IndexImpl>> indexes;
};

struct IndexImpl {
  IndexDef def;  // fields empty until appended
  std::vector<std::shared_ptr<FieldImpl>> fields;
  std::shared_ptr<DatabaseImpl> db;
  int64_t table_id = 0;  // the table once appended
};

struct RelationImpl {
  std::string name, table, foreign_table;
  long attributes = 0;
  std::vector<std::shared_ptr<FieldImpl>> fields;
  std::shared_ptr<DatabaseImpl> db;
  int64_t id = 0;
};

}  // namespace dao::internal

#endif  // KAV_PLATFORM_DAO_INTERNAL_SCHEMA_OBJECTS_H_
