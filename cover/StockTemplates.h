#pragma once
// The stock cover templates built into the program (made by
// stock/make_stock_covers), copied into the Covers folder when it holds no
// template yet, so that a new installation has covers to choose from; the
// first of them is CV0001.

#include <filesystem>

// Creates the folder when missing. When it holds no .FCS file (in any
// letter case), copies every stock template file into it. Returns the number
// of files copied, or -1 when one could not be written.
int InstallStockTemplates(const std::filesystem::path& coversFolder);
