#include "tools/cvmodemline/AtParser.h"

#include <cctype>

namespace {

char Up(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads up to 9 digits; more would not fit any register or setting.
std::optional<long> ReadNumber(std::string_view s, size_t& i, bool& ok) {
  size_t start = i;
  long v = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (i - start >= 9) {
      ok = false;
      return std::nullopt;
    }
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == start) return std::nullopt;
  return v;
}

}  // namespace

TAtParse ParseAtLine(std::string_view body) {
  TAtParse out;
  if (body.size() > kAtMaxLine) {
    out.ok = false;
    return out;
  }
  size_t i = 0;
  std::optional<long> selectedRegister;
  while (i < body.size()) {
    char c = Up(body[i]);
    if (c == ' ' || c == ';') {
      ++i;
      continue;
    }
    size_t start = i;
    TAtCommand cmd;
    if (c == '+') {
      cmd.kind = TAtKind::Extended;
      cmd.name = "+";
      ++i;
      while (i < body.size() && (std::isalnum(static_cast<unsigned char>(body[i])) || body[i] == '.' ||
                                 body[i] == '_' || body[i] == '%' || body[i] == '!' || body[i] == ':')) {
        cmd.name += Up(body[i]);
        ++i;
      }
      if (cmd.name.size() < 2) {
        out.ok = false;
        return out;
      }
      if (i < body.size() && body[i] == '?') {
        cmd.op = TAtOp::Read;
        ++i;
      } else if (i < body.size() && body[i] == '=') {
        ++i;
        if (i < body.size() && body[i] == '?') {
          cmd.op = TAtOp::Test;
          ++i;
        } else {
          cmd.op = TAtOp::Set;
          bool quoted = false;
          while (i < body.size() && (quoted || body[i] != ';')) {
            if (body[i] == '"') quoted = !quoted;
            cmd.arg += body[i];
            ++i;
          }
          if (quoted) {
            out.ok = false;
            return out;
          }
        }
      }
      if (i < body.size() && body[i] != ';') {
        out.ok = false;
        return out;
      }
    } else if (c == 'D') {
      cmd.kind = TAtKind::Dial;
      cmd.name = "D";
      ++i;
      while (i < body.size() && body[i] != ';') cmd.arg += body[i++];
      if (i < body.size()) {
        cmd.arg += ';';  // stay in command mode after dialling
        ++i;
      }
    } else if (c == 'S') {
      cmd.kind = TAtKind::SRegister;
      cmd.name = "S";
      ++i;
      bool ok = true;
      cmd.number = ReadNumber(body, i, ok);
      if (!ok || !cmd.number) {
        out.ok = false;
        return out;
      }
      selectedRegister = cmd.number;
      if (i < body.size() && body[i] == '?') {
        cmd.op = TAtOp::Read;
        ++i;
      } else if (i < body.size() && body[i] == '=') {
        ++i;
        cmd.op = TAtOp::Set;
        auto v = ReadNumber(body, i, ok);
        if (!ok) {
          out.ok = false;
          return out;
        }
        cmd.arg = std::to_string(v.value_or(0));
      }
    } else if (c == '?') {
      // "?" alone reads the register selected last.
      ++i;
      if (!selectedRegister) {
        out.ok = false;
        return out;
      }
      cmd.kind = TAtKind::SRegister;
      cmd.name = "S";
      cmd.number = selectedRegister;
      cmd.op = TAtOp::Read;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '&' || c == '\\' || c == '%') {
      cmd.kind = TAtKind::Basic;
      cmd.name += c;
      ++i;
      if (c == '&' || c == '\\' || c == '%') {
        if (i >= body.size() || !std::isalpha(static_cast<unsigned char>(body[i]))) {
          out.ok = false;
          return out;
        }
        cmd.name += Up(body[i]);
        ++i;
      }
      bool ok = true;
      cmd.number = ReadNumber(body, i, ok);
      if (!ok) {
        out.ok = false;
        return out;
      }
    } else {
      out.ok = false;
      return out;
    }
    cmd.text = std::string(body.substr(start, i - start));
    out.commands.push_back(std::move(cmd));
  }
  return out;
}

std::string DialDigits(std::string_view dial, bool& pulse) {
  std::string digits;
  for (char ch : dial) {
    char c = Up(ch);
    if (IsDigit(c) || c == '*' || c == '#') {
      digits += c;
    } else if (c == 'P') {
      pulse = true;
    } else if (c == 'T') {
      pulse = false;
    }
  }
  return digits;
}
