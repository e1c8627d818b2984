#include "xbase/Cdx.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_set>

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

struct Reader {
  const uint8_t* data;
  size_t size;
  std::unordered_set<uint32_t> seen;

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
    const uint32_t recMask = Le32(p + 14);
    const int recBits = p[20], dupBits = p[21], trailBits = p[22], bytes = p[23];
    if (bytes < 1 || bytes > 8 || recBits + dupBits + trailBits > bytes * 8 || recBits > 32 || dupBits > 16 ||
        trailBits > 16 || recBits < 1)
      return XbFail(XbError::CdxBadNode, "leaf layout");
    (void)recMask;
    if (static_cast<size_t>(n) * static_cast<size_t>(bytes) > kLeafArea)
      return XbFail(XbError::CdxBadNode, "leaf with " + std::to_string(n) + " keys");
    std::vector<uint8_t> key(keyLen, pad), prev(keyLen, pad);
    size_t dataUsed = 0;
    for (size_t j = 0; j < n; ++j) {
      uint64_t packed = 0;
      for (int b = 0; b < bytes; ++b)
        packed |= static_cast<uint64_t>(p[24 + j * static_cast<size_t>(bytes) + static_cast<size_t>(b)]) << (8 * b);
      const auto rec = static_cast<uint32_t>(packed & ((1ull << recBits) - 1));
      const auto dup = static_cast<size_t>((packed >> recBits) & ((1ull << dupBits) - 1));
      const auto trail = static_cast<size_t>((packed >> (recBits + dupBits)) & ((1ull << trailBits) - 1));
      if (dup + trail > keyLen || (j == 0 && dup != 0))
        return XbFail(XbError::CdxBadNode, "leaf entry counts");
      const size_t stored = keyLen - dup - trail;
      dataUsed += stored;
      if (static_cast<size_t>(n) * static_cast<size_t>(bytes) + dataUsed > kLeafArea)
        return XbFail(XbError::CdxBadNode, "leaf key data overflows its page");
      std::memcpy(key.data(), prev.data(), dup);
      std::memcpy(key.data() + dup, p + 24 + kLeafArea - dataUsed, stored);
      std::memset(key.data() + keyLen - trail, pad, trail);
      if (auto st = emit(key.data(), rec); !st) return st;
      prev = key;
    }
    return {};
  }

  XbStatus ReadHeader(uint32_t at, TCdxTagDef& def, uint32_t& root) const {
    if (auto st = CheckPage(at, 1024); !st) return XbFail(XbError::CdxBadHeader, st.detail);
    const uint8_t* h = data + at;
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
};

bool Less(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, size_t len) {
  const int c = std::memcmp(a, b, len);
  return c < 0 || (c == 0 && ra < rb);
}

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
    for (const auto& e : entries)
      if (e.first == name) return XbFail(XbError::CdxBadHeader, "tag " + name + " twice");
    entries.emplace_back(XbUpper(name), rec);
    return {};
  };
  if (auto st = r.Walk(dirRoot, kCdxTagNameLength, ' ', 0, onTag); !st) return st;
  // The directory is in name order; tags are numbered in the order they were
  // made, which is the order of their headers in the file.
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [name, at] : entries) {
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
    if (auto st = r.Walk(root, tag.def.keyLength, XbKeyPad(tag.def.keyType), 0, onKey); !st) {
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
  if (!r.Walk(Le32(data), kCdxTagNameLength, ' ', 0, onTag) || entries.empty()) return false;
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
