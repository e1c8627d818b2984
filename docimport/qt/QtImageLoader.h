#pragma once
// Image files for the import through Qt's image readers (PNG, JPEG, BMP,
// GIF and whatever plug-ins are installed), turned grey with transparency
// composed on white. Qt refuses images beyond its allocation limit, so a
// file claiming 30,000 x 30,000 pixels is an error, not gigabytes.

#include <filesystem>
#include <string>

#include "docimport/DocImport.h"

[[nodiscard]] int FxLoadImageWithQt(const std::filesystem::path& file, FxGreyImage& out, std::string& error);
