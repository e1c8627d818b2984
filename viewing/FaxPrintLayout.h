#pragma once
// Where and how big the fax printer puts things on a sheet: the caption
// tags of the header and footer, the cell of a page on a four-up or two-up
// sheet, the size of a page on paper, and the monochrome image drawn there.
// Plain geometry in printer pixels, kept apart from the print run so that
// each rule can be checked on its own.

#include <QDateTime>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include "faximage/Bitmap.h"

enum class TFaxPrintScale { psNone, psFitToPage };

// Replaces the tags of a header or footer caption. A tag is "$" and the
// characters up to the next blank; the letter after "$" (either case)
// chooses: D date, T time, F file name, N page count, P page number. Any
// other tag is dropped. Inserted text is never expanded again.
[[nodiscard]] QString ExpandCaptionTags(const QString& caption, const QString& fileName, unsigned page,
                                        unsigned pageCount, const QDateTime& now = QDateTime::currentDateTime());

// Pages that share a sheet: four in portrait, two in landscape, one without
// multi-page printing.
[[nodiscard]] unsigned PagesPerSheet(bool multiPage, bool landscape);

// The part of the sheet's area for the k-th page of a sheet (k from 0):
// the whole area for one page per sheet; otherwise a half (landscape: left,
// right) or quarter (portrait: left top, right top, left bottom, right
// bottom), shrunk by 2 printer pixels on every side.
[[nodiscard]] QRect SheetCell(const QRect& area, bool multiPage, bool landscape, unsigned k);

// The size on paper of a page of pageWidth × pageHeight fax pixels drawn
// from the top left of area. Fitted: 93% of the area's width and the
// area's full height (a page 1728 pixels wide or wider fills the height,
// narrower pages in proportion). Natural: 200 fax pixels to the inch at the
// printer's resolution, the height limited to the area.
[[nodiscard]] QSize PageSizeOnPaper(const QRect& area, unsigned pageWidth, unsigned pageHeight, TFaxPrintScale scale,
                                    int dpiX, int dpiY);

// A size that is within 2% below the wanted one and an exact whole multiple
// or fraction of the page's pixels per axis is preferred, so that every fax
// pixel covers the same number of printer pixels; otherwise wanted.
[[nodiscard]] QSize SnapToWholeRatio(QSize wanted, unsigned pageWidth, unsigned pageHeight);

// The page as the image to draw into a target of the given printer pixels.
// An axis that shrinks is reduced here with the ink of every covered fax
// pixel kept, so that thin strokes survive; an axis that grows is left to
// the printer at its own resolution. Colour 0 is black, 1 white.
[[nodiscard]] QImage PrintImage(const TFxBitmap& page, QSize target);
