// Feeds arbitrary bytes to the AT command parser, to a whole virtual modem
// (as bytes from the serial program), to the control line parser and to the
// Class 2 parameter parser.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/cvmodemline/AtParser.h"
#include "tools/cvmodemline/Class2.h"
#include "tools/cvmodemline/Control.h"
#include "tools/cvmodemline/Line.h"
#include "tools/cvmodemline/Modem.h"

namespace {
char gFolder[] = "/tmp/cvmlfuzzXXXXXX";

std::string Folder() {
  static const bool made = [] {
    if (!::mkdtemp(gFolder)) return false;
    std::atexit([] { ::rmdir(gFolder); });  // the modems remove their own links
    return true;
  }();
  return made ? gFolder : "/tmp";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ParseAtLine(text);
  bool pulse = false;
  DialDigits(text, pulse);
  std::string error;
  ParseControl(text, error);
  TSessionParams params;
  params.Parse(std::string(text));

  TLine line;
  TVirtualModem modem(line, "fz", "999", Folder() + "/fz" + std::to_string(::getpid()));
  modem.Receive(data, size);
  for (int i = 0; i < 3; ++i) {
    line.Tick();
    modem.Tick();
  }
  return 0;
}
