#pragma once
// The keys of one index tag in memory: (key bytes, record number) pairs of a
// fixed key length, kept in ascending order of key bytes and then record
// number. Stored as a list of sorted blocks so that inserting into a list of
// a hundred thousand keys moves a few kilobytes, not the whole list.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// A place among (key, record number) entries: at the pair itself, or before
// or after every entry whose key starts with the first `len` bytes of `key`.
enum class XbProbeTie { RecNo, Before, After };
struct TXbKeyProbe {
  const uint8_t* key = nullptr;
  size_t len = 0;  // the full key length for XbProbeTie::RecNo
  uint32_t recno = 0;
  XbProbeTie tie = XbProbeTie::RecNo;
};
// Below zero when the entry comes before the probe, zero when it is the
// probe's own pair, above zero when after.
inline int XbCompareProbe(const uint8_t* key, uint32_t recno, const TXbKeyProbe& p) {
  const int c = p.len ? std::memcmp(key, p.key, p.len) : 0;
  if (c != 0) return c;
  switch (p.tie) {
    case XbProbeTie::Before: return 1;
    case XbProbeTie::After: return -1;
    case XbProbeTie::RecNo: break;
  }
  return recno < p.recno ? -1 : recno > p.recno ? 1 : 0;
}

class TXbKeyList {
 public:
  explicit TXbKeyList(size_t keyLength = 1) : keyLen_(keyLength) {}

  size_t KeyLength() const { return keyLen_; }
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  void Clear();

  // Entry i (0-based, ascending order).
  const uint8_t* Key(size_t i) const;
  uint32_t RecNo(size_t i) const;

  // First position whose (key, recno) is not below the given pair.
  size_t LowerBound(const uint8_t* key, uint32_t recno) const;
  // First position whose key, cut to `len` bytes, is not below `prefix`.
  size_t LowerBoundPrefix(const uint8_t* prefix, size_t len) const;
  // First position whose key, cut to `len` bytes, is above `prefix`.
  size_t UpperBoundPrefix(const uint8_t* prefix, size_t len) const;

  void Insert(const uint8_t* key, uint32_t recno);
  bool Erase(const uint8_t* key, uint32_t recno);
  // Erases every entry of the given record numbers (in any order) in one
  // pass; returns how many went.
  size_t EraseRecNos(const std::vector<uint32_t>& recnos);
  // Replaces the contents with entries already in order (bulk build).
  void AppendSorted(const uint8_t* key, uint32_t recno);

 private:
  static constexpr size_t kBlockEntries = 256;
  struct Block {
    std::vector<uint8_t> bytes;  // entries of keyLen_ + 4 bytes
    size_t count = 0;
  };
  size_t Stride() const { return keyLen_ + 4; }
  int CompareEntry(const uint8_t* entry, const uint8_t* key, uint32_t recno) const;
  void Locate(size_t i, size_t& block, size_t& within) const;
  void LowerBoundBlock(const uint8_t* key, uint32_t recno, size_t& block, size_t& within) const;
  void Reindex() const;

  size_t keyLen_;
  size_t size_ = 0;
  std::vector<Block> blocks_;
  mutable std::vector<size_t> starts_;  // first global position of each block
  mutable bool startsValid_ = true;
  mutable size_t lastBlock_ = 0;  // walks move through one block at a time
};
