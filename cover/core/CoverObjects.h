#pragma once
// The objects of a cover page template as plain data: what the designer
// places on its surface, what the template files store and what the renderer
// draws. Coordinates are surface pixels at zoom 1 (96 pixels per inch).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The object kinds, numbered as the rendering file numbers them.
enum class TCoverObjectKind : int {
  ckText = 0,        // TFaxCoverLabel
  ckSymbol = 1,      // TFaxCoverSymbol
  ckShape = 2,       // TFaxCoverShapes
  ckLine = 3,        // TFaxCoverLine
  ckImportance = 4,  // TFaxCoverImportance
  ckField = 5,       // TFaxCoverField
  ckMessage = 6,     // TFaxCoverMessage
};
inline constexpr int kCoverObjectKinds = 7;

enum TCoverFieldType : int {
  cfDate,
  cfTime,
  cfRegarding,
  cfRecipient,
  cfRecipientFax,
  cfSender,
  cfSenderCompany,
  cfSenderFax,
  cfSenderVoice,
};
inline constexpr int kCoverFieldTypes = 9;

enum TShapeType : int { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };
inline constexpr int kShapeTypes = 6;
enum TShapeFillType : int { sftTransparent, sftFilledWhite, sftFilledBlack };
inline constexpr int kShapeFillTypes = 3;
enum TLineStyle : int { lsHorizontal, lsVertical, lsAngleSlopingUp, lsAngleSlopingDown };
inline constexpr int kLineStyles = 4;

inline constexpr std::string_view kImportanceCaption =
    "[  ]Urgent     [  ]For Review     [  ]Please Comment     [  ]Please Reply     [  ]Please Recycle";
inline constexpr int kImportanceBoxes = 5;

struct TCoverFont {
  std::string Name = "Arial";
  int Size = 10;          // points
  uint32_t Color = 0;     // 0xRRGGBB, black by default
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool operator==(const TCoverFont&) const = default;
};

// One object of any kind; the members a kind does not use keep their
// defaults and are neither stored nor drawn.
struct TCoverObject {
  TCoverObjectKind Kind = TCoverObjectKind::ckText;
  std::string Name;  // component name, "Component" + number on the surface
  int Left = 0;
  int Top = 0;
  int Width = 142;
  int Height = 33;
  bool Locked = false;
  bool Unselectable = false;
  // Text-like kinds (text, symbol, message, importance, field).
  std::string Caption = "Text";
  TCoverFont Font;
  TCoverFieldType CoverFieldType = cfDate;  // field
  // Shapes and lines.
  TShapeType Shape = stRectangle;
  TShapeFillType ShapeFilltype = sftTransparent;
  int Pen = 1;  // outline width in points
  int RoundPerc = 25;
  TLineStyle LineStyle = lsHorizontal;

  bool operator==(const TCoverObject&) const = default;
};

// True for the kinds that carry a caption and a font.
[[nodiscard]] bool IsTextLike(TCoverObjectKind kind);
// An object of this kind with every property at its default.
[[nodiscard]] TCoverObject MakeCoverObject(TCoverObjectKind kind);
// "TFaxCoverLabel", ... and back (nullopt for an unknown class).
[[nodiscard]] std::string_view CoverClassName(TCoverObjectKind kind);
[[nodiscard]] std::optional<TCoverObjectKind> CoverKindFromClassName(std::string_view name);
// The "Field" menu captions: "Date", ..., "Sender Phone".
[[nodiscard]] std::string_view FieldMenuCaption(TCoverFieldType type);
// Sets the field type and the caption "[" + menu caption + "]".
void SetFieldType(TCoverObject& field, TCoverFieldType type);
