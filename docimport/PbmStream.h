#pragma once
// Pages rendered by Ghostscript's 1-bit device come down a pipe as raw PBM
// images ("P4") one after another. FxPbmStream cuts that stream into pages
// and rows as the bytes arrive, holding no more than one row.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class FxPbmStream {
 public:
  // Largest page taken: the fax width, and far beyond the longest page.
  FxPbmStream(unsigned maxWidth, unsigned maxHeight) : maxWidth_(maxWidth), maxHeight_(maxHeight) {}

  // Each returns 0 to go on or an error code that stops the stream.
  std::function<int(unsigned width, unsigned height)> pageStart;
  std::function<int(const uint8_t* row)> row;  // (width + 7) / 8 bytes, 1 = black
  std::function<int()> pageEnd;

  // 0, a callback's code, or ecImportDamaged when the bytes are not PBM
  // pages of an allowed size.
  [[nodiscard]] int Feed(const uint8_t* data, size_t size);
  // True when no page has been begun and left unfinished.
  bool BetweenPages() const { return state_ == State::header && header_.empty(); }
  const std::string& Problem() const { return problem_; }

 private:
  enum class State { header, rows };
  int ParseHeader(bool& complete);

  unsigned maxWidth_, maxHeight_;
  State state_ = State::header;
  std::string header_;
  std::vector<uint8_t> row_;
  size_t filled_ = 0;
  unsigned width_ = 0, height_ = 0, rowsDone_ = 0;
  std::string problem_;
};
