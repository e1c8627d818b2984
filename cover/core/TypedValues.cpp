#include "cover/core/TypedValues.h"

void TValueWriter::PutLe(uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void TValueWriter::WriteInteger(int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  if (value >= -128 && value <= 127) {
    Put(TValueType::vaInt8);
    PutLe(u, 1);
  } else if (value >= -32768 && value <= 32767) {
    Put(TValueType::vaInt16);
    PutLe(u, 2);
  } else {
    Put(TValueType::vaInt32);
    PutLe(u, 4);
  }
}

void TValueWriter::WriteString(std::string_view text) {
  if (text.size() <= 255) {
    Put(TValueType::vaString);
    PutLe(static_cast<uint32_t>(text.size()), 1);
  } else {
    Put(TValueType::vaLString);
    // Texts past 2 GiB cannot be stored; they are cut rather than wrapped.
    if (text.size() > 0x7FFFFFFF) text = text.substr(0, 0x7FFFFFFF);
    PutLe(static_cast<uint32_t>(text.size()), 4);
  }
  out_.append(text);
}

void TValueWriter::WriteShortString(std::string_view text) {
  if (text.size() > 255) text = text.substr(0, 255);
  PutLe(static_cast<uint32_t>(text.size()), 1);
  out_.append(text);
}

std::optional<uint8_t> TValueReader::PeekByte() const {
  if (AtEnd()) return std::nullopt;
  return static_cast<uint8_t>(in_[pos_]);
}

bool TValueReader::Fail(const std::string& what) {
  error_ = what + " at byte " + std::to_string(pos_);
  return false;
}

bool TValueReader::Take(size_t n, std::string_view& out) {
  if (n > in_.size() - pos_) return Fail("value runs past the end of the data");
  out = in_.substr(pos_, n);
  pos_ += n;
  return true;
}

bool TValueReader::ReadLe(int bytes, uint32_t& value) {
  std::string_view b;
  if (!Take(static_cast<size_t>(bytes), b)) return false;
  value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint32_t{static_cast<uint8_t>(b[static_cast<size_t>(i)])} << (8 * i);
  return true;
}

bool TValueReader::ReadListStart() {
  if (PeekByte() != static_cast<uint8_t>(TValueType::vaList)) return Fail("list start expected");
  ++pos_;
  return true;
}

bool TValueReader::ReadListEnd() {
  if (PeekByte() != static_cast<uint8_t>(TValueType::vaNull)) return Fail("list end expected");
  ++pos_;
  return true;
}

bool TValueReader::ReadInteger(int32_t& value) {
  const auto t = PeekByte();
  if (!t) return Fail("integer expected, end of data found");
  const size_t start = pos_;
  uint32_t raw = 0;
  ++pos_;
  switch (static_cast<TValueType>(*t)) {
    case TValueType::vaInt8:
      if (!ReadLe(1, raw)) break;
      value = static_cast<int8_t>(raw);
      return true;
    case TValueType::vaInt16:
      if (!ReadLe(2, raw)) break;
      value = static_cast<int16_t>(raw);
      return true;
    case TValueType::vaInt32:
      if (!ReadLe(4, raw)) break;
      value = static_cast<int32_t>(raw);
      return true;
    default:
      pos_ = start;
      return Fail("integer expected, type " + std::to_string(*t) + " found");
  }
  pos_ = start;
  return false;
}

bool TValueReader::ReadString(std::string& text) {
  const auto t = PeekByte();
  if (!t) return Fail("string expected, end of data found");
  const size_t start = pos_;
  ++pos_;
  uint32_t length = 0;
  if (*t == static_cast<uint8_t>(TValueType::vaString)) {
    if (!ReadLe(1, length)) return pos_ = start, false;
  } else if (*t == static_cast<uint8_t>(TValueType::vaLString)) {
    if (!ReadLe(4, length)) return pos_ = start, false;
  } else {
    pos_ = start;
    return Fail("string expected, type " + std::to_string(*t) + " found");
  }
  std::string_view chars;
  if (!Take(length, chars)) return pos_ = start, false;
  text.assign(chars);
  return true;
}

bool TValueReader::ReadBoolean(bool& value) {
  const auto t = PeekByte();
  if (t == static_cast<uint8_t>(TValueType::vaTrue) || t == static_cast<uint8_t>(TValueType::vaFalse)) {
    value = *t == static_cast<uint8_t>(TValueType::vaTrue);
    ++pos_;
    return true;
  }
  return Fail(t ? "Boolean expected, type " + std::to_string(*t) + " found" : "Boolean expected, end of data found");
}

bool TValueReader::ReadShortString(std::string& text) {
  const size_t start = pos_;
  uint32_t length = 0;
  if (!ReadLe(1, length)) return false;
  std::string_view chars;
  if (!Take(length, chars)) return pos_ = start, false;
  text.assign(chars);
  return true;
}

bool TValueReader::ReadSignature(std::string_view signature) {
  if (in_.substr(pos_, signature.size()) != signature) return Fail("\"" + std::string(signature) + "\" expected");
  pos_ += signature.size();
  return true;
}

bool TValueReader::SkipValue() {
  // Iterative, with an explicit depth count, so hostile nesting cannot use up
  // the stack.
  const size_t start = pos_;
  int depth = 0;
  do {
    const auto t = PeekByte();
    if (!t) {
      Fail("value expected, end of data found");
      pos_ = start;
      return false;
    }
    bool ok = true;
    int32_t i = 0;
    std::string s;
    switch (static_cast<TValueType>(*t)) {
      case TValueType::vaNull:
        if (depth == 0) {
          pos_ = start;
          return Fail("value expected, list end found");
        }
        ++pos_;
        --depth;
        break;
      case TValueType::vaList:
        if (depth >= kMaxDepth) {
          Fail("lists nested more than " + std::to_string(kMaxDepth) + " deep");
          pos_ = start;
          return false;
        }
        ++pos_;
        ++depth;
        break;
      case TValueType::vaInt8:
      case TValueType::vaInt16:
      case TValueType::vaInt32:
        ok = ReadInteger(i);
        break;
      case TValueType::vaString:
      case TValueType::vaLString:
        ok = ReadString(s);
        break;
      case TValueType::vaFalse:
      case TValueType::vaTrue:
        ++pos_;
        break;
      default:
        ok = Fail("unknown value type " + std::to_string(*t));
        break;
    }
    if (!ok) {
      const std::string e = error_;
      pos_ = start;
      error_ = e;
      return false;
    }
  } while (depth > 0);
  return true;
}
