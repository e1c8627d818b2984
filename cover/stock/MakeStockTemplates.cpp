// Writes the stock cover templates (FCS, FCT, preview BMP, DES) into a
// folder with the template writers of the program itself. Its output is kept
// in cover/stock/ and built into the program, which copies it into an empty
// Covers folder. Run: make_stock_covers cover/stock
#include <QGuiApplication>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cover/CoverRenderer.h"
#include "cover/core/FcsFile.h"
#include "cover/core/FctFile.h"
#include "cover/core/TemplateFiles.h"

namespace {

// Coordinates are designer surface pixels (96 per inch, 768 x 960).
struct TBuilder {
  std::vector<TCoverObject> objects;

  TCoverObject& Add(TCoverObjectKind kind, int left, int top, int width, int height) {
    TCoverObject o = MakeCoverObject(kind);
    o.Name = "Component" + std::to_string(objects.size());
    o.Left = left;
    o.Top = top;
    o.Width = width;
    o.Height = height;
    objects.push_back(o);
    return objects.back();
  }
  TCoverObject& Text(const std::string& caption, int left, int top, int width, int height, int size = 11,
                     bool bold = false, const std::string& font = "Arial") {
    TCoverObject& o = Add(TCoverObjectKind::ckText, left, top, width, height);
    o.Caption = caption;
    o.Font.Name = font;
    o.Font.Size = size;
    o.Font.Bold = bold;
    return o;
  }
  TCoverObject& Field(TCoverFieldType type, int left, int top, int width, int height, int size = 11) {
    TCoverObject& o = Add(TCoverObjectKind::ckField, left, top, width, height);
    SetFieldType(o, type);
    o.Font.Size = size;
    return o;
  }
  TCoverObject& Shape(TShapeType shape, TShapeFillType fill, int left, int top, int width, int height, int pen) {
    TCoverObject& o = Add(TCoverObjectKind::ckShape, left, top, width, height);
    o.Shape = shape;
    o.ShapeFilltype = fill;
    o.Pen = pen;
    return o;
  }
  TCoverObject& Line(TLineStyle style, int left, int top, int width, int height, int pen) {
    TCoverObject& o = Add(TCoverObjectKind::ckLine, left, top, width, height);
    o.LineStyle = style;
    o.Pen = pen;
    return o;
  }
  TCoverObject& Message(int left, int top, int width, int height, int size = 11) {
    TCoverObject& o = Add(TCoverObjectKind::ckMessage, left, top, width, height);
    o.Font.Size = size;
    return o;
  }
  // A caption with its field to the right, one row of the address block.
  void Row(const std::string& caption, TCoverFieldType type, int left, int top, int labelWidth, int fieldWidth) {
    Text(caption, left, top, labelWidth, 24, 11, true);
    Field(type, left + labelWidth, top, fieldWidth, 24);
  }
};

struct TStock {
  std::string name;
  std::string description;
  std::vector<TCoverObject> objects;
};

TStock PlainBusiness() {
  TBuilder b;
  b.Text("FAX", 0, 0, 200, 60, 36, true);
  b.Field(cfDate, 440, 20, 280, 24);
  b.Line(lsHorizontal, 0, 70, 720, 15, 2);
  const std::pair<const char*, TCoverFieldType> rows[] = {
      {"To:", cfRecipient},     {"Fax:", cfRecipientFax},          {"From:", cfSender}, {"Company:", cfSenderCompany},
      {"Fax:", cfSenderFax},    {"Phone:", cfSenderVoice},         {"Regarding:", cfRegarding}};
  int y = 90;
  for (const auto& [caption, type] : rows) {
    b.Row(caption, type, 0, y, 120, 600);
    y += 30;
  }
  b.Line(lsHorizontal, 0, y + 6, 720, 15, 2);
  b.Message(0, y + 24, 720, 930 - y - 24);
  return {"CV0001", "Plain business fax", b.objects};
}

TStock Modern() {
  TBuilder b;
  b.Shape(stRectangle, sftFilledBlack, 0, 0, 720, 18, 1);
  b.Text("Facsimile", 0, 30, 420, 60, 30, false, "Times New Roman").Font.Italic = true;
  b.Field(cfDate, 440, 48, 280, 24);
  b.Field(cfTime, 440, 74, 280, 24);
  b.Shape(stRoundRect, sftTransparent, 0, 110, 350, 150, 1).RoundPerc = 20;
  b.Shape(stRoundRect, sftTransparent, 370, 110, 350, 150, 1).RoundPerc = 20;
  b.Text("To", 24, 120, 200, 26, 12, true);
  b.Field(cfRecipient, 24, 150, 318, 24);
  b.Field(cfRecipientFax, 24, 178, 318, 24);
  b.Text("From", 394, 120, 200, 26, 12, true);
  b.Field(cfSender, 394, 150, 318, 24);
  b.Field(cfSenderCompany, 394, 176, 318, 24);
  b.Field(cfSenderFax, 394, 202, 318, 24);
  b.Field(cfSenderVoice, 394, 228, 318, 24);
  b.Text("Re:", 0, 282, 60, 24, 12, true);
  b.Field(cfRegarding, 60, 282, 660, 24, 12);
  b.Line(lsHorizontal, 0, 316, 720, 15, 1);
  b.Message(0, 336, 720, 590);
  b.Shape(stRectangle, sftFilledBlack, 0, 940, 720, 8, 1);
  return {"CV0002", "Modern", b.objects};
}

TStock Urgent() {
  TBuilder b;
  b.Shape(stRectangle, sftTransparent, 0, 0, 720, 945, 3);
  b.Shape(stRectangle, sftFilledBlack, 16, 16, 688, 70, 1);
  b.Shape(stRectangle, sftFilledWhite, 22, 22, 676, 58, 1);
  b.Text("URGENT FAX", 40, 24, 640, 56, 32, true);
  b.Add(TCoverObjectKind::ckImportance, 20, 100, 690, 24).Font.Bold = true;
  b.Line(lsHorizontal, 16, 132, 688, 15, 1);
  b.Row("Date:", cfDate, 20, 146, 120, 560);
  const std::pair<const char*, TCoverFieldType> rows[] = {
      {"To:", cfRecipient},  {"Fax:", cfRecipientFax}, {"From:", cfSender},
      {"Phone:", cfSenderVoice}, {"Regarding:", cfRegarding}};
  int y = 176;
  for (const auto& [caption, type] : rows) {
    b.Row(caption, type, 20, y, 120, 560);
    y += 30;
  }
  b.Line(lsHorizontal, 16, y + 6, 688, 15, 1);
  b.Message(20, y + 24, 680, 920 - y - 24, 12);
  return {"CV0003", "Urgent", b.objects};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_stock_covers FOLDER\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const std::filesystem::path folder = argv[1];
  for (const TStock& t : {PlainBusiness(), Modern(), Urgent()}) {
    const TTemplatePaths p = TemplatePaths(folder / (t.name + ".FCS"));
    std::vector<TFctRecord> records;
    for (const auto& o : t.objects) records.push_back(MakeFctRecord(o));
    if (!WriteFcsFile(p.Fcs, t.objects) || !WriteFctFile(p.Fct, records) || !RenderCoverPreview(p.Fct) ||
        !WriteDescription(p.Des, t.description)) {
      std::fprintf(stderr, "make_stock_covers: cannot write %s\n", p.Fcs.string().c_str());
      return 1;
    }
  }
  return 0;
}
