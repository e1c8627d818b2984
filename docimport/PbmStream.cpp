#include "docimport/PbmStream.h"

#include <algorithm>
#include <cctype>

#include "docimport/DocImport.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

// The header is "P4", then width and height in decimal, separated by white
// space and comments ("#" to the end of the line), then exactly one white
// space character before the rows. complete tells whether it has all come.
int FxPbmStream::ParseHeader(bool& complete) {
  complete = false;
  if (header_.size() >= 2 && header_.compare(0, 2, "P4") != 0) {
    problem_ = "the output is not a PBM image";
    return ecImportDamaged;
  }
  if (header_.size() < 3) return 0;
  size_t at = 2;
  unsigned long numbers[2] = {0, 0};
  for (unsigned long& number : numbers) {
    for (;;) {
      while (at < header_.size() && IsSpace(header_[at])) ++at;
      if (at < header_.size() && header_[at] == '#') {
        while (at < header_.size() && header_[at] != '\n') ++at;
        continue;
      }
      break;
    }
    const size_t digits = at;
    while (at < header_.size() && std::isdigit(static_cast<unsigned char>(header_[at]))) {
      number = number * 10 + static_cast<unsigned long>(header_[at] - '0');
      if (number > 1000000) {
        problem_ = "the page is too large";
        return ecImportDamaged;
      }
      ++at;
    }
    if (at == header_.size()) return 0;  // more to come
    if (at == digits || !IsSpace(header_[at])) {
      problem_ = "the PBM header is damaged";
      return ecImportDamaged;
    }
  }
  // at is on the one white space character that ends the header.
  if (at + 1 != header_.size()) {
    problem_ = "the PBM header is damaged";
    return ecImportDamaged;
  }
  if (numbers[0] == 0 || numbers[1] == 0 || numbers[0] > maxWidth_ || numbers[1] > maxHeight_) {
    problem_ = "the page has an unexpected size";
    return ecImportDamaged;
  }
  width_ = static_cast<unsigned>(numbers[0]);
  height_ = static_cast<unsigned>(numbers[1]);
  complete = true;
  return 0;
}

int FxPbmStream::Feed(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size) {
    if (state_ == State::header) {
      header_.push_back(static_cast<char>(data[i++]));
      if (header_.size() > 256) {
        problem_ = "the PBM header is damaged";
        return ecImportDamaged;
      }
      // The header can only end on white space after the height.
      if (!IsSpace(header_.back()) && header_.size() > 2) continue;
      bool complete = false;
      if (const int rc = ParseHeader(complete); rc != 0) return rc;
      if (!complete) continue;
      header_.clear();
      row_.assign((width_ + 7) / 8, 0);
      filled_ = 0;
      rowsDone_ = 0;
      state_ = State::rows;
      if (pageStart)
        if (const int rc = pageStart(width_, height_); rc != 0) return rc;
      continue;
    }
    const size_t take = std::min(size - i, row_.size() - filled_);
    std::copy(data + i, data + i + take, row_.begin() + static_cast<std::ptrdiff_t>(filled_));
    filled_ += take;
    i += take;
    if (filled_ < row_.size()) continue;
    filled_ = 0;
    if (row)
      if (const int rc = row(row_.data()); rc != 0) return rc;
    if (++rowsDone_ == height_) {
      state_ = State::header;
      if (pageEnd)
        if (const int rc = pageEnd(); rc != 0) return rc;
    }
  }
  return 0;
}
