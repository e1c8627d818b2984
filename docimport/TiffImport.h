#pragma once
// TIFF import through libtiff: every page of a multi-page file, any
// compression libtiff decodes. A bi-level page of fax width (1728 or 2048
// pixels) is taken line for line at its own vertical resolution; any other
// page is converted to grey and fitted onto the fax page like a picture.
// A page that is too large or fails to decode is skipped with a warning.

#include <filesystem>

#include "docimport/DocImport.h"

class FxImportSink;

[[nodiscard]] int FxImportTiff(const std::filesystem::path& in, FxImportSink& sink, const FxImportOptions& options,
                               FxImportResult& result);
