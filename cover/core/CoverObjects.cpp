#include "cover/core/CoverObjects.h"

namespace {

constexpr std::array<std::string_view, kCoverObjectKinds> kClassNames = {
    "TFaxCoverLabel", "TFaxCoverSymbol", "TFaxCoverShapes", "TFaxCoverLine",
    "TFaxCoverImportance", "TFaxCoverField", "TFaxCoverMessage"};

constexpr std::array<std::string_view, kCoverFieldTypes> kFieldCaptions = {
    "Date", "Time", "Regarding", "Recipient", "Recipient Fax", "Sender", "Sender Company", "Sender Fax",
    "Sender Phone"};

}  // namespace

bool IsTextLike(TCoverObjectKind kind) {
  return kind != TCoverObjectKind::ckShape && kind != TCoverObjectKind::ckLine;
}

TCoverObject MakeCoverObject(TCoverObjectKind kind) {
  TCoverObject o;
  o.Kind = kind;
  switch (kind) {
    case TCoverObjectKind::ckText:
      break;
    case TCoverObjectKind::ckSymbol:
      o.Caption = "[";
      o.Font.Name = "WingDings";
      o.Font.Size = 24;
      break;
    case TCoverObjectKind::ckMessage:
      o.Caption = "[Fax Message]";
      break;
    case TCoverObjectKind::ckImportance:
      o.Caption = std::string(kImportanceCaption);
      break;
    case TCoverObjectKind::ckField:
      SetFieldType(o, cfDate);
      break;
    case TCoverObjectKind::ckShape:
    case TCoverObjectKind::ckLine:
      o.Width = 65;
      o.Height = 65;
      o.Caption.clear();
      break;
  }
  return o;
}

std::string_view CoverClassName(TCoverObjectKind kind) {
  const auto i = static_cast<size_t>(kind);
  return i < kClassNames.size() ? kClassNames[i] : std::string_view{};
}

std::optional<TCoverObjectKind> CoverKindFromClassName(std::string_view name) {
  for (size_t i = 0; i < kClassNames.size(); ++i)
    if (kClassNames[i] == name) return static_cast<TCoverObjectKind>(i);
  return std::nullopt;
}

std::string_view FieldMenuCaption(TCoverFieldType type) {
  const auto i = static_cast<size_t>(type);
  return i < kFieldCaptions.size() ? kFieldCaptions[i] : std::string_view{};
}

void SetFieldType(TCoverObject& field, TCoverFieldType type) {
  field.CoverFieldType = type;
  field.Caption = "[" + std::string(FieldMenuCaption(type)) + "]";
}
