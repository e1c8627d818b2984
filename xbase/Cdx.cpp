#include "xbase/Cdx.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr size_t kLeafArea = 488;
constexpr size_t kInteriorArea = 500;
constexpr uint16_t kAttrRoot = 1;
constexpr uint16_t kAttrLeaf = 2;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int kMaxDepth = 32;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int BitsFor(uint64_t v) {
  int b = 0;
  while (v > 0) {
    ++b;
    v >>= 1;
  }
  return b;
}

// ---------------------------------------------------------------- writing

struct LeafLayout {
  int recBits, dupBits, trailBits, bytes;
};

LeafLayout ChooseLayout(size_t keyLen, uint32_t maxRec) {
  LeafLayout l{};
  l.dupBits = l.trailBits = std::max(1, BitsFor(keyLen));
  const int recNeed = std::max(1, BitsFor(maxRec));
  l.bytes = 3;
  while (l.bytes * 8 - l.dupBits - l.trailBits < recNeed) ++l.bytes;
  l.recBits = l.bytes * 8 - l.dupBits - l.trailBits;
  return l;
}

struct PageRef {
  uint32_t offset;
  std::vector<uint8_t> lastKey;
  uint32_t lastRec;
};

class Writer {
 public:
  std::string out;

  uint32_t NewPage() {
    const auto off = static_cast<uint32_t>(out.size());
    out.append(kCdxPageSize, '\0');
    return off;
  }
  uint8_t* At(uint32_t off) { return reinterpret_cast<uint8_t*>(out.data()) + off; }

  // Writes one tree of (key, recno) entries; returns the root page.
  template <typename Get>
  uint32_t WriteTree(size_t count, size_t keyLen, uint8_t pad, uint32_t maxRec, Get get) {
    const LeafLayout l = ChooseLayout(keyLen, maxRec);
    std::vector<PageRef> level;
    size_t i = 0;
    do {
      const uint32_t page = NewPage();
      uint8_t* p = At(page);
      size_t n = 0, infoUsed = 0, dataUsed = 0;
      const uint8_t* prev = nullptr;
      uint32_t lastRec = 0;
      const uint8_t* lastKey = nullptr;
      while (i < count) {
        const uint8_t* key;
        uint32_t rec;
        get(i, key, rec);
        size_t dup = 0;
        if (prev) while (dup < keyLen && key[dup] == prev[dup]) ++dup;
        size_t trail = 0;
        while (trail < keyLen - dup && key[keyLen - 1 - trail] == pad) ++trail;
        const size_t stored = keyLen - dup - trail;
        if (infoUsed + static_cast<size_t>(l.bytes) + dataUsed + stored > kLeafArea) break;
        uint64_t packed = static_cast<uint64_t>(rec) | (static_cast<uint64_t>(dup) << l.recBits) |
                          (static_cast<uint64_t>(trail) << (l.recBits + l.dupBits));
        for (int b = 0; b < l.bytes; ++b) p[24 + infoUsed + static_cast<size_t>(b)] = static_cast<uint8_t>(packed >> (8 * b));
        infoUsed += static_cast<size_t>(l.bytes);
        dataUsed += stored;
        std::memcpy(p + 24 + kLeafArea - dataUsed, key + dup, stored);
        prev = key;
        lastKey = key;
        lastRec = rec;
        ++n;
        ++i;
      }
      PutLe16(p, kAttrLeaf);
      PutLe16(p + 2, static_cast<uint32_t>(n));
      PutLe16(p + 12, static_cast<uint32_t>(kLeafArea - infoUsed - dataUsed));
      PutLe32(p + 14, static_cast<uint32_t>((1ull << l.recBits) - 1));
      p[18] = static_cast<uint8_t>((1u << l.dupBits) - 1);
      p[19] = static_cast<uint8_t>((1u << l.trailBits) - 1);
      p[20] = static_cast<uint8_t>(l.recBits);
      p[21] = static_cast<uint8_t>(l.dupBits);
      p[22] = static_cast<uint8_t>(l.trailBits);
      p[23] = static_cast<uint8_t>(l.bytes);
      PageRef ref{page, {}, lastRec};
      if (lastKey) ref.lastKey.assign(lastKey, lastKey + keyLen);
      else ref.lastKey.assign(keyLen, pad);
      level.push_back(std::move(ref));
    } while (i < count);
    Link(level);
    const size_t perInterior = std::max<size_t>(2, kInteriorArea / (keyLen + 8));
    while (level.size() > 1) {
      std::vector<PageRef> up;
      for (size_t k = 0; k < level.size(); k += perInterior) {
        const size_t n = std::min(perInterior, level.size() - k);
        const uint32_t page = NewPage();
        uint8_t* p = At(page);
        PutLe16(p, 0);
        PutLe16(p + 2, static_cast<uint32_t>(n));
        for (size_t j = 0; j < n; ++j) {
          uint8_t* e = p + 12 + j * (keyLen + 8);
          const PageRef& c = level[k + j];
          std::memcpy(e, c.lastKey.data(), keyLen);
          PutBe32(e + keyLen, c.lastRec);
          PutBe32(e + keyLen + 4, c.offset);
        }
        up.push_back(PageRef{page, level[k + n - 1].lastKey, level[k + n - 1].lastRec});
      }
      Link(up);
      level = std::move(up);
    }
    uint8_t* root = At(level[0].offset);
    PutLe16(root, Le16(root) | kAttrRoot);
    return level[0].offset;
  }

  void Link(const std::vector<PageRef>& level) {
    for (size_t k = 0; k < level.size(); ++k) {
      uint8_t* p = At(level[k].offset);
      PutLe32(p + 4, k == 0 ? kNone : level[k - 1].offset);
      PutLe32(p + 8, k + 1 == level.size() ? kNone : level[k + 1].offset);
    }
  }

  void WriteHeader(uint32_t at, uint32_t root, uint16_t keyLen, uint8_t options, bool descending,
                   const std::string& keyExpr, const std::string& forExpr, char keyType) {
    uint8_t* h = At(at);
    PutLe32(h, root);
    PutLe32(h + 4, kNone);
    PutLe16(h + 12, keyLen);
    h[14] = options;
    h[15] = 1;
    h[36] = static_cast<uint8_t>(keyType);
    PutLe16(h + 502, descending ? 1 : 0);
    const size_t klen = std::min<size_t>(keyExpr.size(), 500);
    const size_t flen = std::min<size_t>(forExpr.size(), 510 - klen);
    std::memcpy(h + 512, keyExpr.data(), klen);
    std::memcpy(h + 512 + klen + 1, forExpr.data(), flen);
    PutLe16(h + 506, static_cast<uint32_t>(flen + 1));
    PutLe16(h + 510, static_cast<uint32_t>(klen + 1));
  }
};

// ---------------------------------------------------------------- reading

// Decodes the `n` entries of a leaf page, calling emit(key, recno) for each.
template <typename Emit>
XbStatus DecodeLeaf(const uint8_t* p, size_t n, size_t keyLen, uint8_t pad, Emit& emit) {
  const int recBits = p[20], dupBits = p[21], trailBits = p[22], bytes = p[23];
  if (bytes < 1 || bytes > 8 || recBits + dupBits + trailBits > bytes * 8 || recBits > 32 || dupBits > 16 ||
      trailBits > 16 || recBits < 1)
    return XbFail(XbError::CdxBadNode, "leaf layout");
  if (n * static_cast<size_t>(bytes) > kLeafArea) return XbFail(XbError::CdxBadNode, "leaf with " + std::to_string(n) + " keys");
  uint8_t key[kCdxMaxKeyLength], prev[kCdxMaxKeyLength];
  std::memset(prev, pad, keyLen);
  size_t dataUsed = 0;
  for (size_t j = 0; j < n; ++j) {
    uint64_t packed = 0;
    for (int b = 0; b < bytes; ++b)
      packed |= static_cast<uint64_t>(p[24 + j * static_cast<size_t>(bytes) + static_cast<size_t>(b)]) << (8 * b);
    const auto rec = static_cast<uint32_t>(packed & ((1ull << recBits) - 1));
    const auto dup = static_cast<size_t>((packed >> recBits) & ((1ull << dupBits) - 1));
    const auto trail = static_cast<size_t>((packed >> (recBits + dupBits)) & ((1ull << trailBits) - 1));
    if (dup + trail > keyLen || (j == 0 && dup != 0)) return XbFail(XbError::CdxBadNode, "leaf entry counts");
    const size_t stored = keyLen - dup - trail;
    dataUsed += stored;
    if (n * static_cast<size_t>(bytes) + dataUsed > kLeafArea)
      return XbFail(XbError::CdxBadNode, "leaf key data overflows its page");
    std::memcpy(key, prev, dup);
    std::memcpy(key + dup, p + 24 + kLeafArea - dataUsed, stored);
    std::memset(key + keyLen - trail, pad, trail);
    if (auto st = emit(static_cast<const uint8_t*>(key), rec); !st) return st;
    std::memcpy(prev, key, keyLen);
  }
  return {};
}

// A tag header of 1024 bytes.
XbStatus ParseTagHeader(const uint8_t* h, TCdxTagDef& def, uint32_t& root) {
  root = Le32(h);
  def.keyLength = Le16(h + 12);
  if (def.keyLength < 1 || def.keyLength > kCdxMaxKeyLength)
    return XbFail(XbError::CdxBadHeader, "key length " + std::to_string(def.keyLength));
  const uint8_t options = h[14];
  def.unique = (options & 0x01) != 0;
  def.descending = Le16(h + 502) == 1;
  def.keyType = h[36] == 'N' || h[36] == 'L' ? static_cast<char>(h[36]) : 'C';
  const auto* pool = reinterpret_cast<const char*>(h + 512);
  const size_t klen = strnlen(pool, 512);
  if (klen == 0 || klen >= 511) return XbFail(XbError::CdxBadHeader, "key expression");
  def.keyExpr.assign(pool, klen);
  const size_t flen = strnlen(pool + klen + 1, 512 - klen - 1);
  if (klen + 1 + flen >= 512) return XbFail(XbError::CdxBadHeader, "FOR expression");
  def.forExpr.assign(pool + klen + 1, flen);
  if ((options & 0x08) == 0) def.forExpr.clear();
  return {};
}

struct Reader {
  const uint8_t* data;
  size_t size;
  std::unordered_set<uint32_t> seen;
  uint32_t prevLeaf = kNone;  // the leaf before the one being read, in key order

  XbStatus CheckPage(uint32_t off, size_t len) const {
    if (off == kNone || off % kCdxPageSize != 0 || static_cast<uint64_t>(off) + len > size)
      return XbFail(XbError::CdxBadNode, "page offset " + std::to_string(off));
    return {};
  }

  template <typename Emit>
  XbStatus Walk(uint32_t page, size_t keyLen, uint8_t pad, int depth, Emit& emit) {
    if (depth > kMaxDepth) return XbFail(XbError::CdxBadNode, "tree too deep");
    if (auto st = CheckPage(page, kCdxPageSize); !st) return st;
    if (!seen.insert(page).second) return XbFail(XbError::CdxCycle, "page " + std::to_string(page));
    const uint8_t* p = data + page;
    const uint16_t attr = Le16(p);
    const uint16_t n = Le16(p + 2);
    if (attr > 3) return XbFail(XbError::CdxBadNode, "page attributes " + std::to_string(attr));
    if ((attr & kAttrRoot) != 0 && depth != 0) return XbFail(XbError::CdxBadNode, "second root page");
    if ((attr & kAttrLeaf) == 0) {
      if (n == 0 || n > kInteriorArea / (keyLen + 8))
        return XbFail(XbError::CdxBadNode, "interior page with " + std::to_string(n) + " keys");
      for (size_t j = 0; j < n; ++j) {
        const uint8_t* e = p + 12 + j * (keyLen + 8);
        if (auto st = Walk(Be32(e + keyLen + 4), keyLen, pad, depth + 1, emit); !st) return st;
      }
      return {};
    }
    // Walks follow the sibling links between leaves, so they must agree
    // with the tree.
    if (Le32(p + 4) != prevLeaf || (prevLeaf != kNone && Le32(data + prevLeaf + 8) != page))
      return XbFail(XbError::CdxBadNode, "page " + std::to_string(page) + ": sibling links disagree with the tree");
    prevLeaf = page;
    return DecodeLeaf(p, n, keyLen, pad, emit);
  }

  // A whole tree, from its root.
  template <typename Emit>
  XbStatus WalkTree(uint32_t root, size_t keyLen, uint8_t pad, Emit& emit) {
    prevLeaf = kNone;
    if (auto st = Walk(root, keyLen, pad, 0, emit); !st) return st;
    if (prevLeaf != kNone && Le32(data + prevLeaf + 8) != kNone)
      return XbFail(XbError::CdxBadNode, "page " + std::to_string(prevLeaf) + ": a leaf after the last");
    return {};
  }

  XbStatus ReadHeader(uint32_t at, TCdxTagDef& def, uint32_t& root) const {
    if (auto st = CheckPage(at, 1024); !st) return XbFail(XbError::CdxBadHeader, st.detail);
    return ParseTagHeader(data + at, def, root);
  }
};

bool Less(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, size_t len) {
  const int c = std::memcmp(a, b, len);
  return c < 0 || (c == 0 && ra < rb);
}

// One end of the key range a page must keep to, met on the way down; an
// unset end bounds nothing.
struct TBound {
  bool set = false;
  uint8_t key[kCdxMaxKeyLength];
  uint32_t rec = 0;
  void Set(const uint8_t* k, uint32_t r, size_t len) {
    std::memcpy(key, k, len);
    rec = r;
    set = true;
  }
  // As a lower end: true when (k, r) lies above it.
  bool Below(const uint8_t* k, uint32_t r, size_t len) const { return !set || Less(key, rec, k, r, len); }
  // As an upper end: true when (k, r) does not lie above it.
  bool AtLeast(const uint8_t* k, uint32_t r, size_t len) const { return !set || !Less(key, rec, k, r, len); }
};

}  // namespace

uint8_t XbKeyPad(char keyType) { return keyType == 'C' ? ' ' : 0; }

void XbMakeKey(const TXbValue& v, char keyType, size_t keyLength, uint8_t* out) {
  switch (keyType) {
    case 'C': {
      const size_t n = std::min(keyLength, v.str.size());
      std::memcpy(out, v.str.data(), n);
      std::memset(out + n, ' ', keyLength - n);
      return;
    }
    case 'L':
      std::memset(out, ' ', keyLength);
      out[0] = v.log ? 'T' : 'F';
      return;
    default: {
      double d = v.type == XbType::Date ? static_cast<double>(v.date) : v.num;
      if (d == 0) d = 0;  // no negative zero
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      // Order-preserving: flip the sign bit of positives, all bits of negatives.
      bits = (bits & (1ull << 63)) ? ~bits : bits | (1ull << 63);
      uint8_t tmp[8];
      for (int i = 0; i < 8; ++i) tmp[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
      std::memset(out, 0, keyLength);
      std::memcpy(out, tmp, std::min<size_t>(8, keyLength));
      return;
    }
  }
}

XbStatus XbReadCdx(const uint8_t* data, size_t size, TCdxImage& out) {
  out = TCdxImage();
  if (size < 1024) return XbFail(XbError::CdxTooShort);
  if (size > kCdxMaxFileSize) return XbFail(XbError::CdxBadHeader, "file too large");
  Reader r{data, size, {}};
  TCdxTagDef dir;
  uint32_t dirRoot = 0;
  if (auto st = r.ReadHeader(0, dir, dirRoot); !st) {
    // The directory's own key expression is empty in FoxPro files; only the
    // key length matters here.
    if (Le16(data + 12) != kCdxTagNameLength) return st;
    dirRoot = Le32(data);
  }
  if (Le16(data + 12) != kCdxTagNameLength) return XbFail(XbError::CdxBadHeader, "tag directory key length");
  TCdxImage img;
  img.serial = Le32(data + 16);
  img.recordCount = Le32(data + 20);
  std::vector<std::pair<std::string, uint32_t>> entries;
  auto onTag = [&](const uint8_t* key, uint32_t rec) -> XbStatus {
    std::string name(reinterpret_cast<const char*>(key), kCdxTagNameLength);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    if (name.empty()) return XbFail(XbError::CdxBadHeader, "empty tag name");
    name = XbUpper(name);  // "z" and "Z" are one tag name
    for (const auto& e : entries)
      if (e.first == name) return XbFail(XbError::CdxBadHeader, "tag " + name + " twice");
    entries.emplace_back(std::move(name), rec);
    return {};
  };
  if (auto st = r.WalkTree(dirRoot, kCdxTagNameLength, ' ', onTag); !st) return st;
  // The directory is in name order; tags are numbered in the order they were
  // made, which is the order of their headers in the file.
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& entry : entries) {
    // Named copies, not structured bindings: the key callback below captures
    // the name, which clang before 16 refuses for a binding.
    const std::string& name = entry.first;
    const uint32_t at = entry.second;
    TCdxTagData tag;
    tag.def.name = name;
    uint32_t root = 0;
    if (auto st = r.ReadHeader(at, tag.def, root); !st) {
      st.detail = "tag " + name + ": " + st.detail;
      return st;
    }
    // The header pages of tags and directory must not double as tree pages.
    r.seen.insert(at);
    r.seen.insert(at + static_cast<uint32_t>(kCdxPageSize));
    tag.keys = TXbKeyList(tag.def.keyLength);
    const uint8_t* prevKey = nullptr;
    std::vector<uint8_t> prev(tag.def.keyLength);
    uint32_t prevRec = 0;
    auto onKey = [&](const uint8_t* key, uint32_t rec) -> XbStatus {
      if (prevKey && !Less(prev.data(), prevRec, key, rec, tag.def.keyLength))
        return XbFail(XbError::CdxBadNode, "tag " + name + ": keys out of order");
      std::memcpy(prev.data(), key, tag.def.keyLength);
      prevKey = prev.data();
      prevRec = rec;
      tag.keys.AppendSorted(key, rec);
      return {};
    };
    if (auto st = r.WalkTree(root, tag.def.keyLength, XbKeyPad(tag.def.keyType), onKey); !st) {
      st.detail = "tag " + name + ": " + st.detail;
      return st;
    }
    img.tags.push_back(std::move(tag));
  }
  out = std::move(img);
  return {};
}

std::string XbWriteCdx(const TCdxImage& image) {
  std::vector<const TCdxTagData*> tags;
  uint32_t maxRec = image.recordCount;
  for (const TCdxTagData& t : image.tags) {
    tags.push_back(&t);
    for (size_t i = 0; i < t.keys.Size(); ++i) maxRec = std::max(maxRec, t.keys.RecNo(i));
  }
  const std::string bytes = XbWriteCdx(image.serial, maxRec, tags);
  if (maxRec == image.recordCount) return bytes;
  std::string fixed = bytes;  // the header keeps the count it was given
  for (int i = 0; i < 4; ++i) fixed[20 + static_cast<size_t>(i)] = static_cast<char>(image.recordCount >> (8 * i));
  return fixed;
}

std::string XbWriteCdx(uint32_t serial, uint32_t recordCount, const std::vector<const TCdxTagData*>& tags) {
  Writer w;
  w.out.assign(1024, '\0');  // directory header
  std::vector<uint32_t> headers;
  // Record numbers are packed in as many bits as the largest one needs; a
  // tag kept from an earlier write must have used the same width.
  const uint32_t maxRec = std::max<uint32_t>(1, recordCount);
  for (const TCdxTagData* t : tags)
    if (t->written.valid && t->written.maxRecBits != BitsFor(maxRec)) t->written.Clear();
  for (const TCdxTagData* tp : tags) {
    const TCdxTagData& t = *tp;
    const auto at = static_cast<uint32_t>(w.out.size());
    headers.push_back(at);
    if (t.written.valid && t.written.offset == at) {
      w.out += t.written.bytes;
      continue;
    }
    w.NewPage();
    w.NewPage();
    const size_t len = t.def.keyLength;
    const uint32_t root = w.WriteTree(t.keys.Size(), len, XbKeyPad(t.def.keyType), maxRec,
                                      [&](size_t i, const uint8_t*& key, uint32_t& rec) {
                                        key = t.keys.Key(i);
                                        rec = t.keys.RecNo(i);
                                      });
    uint8_t options = 0x60;
    if (!t.def.forExpr.empty()) options |= 0x08;
    if (t.def.unique) options |= 0x01;
    w.WriteHeader(at, root, t.def.keyLength, options, t.def.descending, t.def.keyExpr, t.def.forExpr,
                  t.def.keyType);
    t.written.bytes.assign(w.out, at, std::string::npos);
    t.written.offset = at;
    t.written.maxRecBits = BitsFor(maxRec);
    t.written.valid = true;
  }
  // The directory lists the tags in name order.
  std::vector<size_t> order(tags.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return tags[a]->def.name < tags[b]->def.name; });
  std::vector<std::array<uint8_t, kCdxTagNameLength>> names(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    names[k].fill(' ');
    const std::string& n = tags[order[k]]->def.name;
    std::memcpy(names[k].data(), n.data(), std::min(n.size(), kCdxTagNameLength));
  }
  const uint32_t dirRoot = w.WriteTree(order.size(), kCdxTagNameLength, ' ', static_cast<uint32_t>(w.out.size()),
                                       [&](size_t i, const uint8_t*& key, uint32_t& rec) {
                                         key = names[i].data();
                                         rec = headers[order[i]];
                                       });
  w.WriteHeader(0, dirRoot, kCdxTagNameLength, 0xE0, false, "", "", 'C');
  uint8_t* h = w.At(0);
  PutLe32(h + 16, serial);
  PutLe32(h + 20, recordCount);
  h[24] = kCdxLetterCase1252;
  return w.out;
}

bool XbSalvageCdxTags(const uint8_t* data, size_t size, std::vector<TCdxTagDef>& out) {
  out.clear();
  if (size < 1024 || size > kCdxMaxFileSize || Le16(data + 12) != kCdxTagNameLength) return false;
  Reader r{data, size, {}};
  std::vector<std::pair<std::string, uint32_t>> entries;
  auto onTag = [&](const uint8_t* key, uint32_t rec) -> XbStatus {
    std::string name(reinterpret_cast<const char*>(key), kCdxTagNameLength);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    if (name.empty()) return XbFail(XbError::CdxBadHeader);
    entries.emplace_back(XbUpper(name), rec);
    return {};
  };
  if (!r.WalkTree(Le32(data), kCdxTagNameLength, ' ', onTag) || entries.empty()) return false;
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [name, at] : entries) {
    TCdxTagDef def;
    uint32_t root = 0;
    if (!r.ReadHeader(at, def, root)) return false;
    def.name = name;
    for (const TCdxTagDef& d : out)
      if (d.name == name) return false;
    out.push_back(std::move(def));
  }
  return true;
}

// ---------------------------------------------------------------- reading page by page

XbStatus TCdxFile::Open(const std::filesystem::path& path, std::shared_ptr<const TCdxFile>& out) {
  out.reset();
  auto f = std::make_shared<TCdxFile>();
  if (auto st = f->file_.Open(path, O_RDONLY); !st) return st;
  if (auto st = f->file_.Size(f->size_); !st) return st;
  if (f->size_ < 1024) return XbFail(XbError::CdxTooShort);
  if (f->size_ > kCdxMaxFileSize) return XbFail(XbError::CdxBadHeader, "file too large");
  uint8_t h[1024];
  if (auto st = f->file_.ReadAt(0, h, sizeof h); !st) return st;
  // The directory's own key expression is empty in FoxPro files; only the
  // key length matters here.
  if (Le16(h + 12) != kCdxTagNameLength) return XbFail(XbError::CdxBadHeader, "tag directory key length");
  f->serial_ = Le32(h + 16);
  f->recordCount_ = Le32(h + 20);
  f->letterCase_ = h[24];
  std::vector<std::pair<std::string, uint32_t>> entries;
  {
    TCdxCursor dir;
    dir.Attach(f, Le32(h), kCdxTagNameLength, ' ', UINT32_MAX);
    XbStatus st = dir.First();
    for (; st && dir.Valid(); st = dir.Next()) {
      std::string name(reinterpret_cast<const char*>(dir.Key()), kCdxTagNameLength);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
      if (name.empty()) return XbFail(XbError::CdxBadHeader, "empty tag name");
      name = XbUpper(name);
      for (const auto& e : entries)
        if (e.first == name) return XbFail(XbError::CdxBadHeader, "tag " + name + " twice");
      entries.emplace_back(std::move(name), dir.RecNo());
    }
    if (!st) return st;
  }
  // Tags are numbered in the order they were made: the order of their headers.
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [name, at] : entries) {
    Tag tag;
    tag.def.name = name;
    if (at % kCdxPageSize != 0 || static_cast<uint64_t>(at) + 1024 > f->size_)
      return XbFail(XbError::CdxBadHeader, "tag " + name + ": header offset " + std::to_string(at));
    if (auto st = f->file_.ReadAt(at, h, sizeof h); !st) return st;
    if (auto st = ParseTagHeader(h, tag.def, tag.root); !st) {
      st.detail = "tag " + name + ": " + st.detail;
      return st;
    }
    f->tags_.push_back(std::move(tag));
  }
  out = std::move(f);
  return {};
}

XbStatus TCdxFile::ReadPage(uint32_t offset, uint8_t* page) const {
  if (offset == kNone || offset % kCdxPageSize != 0 || static_cast<uint64_t>(offset) + kCdxPageSize > size_)
    return XbFail(XbError::CdxBadNode, "page offset " + std::to_string(offset));
  return file_.ReadAt(offset, page, kCdxPageSize);
}

XbStatus TCdxFile::ReadAll(std::string& out) const {
  out.resize(static_cast<size_t>(size_));
  return file_.ReadAt(0, out.data(), out.size());
}

bool TCdxFile::SameFileAs(const std::filesystem::path& path) const {
  struct stat a {}, b {};
  if (::fstat(file_.fd(), &a) != 0 || ::stat(path.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void TCdxCursor::Attach(const TXbKeyList* keys) {
  Detach();
  list_ = keys;
}

void TCdxCursor::Attach(std::shared_ptr<const TCdxFile> file, uint32_t root, size_t keyLength, uint8_t pad,
                        uint32_t maxRecNo) {
  Detach();
  file_ = std::move(file);
  root_ = root;
  keyLen_ = std::min(keyLength, kCdxMaxKeyLength);
  pad_ = pad;
  maxRec_ = maxRecNo;
  page_.resize(kCdxPageSize);
}

void TCdxCursor::Detach() {
  list_ = nullptr;
  file_.reset();
  state_ = State::AfterLast;
  count_ = idx_ = pos_ = 0;
  leaf_ = kNone;
}

const uint8_t* TCdxCursor::Key() const {
  return list_ ? list_->Key(pos_) : keys_.data() + idx_ * keyLen_;
}

uint32_t TCdxCursor::RecNo() const { return list_ ? list_->RecNo(pos_) : recs_[idx_]; }

XbStatus TCdxCursor::First() {
  if (list_) {
    pos_ = 0;
    state_ = list_->Empty() ? State::AfterLast : State::On;
    return {};
  }
  if (!file_) return Fail(XbFail(XbError::NoSuchTag));
  return Descend(Descent::First, nullptr);
}

XbStatus TCdxCursor::Last() {
  if (list_) {
    state_ = list_->Empty() ? State::BeforeFirst : State::On;
    pos_ = list_->Empty() ? 0 : list_->Size() - 1;
    return {};
  }
  if (!file_) return Fail(XbFail(XbError::NoSuchTag));
  return Descend(Descent::Last, nullptr);
}

XbStatus TCdxCursor::Seek(const TXbKeyProbe& probe) {
  if (list_) {
    switch (probe.tie) {
      case XbProbeTie::RecNo: pos_ = list_->LowerBound(probe.key, probe.recno); break;
      case XbProbeTie::Before: pos_ = list_->LowerBoundPrefix(probe.key, probe.len); break;
      case XbProbeTie::After: pos_ = list_->UpperBoundPrefix(probe.key, probe.len); break;
    }
    state_ = pos_ < list_->Size() ? State::On : State::AfterLast;
    return {};
  }
  if (!file_) return Fail(XbFail(XbError::NoSuchTag));
  return Descend(Descent::Probe, &probe);
}

XbStatus TCdxCursor::Next() {
  if (state_ == State::AfterLast) return {};
  if (state_ == State::BeforeFirst) return First();
  if (list_) {
    if (++pos_ >= list_->Size()) state_ = State::AfterLast;
    return {};
  }
  if (idx_ + 1 < count_) {
    ++idx_;
    return {};
  }
  return Step(true);
}

XbStatus TCdxCursor::Prev() {
  if (state_ == State::BeforeFirst) return {};
  if (state_ == State::AfterLast) return Last();
  if (list_) {
    if (pos_ == 0) state_ = State::BeforeFirst;
    else --pos_;
    return {};
  }
  if (idx_ > 0) {
    --idx_;
    return {};
  }
  return Step(false);
}

XbStatus TCdxCursor::LoadLeaf(uint32_t offset, const uint8_t* page) {
  count_ = 0;
  leaf_ = kNone;
  const size_t n = Le16(page + 2);
  keys_.clear();
  recs_.clear();
  auto emit = [&](const uint8_t* key, uint32_t rec) -> XbStatus {
    if (rec < 1 || rec > maxRec_) return XbFail(XbError::CdxBadNode, "record number " + std::to_string(rec));
    if (!recs_.empty()) {
      const uint8_t* prev = keys_.data() + keys_.size() - keyLen_;
      const int c = std::memcmp(prev, key, keyLen_);
      if (c > 0 || (c == 0 && recs_.back() >= rec)) return XbFail(XbError::CdxBadNode, "keys out of order");
    }
    keys_.insert(keys_.end(), key, key + keyLen_);
    recs_.push_back(rec);
    return {};
  };
  if (auto st = DecodeLeaf(page, n, keyLen_, pad_, emit); !st) {
    st.detail = "page " + std::to_string(offset) + ": " + st.detail;
    return st;
  }
  leaf_ = offset;
  left_ = Le32(page + 4);
  right_ = Le32(page + 8);
  count_ = n;
  idx_ = 0;
  return {};
}

XbStatus TCdxCursor::Descend(Descent how, const TXbKeyProbe* probe) {
  uint32_t path[kMaxDepth + 1];
  uint32_t page = root_;
  // The keys below the entry followed must lie above `lo` (the entry before
  // it, when there is one) and not above `hi` (the entry itself): a child
  // that disagrees with its parent would make seeks and walks see different
  // keys.
  TBound lo, hi;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) return Fail(XbFail(XbError::CdxBadNode, "tree too deep"));
    for (int k = 0; k < depth; ++k)
      if (path[k] == page) return Fail(XbFail(XbError::CdxCycle, "page " + std::to_string(page)));
    path[depth] = page;
    if (auto st = file_->ReadPage(page, page_.data()); !st) return Fail(st);
    const uint8_t* p = page_.data();
    const uint16_t attr = Le16(p);
    const size_t n = Le16(p + 2);
    if (attr > 3) return Fail(XbFail(XbError::CdxBadNode, "page attributes " + std::to_string(attr)));
    if ((attr & kAttrRoot) != 0 && depth != 0) return Fail(XbFail(XbError::CdxBadNode, "second root page"));
    if (auto st = CheckEdgeLinks(page, p, depth, how); !st) return Fail(st);
    if ((attr & kAttrLeaf) != 0) {
      if (auto st = LoadLeaf(page, p); !st) return Fail(st);
      if (count_ > 0 && (!lo.Below(keys_.data(), recs_[0], keyLen_) ||
                         !hi.AtLeast(keys_.data() + (count_ - 1) * keyLen_, recs_[count_ - 1], keyLen_)))
        return Fail(XbFail(XbError::CdxBadNode, "page " + std::to_string(page) + ": keys outside the range of its parent"));
      switch (how) {
        case Descent::First:
          if (count_ == 0) return Step(true);
          idx_ = 0;
          break;
        case Descent::Last:
          if (count_ == 0) return Step(false);
          idx_ = count_ - 1;
          break;
        case Descent::Probe:
          idx_ = 0;
          while (idx_ < count_ && XbCompareProbe(keys_.data() + idx_ * keyLen_, recs_[idx_], *probe) < 0) ++idx_;
          if (idx_ == count_) return Step(true);
          break;
      }
      state_ = State::On;
      return {};
    }
    if (n == 0 || n > kInteriorArea / (keyLen_ + 8))
      return Fail(XbFail(XbError::CdxBadNode, "interior page with " + std::to_string(n) + " keys"));
    auto entry = [&](size_t j) { return p + 12 + j * (keyLen_ + 8); };
    for (size_t j = 0; j < n; ++j) {
      const uint8_t* e = entry(j);
      const bool above = j == 0 ? lo.Below(e, Be32(e + keyLen_), keyLen_)
                                : Less(entry(j - 1), Be32(entry(j - 1) + keyLen_), e, Be32(e + keyLen_), keyLen_);
      if (!above || !hi.AtLeast(e, Be32(e + keyLen_), keyLen_))
        return Fail(XbFail(XbError::CdxBadNode, "page " + std::to_string(page) + ": keys out of order"));
    }
    size_t j = 0;
    if (how == Descent::Last) {
      j = n - 1;
    } else if (how == Descent::Probe) {
      while (j < n) {
        const uint8_t* e = entry(j);
        if (XbCompareProbe(e, Be32(e + keyLen_), *probe) >= 0) break;
        ++j;
      }
      if (j == n) {  // above every key of the tag
        state_ = State::AfterLast;
        return {};
      }
    }
    if (j > 0) lo.Set(entry(j - 1), Be32(entry(j - 1) + keyLen_), keyLen_);
    hi.Set(entry(j), Be32(entry(j) + keyLen_), keyLen_);
    page = Be32(entry(j) + keyLen_ + 4);
  }
}

XbStatus TCdxCursor::CheckEdgeLinks(uint32_t offset, const uint8_t* page, int depth, Descent how) const {
  // The root stands alone on its level; the way to the first (last) key
  // runs along the first (last) page of every level.
  const uint32_t left = Le32(page + 4), right = Le32(page + 8);
  const bool leftmost = depth == 0 || how == Descent::First, rightmost = depth == 0 || how == Descent::Last;
  if ((leftmost && left != kNone) || (rightmost && right != kNone))
    return XbFail(XbError::CdxBadNode, "page " + std::to_string(offset) + ": sibling links disagree with the tree");
  return {};
}

XbStatus TCdxCursor::EdgeLeaf(bool last, uint32_t& leaf) const {
  std::array<uint8_t, kCdxPageSize> buf;
  uint32_t page = root_;
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    if (auto st = file_->ReadPage(page, buf.data()); !st) return st;
    if (auto st = CheckEdgeLinks(page, buf.data(), depth, last ? Descent::Last : Descent::First); !st) return st;
    if ((Le16(buf.data()) & kAttrLeaf) != 0) {
      leaf = page;
      return {};
    }
    const size_t n = Le16(buf.data() + 2);
    if (n == 0 || n > kInteriorArea / (keyLen_ + 8))
      return XbFail(XbError::CdxBadNode, "interior page with " + std::to_string(n) + " keys");
    page = Be32(buf.data() + 12 + (last ? n - 1 : 0) * (keyLen_ + 8) + keyLen_ + 4);
  }
  return XbFail(XbError::CdxBadNode, "tree too deep");
}

XbStatus TCdxCursor::Step(bool right) {
  // The entry left behind; the next one met must lie beyond it.
  uint8_t edge[kCdxMaxKeyLength];
  uint32_t edgeRec = 0;
  const bool haveEdge = count_ > 0;
  if (haveEdge) {
    const size_t i = right ? count_ - 1 : 0;
    std::memcpy(edge, keys_.data() + i * keyLen_, keyLen_);
    edgeRec = recs_[i];
  }
  uint32_t from = leaf_;
  uint32_t next = right ? right_ : left_;
  const uint64_t maxHops = file_->Size() / kCdxPageSize;
  for (uint64_t hops = 0;; ++hops) {
    if (next == kNone) {
      // Both ways along the chain must end at the tree's own first and last
      // leaves, or a walk down and a walk up could cover different pages.
      uint32_t edgeLeaf = kNone;
      if (auto st = EdgeLeaf(right, edgeLeaf); !st) return Fail(st);
      if (edgeLeaf != from)
        return Fail(XbFail(XbError::CdxBadNode, "page " + std::to_string(from) + ": the leaf chain ends before page " +
                                                    std::to_string(edgeLeaf)));
      state_ = right ? State::AfterLast : State::BeforeFirst;
      count_ = 0;
      return {};
    }
    if (hops >= maxHops) return Fail(XbFail(XbError::CdxCycle, "leaf chain"));
    if (auto st = file_->ReadPage(next, page_.data()); !st) return Fail(st);
    const uint8_t* p = page_.data();
    if (Le16(p) != kAttrLeaf) return Fail(XbFail(XbError::CdxBadNode, "page " + std::to_string(next) + " is not a leaf"));
    if (Le32(p + (right ? 4 : 8)) != from)
      return Fail(XbFail(XbError::CdxBadNode, "page " + std::to_string(next) + ": sibling links disagree"));
    if (auto st = LoadLeaf(next, p); !st) return Fail(st);
    if (count_ == 0) {
      from = next;
      next = right ? right_ : left_;
      continue;
    }
    idx_ = right ? 0 : count_ - 1;
    if (haveEdge) {
      const int c = std::memcmp(keys_.data() + idx_ * keyLen_, edge, keyLen_);
      const bool beyond = right ? (c > 0 || (c == 0 && recs_[idx_] > edgeRec)) : (c < 0 || (c == 0 && recs_[idx_] < edgeRec));
      if (!beyond) return Fail(XbFail(XbError::CdxBadNode, "page " + std::to_string(next) + ": keys out of order"));
    }
    state_ = State::On;
    return {};
  }
}
