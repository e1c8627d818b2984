#pragma once
// Saving a design surface as a template's four files and opening one again.

#include <filesystem>
#include <string>

#include "cover/core/CoverSurface.h"

// Sets the zoom to 1, then writes name.FCS, name.FCT, the preview name.bmp
// and name.DES (the description as its only line), in that order, beside
// fcsFile. False when a file could not be written.
[[nodiscard]] bool SaveCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile,
                                     const std::string& description);

struct TOpenedTemplate {
  bool Ok = false;
  std::string Description;  // empty without a DES file
  std::string Message;      // for the user when Ok is false
};

// Reads name.FCS onto the surface, which is cleared first; the objects get
// fresh component names. A file that cannot be read leaves the surface
// empty and gives the message to show.
[[nodiscard]] TOpenedTemplate OpenCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile);
