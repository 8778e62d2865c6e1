// The SQL dialect the update sends, parsed into statements.
//
// The statements are fixed texts in the dialect of the records system's
// original engine; the union of their forms is small:
//
//   UPDATE t SET t.c  = 'v', t.d = now(), [e] = [f] WHERE <conditions>;
//   DELETE FROM t WHERE <conditions>;       (keywords in any letter case)
//   SELECT t.c FROM t;
//   <conditions>:  t.c = 'v' | t.c = 12 | t.c in ('a','b', 'c')
//                  joined by AND (any case)
//
// Names may be qualified with the table ("t.c") and written in brackets
// ("[t]", "[c]"); the closing ";" is optional; any run of blanks separates
// tokens, and a literal may be followed directly by a keyword ("'RXB2'and").
// Anything else is a syntax error.  The parser knows no schema: the engine
// checks tables and columns when it runs a statement.

#ifndef KAV_PLATFORM_DAO_SQL_PARSER_H_
#define KAV_PLATFORM_DAO_SQL_PARSER_H_

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace dao::sql {

struct ColumnRef {
  std::string table;  // empty when the column is not qualified
  std::string column;
  bool operator==(const ColumnRef&) const = default;
};

struct Literal {
  enum class Kind { kText, kInteger, kNow };
  Kind kind = Kind::kText;
  std::string text;     // kText: the characters between the quotes
  int64_t integer = 0;  // kInteger
  bool operator==(const Literal&) const = default;
};

struct Condition {
  enum class Op { kEquals, kIn };
  ColumnRef column;
  Op op = Op::kEquals;
  std::vector<Literal> values;  // one for kEquals
  bool operator==(const Condition&) const = default;
};

struct Assignment {
  ColumnRef column;
  std::variant<Literal, ColumnRef> value;
  bool operator==(const Assignment&) const = default;
};

struct UpdateStatement {
  std::string table;
  std::vector<Assignment> assignments;
  std::vector<Condition> where;  // empty: every row
  bool operator==(const UpdateStatement&) const = default;
};

struct DeleteStatement {
  std::string table;
  std::vector<Condition> where;
  bool operator==(const DeleteStatement&) const = default;
};

struct SelectStatement {
  std::vector<ColumnRef> columns;
  std::string table;
  std::vector<Condition> where;
  bool operator==(const SelectStatement&) const = default;
};

using Statement = std::variant<UpdateStatement, DeleteStatement, SelectStatement>;

// Parses one statement.  Raises kav::Error with a syntax-error number:
// 3129 when the text starts with no known statement, 3144 for a fault in an
// UPDATE, 3075 in a WHERE expression, 3131 in a FROM clause, 3142 for
// characters after the end of the statement.
Statement Parse(const std::string& text);

}  // namespace dao::sql

#endif  // KAV_PLATFORM_DAO_SQL_PARSER_H_
