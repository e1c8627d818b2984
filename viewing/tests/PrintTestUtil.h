#pragma once
// Printing to PDF and reading the sheets back with poppler's tools.

#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "faximage/Bitmap.h"
#include "viewing/TFxFaxPrinter.h"

using FxRawPage = std::vector<std::vector<uint8_t>>;  // raw lines, 1 = black

// A fine page 1728 × rows with one 500 × 500 black block whose place
// tells page n from every other page up to 12.
inline FxRawPage BlockPage(unsigned n, unsigned rows = 2200) {
  FxRawPage page(rows, std::vector<uint8_t>(1728 / 8, 0));
  const unsigned x0 = 50 + (n % 3) * 560, y0 = 50 + ((n / 3) % 4) * 530;
  for (unsigned y = y0; y < y0 + 500 && y < rows; ++y)
    for (unsigned x = x0; x < x0 + 500; ++x) page[y][x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
  return page;
}

// Sends the printer's output to a PDF file: US Letter, no margins, dpi.
inline void PrintToPdf(TFxFaxPrinter& printer, const std::filesystem::path& pdf, int dpi = 600,
                       QPageLayout::Orientation orientation = QPageLayout::Portrait) {
  QPrinter& p = printer.Printer();
  p.setOutputFormat(QPrinter::PdfFormat);
  p.setOutputFileName(QString::fromStdString(pdf.string()));
  p.setResolution(dpi);
  p.setPageSize(QPageSize(QPageSize::Letter));
  p.setPageOrientation(orientation);
  p.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

// The sheets of a PDF rendered in grey at dpi; empty when pdftoppm fails.
inline std::vector<QImage> RenderSheets(const std::filesystem::path& pdf, int dpi) {
  const auto prefix = pdf.parent_path() / (pdf.stem().string() + "-sheet");
  QProcess proc;
  proc.start("pdftoppm", {"-r", QString::number(dpi), "-gray", QString::fromStdString(pdf.string()),
                          QString::fromStdString(prefix.string())});
  if (!proc.waitForFinished(120000) || proc.exitCode() != 0) return {};
  std::vector<QImage> sheets;
  for (int i = 1; i < 100; ++i) {
    QImage img;
    // pdftoppm pads the sheet number to the width of the last one.
    for (int width : {1, 2, 3})
      if (img.load(QString("%1-%2.pgm").arg(QString::fromStdString(prefix.string())).arg(i, width, 10, QChar('0'))))
        break;
    if (img.isNull()) break;
    sheets.push_back(img.convertToFormat(QImage::Format_Grayscale8));
  }
  return sheets;
}

// The text of one sheet of a PDF.
inline QString SheetText(const std::filesystem::path& pdf, int sheet) {
  QProcess proc;
  proc.start("pdftotext", {"-layout", "-f", QString::number(sheet), "-l", QString::number(sheet),
                           QString::fromStdString(pdf.string()), "-"});
  proc.waitForFinished(60000);
  return QString::fromUtf8(proc.readAllStandardOutput());
}

inline int PdfSheetCount(const std::filesystem::path& pdf) {
  QProcess proc;
  proc.start("pdfinfo", {QString::fromStdString(pdf.string())});
  proc.waitForFinished(60000);
  for (const QString& line : QString::fromUtf8(proc.readAllStandardOutput()).split('\n'))
    if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
  return -1;
}

// Mean difference in grey levels (0..255) between the sheet's region rect
// and the fax page shrunk to the same size by averaging.
inline double RegionDifference(const QImage& sheet, const QRect& rect, const FxRawPage& page) {
  const unsigned pw = 1728, ph = static_cast<unsigned>(page.size());
  double sum = 0;
  int count = 0;
  for (int y = 0; y < rect.height(); ++y) {
    const unsigned r0 = static_cast<unsigned>(uint64_t(y) * ph / rect.height());
    const unsigned r1 = std::max(r0 + 1, static_cast<unsigned>(uint64_t(y + 1) * ph / rect.height()));
    for (int x = 0; x < rect.width(); ++x) {
      const unsigned c0 = static_cast<unsigned>(uint64_t(x) * pw / rect.width());
      const unsigned c1 = std::max(c0 + 1, static_cast<unsigned>(uint64_t(x + 1) * pw / rect.width()));
      unsigned ink = 0;
      for (unsigned r = r0; r < r1; ++r)
        for (unsigned c = c0; c < c1; ++c) ink += (page[r][c / 8] >> (7 - c % 8)) & 1u;
      const double expected = 255.0 * (1.0 - double(ink) / ((r1 - r0) * (c1 - c0)));
      const int sx = rect.x() + x, sy = rect.y() + y;
      const double got = (sx < sheet.width() && sy < sheet.height()) ? qGray(sheet.pixel(sx, sy)) : 255.0;
      sum += std::abs(expected - got);
      ++count;
    }
  }
  return count ? sum / count : 255.0;
}
