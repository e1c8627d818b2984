#include "cover/core/FctFile.h"

#include <fstream>

#include "cover/core/TypedValues.h"

int ToFaxUnits(int value, int pixelsPerInch) {
  if (pixelsPerInch <= 0) pixelsPerInch = 96;
  // In 64 bits, so large coordinates cannot overflow before the division;
  // C++ division truncates towards zero as the stored form expects.
  const int64_t units = int64_t{value} * kFaxUnitsPerInch / pixelsPerInch;
  if (units > INT32_MAX) return INT32_MAX;
  if (units < INT32_MIN) return INT32_MIN;
  return static_cast<int>(units);
}

TFctRecord MakeFctRecord(const TCoverObject& o, int pixelsPerInch) {
  TFctRecord r;
  r.Kind = static_cast<int>(o.Kind);
  r.Left = ToFaxUnits(o.Left, pixelsPerInch);
  r.Top = ToFaxUnits(o.Top, pixelsPerInch);
  r.Width = ToFaxUnits(o.Width, pixelsPerInch);
  r.Height = ToFaxUnits(o.Height, pixelsPerInch);
  const auto twice = [](int v) { return v > INT32_MAX / 2 ? INT32_MAX : v < INT32_MIN / 2 ? INT32_MIN : v * 2; };
  if (IsTextLike(o.Kind)) {
    if (o.Kind == TCoverObjectKind::ckText || o.Kind == TCoverObjectKind::ckSymbol) r.Text = o.Caption;
    r.FontName = o.Font.Name;
    r.FontSize = twice(o.Font.Size);
    r.Bold = o.Font.Bold;
    r.Italic = o.Font.Italic;
    r.Underline = o.Font.Underline;
    if (o.Kind == TCoverObjectKind::ckField) r.Ints[5] = o.CoverFieldType;
  } else if (o.Kind == TCoverObjectKind::ckShape) {
    r.Ints[0] = o.Shape;
    r.Ints[1] = o.ShapeFilltype;
    r.Ints[2] = twice(o.Pen);
    r.Ints[4] = o.RoundPerc;
  } else {
    r.Ints[2] = twice(o.Pen);
    r.Ints[3] = o.LineStyle;
  }
  return r;
}

void WriteFctRecord(std::string& out, const TFctRecord& r) {
  TValueWriter w;
  w.WriteListStart();
  w.WriteInteger(r.Kind);
  w.WriteInteger(r.Left);
  w.WriteInteger(r.Top);
  w.WriteInteger(r.Width);
  w.WriteInteger(r.Height);
  w.WriteString(r.Text);
  w.WriteString(r.FontName);
  w.WriteInteger(r.FontSize);
  w.WriteBoolean(r.Bold);
  w.WriteBoolean(r.Italic);
  w.WriteBoolean(r.Underline);
  for (int v : r.Ints) w.WriteInteger(v);
  w.WriteListEnd();
  out += w.Bytes();
}

std::string WriteFct(const std::vector<TFctRecord>& records) {
  std::string out;
  for (const auto& r : records) WriteFctRecord(out, r);
  return out;
}

namespace {

bool ReadRecord(TValueReader& in, int divisor, TFctRecord& r) {
  if (!in.ReadListStart() || !in.ReadInteger(r.Kind) || !in.ReadInteger(r.Left) || !in.ReadInteger(r.Top) ||
      !in.ReadInteger(r.Width) || !in.ReadInteger(r.Height) || !in.ReadString(r.Text) ||
      !in.ReadString(r.FontName) || !in.ReadInteger(r.FontSize) || !in.ReadBoolean(r.Bold) ||
      !in.ReadBoolean(r.Italic) || !in.ReadBoolean(r.Underline))
    return false;
  for (int& v : r.Ints)
    if (!in.ReadInteger(v)) return false;
  if (!in.ReadListEnd()) return false;
  if (divisor > 1) {
    r.Left /= divisor;
    r.Top /= divisor;
    r.Width /= divisor;
    r.Height /= divisor;
    r.FontSize /= divisor;
    r.Ints[2] /= divisor;
  }
  return true;
}

}  // namespace

TFctReadResult ReadFct(std::string_view bytes, int divisor) {
  TFctReadResult result;
  TValueReader in(bytes);
  while (!in.AtEnd()) {
    TFctRecord r;
    if (!ReadRecord(in, divisor, r)) {
      result.Error = "record " + std::to_string(result.Records.size() + 1) + ": " + in.Error();
      break;
    }
    result.Records.push_back(std::move(r));
  }
  return result;
}

bool ReadTemplateBytes(const std::filesystem::path& path, std::string& bytes) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  bytes.clear();
  char buf[65536];
  while (bytes.size() < kMaxTemplateFileSize && f.read(buf, sizeof buf).gcount() > 0) {
    const auto n = static_cast<size_t>(f.gcount());
    bytes.append(buf, std::min<size_t>(n, kMaxTemplateFileSize - bytes.size()));
  }
  return true;
}

bool WriteTemplateBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  return static_cast<bool>(f);
}

TFctReadResult ReadFctFile(const std::filesystem::path& path, int divisor) {
  std::string bytes;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec) || !ReadTemplateBytes(path, bytes)) {
    TFctReadResult r;
    r.Missing = true;
    return r;
  }
  return ReadFct(bytes, divisor);
}

bool WriteFctFile(const std::filesystem::path& path, const std::vector<TFctRecord>& records) {
  return WriteTemplateBytes(path, WriteFct(records));
}
