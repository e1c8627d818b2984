#pragma once
// Drawing a template's rendering file onto a fax page with the fields, the
// importance boxes and the message filled in, and turning the page into a
// one-page APF file or the template's preview picture. Needs a
// QGuiApplication for fonts (the offscreen platform will do) but no window.
//
// Fax-page units are pixels of the fine fax page: 196 per inch. Every object
// is moved half an inch (98 units) right and down, drawn with antialiasing
// off so that strokes stay whole at one bit per pixel, and kept inside its
// own rectangle: a field value or a message longer than its box is cut at
// the box's edge.

#include <QImage>
#include <QString>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "cover/core/CoverObjects.h"
#include "cover/core/FctFile.h"
#include "faximage/Bitmap.h"
#include "faximage/TextRasterizer.h"

class QPainter;

// The values of one fax: nine texts indexed by TCoverFieldType, then the
// five importance flags (Urgent, For Review, Please Comment, Please Reply,
// Please Recycle).
struct CoverFieldValues {
  std::array<std::string, kCoverFieldTypes> Texts;
  std::array<bool, kImportanceBoxes> Importance{};
};

// Today's date and time with "Regarding", "Recipient Name", ... and Urgent.
[[nodiscard]] CoverFieldValues PreviewSampleValues();

inline constexpr int kCoverPageWidth = 1728;   // 8.5 in at 196 per inch, less the fax margins
inline constexpr int kCoverPageHeight = 2156;  // 11 in
inline constexpr int kCoverMargin = 98;        // half an inch
inline constexpr int kPreviewWidth = 816;      // 8.5 x 11 in at 96 per inch
inline constexpr int kPreviewHeight = 1056;

// Draws records onto a painter whose coordinates are fax-page units, in
// order, later ones over earlier ones. Records of an unknown kind, with a
// negative size, or far off the page are skipped.
void DrawCoverTemplate(QPainter& painter, const std::vector<TFctRecord>& records, const CoverFieldValues& values,
                       const std::string& message);

// The filled-in fine fax page as a monochrome image (colour index 0 black,
// 1 white): a missing FCT file gives a white page, a damaged one the records
// before the damage.
[[nodiscard]] QImage RenderCoverImage(const std::filesystem::path& fctFile, const CoverFieldValues& values,
                                      const std::string& message);
// The same as a monochrome fax bitmap with the bottom-right pixel black.
[[nodiscard]] TFxBitmap RenderCoverBitmap(const std::filesystem::path& fctFile, const CoverFieldValues& values,
                                          const std::string& message);

// Renders the cover and converts it into a one-page APF file named apfName,
// or, when it is empty, SEND/COVnnnnn.APF with the lowest free number.
// Returns the name written. Fine resolution is the cover page's own; normal
// resolution keeps every second row. Conversion errors raise EFxImageError
// and leave no file behind.
std::string RenderCoverPage(const std::string& apfName, const std::filesystem::path& fctFile,
                            const CoverFieldValues& values, const std::string& message,
                            TFaxResolution resolution = TFaxResolution::frHigh);

// The whole page scaled to 816 x 1056 with the preview samples, as a
// monochrome image, saved as a BMP file beside the FCT file (name.bmp).
[[nodiscard]] QImage RenderCoverPreviewImage(const std::filesystem::path& fctFile);
[[nodiscard]] bool RenderCoverPreview(const std::filesystem::path& fctFile);
