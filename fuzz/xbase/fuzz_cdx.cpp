// Compound index files from anywhere: the reader must reject or accept them
// without crashing, and whatever it accepts must survive being written and
// read again unchanged. The page-by-page reader gets the same bytes: its
// walks must end (forwards and backwards), and where both readers accept a
// tag they must see the same keys.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "xbase/Cdx.h"

namespace {

using Entries = std::vector<std::pair<std::string, uint32_t>>;

// Walks a tag with the cursor; false when the cursor reports damage.
bool Walk(TCdxCursor& c, size_t keyLen, bool backwards, size_t limit, Entries& out) {
  XbStatus st = backwards ? c.Last() : c.First();
  while (st && c.Valid()) {
    if (out.size() > limit) std::abort();  // more keys than the file can hold: an endless walk
    out.emplace_back(std::string(reinterpret_cast<const char*>(c.Key()), keyLen), c.RecNo());
    st = backwards ? c.Prev() : c.Next();
  }
  return st.ok();
}

void PageByPage(const uint8_t* data, size_t size, const TCdxImage* whole) {
  const int fd = ::memfd_create("cdx", MFD_CLOEXEC);
  if (fd < 0) return;
  if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
    ::close(fd);
    return;
  }
  std::shared_ptr<const TCdxFile> file;
  const XbStatus st = TCdxFile::Open("/proc/self/fd/" + std::to_string(fd), file);
  ::close(fd);
  if (!st) return;
  const size_t limit = (size / kCdxPageSize + 1) * 488;
  for (size_t t = 0; t < file->Tags().size(); ++t) {
    const TCdxFile::Tag& tag = file->Tags()[t];
    TCdxCursor c;
    c.Attach(file, tag.root, tag.def.keyLength, XbKeyPad(tag.def.keyType), UINT32_MAX);
    Entries fwd, back;
    const bool okF = Walk(c, tag.def.keyLength, false, limit, fwd);
    const bool okB = Walk(c, tag.def.keyLength, true, limit, back);
    // Seeks for keys met on the way, and for a prefix of one.
    for (size_t i = 0; i < fwd.size() && i < 8; ++i) {
      const auto& [key, rec] = fwd[i * fwd.size() / 8];
      // Only crashes and hangs count: a seek on damaged pages may fail.
      static_cast<void>(c.Seek({reinterpret_cast<const uint8_t*>(key.data()), key.size(), rec, XbProbeTie::RecNo}));
      static_cast<void>(c.Seek({reinterpret_cast<const uint8_t*>(key.data()), key.size() / 2, 0, XbProbeTie::After}));
      static_cast<void>(c.Prev());
    }
    if (okF && okB) {
      Entries rev(back.rbegin(), back.rend());
      if (rev != fwd) std::abort();
    }
    if (!whole || t >= whole->tags.size() || !okF) continue;
    const TXbKeyList& k = whole->tags[t].keys;
    if (whole->tags[t].def.name != tag.def.name || k.Size() != fwd.size()) continue;  // different tag lists
    for (size_t i = 0; i < k.Size(); ++i)
      if (k.RecNo(i) != fwd[i].second || std::memcmp(k.Key(i), fwd[i].first.data(), k.KeyLength()) != 0) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCdxImage img;
  if (!XbReadCdx(data, size, img)) {
    std::vector<TCdxTagDef> defs;
    XbSalvageCdxTags(data, size, defs);
    PageByPage(data, size, nullptr);
    return 0;
  }
  PageByPage(data, size, &img);
  uint32_t maxRec = 0;
  for (const TCdxTagData& t : img.tags)
    for (size_t i = 0; i < t.keys.Size(); ++i) maxRec = t.keys.RecNo(i) > maxRec ? t.keys.RecNo(i) : maxRec;
  img.recordCount = maxRec;
  const std::string again = XbWriteCdx(img);
  TCdxImage back;
  if (!XbReadCdx(reinterpret_cast<const uint8_t*>(again.data()), again.size(), back)) std::abort();
  if (back.tags.size() != img.tags.size()) std::abort();
  for (size_t t = 0; t < img.tags.size(); ++t) {
    const TXbKeyList& a = img.tags[t].keys;
    const TXbKeyList& b = back.tags[t].keys;
    if (a.Size() != b.Size() || img.tags[t].def.name != back.tags[t].def.name) std::abort();
    for (size_t i = 0; i < a.Size(); ++i)
      if (a.RecNo(i) != b.RecNo(i) || std::memcmp(a.Key(i), b.Key(i), a.KeyLength()) != 0) std::abort();
  }
  return 0;
}
