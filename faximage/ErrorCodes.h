#pragma once
// Result codes of the fax image library. 0 is success, failures are negative.
// The numbers are the fax engine's: the engine's error text table and its
// exception tree map them one to one, so callers may pass them on unchanged.
// Operating-system I/O failures are reported as -errno (ENOENT is 2, which is
// also the engine's "File not found").

#include <stdexcept>
#include <string>

namespace FxErr {
inline constexpr int ecOK = 0;
inline constexpr int ecFileNotFound = -2;        // "File not found"
inline constexpr int ecOutOfMemory = -8;         // "Insufficient memory"
inline constexpr int ecBadArgument = -1002;      // "Bad argument passed to function"
inline constexpr int ecGotQuitMsg = -1003;       // "Got quit message"
inline constexpr int ecFaxBadFormat = -8001;     // "File is not an APF file"
inline constexpr int ecConvertAbort = -8003;     // "User aborted fax conversion"
inline constexpr int ecCantMakeBitmap = -8005;   // "CreateBitmapIndirect API failure"
inline constexpr int ecFontFileNotFound = -8052; // "CVFAX.FNT not found, or resource bad"
inline constexpr int ecBmpTooBig = -8054;        // "BMP size exceeds Windows' maxheight of 32767"
inline constexpr int ecEnhFontTooBig = -8055;    // "Font selected for enhanced text converter too large"
}  // namespace FxErr

// Text of a code: the fixed texts above, else the operating system's message
// for |code| with control characters turned into spaces.
std::string FxImageErrorText(int code);

// Raised by the component operations (ConvertBitmap, PageToBitmap, the page
// exports, ...). Carries the negative code; what() is the code's text. The fax
// engine's exception tree can wrap or rethrow it by code.
class EFxImageError : public std::runtime_error {
 public:
  explicit EFxImageError(int code) : std::runtime_error(FxImageErrorText(code)), code_(code) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

// Throws EFxImageError when code is a failure.
inline void FxCheck(int code) {
  if (code < 0) throw EFxImageError(code);
}
