#pragma once
// Saving a design surface as a template's four files and opening one again.

#include <filesystem>
#include <string>

#include "cover/core/CoverSurface.h"

// Sets the zoom to 1, then writes name.FCS, name.FCT, the preview name.bmp
// and name.DES (the description as its only line) beside fcsFile. The four
// are written under temporary names first and renamed into place together,
// so a save that fails (folder gone, disk full, a file in the way) leaves
// the template's previous files as they were. False when the save failed;
// error then says why.
[[nodiscard]] bool SaveCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile,
                                     const std::string& description, std::string* error = nullptr);

struct TOpenedTemplate {
  bool Ok = false;
  std::string Description;  // empty without a DES file
  std::string Message;      // for the user when Ok is false
};

// Reads name.FCS onto the surface, which is cleared first; the objects get
// fresh component names. A file that cannot be read leaves the surface
// empty and gives the message to show.
[[nodiscard]] TOpenedTemplate OpenCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile);

// Removes name.FCS, name.FCT, name.DES and name.bmp (in any letter case);
// files that are missing or cannot be removed are passed over.
void DeleteCoverTemplate(const std::filesystem::path& fcsFile);
