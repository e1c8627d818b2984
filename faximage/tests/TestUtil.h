#pragma once
// Helpers shared by the faximage tests.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "faximage/Apf.h"
#include "faximage/T4Codes.h"
#include "faximage/T4Coder.h"
#include "testsupport/TempFolder.h"

inline std::vector<uint8_t> FxReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void FxWriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Codes a line given as explicit runs (white first), LSB first, after a
// 16-bit end-of-line; padded like a converter record.
inline std::vector<uint8_t> FxCodeRuns(const std::vector<unsigned>& runs) {
  std::vector<uint8_t> out;
  unsigned bit = 0;
  auto put = [&](unsigned code, unsigned length) {
    for (unsigned i = 0; i < length; ++i) {
      if (bit / 8 >= out.size()) out.push_back(0);
      if ((code >> (length - 1 - i)) & 1u) out[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
      ++bit;
    }
  };
  put(0x0001, 16);
  bool black = false;
  for (unsigned run : runs) {
    const auto colour = black ? FxT4Colour::Black : FxT4Colour::White;
    if (run >= 64) {
      const FxT4Code& m = FxT4::MakeUpCodes(colour)[run / 64 - 1];
      put(m.bits, m.length);
    }
    const FxT4Code& t = FxT4::TerminatingCodes(colour)[run % 64];
    put(t.bits, t.length);
    black = !black;
  }
  out.resize(bit / 8 + 2, 0);
  return out;
}

// Writes an APF file of length-word pages; each page is a list of raw lines.
inline void FxWriteApf(const std::filesystem::path& path, const std::vector<std::vector<std::vector<uint8_t>>>& pages,
                       uint16_t flags) {
  TFxApfWriter w;
  w.Create(path);
  w.SetPageFlags(flags);
  std::vector<uint8_t> rec(FxT4::kMaxRecordBytes);
  for (const auto& page : pages) {
    for (const auto& line : page) {
      const size_t n = FxT4::CodeLine(line.data(), (flags & apfWide) ? 2048 : 1728, 0, rec.data());
      w.WriteRecord(rec.data(), n);
    }
    w.EndPage();
  }
  w.Finish("TEST");
}
