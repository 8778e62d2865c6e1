// Weak placeholders for engine calls that are not built yet: each raises.
// Real definitions replace them at link time.

#include "platform/dao/dao.h"
#include "platform/dao/observer.h"
#include "platform/dao/value.h"
#include "platform/dao/workgroup.h"
#include "platform/dao/sql_parser.h"

namespace dao {
namespace {
[[noreturn]] void NotBuilt() { throw kav::Error(3000, "Not built yet", "DAO"); }
}
#define W __attribute__((weak))
W std::string Field::Name() const { NotBuilt(); }
W void Field::SetName(const std::string& name) { NotBuilt(); }
W int Field::Type() const { NotBuilt(); }
W void Field::SetType(int type) { NotBuilt(); }
W long Field::Size() const { NotBuilt(); }
W void Field::SetSize(long size) { NotBuilt(); }
W bool Field::AllowZeroLength() const { NotBuilt(); }
W void Field::SetAllowZeroLength(bool allow) { NotBuilt(); }
W bool Field::Required() const { NotBuilt(); }
W void Field::SetRequired(bool required) { NotBuilt(); }
W long Field::Attributes() const { NotBuilt(); }
W void Field::SetAttributes(long attributes) { NotBuilt(); }
W int Field::OrdinalPosition() const { NotBuilt(); }
W void Field::SetOrdinalPosition(int position) { NotBuilt(); }
W std::string Field::ForeignName() const { NotBuilt(); }
W void Field::SetForeignName(const std::string& name) { NotBuilt(); }
W int FieldCollection::Count() const { NotBuilt(); }
W Field FieldCollection::Item(int index) const { NotBuilt(); }
W Field FieldCollection::Item(const std::string& name) const { NotBuilt(); }
W void FieldCollection::Append(const Field& field) { NotBuilt(); }
W void FieldCollection::Delete(const std::string& name) { NotBuilt(); }
W void FieldCollection::Refresh() { NotBuilt(); }
W std::string Index::Name() const { NotBuilt(); }
W void Index::SetName(const std::string& name) { NotBuilt(); }
W bool Index::Primary() const { NotBuilt(); }
W void Index::SetPrimary(bool primary) { NotBuilt(); }
W bool Index::Unique() const { NotBuilt(); }
W void Index::SetUnique(bool unique) { NotBuilt(); }
W bool Index::Required() const { NotBuilt(); }
W void Index::SetRequired(bool required) { NotBuilt(); }
W bool Index::IgnoreNulls() const { NotBuilt(); }
W void Index::SetIgnoreNulls(bool ignore) { NotBuilt(); }
W bool Index::Clustered() const { NotBuilt(); }
W void Index::SetClustered(bool clustered) { NotBuilt(); }
W bool Index::Foreign() const { NotBuilt(); }
W FieldCollection Index::Fields() const { NotBuilt(); }
W Field Index::CreateField(const std::string& name, int type, long size) { NotBuilt(); }
W int IndexCollection::Count() const { NotBuilt(); }
W Index IndexCollection::Item(int index) const { NotBuilt(); }
W Index IndexCollection::Item(const std::string& name) const { NotBuilt(); }
W void IndexCollection::Append(const Index& index) { NotBuilt(); }
W void IndexCollection::Delete(const std::string& name) { NotBuilt(); }
W void IndexCollection::Refresh() { NotBuilt(); }
W std::string TableDef::Name() const { NotBuilt(); }
W void TableDef::SetName(const std::string& name) { NotBuilt(); }
W FieldCollection TableDef::Fields() const { NotBuilt(); }
W IndexCollection TableDef::Indexes() const { NotBuilt(); }
W Field TableDef::CreateField(const std::string& name, int type, long size) { NotBuilt(); }
W Index TableDef::CreateIndex(const std::string& name) { NotBuilt(); }
W int TableDefCollection::Count() const { NotBuilt(); }
W TableDef TableDefCollection::Item(int index) const { NotBuilt(); }
W TableDef TableDefCollection::Item(const std::string& name) const { NotBuilt(); }
W void TableDefCollection::Append(const TableDef& table) { NotBuilt(); }
W void TableDefCollection::Delete(const std::string& name) { NotBuilt(); }
W void TableDefCollection::Refresh() { NotBuilt(); }
W std::string Relation::Name() const { NotBuilt(); }
W std::string Relation::Table() const { NotBuilt(); }
W std::string Relation::ForeignTable() const { NotBuilt(); }
W long Relation::Attributes() const { NotBuilt(); }
W void Relation::SetName(const std::string& name) { NotBuilt(); }
W void Relation::SetTable(const std::string& table) { NotBuilt(); }
W void Relation::SetForeignTable(const std::string& table) { NotBuilt(); }
W void Relation::SetAttributes(long attributes) { NotBuilt(); }
W FieldCollection Relation::Fields() const { NotBuilt(); }
W Field Relation::CreateField(const std::string& name) { NotBuilt(); }
W int RelationCollection::Count() const { NotBuilt(); }
W Relation RelationCollection::Item(int index) const { NotBuilt(); }
W Relation RelationCollection::Item(const std::string& name) const { NotBuilt(); }
W void RelationCollection::Append(const Relation& relation) { NotBuilt(); }
W void RelationCollection::Delete(const std::string& name) { NotBuilt(); }
W void RelationCollection::Refresh() { NotBuilt(); }
W std::string RecordsetField::Name() const { NotBuilt(); }
W int RecordsetField::Type() const { NotBuilt(); }
W long RecordsetField::Size() const { NotBuilt(); }
W Value RecordsetField::GetValue() const { NotBuilt(); }
W void RecordsetField::SetValue(const Value& value) { NotBuilt(); }
W void Recordset::AddNew() { NotBuilt(); }
W void Recordset::Edit() { NotBuilt(); }
W void Recordset::Update(int type, bool force) { NotBuilt(); }
W void Recordset::CancelUpdate() { NotBuilt(); }
W void Recordset::Close() { NotBuilt(); }
W RecordsetField Recordset::Fields(int index) const { NotBuilt(); }
W RecordsetField Recordset::Fields(const std::string& name) const { NotBuilt(); }
W int Recordset::FieldCount() const { NotBuilt(); }
W bool Recordset::IsEOF() const { NotBuilt(); }
W void Recordset::MoveNext() { NotBuilt(); }
W std::string Database::Name() const { NotBuilt(); }
W Recordset Database::OpenRecordset(const std::string& source, int type) { NotBuilt(); }
W void Database::Execute(const std::string& sql, int options) { NotBuilt(); }
W long Database::RecordsAffected() const { NotBuilt(); }
W TableDefCollection Database::TableDefs() const { NotBuilt(); }
W RelationCollection Database::Relations() const { NotBuilt(); }
W TableDef Database::CreateTableDef(const std::string& name) { NotBuilt(); }
W void Database::Close() { NotBuilt(); }
W std::string Workspace::Name() const { NotBuilt(); }
W std::string Workspace::UserName() const { NotBuilt(); }
W Database Workspace::OpenDatabase(const std::string& path) { NotBuilt(); }
W Database Workspace::CreateDatabase(const std::string& path) { NotBuilt(); }
W void Workspace::BeginTrans() { NotBuilt(); }
W void Workspace::CommitTrans() { NotBuilt(); }
W void Workspace::Rollback() { NotBuilt(); }
W void Workspace::Close() { NotBuilt(); }
W DBEngine& DBEngine::Instance() { NotBuilt(); }
W void DBEngine::SetSystemDB(const std::string& path) { NotBuilt(); }
W std::string DBEngine::SystemDB() const { NotBuilt(); }
W Workspace DBEngine::Workspaces(int index) { NotBuilt(); }
W const std::vector<Error>& DBEngine::Errors() const { NotBuilt(); }
W void CreateWorkgroupFile(const std::string&, const std::vector<Account>&, PasswordCost) { NotBuilt(); }
W Value ConvertToFieldType(const Value&, int) { NotBuilt(); }
W std::string Value::ToString() const { NotBuilt(); }
W std::string DateTime::ToIso() const { NotBuilt(); }
W std::optional<DateTime> DateTime::FromIso(const std::string&) { NotBuilt(); }
W std::optional<DateTime> DateTime::Parse(const std::string&) { NotBuilt(); }
W DateTime DateTime::Now() { NotBuilt(); }
namespace sql { W Statement Parse(const std::string&) { NotBuilt(); } }
W Workspace DBEngine::CreateWorkspace(const std::string&, const std::string&, const std::string&, int) { NotBuilt(); }
W Relation Database::CreateRelation(const std::string&, const std::string&, const std::string&, long) { NotBuilt(); }
W Workspace Database::ParentWorkspace() const { NotBuilt(); }
}  // namespace dao
