#pragma once
// Pages for sessions over the virtual line: the line harness's bitmaps
// (1 = black) written as one APF file through the converter, as Corvane's
// own fax files are made.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "faximage/Apf.h"
#include "faximage/FaxConverter.h"
#include "testsupport/LineHarness.h"

namespace linepages {

// The harness's page as a converter bitmap (set bit = white).
inline TFxBitmap ToFxBitmap(const linetest::TBitmap& b) {
  TFxBitmap out = TFxBitmap::MakeMono(static_cast<unsigned>(b.width), static_cast<unsigned>(b.height));
  for (int y = 0; y < b.height; ++y)
    for (size_t x = 0; x < b.Stride(); ++x)
      out.Row(static_cast<unsigned>(y))[x] = static_cast<uint8_t>(~b.Row(y)[x]);
  return out;
}

inline void WriteApf(const std::filesystem::path& file, const std::vector<linetest::TBitmap>& pages, bool fine) {
  std::vector<std::filesystem::path> parts;
  for (size_t i = 0; i < pages.size(); ++i) {
    TFxFaxConverter c;
    c.SetOptions(0);
    c.LeftMargin = 0;
    c.TopMargin = 0;
    c.Resolution = fine ? TFaxResolution::frHigh : TFaxResolution::frNormal;
    c.OutFileName = (file.parent_path() / ("part" + std::to_string(i) + ".APF")).string();
    ASSERT_EQ(c.TryConvertBitmap(ToFxBitmap(pages[i])), 0);
    parts.push_back(c.OutFileName);
  }
  ASSERT_EQ(ApfConcatenate(parts, file), 0);
  for (const auto& p : parts) std::filesystem::remove(p);
}

// The far end's log line for the latest fax it received, waited for up to
// ten seconds: "... received FILE.tif pages=N rate=R resolution=XxY ...
// remote="ID" result=R (...)". Fields it does not carry are -1 or empty.
struct TFarEndFax {
  std::string file;  // without ".tif"
  int pages = -1;
  int result = -1;
  int rate = -1;
  std::string resolution, remote;
};

inline TFarEndFax FarEndLatest(const std::filesystem::path& receivedDir, std::string& log) {
  TFarEndFax r;
  auto number = [](const std::string& l, const std::string& key) {
    const size_t p = l.find(key);
    return p == std::string::npos ? -1 : std::atoi(l.c_str() + p + key.size());
  };
  auto text = [](const std::string& l, const std::string& key, char end) {
    const size_t p = l.find(key);
    if (p == std::string::npos) return std::string();
    const size_t e = l.find(end, p + key.size());
    return l.substr(p + key.size(), e == std::string::npos ? std::string::npos : e - p - key.size());
  };
  for (int i = 0; i < 50 && r.pages < 0; ++i) {
    log = linetest::ReadText(receivedDir / "faxes.log");
    std::istringstream in(log);
    std::string l;
    while (std::getline(in, l)) {
      const size_t at = l.find("received ");
      const size_t tif = l.find(".tif pages=");
      if (at == std::string::npos || tif == std::string::npos || tif < at) continue;
      r.file = l.substr(at + 9, tif - at - 9);
      r.pages = number(l, " pages=");
      r.result = number(l, " result=");
      r.rate = number(l, " rate=");
      r.resolution = text(l, " resolution=", ' ');
      r.remote = text(l, " remote=\"", '"');
    }
    if (r.pages < 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return r;
}

}  // namespace linepages
