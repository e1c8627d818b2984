#include "faximage/ErrorCodes.h"

#include <cstring>

std::string FxImageErrorText(int code) {
  switch (code) {
    case FxErr::ecOK: return "OK";
    case FxErr::ecFileNotFound: return "File not found";
    case FxErr::ecOutOfMemory: return "Insufficient memory";
    case FxErr::ecBadArgument: return "Bad argument passed to function";
    case FxErr::ecGotQuitMsg: return "Got quit message";
    case FxErr::ecFaxBadFormat: return "File is not an APF file";
    case FxErr::ecConvertAbort: return "User aborted fax conversion";
    case FxErr::ecCantMakeBitmap: return "CreateBitmapIndirect API failure";
    case FxErr::ecFontFileNotFound: return "CVFAX.FNT not found, or resource bad";
    case FxErr::ecBmpTooBig: return "BMP size exceeds Windows' maxheight of 32767";
    case FxErr::ecEnhFontTooBig: return "Font selected for enhanced text converter too large";
    default: break;
  }
  std::string text = std::strerror(code < 0 ? -code : code);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}
