#pragma once
// The typed-value encoding shared by the template files: each value is a type
// byte followed by its data, integers little-endian. The writer always picks
// the shortest integer form; the reader accepts any of them. The reader never
// trusts a length: every read is checked against the bytes that remain, and
// a failed read leaves an error text and the position where it failed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class TValueType : uint8_t {
  vaNull = 0,     // end of list / end of properties
  vaList = 1,     // start of list
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaString = 6,   // 1 length byte, at most 255 characters
  vaFalse = 8,
  vaTrue = 9,
  vaLString = 12, // 4-byte length
};

class TValueWriter {
 public:
  void WriteListStart() { Put(TValueType::vaList); }
  void WriteListEnd() { Put(TValueType::vaNull); }
  void WriteInteger(int32_t value);
  void WriteString(std::string_view text);
  void WriteBoolean(bool value) { Put(value ? TValueType::vaTrue : TValueType::vaFalse); }
  // Untyped: a length byte and at most 255 characters (names in component
  // records). Longer texts are cut at 255.
  void WriteShortString(std::string_view text);
  void WriteRaw(std::string_view bytes) { out_.append(bytes); }

  const std::string& Bytes() const { return out_; }
  std::string Take() { return std::move(out_); }

 private:
  void Put(TValueType t) { out_.push_back(static_cast<char>(t)); }
  void PutLe(uint32_t v, int bytes);
  std::string out_;
};

class TValueReader {
 public:
  // The reader keeps a view: the bytes must outlive it.
  explicit TValueReader(std::string_view bytes) : in_(bytes) {}
  explicit TValueReader(std::string&&) = delete;

  bool AtEnd() const { return pos_ >= in_.size(); }
  size_t Position() const { return pos_; }
  // The type byte of the next value, without consuming it; nullopt at the end.
  std::optional<uint8_t> PeekByte() const;

  [[nodiscard]] bool ReadListStart();
  [[nodiscard]] bool ReadListEnd();
  [[nodiscard]] bool ReadInteger(int32_t& value);
  [[nodiscard]] bool ReadString(std::string& text);
  [[nodiscard]] bool ReadBoolean(bool& value);
  [[nodiscard]] bool ReadShortString(std::string& text);
  // Exactly these bytes, untyped (a signature such as "TPF0").
  [[nodiscard]] bool ReadSignature(std::string_view signature);
  // Steps over one value of any type, lists included. Lists nested deeper
  // than kMaxDepth are refused rather than followed.
  [[nodiscard]] bool SkipValue();

  static constexpr int kMaxDepth = 32;

  // What went wrong in the last failed read, with the byte offset.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& what);
  bool Take(size_t n, std::string_view& out);
  bool ReadLe(int bytes, uint32_t& value);

  std::string_view in_;
  size_t pos_ = 0;
  std::string error_;
};
