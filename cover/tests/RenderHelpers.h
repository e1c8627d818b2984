#pragma once
// Shared by the renderer tests: templates written to a temporary FCT file
// and the ink found on a rendered page.
#include <QImage>
#include <QRect>
#include <vector>

#include "cover/CoverRenderer.h"
#include "cover/core/FctFile.h"
#include "testsupport/TempFolder.h"

inline TFctRecord TextRecord(int kind, int left, int top, int width, int height, const std::string& text = "",
                             int fontSize = 20) {
  TFctRecord r;
  r.Kind = kind;
  r.Left = left;
  r.Top = top;
  r.Width = width;
  r.Height = height;
  r.Text = text;
  r.FontName = "Arial";
  r.FontSize = fontSize;
  return r;
}

inline TFctRecord ShapeRecord(TShapeType shape, TShapeFillType fill, int left, int top, int width, int height,
                              int pen) {
  TFctRecord r;
  r.Kind = static_cast<int>(TCoverObjectKind::ckShape);
  r.Left = left;
  r.Top = top;
  r.Width = width;
  r.Height = height;
  r.Ints = {shape, fill, pen, -1, 25, -1};
  return r;
}

inline TFctRecord LineRecord(TLineStyle style, int left, int top, int width, int height, int pen) {
  TFctRecord r;
  r.Kind = static_cast<int>(TCoverObjectKind::ckLine);
  r.Left = left;
  r.Top = top;
  r.Width = width;
  r.Height = height;
  r.Ints = {-1, -1, pen, style, -1, -1};
  return r;
}

// The record's rectangle on the page.
inline QRect PageRect(const TFctRecord& r) {
  return QRect(r.Left + kCoverMargin, r.Top + kCoverMargin, r.Width, r.Height);
}

inline bool Black(const QImage& page, int x, int y) { return qGray(page.pixel(x, y)) < 128; }

inline QRect InkBox(const QImage& page) {
  int left = page.width(), top = page.height(), right = -1, bottom = -1;
  for (int y = 0; y < page.height(); ++y) {
    const uchar* row = page.constScanLine(y);
    for (int x = 0; x < page.width(); ++x)
      if (row[x] < 128) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

inline long Ink(const QImage& page) {
  long n = 0;
  for (int y = 0; y < page.height(); ++y) {
    const uchar* row = page.constScanLine(y);
    for (int x = 0; x < page.width(); ++x) n += row[x] < 128;
  }
  return n;
}

// The rendered page as 8-bit grey, one byte per pixel for the ink counts.
inline QImage Render(const TTempFolder& dir, const std::vector<TFctRecord>& records,
                     const CoverFieldValues& values = {}, const std::string& message = "") {
  const auto path = dir / "T.FCT";
  EXPECT_TRUE(WriteFctFile(path, records));
  return RenderCoverImage(path, values, message).convertToFormat(QImage::Format_Grayscale8);
}
