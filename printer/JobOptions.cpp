#include "printer/JobOptions.h"

#include <cups/cups.h>

std::string OneLineValue(std::string_view text, size_t maxBytes) {
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    line += (u < 0x20 || u == 0x7f) ? ' ' : c;
  }
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  line = line.substr(first, line.find_last_not_of(' ') - first + 1);
  if (line.size() > maxBytes) {
    size_t cut = maxBytes;
    // Back up over continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
  }
  return line;
}

TPrintedFax PrintedFaxFromJob(const std::string& options, const std::string& title) {
  cups_option_t* parsed = nullptr;
  const int count = cupsParseOptions(options.c_str(), 0, &parsed);
  auto option = [&](const char* name) {
    const char* value = cupsGetOption(name, count, parsed);
    return OneLineValue(value != nullptr ? value : "");
  };
  TPrintedFax fax{option("fax-number"), option("fax-to"), option("fax-subject")};
  cupsFreeOptions(count, parsed);
  if (fax.subject.empty()) fax.subject = OneLineValue(title);
  return fax;
}

std::string JobDescriptionText(const TPrintedFax& fax) {
  return fax.faxNumber + "\r\n" + fax.recipient + "\r\n" + fax.subject + "\r\n";
}
