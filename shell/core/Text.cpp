#include "shell/core/Text.h"

std::string TrimLeft(std::string_view s) {
  const size_t b = s.find_first_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  const size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}

std::string TrimBoth(std::string_view s) { return TrimLeft(TrimRight(s)); }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string FaxClassName(int faxClassNumber) {
  switch (static_cast<TFaxClassNumber>(faxClassNumber)) {
    case TFaxClassNumber::AutoDetect: return "AutoDetect";
    case TFaxClassNumber::Class1: return "Class 1";
    case TFaxClassNumber::Class2: return "Class 2";
    case TFaxClassNumber::Class2_0: return "Class 2.0";
  }
  return "unknown";
}
