#include "cover/CoverRenderer.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "faximage/FaxConverter.h"
#include "shell/MonoImage.h"
#include "shell/core/Files.h"

namespace {

// Objects reaching further than this from the page are not drawn: nothing of
// them could show, and painting engines lose precision that far out.
constexpr int64_t kFarOff = 1'000'000;
// Stored font sizes are points x 2, which drawn as points on a 96 per inch
// surface give the glyph heights of the true point size at 196 per inch.
constexpr double kPixelsPerStoredPoint = 96.0 / 72.0;
// No glyph is drawn taller than the page.
constexpr int kMaxFontPixels = kCoverPageHeight;
constexpr int kMaxPen = 1000;
// No more characters than could ever show: a page row holds fewer than 1728
// glyphs, a message box fewer than a page of the smallest legible ones.
constexpr qsizetype kMaxLineChars = 2000;
constexpr qsizetype kMaxMessageChars = 100'000;

struct TBox {
  int x, y, w, h;
  QRect Rect() const { return QRect(x, y, w, h); }
};

// The record's rectangle moved by the margin, or false when it is empty or
// too far off the page to draw.
bool PlaceRecord(const TFctRecord& r, TBox& box, bool allowFlat) {
  const int64_t x = int64_t{r.Left} + kCoverMargin;
  const int64_t y = int64_t{r.Top} + kCoverMargin;
  const int64_t w = r.Width;
  const int64_t h = r.Height;
  if (w < 0 || h < 0 || (!allowFlat && (w == 0 || h == 0))) return false;
  if (x < -kFarOff || y < -kFarOff || x + w > kFarOff || y + h > kFarOff) return false;
  box = {static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h)};
  return true;
}

// The record's font, or false for a size that draws nothing. A family that
// is not installed falls back to what the font matching finds.
bool RecordFont(const TFctRecord& r, QFont& font) {
  if (r.FontSize <= 0) return false;
  // Clamped while still floating point: a stored size may be any integer.
  const int pixels = static_cast<int>(std::clamp(r.FontSize * kPixelsPerStoredPoint + 0.5, 1.0, double{kMaxFontPixels}));
  font = QFont(QString::fromStdString(r.FontName.empty() ? std::string("Arial") : r.FontName));
  font.setPixelSize(pixels);
  font.setBold(r.Bold);
  font.setItalic(r.Italic);
  font.setUnderline(r.Underline);
  font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferOutline));
  font.setKerning(false);
  return true;
}

// One line of text with the top of its character cell at (x, y).
void DrawTextAt(QPainter& p, const QFont& font, int x, int y, const QString& text) {
  p.setFont(font);
  p.drawText(QPoint(x, y + QFontMetrics(font).ascent()), text);
}

void DrawText(QPainter& p, const TFctRecord& r, const TBox& box, const std::string& text) {
  QFont font;
  if (text.empty() || !RecordFont(r, font)) return;
  p.save();
  p.setClipRect(box.Rect(), Qt::IntersectClip);
  DrawTextAt(p, font, box.x, box.y, QString::fromStdString(text).left(kMaxLineChars));
  p.restore();
}

void DrawImportance(QPainter& p, const TFctRecord& r, const TBox& box, const CoverFieldValues& v) {
  QFont font;
  if (std::none_of(v.Importance.begin(), v.Importance.end(), [](bool b) { return b; }) || !RecordFont(r, font))
    return;
  p.save();
  p.setClipRect(box.Rect(), Qt::IntersectClip);
  const QString caption = QString::fromUtf8(kImportanceCaption.data(), static_cast<qsizetype>(kImportanceCaption.size()));
  DrawTextAt(p, font, box.x, box.y, caption);
  const QFontMetrics fm(font);
  qsizetype from = 0;
  for (int i = 0; i < kImportanceBoxes; ++i) {
    const qsizetype bracket = caption.indexOf('[', from);
    if (bracket < 0) break;
    from = bracket + 1;
    if (v.Importance[static_cast<size_t>(i)])
      DrawTextAt(p, font, box.x + fm.horizontalAdvance(caption.left(bracket + 1)), box.y, QStringLiteral("X"));
  }
  p.restore();
}

// The message wrapped at word boundaries (inside a word when one word is
// wider than the box), line after line, stopping before the first line that
// would pass the box's bottom. "&" is an ordinary character.
void DrawMessage(QPainter& p, const TFctRecord& r, const TBox& box, const std::string& message) {
  QFont font;
  if (message.empty() || !RecordFont(r, font)) return;
  QString text = QString::fromStdString(message).left(kMaxMessageChars);
  text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
  text.replace(QChar('\r'), QChar::LineSeparator);
  text.replace(QChar('\n'), QChar::LineSeparator);
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.setCacheEnabled(true);
  p.save();
  p.setClipRect(box.Rect(), Qt::IntersectClip);
  p.setFont(font);
  layout.beginLayout();
  qreal top = 0;
  std::vector<QTextLine> lines;
  for (;;) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(box.w);
    if (top + line.height() > box.h) break;
    line.setPosition(QPointF(0, top));
    top += line.height();
    lines.push_back(line);
  }
  layout.endLayout();
  for (const QTextLine& line : lines) line.draw(&p, QPointF(box.x, box.y));
  p.restore();
}

int PenOf(const TFctRecord& r) { return std::clamp(r.Ints[2], 1, kMaxPen); }

// Shapes keep their whole outline inside their rectangle: the outer edge of
// the border lies on the rectangle's edges, the border grows inwards.
void DrawShape(QPainter& p, const TFctRecord& r, const TBox& box) {
  const int pen = PenOf(r);
  const int shape = r.Ints[0];
  const int fill = r.Ints[1];
  const QRectF outerRect(box.x, box.y, box.w, box.h);
  const QRectF innerRect = outerRect.adjusted(pen, pen, -pen, -pen);
  QPainterPath outer, inner;
  if (shape == stRoundRect || shape == stRoundSquare) {
    const int percent = std::clamp(r.Ints[4], 0, 100);
    const qreal radius = static_cast<qreal>(int64_t{std::max(box.w, box.h)} * percent / 100) / 2;
    outer.addRoundedRect(outerRect, radius, radius);
    if (innerRect.isValid())
      inner.addRoundedRect(innerRect, std::max<qreal>(0, radius - pen), std::max<qreal>(0, radius - pen));
  } else if (shape == stEllipse || shape == stCircle) {
    outer.addEllipse(outerRect);
    if (innerRect.isValid()) inner.addEllipse(innerRect);
  } else {
    outer.addRect(outerRect);
    if (innerRect.isValid()) inner.addRect(innerRect);
  }
  if (fill == sftFilledBlack) {
    p.fillPath(outer, Qt::black);
    return;
  }
  if (fill == sftFilledWhite) p.fillPath(inner, Qt::white);
  QPainterPath border = outer;
  border.addPath(inner);
  border.setFillRule(Qt::OddEvenFill);
  p.fillPath(border, Qt::black);
}

// Horizontal lines run along the top edge and vertical ones along the left
// edge, growing down or right with their width; sloping lines run corner to
// corner, cut at the rectangle.
void DrawLine(QPainter& p, const TFctRecord& r, const TBox& box) {
  const int pen = PenOf(r);
  switch (r.Ints[3]) {
    case lsHorizontal:
      if (box.w > 0) p.fillRect(QRect(box.x, box.y, box.w, pen), Qt::black);
      break;
    case lsVertical:
      if (box.h > 0) p.fillRect(QRect(box.x, box.y, pen, box.h), Qt::black);
      break;
    case lsAngleSlopingUp:
    case lsAngleSlopingDown: {
      if (box.w == 0 || box.h == 0) break;
      p.save();
      p.setClipRect(box.Rect(), Qt::IntersectClip);
      p.setPen(QPen(Qt::black, pen, Qt::SolidLine, Qt::SquareCap));
      if (r.Ints[3] == lsAngleSlopingUp)
        p.drawLine(QPointF(box.x, box.y + box.h), QPointF(box.x + box.w, box.y));
      else
        p.drawLine(QPointF(box.x, box.y), QPointF(box.x + box.w, box.y + box.h));
      p.restore();
      break;
    }
    default:
      break;
  }
}

std::string FieldText(const TFctRecord& r, const CoverFieldValues& v) {
  const int type = r.Ints[5];
  return type >= 0 && type < kCoverFieldTypes ? v.Texts[static_cast<size_t>(type)] : r.Text;
}

// Pages are drawn straight onto one bit per pixel in the layout of the fax
// bitmaps (index 0 black, 1 white), so nothing is converted afterwards and
// nothing grey can arise.
QImage WhitePage(int width, int height) {
  QImage page(width, height, QImage::Format_Mono);
  page.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  page.fill(1);
  return page;
}

void PreparePainter(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.setPen(Qt::black);
  p.setBrush(Qt::NoBrush);
}

}  // namespace

CoverFieldValues PreviewSampleValues() {
  CoverFieldValues v;
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale;
  v.Texts[cfDate] = locale.toString(now.date(), QLocale::LongFormat).toStdString();
  v.Texts[cfTime] = locale.toString(now.time(), QLocale::ShortFormat).toStdString();
  v.Texts[cfRegarding] = "Regarding";
  v.Texts[cfRecipient] = "Recipient Name";
  v.Texts[cfRecipientFax] = "Recipient Fax #";
  v.Texts[cfSender] = "Your Name";
  v.Texts[cfSenderCompany] = "Your Company";
  v.Texts[cfSenderFax] = "Your Fax #";
  v.Texts[cfSenderVoice] = "Your voice #";
  v.Importance = {true, false, false, false, false};
  return v;
}

void DrawCoverTemplate(QPainter& p, const std::vector<TFctRecord>& records, const CoverFieldValues& values,
                       const std::string& message) {
  PreparePainter(p);
  for (const TFctRecord& r : records) {
    TBox box{};
    const bool isLine = r.Kind == static_cast<int>(TCoverObjectKind::ckLine);
    if (!PlaceRecord(r, box, isLine)) continue;
    switch (static_cast<TCoverObjectKind>(r.Kind)) {
      case TCoverObjectKind::ckText:
      case TCoverObjectKind::ckSymbol:
        DrawText(p, r, box, r.Text);
        break;
      case TCoverObjectKind::ckField:
        DrawText(p, r, box, FieldText(r, values));
        break;
      case TCoverObjectKind::ckMessage:
        DrawMessage(p, r, box, message);
        break;
      case TCoverObjectKind::ckImportance:
        DrawImportance(p, r, box, values);
        break;
      case TCoverObjectKind::ckShape:
        DrawShape(p, r, box);
        break;
      case TCoverObjectKind::ckLine:
        DrawLine(p, r, box);
        break;
      default:
        break;
    }
  }
}

QImage RenderCoverImage(const std::filesystem::path& fctFile, const CoverFieldValues& values,
                        const std::string& message) {
  QImage page = WhitePage(kCoverPageWidth, kCoverPageHeight);
  const TFctReadResult read = ReadFctFile(fctFile);
  if (!read.Records.empty()) {
    QPainter p(&page);
    DrawCoverTemplate(p, read.Records, values, message);
  }
  return page;
}

TFxBitmap RenderCoverBitmap(const std::filesystem::path& fctFile, const CoverFieldValues& values,
                            const std::string& message) {
  TFxBitmap bitmap = FromQImage(RenderCoverImage(fctFile, values, message));
  bitmap.SetBlack(kCoverPageWidth - 1, kCoverPageHeight - 1, true);
  return bitmap;
}

std::string RenderCoverPage(const std::string& apfName, const std::filesystem::path& fctFile,
                            const CoverFieldValues& values, const std::string& message, TFaxResolution resolution) {
  TFxBitmap bitmap = RenderCoverBitmap(fctFile, values, message);
  const bool fine = resolution == TFaxResolution::frHigh;
  // Normal resolution keeps the even rows only; the last of them carries the
  // corner pixel too, so that the page keeps its full width there as well.
  if (!fine) bitmap.SetBlack(kCoverPageWidth - 1, kCoverPageHeight - 2, true);
  TFxFaxConverter converter;
  converter.SetOptions(fine ? coYield : coYield | coHalfHeight);
  converter.Resolution = resolution;
  // The page already holds its half-inch margin and is as wide as a fax
  // line: a converter margin would shift every object right and push the
  // page's right edge, with the pixel that keeps the page its full size,
  // off the line.
  converter.LeftMargin = 0;
  converter.OutFileName = apfName.empty() ? NextSendFileName("COV") : apfName;
  converter.ConvertBitmap(bitmap);
  return converter.OutFileName;
}

QImage RenderCoverPreviewImage(const std::filesystem::path& fctFile) {
  QImage preview = WhitePage(kPreviewWidth, kPreviewHeight);
  const TFctReadResult read = ReadFctFile(fctFile);
  if (!read.Records.empty()) {
    QPainter p(&preview);
    // The whole page at 96 per inch.
    p.scale(96.0 / kFaxUnitsPerInch, 96.0 / kFaxUnitsPerInch);
    DrawCoverTemplate(p, read.Records, PreviewSampleValues(), std::string());
  }
  return preview;
}

bool RenderCoverPreview(const std::filesystem::path& fctFile) {
  std::filesystem::path bmp = fctFile;
  bmp.replace_extension(".bmp");
  return RenderCoverPreviewImage(fctFile).save(QString::fromStdString(bmp.string()), "BMP");
}
