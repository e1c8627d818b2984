#pragma once
// xBase expressions: index keys, FOR conditions, filters and the conditions
// the application builds. An expression is compiled once against the fields
// of a table (names resolve to fields, types are checked) and then evaluated
// on records without further allocation in the common cases.
//
// Language (names and keywords in any letter case):
//   literals    "text" 'text' [text]  123  1.5  .T. .F. .TRUE. .FALSE. .Y. .N.
//   names       field names of the table
//   operators   by falling precedence:
//               unary + -;  ** ^;  * / %;  + -;
//               = == <> # != < <= > >= $;  .NOT. !;  .AND.;  .OR.
//   functions   DELETED() RECNO() DATE() DTOS() DTOC() CTOD() STOD() EMPTY()
//               UPPER() LOWER() ALLTRIM() LTRIM() RTRIM() TRIM() SUBSTR()
//               LEFT() RIGHT() LEN() STR() VAL() IIF() SPACE() AT() YEAR()
//               MONTH() DAY() INT() ABS(); a name of four or more letters
//               may abbreviate a function name, as in dBASE (ALLT, SUBS).
//               UPPER() and LOWER() treat text as code page 1252: accented
//               letters change case too.
// Text comparison: "==" compares the whole texts exactly. "=", "<>", "#",
// "!=", "<", "<=", ">", ">=" compare with trailing blanks ignored; while EXACT
// is off, "=" and its relatives look only at as many characters of the left
// text as the right one has ("ABCD" = "AB" is true, "AB" = "" is true).
// "a $ b" is true when a occurs in b. Text "+" joins; text "-" joins with the
// trailing blanks of the left text moved to the end.
// Date arithmetic: date + n, date - n, date - date. The empty date compares
// below every other date.
//
// Errors are returned as ExprSyntax (with the column, 1-based), ExprUnknownName
// (the name) or ExprType (the operator and the types met).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/Dbf.h"
#include "xbase/Value.h"
#include "xbase/XbError.h"

constexpr size_t kXbMaxExpressionLength = 4096;
constexpr int kXbMaxTextWidth = 65535;

// What an evaluation sees: the current record (deletion flag in byte 0), its
// number and the engine settings.
struct TXbEvalContext {
  const uint8_t* record = nullptr;
  uint32_t recno = 0;
  const TXbSettings* settings = nullptr;
};

struct TXbNode;

class TXbExpr {
 public:
  TXbExpr();
  ~TXbExpr();
  TXbExpr(TXbExpr&&) noexcept;
  TXbExpr& operator=(TXbExpr&&) noexcept;

  // Compiles `text` against `fields`. On failure `out` is left empty.
  static XbStatus Compile(std::string_view text, const std::vector<TDbfField>& fields, TXbExpr& out);

  bool Empty() const { return root_ == nullptr; }
  const std::string& Text() const { return text_; }
  XbType Type() const;
  // Largest width of a text result (for the key length of an index).
  int Width() const;
  // True when the expression calls UPPER() or LOWER() (its keys depend on
  // how letter case is mapped).
  bool ChangesLetterCase() const;
  // True when the expression calls DELETED() (its value changes when a row
  // is deleted or recalled).
  bool ReadsDeletedFlag() const;

  // Not reentrant: nodes keep scratch values between calls.
  void Eval(const TXbEvalContext& ctx, TXbValue& out) const;
  bool EvalLogical(const TXbEvalContext& ctx) const;

 private:
  std::unique_ptr<TXbNode> root_;
  std::string text_;
  mutable TXbValue result_;
};

// Compiles and evaluates in one go (tests, one-off conditions).
XbStatus XbEvaluate(std::string_view text, const std::vector<TDbfField>& fields, const TXbEvalContext& ctx,
                    TXbValue& out);
