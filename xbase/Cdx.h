#pragma once
// FoxPro compound index files (.CDX): a tag directory (itself a compact
// B-tree whose keys are tag names and whose record numbers are the offsets of
// the tags' headers) and one compact B-tree per tag, every page 512 bytes.
//
// Tag header (1024 bytes): root page, free list, key length, options
// (0x20 compact, 0x40 compound, 0x08 FOR clause, 0x01 unique), ascending or
// descending at 502, FOR and key expression pool lengths at 506 and 510, the
// key expression and the FOR expression, zero-terminated, from 512.
// Interior page: attributes, key count, left and right siblings, then entries
// of key + record number + child page (both big-endian), the key being the
// last key of the child. Leaf page: attributes, count, siblings, free bytes,
// the record number / duplicate count / trailing count masks and bit widths,
// the entry size in bytes, then 488 bytes holding the bit-packed entries from
// the front and the key bytes (without the part shared with the previous key
// and without trailing blanks, or zero bytes for numeric keys) from the back.
//
// Keys are kept in ascending byte order on disk; a descending tag is walked
// backwards. Corvane writes the whole file at once (next to it, then renamed
// over it). The directory header's reserved bytes 16-23 record the change
// serial and record count of the table the index was written for, byte 24
// how the keys of UPPER() and LOWER() were made (kCdxLetterCase1252, or 0 in
// files from before the mapping followed code page 1252, whose keys of
// accented letters differ), and byte 36 of each tag header the key type
// ('C', 'N' for numbers and dates, 'L'). Other readers leave reserved bytes
// alone.
//
// The reader takes any bytes: every pointer, count and length is checked,
// pages reached twice are reported as a cycle, and nothing is trusted to stay
// inside the file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "xbase/File.h"
#include "xbase/KeyList.h"
#include "xbase/Value.h"
#include "xbase/XbError.h"

constexpr size_t kCdxPageSize = 512;
constexpr size_t kCdxMaxKeyLength = 240;
constexpr size_t kCdxTagNameLength = 10;
constexpr uint64_t kCdxMaxFileSize = 1ull << 31;
constexpr uint8_t kCdxLetterCase1252 = 1;

struct TCdxTagDef {
  std::string name;     // upper case, at most 10 characters
  std::string keyExpr;
  std::string forExpr;  // empty: every record
  bool descending = false;
  bool unique = false;
  uint16_t keyLength = 0;
  char keyType = 'C';   // 'C' text, 'N' number or date, 'L' logical
};

// The written form of one tag (header and tree) at a file offset; a writer
// that lays the tag out at the same offset again copies it instead of
// packing every key anew. Cleared whenever the tag's keys change.
struct TCdxTagBytes {
  std::string bytes;
  uint32_t offset = 0;
  int maxRecBits = 0;
  bool valid = false;
  void Clear() {
    valid = false;
    bytes.clear();
  }
};

struct TCdxTagData {
  TCdxTagDef def;
  TXbKeyList keys;
  mutable TCdxTagBytes written;
};

struct TCdxImage {
  uint32_t serial = 0;
  uint32_t recordCount = 0;
  std::vector<TCdxTagData> tags;
};

// Key bytes of a value for a tag of that type and length.
void XbMakeKey(const TXbValue& v, char keyType, size_t keyLength, uint8_t* out);
uint8_t XbKeyPad(char keyType);

XbStatus XbReadCdx(const uint8_t* data, size_t size, TCdxImage& out);
// For a file XbReadCdx refuses: the tag definitions, when the directory and
// every tag header can still be read (the keys can then be rebuilt from the
// table). False when even they are lost.
bool XbSalvageCdxTags(const uint8_t* data, size_t size, std::vector<TCdxTagDef>& out);
std::string XbWriteCdx(const TCdxImage& image);
// Every record number in the tags must be at most recordCount.
std::string XbWriteCdx(uint32_t serial, uint32_t recordCount, const std::vector<const TCdxTagData*>& tags);

// An index file read page by page. Open reads the directory and the tag
// headers only; the pages of a tag's tree are read when a cursor reaches
// them, each checked as it is read. Every read goes through the handle taken
// at Open, so a newer index renamed over the path (by this or another
// process) does not change what this object sees.
class TCdxFile {
 public:
  struct Tag {
    TCdxTagDef def;
    uint32_t root = 0;
  };

  static XbStatus Open(const std::filesystem::path& path, std::shared_ptr<const TCdxFile>& out);

  uint32_t Serial() const { return serial_; }
  uint32_t RecordCount() const { return recordCount_; }
  // Byte 24 of the directory header (kCdxLetterCase1252 when written so).
  uint8_t LetterCase() const { return letterCase_; }
  uint64_t Size() const { return size_; }
  const std::vector<Tag>& Tags() const { return tags_; }
  // One tree page at a page-aligned offset inside the file.
  XbStatus ReadPage(uint32_t offset, uint8_t* page) const;
  // The whole file as it was opened.
  XbStatus ReadAll(std::string& out) const;
  // True when `path` still names the file this object reads.
  bool SameFileAs(const std::filesystem::path& path) const;

 private:
  TXbFile file_;
  uint64_t size_ = 0;
  uint32_t serial_ = 0, recordCount_ = 0;
  uint8_t letterCase_ = 0;
  std::vector<Tag> tags_;
};

// A position among the keys of one tag, over the keys in memory or over the
// tree of a tag in a TCdxFile; steps in ascending key order. States: on an
// entry, before the first, or after the last. Moving over the file checks
// that the keys met keep rising, so a damaged sibling chain ends in an
// error, never in an endless walk; that every page read on the way down
// keeps to its parent's key range and sibling links; and that the leaf chain
// ends at the tree's own first and last leaves, so a walk down and a walk up
// meet the same entries or both report the damage. A failed step leaves the
// cursor after the last entry.
class TCdxCursor {
 public:
  void Attach(const TXbKeyList* keys);
  // `maxRecNo`: record numbers above it are damage.
  void Attach(std::shared_ptr<const TCdxFile> file, uint32_t root, size_t keyLength, uint8_t pad, uint32_t maxRecNo);
  void Detach();

  XbStatus First();
  XbStatus Last();
  // First entry not below the probe (after the last when none).
  XbStatus Seek(const TXbKeyProbe& probe);
  XbStatus Next();
  XbStatus Prev();

  bool Valid() const { return state_ == State::On; }
  const uint8_t* Key() const;
  uint32_t RecNo() const;

 private:
  enum class State { BeforeFirst, On, AfterLast };
  enum class Descent { First, Last, Probe };
  XbStatus Descend(Descent how, const TXbKeyProbe* probe);
  // The root has no siblings; the first (last) page of every level no left (right) one.
  XbStatus CheckEdgeLinks(uint32_t offset, const uint8_t* page, int depth, Descent how) const;
  // The first or last leaf of the tree, found from the root.
  XbStatus EdgeLeaf(bool last, uint32_t& leaf) const;
  XbStatus LoadLeaf(uint32_t offset, const uint8_t* page);
  XbStatus Step(bool right);
  XbStatus Fail(XbStatus st) {
    state_ = State::AfterLast;
    return st;
  }

  const TXbKeyList* list_ = nullptr;
  size_t pos_ = 0;
  std::shared_ptr<const TCdxFile> file_;
  uint32_t root_ = 0, maxRec_ = 0;
  size_t keyLen_ = 0;
  uint8_t pad_ = ' ';
  State state_ = State::AfterLast;
  // The leaf the cursor is on, decoded.
  uint32_t leaf_ = 0, left_ = 0, right_ = 0;
  size_t count_ = 0, idx_ = 0;
  std::vector<uint8_t> keys_;
  std::vector<uint32_t> recs_;
  std::vector<uint8_t> page_;
};
