#include "viewing/FaxPrintLayout.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

#include "faximage/FaxUnpacker.h"
#include "shell/MonoImage.h"

QString ExpandCaptionTags(const QString& caption, const QString& fileName, unsigned page, unsigned pageCount,
                          const QDateTime& now) {
  QString out = caption;
  qsizetype from = 0;
  while (true) {
    const qsizetype at = out.indexOf(u'$', from);
    if (at < 0) break;
    qsizetype end = out.indexOf(u' ', at);
    if (end < 0) end = out.size();
    QString with;
    if (end > at + 1) {
      switch (out.at(at + 1).toUpper().unicode()) {
        case 'D': with = QLocale::system().toString(now.date(), QLocale::ShortFormat); break;
        case 'T': with = QLocale::system().toString(now.time(), QLocale::LongFormat); break;
        case 'F': with = fileName; break;
        case 'N': with = QString::number(pageCount); break;
        case 'P': with = QString::number(page); break;
        default: break;
      }
    }
    out.replace(at, end - at, with);
    from = at + with.size();
  }
  return out;
}

unsigned PagesPerSheet(bool multiPage, bool landscape) {
  if (!multiPage) return 1;
  return landscape ? 2 : 4;
}

QRect SheetCell(const QRect& area, bool multiPage, bool landscape, unsigned k) {
  if (!multiPage) return area;
  const int w = area.width() / 2;
  const int h = landscape ? area.height() : area.height() / 2;
  const bool right = (k % 2) == 1;
  const bool bottom = !landscape && (k % 4) >= 2;
  QRect cell(area.left() + (right ? w : 0), area.top() + (bottom ? h : 0), w, h);
  return cell.adjusted(2, 2, -2, -2);
}

QSize PageSizeOnPaper(const QRect& area, unsigned pageWidth, unsigned pageHeight, TFaxPrintScale scale, int dpiX,
                      int dpiY) {
  if (pageWidth == 0 || pageHeight == 0) return {};
  if (scale == TFaxPrintScale::psFitToPage) {
    const int width = static_cast<int>(std::lround(area.width() * 0.93));
    // A page wider than the standard 1728 pixels also fills the height
    // rather than running past the area's bottom.
    const double share = std::min(1.0, pageWidth / 1728.0);
    return {width, static_cast<int>(area.height() * share)};
  }
  const int width = static_cast<int>(int64_t{pageWidth} * dpiX / 200);
  const int height = static_cast<int>(int64_t{pageHeight} * dpiY / 200);
  return {width, std::min(height, area.height())};
}

namespace {
int SnapAxis(int wanted, unsigned pixels) {
  if (wanted <= 0 || pixels == 0) return wanted;
  const double ratio = static_cast<double>(wanted) / pixels;
  int candidate = 0;
  if (ratio >= 1.0) {
    candidate = static_cast<int>(std::floor(ratio)) * static_cast<int>(pixels);
  } else {
    const unsigned div = static_cast<unsigned>(std::ceil(pixels / static_cast<double>(wanted)));
    candidate = static_cast<int>(pixels / div);
    if (pixels % div != 0) return wanted;  // no exact fraction
  }
  return candidate > 0 && candidate >= wanted * 0.98 ? candidate : wanted;
}
}  // namespace

QSize SnapToWholeRatio(QSize wanted, unsigned pageWidth, unsigned pageHeight) {
  return {SnapAxis(wanted.width(), pageWidth), SnapAxis(wanted.height(), pageHeight)};
}

QImage PrintImage(const TFxBitmap& page, QSize target) {
  if (page.Empty() || target.isEmpty()) return {};
  const unsigned w = std::min(page.width, static_cast<unsigned>(target.width()));
  const unsigned h = std::min(page.height, static_cast<unsigned>(target.height()));
  if (w == page.width && h == page.height) return ToQImage(page);
  return ToQImage(FxStretchMono(page, w, h));
}
