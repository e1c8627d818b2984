#include "xbase/Expr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

enum class Op : uint8_t {
  Const, Field,
  Neg, Not, And, Or,
  Add, Sub, Mul, Div, Mod, Pow,
  Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Contains,
  Deleted, Recno, Date, Dtos, Dtoc, Ctod, Stod, Empty, Upper, Lower, AllTrim, LTrim, RTrim,
  Substr, Left, Right, Len, Str, Val, Iif, Space, At, Year, Month, Day, Int, Abs,
};

}  // namespace

struct TXbNode {
  Op op = Op::Const;
  XbType type = XbType::Logical;
  int width = 0;
  TXbValue constant;
  TDbfField field;
  std::vector<std::unique_ptr<TXbNode>> kids;
  mutable TXbValue scratch[2];
};

namespace {

using NodePtr = std::unique_ptr<TXbNode>;

size_t RTrimLen(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return n;
}

// -1, 0, 1 comparing texts with trailing blanks ignored; with `prefix` the
// left text is first cut to the right text's length (EXACT off).
int CompareText(std::string_view a, std::string_view b, bool prefix) {
  if (prefix && a.size() > b.size()) a = a.substr(0, b.size());
  a = a.substr(0, RTrimLen(a));
  b = b.substr(0, RTrimLen(b));
  const size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

struct FuncInfo {
  const char* name;
  Op op;
  int minArgs, maxArgs;
};

const FuncInfo kFuncs[] = {
    {"DELETED", Op::Deleted, 0, 0}, {"RECNO", Op::Recno, 0, 0},     {"DATE", Op::Date, 0, 0},
    {"DTOS", Op::Dtos, 1, 1},       {"DTOC", Op::Dtoc, 1, 1},       {"CTOD", Op::Ctod, 1, 1},
    {"STOD", Op::Stod, 1, 1},       {"EMPTY", Op::Empty, 1, 1},     {"UPPER", Op::Upper, 1, 1},
    {"LOWER", Op::Lower, 1, 1},     {"ALLTRIM", Op::AllTrim, 1, 1}, {"LTRIM", Op::LTrim, 1, 1},
    {"RTRIM", Op::RTrim, 1, 1},     {"TRIM", Op::RTrim, 1, 1},      {"SUBSTR", Op::Substr, 2, 3},
    {"LEFT", Op::Left, 2, 2},       {"RIGHT", Op::Right, 2, 2},     {"LEN", Op::Len, 1, 1},
    {"STR", Op::Str, 1, 3},         {"VAL", Op::Val, 1, 1},         {"IIF", Op::Iif, 3, 3},
    {"SPACE", Op::Space, 1, 1},     {"AT", Op::At, 2, 2},           {"YEAR", Op::Year, 1, 1},
    {"MONTH", Op::Month, 1, 1},     {"DAY", Op::Day, 1, 1},         {"INT", Op::Int, 1, 1},
    {"ABS", Op::Abs, 1, 1},
};

const FuncInfo* FindFunc(const std::string& upper) {
  for (const FuncInfo& f : kFuncs)
    if (upper == f.name) return &f;
  if (upper.size() >= 4)
    for (const FuncInfo& f : kFuncs)
      if (std::strncmp(f.name, upper.c_str(), upper.size()) == 0) return &f;
  return nullptr;
}

enum class Tok { End, Num, Str, Ident, LParen, RParen, Comma, Plus, Minus, Star, Slash, Percent, Pow,
                 Eq, ExactEq, Ne, Lt, Le, Gt, Ge, Dollar, Not, And, Or, True, False };

struct Token {
  Tok kind = Tok::End;
  std::string text;
  double num = 0;
  size_t pos = 0;
};

class Parser {
 public:
  Parser(std::string_view text, const std::vector<TDbfField>& fields) : s_(text), fields_(fields) {}

  XbStatus Parse(NodePtr& out) {
    if (auto st = Next(); !st) return st;
    if (tok_.kind == Tok::End) return Syntax("empty expression");
    NodePtr n;
    if (auto st = ParseOr(n); !st) return st;
    if (tok_.kind != Tok::End) return Syntax("unexpected \"" + tok_.text + "\"");
    out = std::move(n);
    return {};
  }

 private:
  XbStatus Syntax(const std::string& what) const {
    return XbFail(XbError::ExprSyntax, what + " at column " + std::to_string(tok_.pos + 1));
  }

  static bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool IsIdent(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  XbStatus Next() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    tok_ = Token{};
    tok_.pos = i_;
    if (i_ >= s_.size()) return {};
    const char c = s_[i_];
    auto single = [&](Tok k, size_t len) {
      tok_.kind = k;
      tok_.text = std::string(s_.substr(i_, len));
      i_ += len;
      return XbStatus{};
    };
    auto peek = [&](size_t k) { return i_ + k < s_.size() ? s_[i_ + k] : '\0'; };
    if (c == '"' || c == '\'' || c == '[') {
      const char close = c == '[' ? ']' : c;
      const size_t end = s_.find(close, i_ + 1);
      if (end == std::string_view::npos) return Syntax("unterminated text");
      tok_.kind = Tok::Str;
      tok_.text = std::string(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      return {};
    }
    if (IsDigit(c) || (c == '.' && IsDigit(peek(1)))) {
      size_t j = i_;
      while (j < s_.size() && IsDigit(s_[j])) ++j;
      if (j < s_.size() && s_[j] == '.' && j + 1 < s_.size() && IsDigit(s_[j + 1])) {
        ++j;
        while (j < s_.size() && IsDigit(s_[j])) ++j;
      }
      tok_.kind = Tok::Num;
      tok_.text = std::string(s_.substr(i_, j - i_));
      tok_.num = XbParseNumber(tok_.text);
      i_ = j;
      return {};
    }
    if (c == '.') {
      size_t j = i_ + 1;
      while (j < s_.size() && IsIdent(s_[j])) ++j;
      if (j < s_.size() && s_[j] == '.' && j > i_ + 1) {
        const std::string word = XbUpper(s_.substr(i_ + 1, j - i_ - 1));
        Tok k = Tok::End;
        if (word == "T" || word == "TRUE" || word == "Y") k = Tok::True;
        else if (word == "F" || word == "FALSE" || word == "N") k = Tok::False;
        else if (word == "AND") k = Tok::And;
        else if (word == "OR") k = Tok::Or;
        else if (word == "NOT") k = Tok::Not;
        if (k != Tok::End) return single(k, j - i_ + 1);
        tok_.text = "." + word + ".";
        return XbFail(XbError::ExprUnknownName, tok_.text + " at column " + std::to_string(i_ + 1));
      }
      return Syntax("stray \".\"");
    }
    if (IsIdentStart(c)) {
      size_t j = i_;
      while (j < s_.size() && IsIdent(s_[j])) ++j;
      return single(Tok::Ident, j - i_);
    }
    switch (c) {
      case '(': return single(Tok::LParen, 1);
      case ')': return single(Tok::RParen, 1);
      case ',': return single(Tok::Comma, 1);
      case '+': return single(Tok::Plus, 1);
      case '-': return single(Tok::Minus, 1);
      case '*': return peek(1) == '*' ? single(Tok::Pow, 2) : single(Tok::Star, 1);
      case '^': return single(Tok::Pow, 1);
      case '/': return single(Tok::Slash, 1);
      case '%': return single(Tok::Percent, 1);
      case '$': return single(Tok::Dollar, 1);
      case '#': return single(Tok::Ne, 1);
      case '=': return peek(1) == '=' ? single(Tok::ExactEq, 2) : single(Tok::Eq, 1);
      case '!': return peek(1) == '=' ? single(Tok::Ne, 2) : single(Tok::Not, 1);
      case '<':
        if (peek(1) == '=') return single(Tok::Le, 2);
        if (peek(1) == '>') return single(Tok::Ne, 2);
        return single(Tok::Lt, 1);
      case '>': return peek(1) == '=' ? single(Tok::Ge, 2) : single(Tok::Gt, 1);
      default: break;
    }
    tok_.text = std::string(1, c);
    return Syntax("unexpected character \"" + tok_.text + "\"");
  }

  struct Depth {
    explicit Depth(int& d) : d_(d) { ++d_; }
    ~Depth() { --d_; }
    int& d_;
  };

  XbStatus TypeError(const char* what, const NodePtr& a, const NodePtr* b = nullptr) const {
    std::string m = std::string(what) + " on " + std::string(XbTypeName(a->type));
    if (b) m += " and " + std::string(XbTypeName((*b)->type));
    return XbFail(XbError::ExprType, m);
  }

  static NodePtr Make(Op op, XbType type, int width) {
    auto n = std::make_unique<TXbNode>();
    n->op = op;
    n->type = type;
    n->width = std::clamp(width, 0, kXbMaxTextWidth);
    return n;
  }

  XbStatus ParseOr(NodePtr& out) {
    if (auto st = ParseAnd(out); !st) return st;
    while (tok_.kind == Tok::Or) {
      if (auto st = Next(); !st) return st;
      NodePtr r;
      if (auto st = ParseAnd(r); !st) return st;
      if (out->type != XbType::Logical || r->type != XbType::Logical) return TypeError(".OR.", out, &r);
      NodePtr n = Make(Op::Or, XbType::Logical, 1);
      n->kids.push_back(std::move(out));
      n->kids.push_back(std::move(r));
      out = std::move(n);
    }
    return {};
  }

  XbStatus ParseAnd(NodePtr& out) {
    if (auto st = ParseNot(out); !st) return st;
    while (tok_.kind == Tok::And) {
      if (auto st = Next(); !st) return st;
      NodePtr r;
      if (auto st = ParseNot(r); !st) return st;
      if (out->type != XbType::Logical || r->type != XbType::Logical) return TypeError(".AND.", out, &r);
      NodePtr n = Make(Op::And, XbType::Logical, 1);
      n->kids.push_back(std::move(out));
      n->kids.push_back(std::move(r));
      out = std::move(n);
    }
    return {};
  }

  XbStatus ParseNot(NodePtr& out) {
    Depth d(depth_);
    if (depth_ > kMaxDepth) return Syntax("expression nested too deeply");
    if (tok_.kind == Tok::Not) {
      if (auto st = Next(); !st) return st;
      NodePtr a;
      if (auto st = ParseNot(a); !st) return st;
      if (a->type != XbType::Logical) return TypeError(".NOT.", a);
      out = Make(Op::Not, XbType::Logical, 1);
      out->kids.push_back(std::move(a));
      return {};
    }
    return ParseRel(out);
  }

  XbStatus ParseRel(NodePtr& out) {
    if (auto st = ParseAdd(out); !st) return st;
    while (true) {
      Op op;
      switch (tok_.kind) {
        case Tok::Eq: op = Op::Eq; break;
        case Tok::ExactEq: op = Op::ExactEq; break;
        case Tok::Ne: op = Op::Ne; break;
        case Tok::Lt: op = Op::Lt; break;
        case Tok::Le: op = Op::Le; break;
        case Tok::Gt: op = Op::Gt; break;
        case Tok::Ge: op = Op::Ge; break;
        case Tok::Dollar: op = Op::Contains; break;
        default: return {};
      }
      const std::string opText = tok_.text;
      if (auto st = Next(); !st) return st;
      NodePtr r;
      if (auto st = ParseAdd(r); !st) return st;
      if (out->type != r->type) return TypeError(opText.c_str(), out, &r);
      if (op == Op::Contains && out->type != XbType::Character) return TypeError("$", out, &r);
      NodePtr n = Make(op, XbType::Logical, 1);
      n->kids.push_back(std::move(out));
      n->kids.push_back(std::move(r));
      out = std::move(n);
    }
  }

  XbStatus ParseAdd(NodePtr& out) {
    if (auto st = ParseMul(out); !st) return st;
    while (tok_.kind == Tok::Plus || tok_.kind == Tok::Minus) {
      const bool plus = tok_.kind == Tok::Plus;
      if (auto st = Next(); !st) return st;
      NodePtr r;
      if (auto st = ParseMul(r); !st) return st;
      const XbType a = out->type, b = r->type;
      XbType t;
      int w = 0;
      if (a == XbType::Character && b == XbType::Character) {
        t = XbType::Character;
        w = out->width + r->width;
      } else if (a == XbType::Numeric && b == XbType::Numeric) {
        t = XbType::Numeric;
      } else if (a == XbType::Date && b == XbType::Numeric) {
        t = XbType::Date;
      } else if (plus && a == XbType::Numeric && b == XbType::Date) {
        t = XbType::Date;
      } else if (!plus && a == XbType::Date && b == XbType::Date) {
        t = XbType::Numeric;
      } else {
        return TypeError(plus ? "+" : "-", out, &r);
      }
      NodePtr n = Make(plus ? Op::Add : Op::Sub, t, w);
      n->kids.push_back(std::move(out));
      n->kids.push_back(std::move(r));
      out = std::move(n);
    }
    return {};
  }

  XbStatus ParseMul(NodePtr& out) {
    if (auto st = ParsePow(out); !st) return st;
    while (tok_.kind == Tok::Star || tok_.kind == Tok::Slash || tok_.kind == Tok::Percent) {
      const Op op = tok_.kind == Tok::Star ? Op::Mul : tok_.kind == Tok::Slash ? Op::Div : Op::Mod;
      const std::string opText = tok_.text;
      if (auto st = Next(); !st) return st;
      NodePtr r;
      if (auto st = ParsePow(r); !st) return st;
      if (out->type != XbType::Numeric || r->type != XbType::Numeric) return TypeError(opText.c_str(), out, &r);
      NodePtr n = Make(op, XbType::Numeric, 0);
      n->kids.push_back(std::move(out));
      n->kids.push_back(std::move(r));
      out = std::move(n);
    }
    return {};
  }

  XbStatus ParsePow(NodePtr& out) {
    if (auto st = ParseUnary(out); !st) return st;
    while (tok_.kind == Tok::Pow) {
      if (auto st = Next(); !st) return st;
      NodePtr r;
      if (auto st = ParseUnary(r); !st) return st;
      if (out->type != XbType::Numeric || r->type != XbType::Numeric) return TypeError("**", out, &r);
      NodePtr n = Make(Op::Pow, XbType::Numeric, 0);
      n->kids.push_back(std::move(out));
      n->kids.push_back(std::move(r));
      out = std::move(n);
    }
    return {};
  }

  XbStatus ParseUnary(NodePtr& out) {
    Depth d(depth_);
    if (depth_ > kMaxDepth) return Syntax("expression nested too deeply");
    if (tok_.kind == Tok::Minus || tok_.kind == Tok::Plus) {
      const bool neg = tok_.kind == Tok::Minus;
      if (auto st = Next(); !st) return st;
      NodePtr a;
      if (auto st = ParseUnary(a); !st) return st;
      if (a->type != XbType::Numeric) return TypeError(neg ? "unary -" : "unary +", a);
      if (!neg) {
        out = std::move(a);
        return {};
      }
      out = Make(Op::Neg, XbType::Numeric, 0);
      out->kids.push_back(std::move(a));
      return {};
    }
    return ParsePrimary(out);
  }

  XbStatus ParsePrimary(NodePtr& out) {
    switch (tok_.kind) {
      case Tok::Num:
        out = Make(Op::Const, XbType::Numeric, 0);
        out->constant = TXbValue::Num(tok_.num);
        return Next();
      case Tok::Str:
        out = Make(Op::Const, XbType::Character, static_cast<int>(tok_.text.size()));
        out->constant = TXbValue::Char(tok_.text);
        return Next();
      case Tok::True:
      case Tok::False:
        out = Make(Op::Const, XbType::Logical, 1);
        out->constant = TXbValue::Bool(tok_.kind == Tok::True);
        return Next();
      case Tok::LParen: {
        if (auto st = Next(); !st) return st;
        Depth d(depth_);
        if (depth_ > kMaxDepth) return Syntax("expression nested too deeply");
        if (auto st = ParseOr(out); !st) return st;
        if (tok_.kind != Tok::RParen) return Syntax("\")\" expected");
        return Next();
      }
      case Tok::Ident: return ParseName(out);
      case Tok::End: return Syntax("unexpected end of expression");
      default: return Syntax("unexpected \"" + tok_.text + "\"");
    }
  }

  XbStatus ParseName(NodePtr& out) {
    const std::string name = XbUpper(tok_.text);
    const size_t namePos = tok_.pos;
    if (auto st = Next(); !st) return st;
    if (tok_.kind != Tok::LParen) {
      for (const TDbfField& f : fields_) {
        if (f.name != name) continue;
        XbType t = XbType::Character;
        switch (f.type) {
          case 'D': t = XbType::Date; break;
          case 'L': t = XbType::Logical; break;
          case 'N': case 'F': t = XbType::Numeric; break;
          default: break;
        }
        out = Make(Op::Field, t, f.width);
        out->field = f;
        return {};
      }
      return XbFail(XbError::ExprUnknownName, name + " at column " + std::to_string(namePos + 1));
    }
    const FuncInfo* fi = FindFunc(name);
    if (fi == nullptr) return XbFail(XbError::ExprUnknownName, name + "() at column " + std::to_string(namePos + 1));
    if (auto st = Next(); !st) return st;
    std::vector<NodePtr> args;
    if (tok_.kind != Tok::RParen) {
      while (true) {
        NodePtr a;
        if (auto st = ParseOr(a); !st) return st;
        args.push_back(std::move(a));
        if (tok_.kind == Tok::Comma) {
          if (auto st = Next(); !st) return st;
          continue;
        }
        break;
      }
    }
    if (tok_.kind != Tok::RParen) return Syntax("\")\" expected");
    if (static_cast<int>(args.size()) < fi->minArgs || static_cast<int>(args.size()) > fi->maxArgs)
      return XbFail(XbError::ExprSyntax, std::string(fi->name) + "() takes " + std::to_string(fi->minArgs) +
                                             (fi->minArgs == fi->maxArgs ? "" : " to " + std::to_string(fi->maxArgs)) +
                                             " argument(s), at column " + std::to_string(namePos + 1));
    if (auto st = Next(); !st) return st;
    return BuildCall(*fi, std::move(args), out);
  }

  static bool ConstInt(const NodePtr& n, int& v) {
    if (n->op != Op::Const || n->type != XbType::Numeric) return false;
    v = static_cast<int>(std::clamp(n->constant.num, -1.0, static_cast<double>(kXbMaxTextWidth)));
    return true;
  }

  XbStatus BuildCall(const FuncInfo& fi, std::vector<NodePtr> args, NodePtr& out) {
    auto need = [&](size_t i, XbType t) -> XbStatus {
      if (args[i]->type != t)
        return XbFail(XbError::ExprType, std::string(fi.name) + "() argument " + std::to_string(i + 1) + " must be " +
                                             std::string(XbTypeName(t)) + ", not " +
                                             std::string(XbTypeName(args[i]->type)));
      return {};
    };
    XbType t = XbType::Character;
    int w = 0;
    switch (fi.op) {
      case Op::Deleted: t = XbType::Logical; w = 1; break;
      case Op::Recno: t = XbType::Numeric; break;
      case Op::Date: t = XbType::Date; w = 8; break;
      case Op::Dtos:
        if (auto st = need(0, XbType::Date); !st) return st;
        w = 8;
        break;
      case Op::Dtoc:
        if (auto st = need(0, XbType::Date); !st) return st;
        w = 10;
        break;
      case Op::Ctod:
      case Op::Stod:
        if (auto st = need(0, XbType::Character); !st) return st;
        t = XbType::Date;
        w = 8;
        break;
      case Op::Empty: t = XbType::Logical; w = 1; break;
      case Op::Upper: case Op::Lower: case Op::AllTrim: case Op::LTrim: case Op::RTrim:
        if (auto st = need(0, XbType::Character); !st) return st;
        w = args[0]->width;
        break;
      case Op::Substr: {
        if (auto st = need(0, XbType::Character); !st) return st;
        if (auto st = need(1, XbType::Numeric); !st) return st;
        if (args.size() > 2) {
          if (auto st = need(2, XbType::Numeric); !st) return st;
        }
        w = args[0]->width;
        int n = 0;
        if (args.size() > 2 && ConstInt(args[2], n)) w = std::clamp(n, 0, w);
        break;
      }
      case Op::Left:
      case Op::Right: {
        if (auto st = need(0, XbType::Character); !st) return st;
        if (auto st = need(1, XbType::Numeric); !st) return st;
        w = args[0]->width;
        int n = 0;
        if (ConstInt(args[1], n)) w = std::clamp(n, 0, w);
        break;
      }
      case Op::Len:
        if (auto st = need(0, XbType::Character); !st) return st;
        t = XbType::Numeric;
        break;
      case Op::Str: {
        if (auto st = need(0, XbType::Numeric); !st) return st;
        for (size_t i = 1; i < args.size(); ++i)
          if (auto st = need(i, XbType::Numeric); !st) return st;
        w = 10;
        int n = 0;
        if (args.size() > 1) w = ConstInt(args[1], n) ? std::clamp(n, 0, 255) : 255;
        break;
      }
      case Op::Val:
        if (auto st = need(0, XbType::Character); !st) return st;
        t = XbType::Numeric;
        break;
      case Op::Iif:
        if (auto st = need(0, XbType::Logical); !st) return st;
        if (args[1]->type != args[2]->type)
          return XbFail(XbError::ExprType, "IIF() branches of different types: " +
                                               std::string(XbTypeName(args[1]->type)) + " and " +
                                               std::string(XbTypeName(args[2]->type)));
        t = args[1]->type;
        w = std::max(args[1]->width, args[2]->width);
        break;
      case Op::Space: {
        if (auto st = need(0, XbType::Numeric); !st) return st;
        int n = 0;
        w = ConstInt(args[0], n) ? std::clamp(n, 0, kXbMaxTextWidth) : 255;
        break;
      }
      case Op::At:
        if (auto st = need(0, XbType::Character); !st) return st;
        if (auto st = need(1, XbType::Character); !st) return st;
        t = XbType::Numeric;
        break;
      case Op::Year: case Op::Month: case Op::Day:
        if (auto st = need(0, XbType::Date); !st) return st;
        t = XbType::Numeric;
        break;
      case Op::Int: case Op::Abs:
        if (auto st = need(0, XbType::Numeric); !st) return st;
        t = XbType::Numeric;
        break;
      default:
        return XbFail(XbError::ExprSyntax, "bad function");
    }
    out = Make(fi.op, t, w);
    out->kids = std::move(args);
    return {};
  }

  static constexpr int kMaxDepth = 100;
  std::string_view s_;
  const std::vector<TDbfField>& fields_;
  size_t i_ = 0;
  Token tok_;
  int depth_ = 0;
};

double ClampIndex(double v) { return std::clamp(std::isnan(v) ? 0.0 : v, -1e9, 1e9); }

void Eval(const TXbNode& n, const TXbEvalContext& c, TXbValue& out);

bool EvalBool(const TXbNode& n, const TXbEvalContext& c) {
  Eval(n, c, n.scratch[0]);
  return n.scratch[0].log;
}

int Compare(const TXbValue& a, const TXbValue& b, bool prefix) {
  switch (a.type) {
    case XbType::Character: return CompareText(a.str, b.str, prefix);
    case XbType::Numeric: return a.num < b.num ? -1 : a.num > b.num ? 1 : 0;
    case XbType::Date: return a.date < b.date ? -1 : a.date > b.date ? 1 : 0;
    case XbType::Logical: return a.log == b.log ? 0 : a.log ? 1 : -1;
  }
  return 0;
}

void SetChar(TXbValue& out) { out.type = XbType::Character; }

void Eval(const TXbNode& n, const TXbEvalContext& c, TXbValue& out) {
  const TXbSettings& set = *c.settings;
  auto kid = [&](size_t i, TXbValue& v) { Eval(*n.kids[i], c, v); };
  TXbValue& s0 = n.scratch[0];
  TXbValue& s1 = n.scratch[1];
  switch (n.op) {
    case Op::Const:
      out.type = n.constant.type;
      out.log = n.constant.log;
      out.num = n.constant.num;
      out.date = n.constant.date;
      out.str = n.constant.str;
      return;
    case Op::Field: XbReadFieldInto(n.field, c.record, out); return;
    case Op::Neg: kid(0, out); out.num = -out.num; return;
    case Op::Not: kid(0, out); out.log = !out.log; return;
    case Op::And: {
      const bool a = EvalBool(*n.kids[0], c);
      out.type = XbType::Logical;
      out.log = a && EvalBool(*n.kids[1], c);
      return;
    }
    case Op::Or: {
      const bool a = EvalBool(*n.kids[0], c);
      out.type = XbType::Logical;
      out.log = a || EvalBool(*n.kids[1], c);
      return;
    }
    case Op::Add:
    case Op::Sub: {
      kid(0, out);
      kid(1, s1);
      if (out.type == XbType::Character) {
        if (n.op == Op::Add) {
          out.str += s1.str;
        } else {
          const size_t keep = RTrimLen(out.str);
          const size_t blanks = out.str.size() - keep;
          out.str.resize(keep);
          out.str += s1.str;
          out.str.append(blanks, ' ');
        }
      } else if (out.type == XbType::Numeric && s1.type == XbType::Numeric) {
        out.num = n.op == Op::Add ? out.num + s1.num : out.num - s1.num;
      } else if (out.type == XbType::Date && s1.type == XbType::Numeric) {
        if (out.date != 0) {
          const double d = static_cast<double>(out.date) + (n.op == Op::Add ? s1.num : -s1.num);
          out.date = d < 1 || d > 5373484 ? 0 : static_cast<int32_t>(d);
        }
      } else if (out.type == XbType::Numeric && s1.type == XbType::Date) {
        const double d = s1.date == 0 ? 0 : static_cast<double>(s1.date) + out.num;
        out.type = XbType::Date;
        out.date = d < 1 || d > 5373484 ? 0 : static_cast<int32_t>(d);
      } else {  // date - date
        out.type = XbType::Numeric;
        out.num = static_cast<double>(out.date) - static_cast<double>(s1.date);
      }
      return;
    }
    case Op::Mul: case Op::Div: case Op::Mod: case Op::Pow: {
      kid(0, out);
      kid(1, s1);
      double r = 0;
      if (n.op == Op::Mul) r = out.num * s1.num;
      else if (n.op == Op::Div) r = s1.num == 0 ? 0 : out.num / s1.num;
      else if (n.op == Op::Mod) r = s1.num == 0 ? 0 : std::fmod(out.num, s1.num);
      else r = std::pow(out.num, s1.num);
      out.num = std::isfinite(r) ? r : 0;
      return;
    }
    case Op::Eq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge: case Op::ExactEq: {
      kid(0, s0);
      kid(1, s1);
      int cmp;
      if (n.op == Op::ExactEq && s0.type == XbType::Character) {
        cmp = s0.str == s1.str ? 0 : 1;
      } else {
        const bool prefix = !set.exact && n.op != Op::ExactEq;
        cmp = Compare(s0, s1, prefix);
      }
      bool r = false;
      switch (n.op) {
        case Op::Eq: case Op::ExactEq: r = cmp == 0; break;
        case Op::Ne: r = cmp != 0; break;
        case Op::Lt: r = cmp < 0; break;
        case Op::Le: r = cmp <= 0; break;
        case Op::Gt: r = cmp > 0; break;
        default: r = cmp >= 0; break;
      }
      out.type = XbType::Logical;
      out.log = r;
      return;
    }
    case Op::Contains:
      kid(0, s0);
      kid(1, s1);
      out.type = XbType::Logical;
      out.log = s1.str.find(s0.str) != std::string::npos;
      return;
    case Op::Deleted:
      out.type = XbType::Logical;
      out.log = c.record != nullptr && c.record[0] == kDbfDeletedFlag;
      return;
    case Op::Recno:
      out.type = XbType::Numeric;
      out.num = c.recno;
      return;
    case Op::Date:
      out.type = XbType::Date;
      out.date = set.Today();
      return;
    case Op::Dtos:
      kid(0, s0);
      SetChar(out);
      out.str = XbDtos(s0.date);
      return;
    case Op::Dtoc:
      kid(0, s0);
      SetChar(out);
      out.str = XbDtoc(s0.date, set);
      return;
    case Op::Ctod:
      kid(0, s0);
      out.type = XbType::Date;
      out.date = XbCtod(s0.str, set);
      return;
    case Op::Stod: {
      kid(0, s0);
      out.type = XbType::Date;
      int32_t jd = 0;
      out.date = XbParseDtos(s0.str, jd) ? jd : 0;
      return;
    }
    case Op::Empty: {
      kid(0, s0);
      bool e = false;
      switch (s0.type) {
        case XbType::Character: e = s0.str.find_first_not_of(" \t\r\n") == std::string::npos; break;
        case XbType::Numeric: e = s0.num == 0; break;
        case XbType::Date: e = s0.date == 0; break;
        case XbType::Logical: e = !s0.log; break;
      }
      out.type = XbType::Logical;
      out.log = e;
      return;
    }
    case Op::Upper:
    case Op::Lower:
      kid(0, out);
      if (n.op == Op::Upper)
        XbUpperText(out.str);
      else
        XbLowerText(out.str);
      return;
    case Op::AllTrim:
    case Op::LTrim:
    case Op::RTrim: {
      kid(0, out);
      if (n.op != Op::LTrim) out.str.resize(RTrimLen(out.str));
      if (n.op != Op::RTrim) {
        const size_t b = out.str.find_first_not_of(' ');
        out.str.erase(0, b == std::string::npos ? out.str.size() : b);
      }
      return;
    }
    case Op::Substr: {
      kid(0, out);
      kid(1, s1);
      const double start = ClampIndex(s1.num);
      double len = static_cast<double>(out.str.size());
      if (n.kids.size() > 2) {
        kid(2, s1);
        len = ClampIndex(s1.num);
      }
      const auto size = static_cast<double>(out.str.size());
      const double from = std::max(1.0, start);
      if (from > size || len <= 0) {
        out.str.clear();
        return;
      }
      const double take = std::min(len, size - from + 1);
      out.str = out.str.substr(static_cast<size_t>(from - 1), static_cast<size_t>(take));
      return;
    }
    case Op::Left:
    case Op::Right: {
      kid(0, out);
      kid(1, s1);
      const double k = std::clamp(ClampIndex(s1.num), 0.0, static_cast<double>(out.str.size()));
      const auto take = static_cast<size_t>(k);
      if (n.op == Op::Left) out.str.resize(take);
      else out.str.erase(0, out.str.size() - take);
      return;
    }
    case Op::Len:
      kid(0, s0);
      out.type = XbType::Numeric;
      out.num = static_cast<double>(s0.str.size());
      return;
    case Op::Str: {
      kid(0, s0);
      int width = 10, dec = 0;
      if (n.kids.size() > 1) {
        kid(1, s1);
        width = static_cast<int>(std::clamp(ClampIndex(s1.num), 1.0, 255.0));
      }
      if (n.kids.size() > 2) {
        kid(2, s1);
        dec = static_cast<int>(std::clamp(ClampIndex(s1.num), 0.0, 20.0));
      }
      SetChar(out);
      out.str = XbFormatNumber(s0.num, width, dec);
      return;
    }
    case Op::Val:
      kid(0, s0);
      out.type = XbType::Numeric;
      out.num = XbParseNumber(s0.str);
      return;
    case Op::Iif:
      if (EvalBool(*n.kids[0], c)) kid(1, out);
      else kid(2, out);
      return;
    case Op::Space:
      kid(0, s0);
      SetChar(out);
      out.str.assign(static_cast<size_t>(std::clamp(ClampIndex(s0.num), 0.0, static_cast<double>(kXbMaxTextWidth))),
                     ' ');
      return;
    case Op::At: {
      kid(0, s0);
      kid(1, s1);
      const size_t p = s0.str.empty() ? std::string::npos : s1.str.find(s0.str);
      out.type = XbType::Numeric;
      out.num = p == std::string::npos ? 0 : static_cast<double>(p + 1);
      return;
    }
    case Op::Year: case Op::Month: case Op::Day: {
      kid(0, s0);
      int y, m, d;
      XbCivil(s0.date, y, m, d);
      out.type = XbType::Numeric;
      out.num = n.op == Op::Year ? y : n.op == Op::Month ? m : d;
      return;
    }
    case Op::Int:
      kid(0, out);
      out.num = std::trunc(out.num);
      return;
    case Op::Abs:
      kid(0, out);
      out.num = std::fabs(out.num);
      return;
  }
}

}  // namespace

TXbExpr::TXbExpr() = default;
TXbExpr::~TXbExpr() = default;
TXbExpr::TXbExpr(TXbExpr&&) noexcept = default;
TXbExpr& TXbExpr::operator=(TXbExpr&&) noexcept = default;

XbStatus TXbExpr::Compile(std::string_view text, const std::vector<TDbfField>& fields, TXbExpr& out) {
  out = TXbExpr();
  if (text.size() > kXbMaxExpressionLength) return XbFail(XbError::ExprTooLong, std::to_string(text.size()) + " characters");
  Parser p(text, fields);
  NodePtr root;
  if (auto st = p.Parse(root); !st) {
    st.detail = "\"" + std::string(text) + "\": " + st.detail;
    return st;
  }
  out.root_ = std::move(root);
  out.text_ = std::string(text);
  return {};
}

XbType TXbExpr::Type() const { return root_ ? root_->type : XbType::Logical; }
int TXbExpr::Width() const { return root_ ? root_->width : 0; }

namespace {
bool ChangesCase(const TXbNode& n) {
  if (n.op == Op::Upper || n.op == Op::Lower) return true;
  for (const auto& k : n.kids)
    if (ChangesCase(*k)) return true;
  return false;
}
bool ReadsDeleted(const TXbNode& n) {
  if (n.op == Op::Deleted) return true;
  for (const auto& k : n.kids)
    if (ReadsDeleted(*k)) return true;
  return false;
}
}  // namespace

bool TXbExpr::ChangesLetterCase() const { return root_ && ChangesCase(*root_); }
bool TXbExpr::ReadsDeletedFlag() const { return root_ && ReadsDeleted(*root_); }

void TXbExpr::Eval(const TXbEvalContext& ctx, TXbValue& out) const {
  if (!root_) {
    out = TXbValue::Bool(true);
    return;
  }
  ::Eval(*root_, ctx, out);
}

bool TXbExpr::EvalLogical(const TXbEvalContext& ctx) const {
  if (!root_) return true;
  ::Eval(*root_, ctx, result_);
  return result_.type == XbType::Logical && result_.log;
}

XbStatus XbEvaluate(std::string_view text, const std::vector<TDbfField>& fields, const TXbEvalContext& ctx,
                    TXbValue& out) {
  TXbExpr e;
  if (auto st = TXbExpr::Compile(text, fields, e); !st) return st;
  e.Eval(ctx, out);
  return {};
}
