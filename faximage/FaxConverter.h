#pragma once
// TFxFaxConverter: turns page images into APF files. It pulls raw raster
// lines from an input reader, codes each line in T.4 one-dimensional form
// and writes the records with TFxApfWriter. Bitmap input (monochrome, or
// colour dithered), text files with the built-in or an enhanced font, BMP
// files and a caller-supplied reader are built; TIFF, PCX and DCX input are
// declared but refused with -1002. A failed conversion deletes its output.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "faximage/Bitmap.h"
#include "faximage/TextRasterizer.h"

enum class TFaxInputDocumentType { idNone, idText, idTextEx, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser };

enum TFaxCvtOptions : unsigned {
  coDoubleWidth = 0x01,
  coHalfHeight = 0x02,
  coCenterImage = 0x04,
  coYield = 0x08,
  coYieldOften = 0x10,
};

class TFxFaxConverter;
using TFaxStatusEvent = std::function<void(TFxFaxConverter& f, bool starting, bool ending, unsigned pagesConverted,
                                           unsigned linesConverted, uint64_t bytesConverted,
                                           uint64_t bytesToConvert, bool& abort)>;
using TFaxOutputLineEvent =
    std::function<void(TFxFaxConverter& f, const uint8_t* data, unsigned len, bool endOfPage, bool morePages)>;
using TFaxOpenFileEvent = std::function<int(TFxFaxConverter& f, const std::string& fileName)>;
using TFaxCloseFileEvent = std::function<void(TFxFaxConverter& f)>;
// Fills data with one raw line (up to len bytes; len is set to the count).
using TFaxReadLineEvent =
    std::function<int(TFxFaxConverter& f, uint8_t* data, unsigned& len, bool& endOfPage, bool& morePages)>;

class TFxFaxConverter {
 public:
  TFxFaxConverter();
  ~TFxFaxConverter();
  TFxFaxConverter(const TFxFaxConverter&) = delete;
  TFxFaxConverter& operator=(const TFxFaxConverter&) = delete;

  TFaxInputDocumentType InputDocumentType = TFaxInputDocumentType::idNone;
  unsigned Options() const { return options_; }
  // With coYieldOften, coYield is added.
  void SetOptions(unsigned options);
  TFaxResolution Resolution = TFaxResolution::frNormal;
  TFaxWidth Width = TFaxWidth::fwNormal;
  unsigned TopMargin = 0;
  unsigned LeftMargin = 50;
  unsigned LinesPerPage = 60;
  unsigned TabStop = 4;
  std::shared_ptr<const TFxFontRenderer> EnhFont;
  std::string FontFile = "CVFAX.FNT";  // kept for compatibility; the font is built in
  TFaxFont FontType = TFaxFont::ffStandard;
  const std::string& DocumentFile() const { return documentFile_; }
  // Also sets OutFileName to the same name with extension ".APF".
  void SetDocumentFile(const std::string& name);
  std::string OutFileName;
  std::string DefUserExtension;
  // Sender station ID written into the file header (at most 20 characters).
  std::string StationID;

  TFaxStatusEvent OnStatus;
  TFaxOutputLineEvent OnOutputLine;
  TFaxOpenFileEvent OnOpenUserFile;
  TFaxCloseFileEvent OnCloseUserFile;
  TFaxReadLineEvent OnReadUserLine;
  // With coYield: process one pending window message; return true when it
  // was a quit message (the host posts it again), which ends the conversion
  // with -1003.
  std::function<bool()> OnYield;

  // Converts a bitmap into OutFileName (extension forced to "APF"; when
  // empty, DocumentFile with extension "APF"). Raises EFxImageError.
  void ConvertBitmap(const TFxBitmap& bitmap);
  // Converts DocumentFile with the reader InputDocumentType selects.
  void ConvertToFile();
  // The same, returning the error code.
  int TryConvertBitmap(const TFxBitmap& bitmap);
  int TryConvertToFile();

  class Reader;

 private:
  int Convert(Reader& reader, const std::string& outName);
  int Yield();

  unsigned options_ = coDoubleWidth | coCenterImage | coYield;
  std::string documentFile_;
};
