#include "xbase/KeyList.h"

#include <algorithm>

namespace {

uint32_t LoadRec(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

void TXbKeyList::Clear() {
  blocks_.clear();
  starts_.clear();
  size_ = 0;
  startsValid_ = true;
}

void TXbKeyList::Reindex() const {
  if (startsValid_) return;
  starts_.resize(blocks_.size());
  size_t n = 0;
  for (size_t b = 0; b < blocks_.size(); ++b) {
    starts_[b] = n;
    n += blocks_[b].count;
  }
  startsValid_ = true;
}

void TXbKeyList::Locate(size_t i, size_t& block, size_t& within) const {
  Reindex();
  for (size_t b : {lastBlock_, lastBlock_ + 1, lastBlock_ - 1}) {
    if (b < blocks_.size() && i >= starts_[b] && i < starts_[b] + blocks_[b].count) {
      lastBlock_ = block = b;
      within = i - starts_[b];
      return;
    }
  }
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), i);
  block = static_cast<size_t>(it - starts_.begin()) - 1;
  within = i - starts_[block];
  lastBlock_ = block;
}

const uint8_t* TXbKeyList::Key(size_t i) const {
  size_t b, w;
  Locate(i, b, w);
  return blocks_[b].bytes.data() + w * Stride();
}

uint32_t TXbKeyList::RecNo(size_t i) const { return LoadRec(Key(i) + keyLen_); }

int TXbKeyList::CompareEntry(const uint8_t* entry, const uint8_t* key, uint32_t recno) const {
  const int c = std::memcmp(entry, key, keyLen_);
  if (c != 0) return c;
  const uint32_t r = LoadRec(entry + keyLen_);
  return r < recno ? -1 : r > recno ? 1 : 0;
}

void TXbKeyList::LowerBoundBlock(const uint8_t* key, uint32_t recno, size_t& block, size_t& within) const {
  // The first block whose last entry is not below the pair holds the answer.
  size_t lo = 0, hi = blocks_.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const Block& bl = blocks_[mid];
    const uint8_t* last = bl.bytes.data() + (bl.count - 1) * Stride();
    if (CompareEntry(last, key, recno) < 0) lo = mid + 1;
    else hi = mid;
  }
  block = lo;
  within = 0;
  if (lo == blocks_.size()) return;
  const Block& bl = blocks_[lo];
  size_t a = 0, z = bl.count;
  while (a < z) {
    const size_t mid = (a + z) / 2;
    if (CompareEntry(bl.bytes.data() + mid * Stride(), key, recno) < 0) a = mid + 1;
    else z = mid;
  }
  within = a;
}

size_t TXbKeyList::LowerBound(const uint8_t* key, uint32_t recno) const {
  size_t b, w;
  LowerBoundBlock(key, recno, b, w);
  if (b == blocks_.size()) return size_;
  Reindex();
  return starts_[b] + w;
}

size_t TXbKeyList::LowerBoundPrefix(const uint8_t* prefix, size_t len) const {
  len = std::min(len, keyLen_);
  size_t lo = 0, hi = size_;
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (std::memcmp(Key(mid), prefix, len) < 0) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

size_t TXbKeyList::UpperBoundPrefix(const uint8_t* prefix, size_t len) const {
  len = std::min(len, keyLen_);
  size_t lo = 0, hi = size_;
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (std::memcmp(Key(mid), prefix, len) <= 0) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

void TXbKeyList::Insert(const uint8_t* key, uint32_t recno) {
  size_t b, w;
  LowerBoundBlock(key, recno, b, w);
  if (blocks_.empty()) {
    blocks_.emplace_back();
    b = w = 0;
  } else if (b == blocks_.size()) {
    b = blocks_.size() - 1;
    w = blocks_[b].count;
  }
  Block& bl = blocks_[b];
  const size_t s = Stride();
  // One move of the block's tail for key and record number together.
  const size_t at = w * s;
  bl.bytes.resize(bl.bytes.size() + s);
  std::memmove(bl.bytes.data() + at + s, bl.bytes.data() + at, bl.bytes.size() - s - at);
  std::memcpy(bl.bytes.data() + at, key, keyLen_);
  std::memcpy(bl.bytes.data() + at + keyLen_, &recno, 4);
  ++bl.count;
  ++size_;
  if (bl.count >= 2 * kBlockEntries) {
    Block right;
    right.count = bl.count - kBlockEntries;
    right.bytes.assign(bl.bytes.begin() + static_cast<std::ptrdiff_t>(kBlockEntries * s), bl.bytes.end());
    bl.bytes.resize(kBlockEntries * s);
    bl.count = kBlockEntries;
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(right));
  }
  startsValid_ = false;
}

bool TXbKeyList::Erase(const uint8_t* key, uint32_t recno) {
  size_t b, w;
  LowerBoundBlock(key, recno, b, w);
  if (b == blocks_.size()) return false;
  Block& bl = blocks_[b];
  const size_t s = Stride();
  const uint8_t* e = bl.bytes.data() + w * s;
  if (CompareEntry(e, key, recno) != 0) return false;
  bl.bytes.erase(bl.bytes.begin() + static_cast<std::ptrdiff_t>(w * s),
                 bl.bytes.begin() + static_cast<std::ptrdiff_t>((w + 1) * s));
  --bl.count;
  --size_;
  if (bl.count == 0) blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
  startsValid_ = false;
  return true;
}

size_t TXbKeyList::EraseRecNos(const std::vector<uint32_t>& recnos) {
  if (recnos.empty()) return 0;
  std::vector<bool> gone(static_cast<size_t>(*std::max_element(recnos.begin(), recnos.end())) + 1, false);
  for (const uint32_t r : recnos) gone[r] = true;
  const size_t s = Stride();
  size_t erased = 0;
  for (Block& bl : blocks_) {
    uint8_t* base = bl.bytes.data();
    size_t kept = 0;
    for (size_t i = 0; i < bl.count; ++i) {
      const uint32_t r = LoadRec(base + i * s + keyLen_);
      if (r < gone.size() && gone[r]) continue;
      if (kept != i) std::memmove(base + kept * s, base + i * s, s);
      ++kept;
    }
    erased += bl.count - kept;
    bl.count = kept;
    bl.bytes.resize(kept * s);
  }
  if (erased == 0) return 0;
  std::erase_if(blocks_, [](const Block& bl) { return bl.count == 0; });
  size_ -= erased;
  startsValid_ = false;
  lastBlock_ = 0;
  return erased;
}

void TXbKeyList::AppendSorted(const uint8_t* key, uint32_t recno) {
  if (blocks_.empty() || blocks_.back().count >= kBlockEntries) {
    blocks_.emplace_back();
    blocks_.back().bytes.reserve(kBlockEntries * Stride());
  }
  Block& bl = blocks_.back();
  bl.bytes.insert(bl.bytes.end(), key, key + keyLen_);
  uint8_t rec[4];
  std::memcpy(rec, &recno, 4);
  bl.bytes.insert(bl.bytes.end(), rec, rec + 4);
  ++bl.count;
  ++size_;
  startsValid_ = false;
}
