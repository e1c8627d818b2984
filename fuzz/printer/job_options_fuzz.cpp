// Any bytes as a print job's options string (the part before the first NUL)
// and title (the rest): the description must still be exactly three lines
// without control characters, as the intake reads them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "printer/JobOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const size_t nul = bytes.find('\0');
  const std::string options = bytes.substr(0, nul);
  const std::string title = nul == std::string::npos ? std::string() : bytes.substr(nul + 1);
  const std::string text = JobDescriptionText(PrintedFaxFromJob(options, title));
  size_t lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      if (i + 1 >= text.size() || text[i + 1] != '\n') std::abort();
      ++lines;
      ++i;
    } else if (c < 0x20 || c == 0x7f) {
      std::abort();
    }
  }
  if (lines != 3 || text.size() < 2 || text.substr(text.size() - 2) != "\r\n") std::abort();
  return 0;
}
