#pragma once
// Exports a whole APF fax as a multi-page TIFF Class F file or as a PDF.
// Both carry each page's T.4 one-dimensional data as it is stored in the APF
// file (the PDF with the bit order reversed); only pages the copied data
// would not reproduce exactly (lines of the wrong width, codes that match
// nothing) are coded afresh from the decoded lines.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "faximage/Apf.h"

// One page's T.4 data, least significant bit first, ready for a container.
struct FxCodedPage {
  unsigned width = 1728;
  bool fine = false;
  uint32_t rows = 0;
  std::vector<uint8_t> data;
  // Every end-of-line code ends on a byte boundary (TIFF's fill-bits option).
  bool alignedEols = false;
  // Coded afresh because the stored data held lines that readers drop.
  bool recoded = false;
  uint64_t droppedLines = 0;
  uint64_t consecutiveDropped = 0;  // longest run of dropped lines
};

// Reads page n of an open APF file into page. 0, or the reader's error
// (-8001 for a page that is missing or ends early, -errno).
int FxReadCodedPage(TFxApfReader& reader, unsigned n, FxCodedPage& page);

struct FxExportResult {
  unsigned pagesInFile = 0;
  // Pages written: all of them, or those before the first damaged page.
  unsigned pagesWritten = 0;
};

// Write every readable page of apf to out. 0 when at least one page was
// written (result tells whether the file was cut short); the reader's error
// when the file does not open or its first page is unreadable; -1002 for a
// fax without pages; -errno for write failures. On failure out is deleted.
int FxExportTiff(const std::filesystem::path& apf, const std::filesystem::path& out, FxExportResult& result);
int FxExportPdf(const std::filesystem::path& apf, const std::filesystem::path& out, FxExportResult& result);

// The container writers on their own, for pages already read.
int FxWriteTiffClassF(const std::vector<FxCodedPage>& pages, const std::filesystem::path& out);
int FxWriteFaxPdf(const std::vector<FxCodedPage>& pages, const std::filesystem::path& out);
