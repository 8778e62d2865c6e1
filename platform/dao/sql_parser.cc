// A tokenizer and a recursive-descent parser for the update's SQL dialect.
//
// The tokenizer turns the whole text into tokens first; a character it cannot
// place becomes an invalid token that carries its own complaint, so that the
// parser reports it with the number of the clause it stands in.  The parser
// then walks the grammar:
//
//   statement   := update | delete | select, then [";"], then the end
//   update      := UPDATE name SET assignment {"," assignment} [WHERE conds]
//   delete      := DELETE FROM name WHERE conds
//   select      := SELECT column {"," column} FROM name [WHERE conds]
//   assignment  := column "=" (value | column)
//   conds       := cond {AND cond}
//   cond        := column "=" value | column IN "(" value {"," value} ")"
//   value       := 'text' | digits | now()
//   column      := name ["." name]
//   name        := word | "[" characters "]"

#include "platform/dao/sql_parser.h"

#include <string_view>
#include <utility>

#include "platform/error.h"
#include "platform/text.h"

namespace dao::sql {
namespace {

constexpr long kUnknownStatement = 3129;
constexpr long kUpdateSyntax = 3144;
constexpr long kWhereSyntax = 3075;
constexpr long kFromSyntax = 3131;
constexpr long kTrailingCharacters = 3142;

constexpr char kSource[] = "DAO.Database";

enum class TokenKind {
  kWord,       // a name or a keyword, letters, digits and underscores
  kBracketed,  // [name]
  kText,       // 'text'
  kInteger,    // digits
  kEquals,
  kComma,
  kDot,
  kOpen,
  kClose,
  kSemicolon,
  kEnd,
  kInvalid,  // what the tokenizer could not read; `text` says why
};

struct Token {
  TokenKind kind;
  std::string text;      // the name, the literal's characters, or the fault
  std::string_view raw;  // the characters of the statement it came from
  int64_t integer = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ASCII letters, digits and '_', whatever the locale.
bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_';
}

using kav::EqualsIgnoringCase;

// The keywords of the dialect.  They are reserved: a column of one of these
// names has to be written in brackets.
bool IsReservedWord(std::string_view word) {
  for (std::string_view keyword :
       {"UPDATE", "SET", "WHERE", "AND", "IN", "DELETE", "FROM", "SELECT"}) {
    if (EqualsIgnoringCase(word, keyword)) return true;
  }
  return false;
}

// The characters that are tokens by themselves.
constexpr std::pair<char, TokenKind> kPunctuation[] = {
    {'=', TokenKind::kEquals}, {',', TokenKind::kComma}, {'.', TokenKind::kDot},
    {'(', TokenKind::kOpen},   {')', TokenKind::kClose}, {';', TokenKind::kSemicolon},
};

// Turns a text into its tokens, one reader per kind of token.  Each reader
// starts on the token's first character and stops after its last.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  std::vector<Token> Tokens() {
    while (i_ < text_.size()) {
      const char c = text_[i_];
      start_ = i_;
      if (IsBlank(c)) {
        ++i_;
      } else if (IsDigit(c)) {
        ReadNumber();
      } else if (IsWordChar(c)) {
        ReadWord();
      } else if (c == '[') {
        ReadBracketed();
      } else if (c == '\'') {
        ReadText();
      } else {
        ReadPunctuation();
      }
    }
    tokens_.push_back(Token{TokenKind::kEnd, {}, text_.substr(text_.size())});
    return std::move(tokens_);
  }

 private:
  // The token from start_ to the reader's place.
  void Add(TokenKind kind, std::string value) {
    tokens_.push_back(Token{kind, std::move(value), text_.substr(start_, i_ - start_)});
  }

  // A run of letters, digits and underscores.
  std::string WordRun() {
    while (i_ < text_.size() && IsWordChar(text_[i_])) ++i_;
    return std::string(text_.substr(start_, i_ - start_));
  }

  void ReadWord() { Add(TokenKind::kWord, WordRun()); }

  // A run that starts with a digit is a number, and only digits.
  void ReadNumber() {
    std::string digits = WordRun();
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
      Add(TokenKind::kInvalid, "a name must not begin with a digit");
      return;
    }
    int64_t value = 0;
    for (char d : digits) {
      if (value > (INT64_MAX - (d - '0')) / 10) {
        Add(TokenKind::kInvalid, "the number is too large");
        return;
      }
      value = value * 10 + (d - '0');
    }
    Add(TokenKind::kInteger, std::move(digits));
    tokens_.back().integer = value;
  }

  // [name]: any characters but brackets, at least one.
  void ReadBracketed() {
    ++i_;
    const size_t close = text_.find(']', i_);
    if (close == std::string_view::npos) {
      i_ = text_.size();
      Add(TokenKind::kInvalid, "the bracketed name is not closed");
      return;
    }
    std::string name(text_.substr(i_, close - i_));
    i_ = close + 1;
    if (name.find('[') != std::string::npos) {
      Add(TokenKind::kInvalid, "a bracketed name must not hold '['");
    } else if (name.empty()) {
      Add(TokenKind::kInvalid, "the brackets hold no name");
    } else {
      Add(TokenKind::kBracketed, std::move(name));
    }
  }

  // 'text', where two quotes in a row stand for one quote.
  void ReadText() {
    ++i_;
    std::string value;
    while (i_ < text_.size()) {
      const char n = text_[i_++];
      if (n != '\'') {
        value += n;
      } else if (i_ < text_.size() && text_[i_] == '\'') {
        value += '\'';
        ++i_;
      } else {
        Add(TokenKind::kText, std::move(value));
        return;
      }
    }
    Add(TokenKind::kInvalid, "the text literal is not closed");
  }

  // One character that is a token by itself, or one the dialect does not know.
  void ReadPunctuation() {
    const char c = text_[i_++];
    for (const auto& [character, kind] : kPunctuation) {
      if (c == character) {
        Add(kind, std::string(1, c));
        return;
      }
    }
    Add(TokenKind::kInvalid, "the character is not part of the dialect");
  }

  std::string_view text_;
  size_t i_ = 0;      // the reader's place
  size_t start_ = 0;  // where the token being read starts
  std::vector<Token> tokens_;
};

std::vector<Token> Tokenize(std::string_view text) { return Tokenizer(text).Tokens(); }

// How a token reads in an error description.
std::string Quote(const Token& token) {
  if (token.kind == TokenKind::kEnd) return "the end of the text";
  std::string quoted = "\"" + std::string(token.raw) + "\"";
  if (token.kind == TokenKind::kInvalid) quoted += " (" + token.text + ")";
  return quoted;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : tokens_(Tokenize(text)) {}

  Statement ParseStatement() {
    const Token& first = Peek();
    Statement statement;
    if (IsKeyword(first, "UPDATE")) {
      statement = ParseUpdate();
    } else if (IsKeyword(first, "DELETE")) {
      statement = ParseDelete();
    } else if (IsKeyword(first, "SELECT")) {
      statement = ParseSelect();
    } else {
      Fail(kUnknownStatement,
           "The statement must begin with UPDATE, DELETE or SELECT; found " + Quote(first) + ".");
    }
    if (Peek().kind == TokenKind::kSemicolon) Next();
    if (Peek().kind != TokenKind::kEnd) {
      Fail(kTrailingCharacters,
           "Characters found after the end of the statement: " + Quote(Peek()) + ".");
    }
    return statement;
  }

 private:
  UpdateStatement ParseUpdate() {
    const char* clause = "UPDATE statement";
    Next();  // UPDATE
    UpdateStatement update;
    update.table = ExpectName(kUpdateSyntax, clause, "a table name after UPDATE");
    ExpectKeyword(kUpdateSyntax, clause, "SET");
    do {
      Assignment assignment;
      assignment.column = ExpectColumn(kUpdateSyntax, clause, "a column to set");
      Expect(TokenKind::kEquals, kUpdateSyntax, clause,
             "\"=\" after the column " + Describe(assignment.column));
      if (IsValueStart()) {
        assignment.value = ParseValue(kUpdateSyntax, clause);
      } else {
        assignment.value = ExpectColumn(kUpdateSyntax, clause, "a value or a column after \"=\"");
      }
      update.assignments.push_back(std::move(assignment));
    } while (Accept(TokenKind::kComma));
    if (IsKeyword(Peek(), "WHERE")) {
      Next();
      update.where = ParseConditions();
    } else if (!AtStatementEnd()) {
      Fail(kUpdateSyntax,
           "Syntax error in UPDATE statement: expected \",\", "
           "WHERE or the end of the statement, found " +
               Quote(Peek()) + ".");
    }
    return update;
  }

  DeleteStatement ParseDelete() {
    Next();  // DELETE
    DeleteStatement del;
    const char* clause = "FROM clause";
    ExpectKeyword(kFromSyntax, clause, "FROM");
    del.table = ExpectName(kFromSyntax, clause, "a table name after FROM");
    // Every delete of the dialect names its rows; a text that lost its WHERE
    // would otherwise empty the whole table.
    if (!IsKeyword(Peek(), "WHERE")) {
      Fail(kFromSyntax,
           "Syntax error in FROM clause: a DELETE needs a WHERE "
           "after the table name; found " +
               Quote(Peek()) + ".");
    }
    Next();
    del.where = ParseConditions();
    return del;
  }

  SelectStatement ParseSelect() {
    Next();  // SELECT
    SelectStatement select;
    const char* clause = "query expression";
    do {
      select.columns.push_back(ExpectColumn(kWhereSyntax, clause, "a column to select"));
    } while (Accept(TokenKind::kComma));
    ExpectKeyword(kFromSyntax, "FROM clause", "FROM");
    select.table = ExpectName(kFromSyntax, "FROM clause", "a table name after FROM");
    if (IsKeyword(Peek(), "WHERE")) {
      Next();
      select.where = ParseConditions();
    } else if (!AtStatementEnd()) {
      Fail(kFromSyntax,
           "Syntax error in FROM clause: expected WHERE or the "
           "end of the statement, found " +
               Quote(Peek()) + ".");
    }
    return select;
  }

  std::vector<Condition> ParseConditions() {
    const char* clause = "WHERE expression";
    std::vector<Condition> conditions;
    do {
      Condition condition;
      condition.column = ExpectColumn(kWhereSyntax, clause, "a column to compare");
      if (Accept(TokenKind::kEquals)) {
        condition.op = Condition::Op::kEquals;
        condition.values.push_back(ParseValue(kWhereSyntax, clause));
      } else if (IsKeyword(Peek(), "IN")) {
        Next();
        condition.op = Condition::Op::kIn;
        Expect(TokenKind::kOpen, kWhereSyntax, clause, "\"(\" after IN");
        do {
          condition.values.push_back(ParseValue(kWhereSyntax, clause));
        } while (Accept(TokenKind::kComma));
        Expect(TokenKind::kClose, kWhereSyntax, clause, "\",\" or \")\" in the IN list");
      } else {
        Fail(kWhereSyntax,
             "Syntax error in WHERE expression: expected \"=\" "
             "or IN after the column " +
                 Describe(condition.column) + ", found " + Quote(Peek()) + ".");
      }
      conditions.push_back(std::move(condition));
      if (IsKeyword(Peek(), "AND")) {
        Next();
        continue;
      }
      if (!AtStatementEnd()) {
        Fail(kWhereSyntax,
             "Syntax error in WHERE expression: expected AND "
             "or the end of the statement, found " +
                 Quote(Peek()) + ".");
      }
      break;
    } while (true);
    return conditions;
  }

  // A text literal, an unsigned integer or now().
  Literal ParseValue(long number, const char* clause) {
    const Token& token = Peek();
    Literal literal;
    if (token.kind == TokenKind::kText) {
      literal.kind = Literal::Kind::kText;
      literal.text = token.text;
      Next();
    } else if (token.kind == TokenKind::kInteger) {
      literal.kind = Literal::Kind::kInteger;
      literal.integer = token.integer;
      Next();
    } else if (IsNow()) {
      literal.kind = Literal::Kind::kNow;
      Next();
      Next();
      Next();
    } else {
      Fail(number, std::string("Syntax error in ") + clause +
                       ": expected a quoted text, a number or now(), found " + Quote(token) + ".");
    }
    return literal;
  }

  bool IsValueStart() const {
    const Token& token = Peek();
    return token.kind == TokenKind::kText || token.kind == TokenKind::kInteger || IsNow();
  }

  // now() is the word "now" in any case and an empty pair of parentheses; a
  // column named now is the word without them.
  bool IsNow() const {
    return Peek().kind == TokenKind::kWord && EqualsIgnoringCase(Peek().text, "NOW") &&
           Peek(1).kind == TokenKind::kOpen && Peek(2).kind == TokenKind::kClose;
  }

  ColumnRef ExpectColumn(long number, const char* clause, const std::string& what) {
    ColumnRef ref;
    ref.column = ExpectName(number, clause, what);
    if (Accept(TokenKind::kDot)) {
      ref.table = std::move(ref.column);
      ref.column = ExpectName(number, clause, "a column name after \"" + ref.table + ".\"");
    }
    return ref;
  }

  std::string ExpectName(long number, const char* clause, const std::string& what) {
    const Token& token = Peek();
    if (token.kind == TokenKind::kBracketed ||
        (token.kind == TokenKind::kWord && !IsReservedWord(token.text))) {
      std::string name = token.text;
      Next();
      return name;
    }
    Fail(number, std::string("Syntax error in ") + clause + ": expected " + what + ", found " +
                     Quote(token) + ".");
  }

  void ExpectKeyword(long number, const char* clause, const char* keyword) {
    if (!IsKeyword(Peek(), keyword)) {
      Fail(number, std::string("Syntax error in ") + clause + ": expected " + keyword + ", found " +
                       Quote(Peek()) + ".");
    }
    Next();
  }

  void Expect(TokenKind kind, long number, const char* clause, const std::string& what) {
    if (!Accept(kind)) {
      Fail(number, std::string("Syntax error in ") + clause + ": expected " + what + ", found " +
                       Quote(Peek()) + ".");
    }
  }

  bool Accept(TokenKind kind) {
    if (Peek().kind != kind) return false;
    Next();
    return true;
  }

  bool AtStatementEnd() const {
    return Peek().kind == TokenKind::kSemicolon || Peek().kind == TokenKind::kEnd;
  }

  static bool IsKeyword(const Token& token, std::string_view keyword) {
    return token.kind == TokenKind::kWord && EqualsIgnoringCase(token.text, keyword);
  }

  static std::string Describe(const ColumnRef& ref) {
    return "\"" + (ref.table.empty() ? ref.column : ref.table + "." + ref.column) + "\"";
  }

  const Token& Peek(size_t ahead = 0) const {
    const size_t at = pos_ + ahead;
    return at < tokens_.size() ? tokens_[at] : tokens_.back();
  }

  void Next() {
    if (pos_ + 1 < tokens_.size()) ++pos_;
  }

  [[noreturn]] static void Fail(long number, const std::string& description) {
    throw kav::Error(number, description, kSource);
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

}  // namespace

Statement Parse(const std::string& text) { return Parser(text).ParseStatement(); }

}  // namespace dao::sql
