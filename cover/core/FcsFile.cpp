#include "cover/core/FcsFile.h"

#include "cover/core/FctFile.h"
#include "cover/core/TypedValues.h"

namespace {

constexpr std::string_view kSignature = "TPF0";

// The properties of one object, each written when it differs from the
// default of its class. One table for writing and reading keeps the two in
// step.
enum class TPropType { Int, Bool, String };
struct TProp {
  std::string_view name;
  TPropType type;
  bool textOnly;   // only text-like kinds carry it
  int shapeLine;   // 0 all kinds, 1 shapes only, 2 lines only, 3 shapes and lines, 4 fields only
  int enumCount;   // > 0: an enumeration with this many values
};

constexpr TProp kProps[] = {
    {"Left", TPropType::Int, false, 0, 0},
    {"Top", TPropType::Int, false, 0, 0},
    {"Width", TPropType::Int, false, 0, 0},
    {"Height", TPropType::Int, false, 0, 0},
    {"Locked", TPropType::Bool, false, 0, 0},
    {"Unselectable", TPropType::Bool, false, 0, 0},
    {"Caption", TPropType::String, true, 0, 0},
    {"Font.Name", TPropType::String, true, 0, 0},
    {"Font.Size", TPropType::Int, true, 0, 0},
    {"Font.Color", TPropType::Int, true, 0, 0},
    {"Font.Bold", TPropType::Bool, true, 0, 0},
    {"Font.Italic", TPropType::Bool, true, 0, 0},
    {"Font.Underline", TPropType::Bool, true, 0, 0},
    {"CoverFieldType", TPropType::Int, true, 4, kCoverFieldTypes},
    {"Shape", TPropType::Int, false, 1, kShapeTypes},
    {"ShapeFilltype", TPropType::Int, false, 1, kShapeFillTypes},
    {"Pen", TPropType::Int, false, 3, 0},
    {"RoundPerc", TPropType::Int, false, 1, 0},
    {"LineStyle", TPropType::Int, false, 2, kLineStyles},
};

bool Applies(const TProp& p, TCoverObjectKind kind) {
  if (p.textOnly && !IsTextLike(kind)) return false;
  switch (p.shapeLine) {
    case 1: return kind == TCoverObjectKind::ckShape;
    case 2: return kind == TCoverObjectKind::ckLine;
    case 3: return kind == TCoverObjectKind::ckShape || kind == TCoverObjectKind::ckLine;
    case 4: return kind == TCoverObjectKind::ckField;
    default: return true;
  }
}

int GetInt(const TCoverObject& o, std::string_view name) {
  if (name == "Left") return o.Left;
  if (name == "Top") return o.Top;
  if (name == "Width") return o.Width;
  if (name == "Height") return o.Height;
  if (name == "Font.Size") return o.Font.Size;
  if (name == "Pen") return o.Pen;
  if (name == "RoundPerc") return o.RoundPerc;
  if (name == "CoverFieldType") return o.CoverFieldType;
  if (name == "Shape") return o.Shape;
  if (name == "ShapeFilltype") return o.ShapeFilltype;
  if (name == "LineStyle") return o.LineStyle;
  if (name == "Font.Color") return static_cast<int>(o.Font.Color & 0xFFFFFF);
  return 0;
}

// Enumerations arrive here already checked against their range.
void SetInt(TCoverObject& o, std::string_view name, int v) {
  if (name == "Left") o.Left = v;
  if (name == "Top") o.Top = v;
  if (name == "Width") o.Width = v;
  if (name == "Height") o.Height = v;
  if (name == "Font.Size") o.Font.Size = v;
  if (name == "Pen") o.Pen = v;
  if (name == "RoundPerc") o.RoundPerc = v;
  if (name == "CoverFieldType") o.CoverFieldType = static_cast<TCoverFieldType>(v);
  if (name == "Shape") o.Shape = static_cast<TShapeType>(v);
  if (name == "ShapeFilltype") o.ShapeFilltype = static_cast<TShapeFillType>(v);
  if (name == "LineStyle") o.LineStyle = static_cast<TLineStyle>(v);
  if (name == "Font.Color") o.Font.Color = static_cast<uint32_t>(v) & 0xFFFFFF;
}

bool* BoolMember(TCoverObject& o, std::string_view name) {
  if (name == "Locked") return &o.Locked;
  if (name == "Unselectable") return &o.Unselectable;
  if (name == "Font.Bold") return &o.Font.Bold;
  if (name == "Font.Italic") return &o.Font.Italic;
  if (name == "Font.Underline") return &o.Font.Underline;
  return nullptr;
}

std::string* StringMember(TCoverObject& o, std::string_view name) {
  if (name == "Caption") return &o.Caption;
  if (name == "Font.Name") return &o.Font.Name;
  return nullptr;
}

void WriteObject(TValueWriter& w, const TCoverObject& object) {
  TCoverObject o = object;  // non-const for the Boolean and text lookups
  TCoverObject d = MakeCoverObject(o.Kind);
  w.WriteRaw(kSignature);
  w.WriteShortString(CoverClassName(o.Kind));
  w.WriteShortString(o.Name);
  for (const TProp& p : kProps) {
    if (!Applies(p, o.Kind)) continue;
    switch (p.type) {
      case TPropType::Int:
        if (GetInt(o, p.name) != GetInt(d, p.name)) {
          w.WriteShortString(p.name);
          w.WriteInteger(GetInt(o, p.name));
        }
        break;
      case TPropType::Bool:
        if (*BoolMember(o, p.name) != *BoolMember(d, p.name)) {
          w.WriteShortString(p.name);
          w.WriteBoolean(*BoolMember(o, p.name));
        }
        break;
      case TPropType::String:
        if (*StringMember(o, p.name) != *StringMember(d, p.name)) {
          w.WriteShortString(p.name);
          w.WriteString(*StringMember(o, p.name));
        }
        break;
    }
  }
  w.WriteListEnd();  // end of properties
  w.WriteListEnd();  // no child objects
}

bool ReadProperty(TValueReader& in, TCoverObject& o, std::string& error) {
  std::string name;
  if (!in.ReadShortString(name)) return error = in.Error(), false;
  const TProp* prop = nullptr;
  for (const TProp& p : kProps)
    if (p.name == name && Applies(p, o.Kind)) prop = &p;
  if (prop == nullptr) {
    // A property this version does not know: step over its value.
    if (!in.SkipValue()) return error = "property \"" + name + "\": " + in.Error(), false;
    return true;
  }
  bool ok = false;
  if (prop->type == TPropType::Int) {
    int32_t v = 0;
    ok = in.ReadInteger(v);
    if (ok && prop->enumCount > 0 && (v < 0 || v >= prop->enumCount))
      return error = "property \"" + name + "\": value " + std::to_string(v) + " out of range", false;
    if (ok) SetInt(o, name, v);
  } else if (prop->type == TPropType::Bool) {
    ok = in.ReadBoolean(*BoolMember(o, name));
  } else {
    ok = in.ReadString(*StringMember(o, name));
  }
  if (!ok) error = "property \"" + name + "\": " + in.Error();
  return ok;
}

bool ReadObject(TValueReader& in, TCoverObject& o, std::string& error) {
  std::string className;
  if (!in.ReadSignature(kSignature) || !in.ReadShortString(className)) return error = in.Error(), false;
  const auto kind = CoverKindFromClassName(className);
  if (!kind) return error = "unknown class \"" + className + "\"", false;
  o = MakeCoverObject(*kind);
  if (!in.ReadShortString(o.Name)) return error = in.Error(), false;
  for (;;) {
    const auto b = in.PeekByte();
    if (!b) return error = "component \"" + o.Name + "\" ends before its properties do", false;
    if (*b == 0) break;
    if (!ReadProperty(in, o, error)) return false;
  }
  if (!in.ReadListEnd()) return error = in.Error(), false;
  if (in.PeekByte() != 0) return error = "component \"" + o.Name + "\": child objects are not allowed", false;
  return in.ReadListEnd();
}

}  // namespace

std::string WriteFcs(const std::vector<TCoverObject>& objects) {
  TValueWriter w;
  w.WriteListStart();
  for (const auto& o : objects) WriteObject(w, o);
  w.WriteListEnd();
  return w.Take();
}

TFcsReadResult ReadFcs(std::string_view bytes) {
  TFcsReadResult result;
  TValueReader in(bytes);
  if (!in.ReadListStart()) {
    result.Error = in.Error();
    return result;
  }
  for (;;) {
    const auto b = in.PeekByte();
    if (!b) {
      result.Error = "the list of components has no end";
      return result;
    }
    if (*b == 0) break;
    TCoverObject o;
    std::string error;
    if (!ReadObject(in, o, error)) {
      result.Error = "component " + std::to_string(result.Objects.size() + 1) + ": " + error;
      return result;
    }
    result.Objects.push_back(std::move(o));
  }
  (void)in.ReadListEnd();
  if (!in.AtEnd()) result.Error = "data after the end of the component list at byte " + std::to_string(in.Position());
  return result;
}

TFcsReadResult ReadFcsFile(const std::filesystem::path& path) {
  std::string bytes;
  if (!ReadTemplateBytes(path, bytes)) {
    TFcsReadResult r;
    r.Error = "cannot open " + path.string();
    return r;
  }
  return ReadFcs(bytes);
}

bool WriteFcsFile(const std::filesystem::path& path, const std::vector<TCoverObject>& objects) {
  return WriteTemplateBytes(path, WriteFcs(objects));
}

std::string UnableToOpenMessage(const std::string& fileName) {
  return "Unable to open " + fileName + ". Possibly corrupted, posibly not a Labelcraft file";
}
