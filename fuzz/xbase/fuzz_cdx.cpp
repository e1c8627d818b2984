// Compound index files from anywhere: the reader must reject or accept them
// without crashing, and whatever it accepts must survive being written and
// read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "xbase/Cdx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCdxImage img;
  if (!XbReadCdx(data, size, img)) {
    std::vector<TCdxTagDef> defs;
    XbSalvageCdxTags(data, size, defs);
    return 0;
  }
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
