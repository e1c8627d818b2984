#include "xbase/Table.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint64_t kTableLockOffset = 0x3FFFFFFFull;
constexpr uint64_t kRecordLockBase = 0x40000000ull;
constexpr uint32_t kBuildChunk = 4096;
// Rows of a batch are written in runs of about this size: large enough that
// the writes cost what one write of the whole table does, small enough to
// stay in the cache while the rows are filled.
constexpr size_t kBatchBytes = 1024 * 1024;

bool ValidTagName(const std::string& n) {
  if (n.empty() || n.size() > kCdxTagNameLength) return false;
  if (!(n[0] >= 'A' && n[0] <= 'Z') && n[0] != '_') return false;
  for (char c : n)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

}  // namespace

TXbTable::TXbTable() = default;

TXbTable::~TXbTable() {
  // A destructor has no one to tell. What Close could still fail to write is
  // the index (a stale one is rebuilt at the next open) or an edit never
  // posted; callers that care close the table themselves first.
  static_cast<void>(Close());
}

std::filesystem::path TXbTable::CdxPath() const {
  std::filesystem::path upper = dbf_.Path(), lower = dbf_.Path();
  upper.replace_extension(".CDX");
  lower.replace_extension(".cdx");
  std::error_code ec;
  if (std::filesystem::exists(upper, ec)) return upper;
  if (std::filesystem::exists(lower, ec)) return lower;
  const std::string ext = dbf_.Path().extension().string();
  return !ext.empty() && ext[1] >= 'a' && ext[1] <= 'z' ? lower : upper;
}

XbStatus TXbTable::Open(const std::filesystem::path& dbf, OpenOptions options, const TXbSettings* settings) {
  // The table open before: a failure to finish it is this call's failure.
  if (auto st = Close(); !st) return st;
  options_ = options;
  settings_ = settings ? settings : &defaultSettings_;
  const auto access = options.access == XbAccess::ReadOnly ? TDbfFile::Access::ReadOnly : TDbfFile::Access::ReadWrite;
  if (auto st = dbf_.Open(dbf, access); !st) return st;
  const int how = (options.mode == XbOpenMode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  if (::flock(dbf_.File().fd(), how) != 0) {
    const int e = errno;
    dbf_.Close();
    return XbFail(e == EWOULDBLOCK ? XbError::Locked : XbError::IoError, dbf.string());
  }
  rec_.assign(dbf_.RecordLength(), ' ');
  row_ = rec_.data();
  blankFields_ = 0;
  orig_ = rec_;
  origStale_ = false;
  slots_.clear();
  for (const TDbfField& f : dbf_.Fields())
    slots_.push_back({static_cast<uint32_t>(f.offset), static_cast<uint16_t>(f.width), f.type});
  knownSerial_ = dbf_.Serial();
  knownCount_ = dbf_.RecordCount();
  if (auto st = OpenIndex(); !st) {
    dbf_.Close();
    return st;
  }
  editable_ = !ReadOnly();
  return GoTop();
}

XbStatus TXbTable::Close() {
  if (!dbf_.IsOpen()) return {};
  XbStatus result;
  if (!ReadOnly()) {
    result = PostIfModified();
    if (auto st = FlushBatch(); !st && result) result = st;
    if (indexDirty_ && !tags_.empty()) {
      if (auto st = WriteIndex(); !st && result) result = st;
    }
  }
  UnlockAll();
  dbf_.Close();
  editable_ = false;
  tags_.clear();
  filter_ = TXbExpr();
  order_ = 0;
  scoped_ = false;
  indexDirty_ = false;
  serialAhead_ = true;
  indexState_ = XbIndexState::None;
  InvalidateCache();
  modified_ = appending_ = false;
  blank_.clear();
  batching_ = false;
  row_ = rec_.data();
  std::vector<uint8_t>().swap(batch_);
  batchCount_ = 0;
  return result;
}

// ------------------------------------------------------------------ index file

XbStatus TXbTable::MoveIndexAside(const std::filesystem::path& cdx) {
  indexState_ = XbIndexState::MovedAside;
  if (ReadOnly()) return {};  // leave it alone; the table opens without it
  std::error_code ec;
  for (int i = 0; i < 1000; ++i) {
    std::filesystem::path target = cdx;
    target += i == 0 ? std::string(".bad") : ".bad" + std::to_string(i);
    if (std::filesystem::exists(target, ec)) continue;
    std::filesystem::rename(cdx, target, ec);
    if (ec) return XbFail(XbError::IoError, cdx.string() + " (" + ec.message() + ")");
    movedAside_ = target;
    return {};
  }
  return XbFail(XbError::IoError, cdx.string() + " (no name to move it aside)");
}

XbStatus TXbTable::CompileTag(const TCdxTagDef& def, Tag& tag, bool checkLength) const {
  if (auto st = TXbExpr::Compile(def.keyExpr, dbf_.Fields(), tag.key); !st) return st;
  if (!def.forExpr.empty()) {
    if (auto st = TXbExpr::Compile(def.forExpr, dbf_.Fields(), tag.cond); !st) return st;
    if (tag.cond.Type() != XbType::Logical) return XbFail(XbError::ExprType, "FOR condition is not logical");
  }
  tag.readsDeleted = tag.key.ReadsDeletedFlag() || tag.cond.ReadsDeletedFlag();
  tag.data.def = def;
  TCdxTagDef& d = tag.data.def;
  switch (tag.key.Type()) {
    case XbType::Character: d.keyType = 'C'; break;
    case XbType::Logical: d.keyType = 'L'; break;
    default: d.keyType = 'N'; break;
  }
  const int len = d.keyType == 'C' ? tag.key.Width() : d.keyType == 'L' ? 1 : 8;
  if (len < 1 || len > static_cast<int>(kCdxMaxKeyLength))
    return XbFail(XbError::CdxBadTag, def.name + ": key length " + std::to_string(len));
  if (checkLength && (len != def.keyLength || def.keyType != d.keyType))
    return XbFail(XbError::CdxBadTag, def.name + ": key length or type differs from the table's fields");
  d.keyLength = static_cast<uint16_t>(len);
  tag.data.keys = TXbKeyList(static_cast<size_t>(len));
  return {};
}

bool TXbTable::AdoptTags(const std::shared_ptr<const TCdxFile>& file, std::vector<std::unique_ptr<Tag>>& out) const {
  out.clear();
  for (const TCdxFile::Tag& ft : file->Tags()) {
    auto tag = std::make_unique<Tag>();
    if (!ValidTagName(ft.def.name) || !CompileTag(ft.def, *tag, true)) return false;
    tag->file = file;
    tag->root = ft.root;
    tag->maxRecNo = dbf_.RecordCount();
    out.push_back(std::move(tag));
  }
  return true;
}

bool TXbTable::KeysCaseCurrent(const TCdxFile& file, const std::vector<std::unique_ptr<Tag>>& tags) {
  // Only keys made by UPPER() or LOWER() depend on the letter case mapping;
  // an index without such tags is kept whoever wrote it.
  if (file.LetterCase() == kCdxLetterCase1252) return true;
  for (const auto& t : tags)
    if (t->key.ChangesLetterCase() || t->cond.ChangesLetterCase()) return false;
  return true;
}

XbStatus TXbTable::RecoverIndex(const std::filesystem::path& cdx) {
  // Keep the damaged file; rebuild its tags when their definitions survive.
  std::string bytes;
  std::vector<TCdxTagDef> defs;
  const bool salvaged = XbReadWholeFile(cdx, bytes, kCdxMaxFileSize) &&
                        XbSalvageCdxTags(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), defs);
  if (auto ms = MoveIndexAside(cdx); !ms) return ms;
  if (!salvaged) return {};
  std::vector<std::unique_ptr<Tag>> tags;
  for (const TCdxTagDef& d : defs) {
    auto tag = std::make_unique<Tag>();
    if (!ValidTagName(d.name) || !CompileTag(d, *tag, true)) return {};
    tags.push_back(std::move(tag));
  }
  tags_ = std::move(tags);
  for (auto& t : tags_)
    if (auto bs = BuildKeys(*t); !bs) return bs;
  indexDirty_ = true;
  return WriteIndex();
}

XbStatus TXbTable::OpenIndex() {
  tags_.clear();
  indexState_ = XbIndexState::None;
  movedAside_.clear();
  const std::filesystem::path cdx = CdxPath();
  std::error_code ec;
  if (!ReadOnly()) {
    std::filesystem::path tmp = cdx;
    tmp += ".tmp";
    std::filesystem::remove(tmp, ec);  // left by a crash while writing the index
  }
  if (!std::filesystem::exists(cdx, ec)) return {};
  std::shared_ptr<const TCdxFile> file;
  if (auto st = TCdxFile::Open(cdx, file); !st) {
    if (st.code == XbError::FileNotFound) return {};
    if (st.code == XbError::IoError) return st;
    return RecoverIndex(cdx);
  }
  std::vector<std::unique_ptr<Tag>> tags;
  if (!AdoptTags(file, tags)) return MoveIndexAside(cdx);
  tags_ = std::move(tags);
  if (file->Serial() == dbf_.Serial() && file->RecordCount() == dbf_.RecordCount() && KeysCaseCurrent(*file)) {
    indexState_ = XbIndexState::Current;
    serialAhead_ = false;
    indexDirty_ = false;
    return {};
  }
  // Written for another state of the table (a crash between a change and the
  // index write), or with the ASCII-only letter case of older versions: the
  // definitions stand, the keys are recomputed. The new
  // index replaces the file, so a damaged one is found now and kept aside.
  {
    std::string bytes;
    TCdxImage img;
    if (!file->ReadAll(bytes) || !XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), img)) {
      tags_.clear();
      file.reset();
      return RecoverIndex(cdx);
    }
  }
  indexState_ = XbIndexState::Rebuilt;
  for (auto& t : tags_)
    if (auto st = BuildKeys(*t); !st) return st;
  indexDirty_ = true;
  if (!ReadOnly()) return WriteIndex();
  return {};
}

TXbTable::KeysRead TXbTable::ReadKeys(const TCdxFile& file) {
  KeysRead k;
  std::string bytes;
  k.read = file.ReadAll(bytes);
  if (k.read) k.parse = XbReadCdx(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), k.img);
  return k;
}

void TXbTable::PrefetchKeys() {
  if (prefetch_.valid()) return;
  std::shared_ptr<const TCdxFile> file;
  for (const auto& t : tags_)
    if (t->file) file = t->file;
  if (!file) return;
  prefetchFile_ = file;
  // The thread holds the file open for as long as it reads.
  prefetch_ = std::async(std::launch::async, [file] { return ReadKeys(*file); });
}

XbStatus TXbTable::EnsureKeys() {
  std::shared_ptr<const TCdxFile> file;
  for (const auto& t : tags_)
    if (t->file) file = t->file;
  if (!file) return {};
  tagPosValid_ = false;
  KeysRead keys;
  bool taken = false;
  // Keys read ahead count only if they come from the file the tags still use.
  if (prefetch_.valid()) {
    KeysRead ahead = prefetch_.get();
    taken = prefetchFile_ == file;
    if (taken) keys = std::move(ahead);
    prefetchFile_.reset();
  }
  if (!taken) keys = ReadKeys(*file);
  if (!keys.read) return keys.read;
  TCdxImage& img = keys.img;
  XbStatus st = keys.parse;
  std::vector<TCdxTagData*> found(tags_.size(), nullptr);
  for (size_t i = 0; st && i < tags_.size(); ++i) {
    const Tag& t = *tags_[i];
    if (!t.file) continue;
    for (TCdxTagData& d : img.tags)
      if (d.def.name == t.data.def.name && d.def.keyLength == t.data.def.keyLength) found[i] = &d;
    if (!found[i]) {
      st = XbFail(XbError::CdxMismatch, t.data.def.name);
      break;
    }
    const TXbKeyList& k = found[i]->keys;
    for (size_t j = 0; j < k.Size() && st; ++j)
      if (k.RecNo(j) < 1 || k.RecNo(j) > t.maxRecNo)
        st = XbFail(XbError::CdxBadNode, t.data.def.name + ": record number " + std::to_string(k.RecNo(j)));
  }
  if (st) {
    for (size_t i = 0; i < tags_.size(); ++i) {
      if (!tags_[i]->file) continue;
      tags_[i]->data.keys = std::move(found[i]->keys);
      tags_[i]->file.reset();
    }
    return {};
  }
  // Damaged: the same recovery as at open, with the tags already known. A
  // newer index another process put in its place is not this one's to move.
  if (file->SameFileAs(CdxPath())) {
    if (auto ms = MoveIndexAside(CdxPath()); !ms) return ms;
  }
  for (auto& t : tags_)
    if (auto bs = BuildKeys(*t); !bs) return bs;
  indexDirty_ = true;
  return WriteIndex();
}

XbStatus TXbTable::WriteIndex() {
  if (ReadOnly() || tags_.empty()) return {};
  if (auto st = EnsureKeys(); !st) return st;
  if (auto st = FlushBatch(); !st) return st;
  std::vector<const TCdxTagData*> list;
  for (const auto& t : tags_) list.push_back(&t->data);
  const std::string bytes = XbWriteCdx(dbf_.Serial(), dbf_.RecordCount(), list);
  if (auto st = XbReplaceFile(CdxPath(), bytes.data(), bytes.size(), false); !st) return st;
  indexDirty_ = false;
  serialAhead_ = false;
  knownSerial_ = dbf_.Serial();
  knownCount_ = dbf_.RecordCount();
  return {};
}

XbStatus TXbTable::MarkIndexStale() {
  if (serialAhead_) return {};
  if (auto st = dbf_.AdvanceSerial(); !st) return st;
  serialAhead_ = true;
  knownSerial_ = dbf_.Serial();
  return {};
}

bool TXbTable::KeyOf(Tag& t, const uint8_t* rec, uint32_t recno, std::vector<uint8_t>& key) {
  const TXbEvalContext c = Ctx(rec, recno);
  if (!t.cond.Empty() && !t.cond.EvalLogical(c)) return false;
  t.key.Eval(c, val_);
  key.resize(t.data.def.keyLength);
  XbMakeKey(val_, t.data.def.keyType, key.size(), key.data());
  return true;
}

XbStatus TXbTable::BuildKeys(Tag& tag) {
  const size_t len = tag.data.def.keyLength;
  const uint32_t n = dbf_.RecordCount() + batchCount_;
  std::vector<uint8_t> keys;
  std::vector<uint32_t> recs;
  keys.reserve(static_cast<size_t>(n) * len);
  recs.reserve(n);
  std::vector<uint8_t> chunk;
  const size_t rl = dbf_.RecordLength();
  int lastPct = -1;
  for (uint32_t first = 1; first <= n; first += kBuildChunk) {
    const uint32_t count = std::min(kBuildChunk, n - first + 1);
    chunk.resize(static_cast<size_t>(count) * rl);
    for (uint32_t i = 0; i < count;) {
      const uint32_t r = first + i;
      if (r <= dbf_.RecordCount()) {
        const uint32_t run = std::min(count - i, dbf_.RecordCount() - r + 1);
        if (auto st = dbf_.ReadRecords(r, run, chunk.data() + static_cast<size_t>(i) * rl); !st) return st;
        i += run;
      } else {
        std::memcpy(chunk.data() + static_cast<size_t>(i) * rl,
                    batch_.data() + static_cast<size_t>(r - dbf_.RecordCount() - 1) * rl, rl);
        ++i;
      }
    }
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* rec = chunk.data() + static_cast<size_t>(i) * rl;
      if (!KeyOf(tag, rec, first + i, key_)) continue;
      keys.insert(keys.end(), key_.begin(), key_.end());
      recs.push_back(first + i);
    }
    if (progress_) {
      const int pct = static_cast<int>(static_cast<uint64_t>(first + count - 1) * 90 / std::max<uint32_t>(n, 1));
      if (pct != lastPct) {
        lastPct = pct;
        if (!progress_(XbProgressStep::BuildTag, pct)) return XbFail(XbError::Aborted, "building tag " + tag.data.def.name);
      }
    }
  }
  std::vector<uint32_t> order(recs.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  const uint8_t* base = keys.data();
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const int c = std::memcmp(base + a * len, base + b * len, len);
    return c < 0 || (c == 0 && a < b);  // records were read in ascending order
  });
  TXbKeyList list(len);
  for (uint32_t i : order) list.AppendSorted(base + i * len, recs[i]);
  tag.data.keys = std::move(list);
  tag.data.written.Clear();
  tag.file.reset();
  if (progress_ && !progress_(XbProgressStep::BuildTag, 100)) return XbFail(XbError::Aborted);
  return {};
}

XbStatus TXbTable::AddTag(std::string_view name, std::string_view key, std::string_view forExpr, bool descending) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = SharedSync(); !st) return st;
  TCdxTagDef def;
  def.name = XbUpper(name);
  if (!ValidTagName(def.name)) return XbFail(XbError::BadArgument, "tag name \"" + std::string(name) + "\"");
  def.keyExpr = std::string(key);
  def.forExpr = std::string(forExpr);
  def.descending = descending;
  auto tag = std::make_unique<Tag>();
  if (auto st = CompileTag(def, *tag, false); !st) return st;
  if (auto st = EnsureKeys(); !st) return st;
  if (auto st = BuildKeys(*tag); !st) return st;
  const int existing = TagNumber(def.name);
  if (existing > 0) {
    tags_[static_cast<size_t>(existing - 1)] = std::move(tag);
    order_ = existing;
  } else {
    tags_.push_back(std::move(tag));
    order_ = static_cast<int>(tags_.size());
  }
  scoped_ = false;
  tagPosValid_ = false;
  indexDirty_ = true;
  return WriteIndex();
}

std::string TXbTable::TagName(int order) const {
  const TCdxTagDef* d = TagDef(order);
  return d ? d->name : std::string();
}

int TXbTable::TagNumber(std::string_view name) const {
  const std::string up = XbUpper(name);
  for (size_t i = 0; i < tags_.size(); ++i)
    if (tags_[i]->data.def.name == up) return static_cast<int>(i + 1);
  return 0;
}

const TCdxTagDef* TXbTable::TagDef(int order) const {
  if (order < 1 || order > TagCount()) return nullptr;
  return &tags_[static_cast<size_t>(order - 1)]->data.def;
}

XbStatus TXbTable::SetOrder(int order) {
  if (order < 0 || order > TagCount()) return XbFail(XbError::NoSuchTag, std::to_string(order));
  if (auto st = PostIfModified(); !st) return st;
  order_ = order;
  scoped_ = false;
  tagPosValid_ = false;
  return {};
}

XbStatus TXbTable::CloseIndexes() {
  tagPosValid_ = false;
  if (auto st = PostIfModified(); !st) return st;
  if (indexDirty_ && !tags_.empty()) {
    if (auto st = WriteIndex(); !st) return st;
  }
  tags_.clear();
  order_ = 0;
  scoped_ = false;
  indexState_ = XbIndexState::None;
  serialAhead_ = true;
  return {};
}

XbStatus TXbTable::DropIndexes() {
  tagPosValid_ = false;
  if (auto st = PostIfModified(); !st) return st;
  if (indexDirty_ && !tags_.empty() && !ReadOnly()) {
    if (auto st = MarkIndexStale(); !st) return st;
  }
  tags_.clear();
  order_ = 0;
  scoped_ = false;
  indexDirty_ = false;
  indexState_ = XbIndexState::None;
  serialAhead_ = true;
  return {};
}

XbStatus TXbTable::Reindex() {
  tagPosValid_ = false;
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = SharedSync(); !st) return st;
  for (auto& t : tags_)
    if (auto st = BuildKeys(*t); !st) return st;
  indexDirty_ = true;
  return WriteIndex();
}

// ------------------------------------------------------------------ records

void TXbTable::InvalidateCache() {
  for (CacheSlot& c : cache_) c.block = UINT32_MAX;
  tagPosValid_ = false;
}

TXbTable::CacheSlot* TXbTable::CachedBlock(uint32_t recno) {
  if (cache_.empty()) return nullptr;
  const uint32_t block = (recno - 1) / kCacheRecords;
  CacheSlot& c = cache_[block % kCacheSlots];
  if (c.block != block || (recno - 1) % kCacheRecords >= c.count) return nullptr;
  return &c;
}

XbStatus TXbTable::ReadRecord(uint32_t recno, uint8_t* buf) {
  const size_t rl = dbf_.RecordLength();
  const uint32_t onDisk = dbf_.RecordCount();
  if (recno < 1 || recno > onDisk + batchCount_) return XbFail(XbError::NoRecord);
  if (recno > onDisk) {
    std::memcpy(buf, batch_.data() + static_cast<size_t>(recno - onDisk - 1) * rl, rl);
    return {};
  }
  CacheSlot* c = CachedBlock(recno);
  if (!c) {
    if (cache_.empty()) cache_.resize(kCacheSlots);
    const uint32_t block = (recno - 1) / kCacheRecords;
    c = &cache_[block % kCacheSlots];
    const uint32_t first = block * kCacheRecords + 1;
    const uint32_t count = std::min(kCacheRecords, onDisk - first + 1);
    c->block = UINT32_MAX;
    c->data.resize(static_cast<size_t>(count) * rl);
    if (auto st = dbf_.ReadRecords(first, count, c->data.data()); !st) return st;
    c->block = block;
    c->count = count;
  }
  std::memcpy(buf, c->data.data() + static_cast<size_t>((recno - 1) % kCacheRecords) * rl, rl);
  return {};
}

XbStatus TXbTable::ReadRow(uint32_t recno, std::vector<uint8_t>& out) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (auto st = SharedSync(); !st) return st;
  out.resize(dbf_.RecordLength());
  return ReadRecord(recno, out.data());
}

XbStatus TXbTable::Load(uint32_t recno) {
  row_ = rec_.data();
  blankFields_ = 0;
  if (auto st = ReadRecord(recno, row_); !st) return st;
  orig_ = rec_;
  origStale_ = false;
  recno_ = recno;
  bof_ = eof_ = false;
  return {};
}

void TXbTable::SetEof() {
  tagPosValid_ = false;
  recno_ = RecCount() + 1;
  eof_ = true;
  row_ = rec_.data();
  blankFields_ = 0;
  if (dbf_.IsOpen()) XbBlankRecord(dbf_.Header(), row_);
  orig_ = rec_;
  origStale_ = false;
}

bool TXbTable::Visible(const uint8_t* rec, uint32_t recno) {
  if (settings_->deleted && rec[0] == kDbfDeletedFlag) return false;
  if (!filter_.Empty() && !filter_.EvalLogical(Ctx(rec, recno))) return false;
  return true;
}

void TXbTable::AttachCursor(Tag& t) {
  tagPosValid_ = false;
  if (t.file)
    cur_.Attach(t.file, t.root, t.data.def.keyLength, XbKeyPad(t.data.def.keyType), t.maxRecNo);
  else
    cur_.Attach(&t.data.keys);
}

void TXbTable::ScopeBounds(const std::vector<uint8_t>*& lo, const std::vector<uint8_t>*& hi) const {
  lo = &scopeLo_;
  hi = &scopeHi_;
  const size_t n = std::min(lo->size(), hi->size());
  const int c = std::memcmp(lo->data(), hi->data(), n);
  if (c > 0 || (c == 0 && lo->size() > hi->size())) std::swap(lo, hi);
}

bool TXbTable::InScope(const uint8_t* key) const {
  if (!scoped_) return true;
  const std::vector<uint8_t>* lo;
  const std::vector<uint8_t>* hi;
  ScopeBounds(lo, hi);
  return std::memcmp(key, lo->data(), lo->size()) >= 0 && std::memcmp(key, hi->data(), hi->size()) <= 0;
}

XbStatus TXbTable::CursorToScopeEdge(bool last) {
  if (!scoped_) return last ? cur_.Last() : cur_.First();
  const std::vector<uint8_t>* lo;
  const std::vector<uint8_t>* hi;
  ScopeBounds(lo, hi);
  if (!last) return cur_.Seek({lo->data(), lo->size(), 0, XbProbeTie::Before});
  if (auto st = cur_.Seek({hi->data(), hi->size(), 0, XbProbeTie::After}); !st) return st;
  return cur_.Prev();
}

XbStatus TXbTable::ScanNatural(long pos, int dir, uint32_t& found) {
  found = 0;
  tagPosValid_ = false;
  scratch_.resize(dbf_.RecordLength());
  const long n = static_cast<long>(RecCount());
  for (long r = pos; r >= 1 && r <= n; r += dir) {
    if (auto st = ReadRecord(static_cast<uint32_t>(r), scratch_.data()); !st) return st;
    if (Visible(scratch_.data(), static_cast<uint32_t>(r))) {
      found = static_cast<uint32_t>(r);
      return {};
    }
  }
  return {};
}

XbStatus TXbTable::ScanTag(int dir, uint32_t& found) {
  found = 0;
  tagPosValid_ = false;
  scratch_.resize(dbf_.RecordLength());
  while (cur_.Valid() && InScope(cur_.Key())) {
    const uint32_t r = cur_.RecNo();
    if (auto st = ReadRecord(r, scratch_.data()); !st) return st;
    if (Visible(scratch_.data(), r)) {
      found = r;
      tagPosValid_ = true;
      return {};
    }
    if (auto st = dir > 0 ? cur_.Next() : cur_.Prev(); !st) return st;
  }
  return {};
}

XbStatus TXbTable::CurrentTagPos(Tag& t, bool& exact) {
  SyncOrig();
  const bool in = KeyOf(t, orig_.data(), recno_, key_);
  if (!in) {
    // Not in the tag: its place is where its key would go.
    t.key.Eval(Ctx(orig_.data(), recno_), val_);
    key_.resize(t.data.def.keyLength);
    XbMakeKey(val_, t.data.def.keyType, key_.size(), key_.data());
  }
  AttachCursor(t);
  if (auto st = cur_.Seek({key_.data(), key_.size(), recno_, XbProbeTie::RecNo}); !st) return st;
  exact = in && cur_.Valid() && cur_.RecNo() == recno_ && std::memcmp(cur_.Key(), key_.data(), key_.size()) == 0;
  return {};
}

// Top and bottom of the visible rows; `bottom` walks from the other end.
XbStatus TXbTable::GoEnd(bool bottom) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = SharedSync(); !st) return st;
  uint32_t r = 0;
  Tag* t = CurrentTag();
  if (!t) {
    if (auto st = ScanNatural(bottom ? static_cast<long>(RecCount()) : 1, bottom ? -1 : +1, r); !st) return st;
  } else {
    // A descending tag is the ascending keys walked backwards.
    const bool fromLast = t->data.def.descending != bottom;
    AttachCursor(*t);
    if (auto st = CursorToScopeEdge(fromLast); !st) return st;
    if (auto st = ScanTag(fromLast ? -1 : +1, r); !st) return st;
  }
  if (r == 0) {
    SetEof();
    bof_ = true;
    return {};
  }
  return Load(r);
}

XbStatus TXbTable::GoTop() { return GoEnd(false); }

XbStatus TXbTable::GoBottom() { return GoEnd(true); }

XbStatus TXbTable::Skip(long n) { return SkipSteps(n, nullptr); }

XbStatus TXbTable::SkipCollecting(long n, std::vector<uint32_t>& passed) {
  return SkipSteps(std::max(0L, n), &passed);
}

XbStatus TXbTable::SkipSteps(long n, std::vector<uint32_t>* passed) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = SharedSync(); !st) return st;
  if (n == 0) {
    if (eof_) return {};
    return Load(recno_);
  }
  if (eof_ && n > 0) return {};
  if (eof_ && n < 0) {
    if (auto st = GoBottom(); !st) return st;
    if (eof_) return {};
    ++n;
  }
  const int dir = n > 0 ? +1 : -1;
  long steps = n > 0 ? n : -n;
  Tag* t = CurrentTag();
  bof_ = false;
  while (steps-- > 0) {
    uint32_t r = 0;
    if (!t) {
      if (auto st = ScanNatural(static_cast<long>(recno_) + dir, dir, r); !st) return st;
    } else {
      bool exact = true;
      if (!tagPosValid_) {
        if (auto st = CurrentTagPos(*t, exact); !st) return st;
      }
      const int physDir = t->data.def.descending ? -dir : dir;
      // Off the current row; a row not in the tag already sits at its place.
      XbStatus st;
      if (physDir < 0) st = cur_.Prev();
      else if (exact) st = cur_.Next();
      if (!st) return st;
      if (auto ss = ScanTag(physDir, r); !ss) return ss;
    }
    if (r == 0) {
      if (dir > 0) {
        SetEof();
      } else {
        bof_ = true;  // stays on the first visible row
      }
      return {};
    }
    if (auto st = Load(r); !st) return st;
    if (passed) passed->push_back(r);
  }
  return {};
}

XbStatus TXbTable::Go(uint32_t recno) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = SharedSync(); !st) return st;
  if (recno < 1 || recno > RecCount()) {
    SetEof();
    return XbFail(XbError::NoRecord, std::to_string(recno));
  }
  tagPosValid_ = false;
  return Load(recno);
}

XbStatus TXbTable::MakeSearchKey(const Tag& t, const TXbValue& v, std::vector<uint8_t>& key) const {
  const char want = t.data.def.keyType;
  const bool ok = (want == 'C' && v.type == XbType::Character) || (want == 'L' && v.type == XbType::Logical) ||
                  (want == 'N' && (v.type == XbType::Numeric || v.type == XbType::Date));
  if (!ok) return XbFail(XbError::ExprType, "search value of type " + std::string(XbTypeName(v.type)));
  if (want == 'C') {
    key.assign(v.str.begin(), v.str.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(v.str.size(), t.data.def.keyLength)));
    return {};
  }
  key.resize(t.data.def.keyLength);
  XbMakeKey(v, want, key.size(), key.data());
  return {};
}

XbStatus TXbTable::Seek(const TXbValue& value, bool& found) {
  found = false;
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  Tag* t = CurrentTag();
  if (!t) return XbFail(XbError::NoSuchTag, "no order selected");
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = SharedSync(); !st) return st;
  std::vector<uint8_t> key;
  if (auto st = MakeSearchKey(*t, value, key); !st) return st;
  const std::vector<uint8_t>* lo = nullptr;
  const std::vector<uint8_t>* hi = nullptr;
  if (scoped_) ScopeBounds(lo, hi);
  const bool desc = t->data.def.descending;
  AttachCursor(*t);
  uint32_t r = 0;
  if (!desc) {
    // The first key starting with the value, but not before the scope.
    if (auto st = cur_.Seek({key.data(), key.size(), 0, XbProbeTie::Before}); !st) return st;
    if (lo && cur_.Valid() && std::memcmp(cur_.Key(), lo->data(), lo->size()) < 0) {
      if (auto st = cur_.Seek({lo->data(), lo->size(), 0, XbProbeTie::Before}); !st) return st;
    }
    if (auto st = ScanTag(+1, r); !st) return st;
  } else {
    // The last key starting with the value, but not beyond the scope.
    if (auto st = cur_.Seek({key.data(), key.size(), 0, XbProbeTie::After}); !st) return st;
    if (hi && (!cur_.Valid() || std::memcmp(cur_.Key(), hi->data(), hi->size()) > 0)) {
      if (auto st = cur_.Seek({hi->data(), hi->size(), 0, XbProbeTie::After}); !st) return st;
    }
    if (auto st = cur_.Prev(); !st) return st;
    if (auto st = ScanTag(-1, r); !st) return st;
  }
  if (r == 0) {
    SetEof();
    return {};
  }
  found = std::memcmp(cur_.Key(), key.data(), key.size()) == 0;
  if (auto st = Load(r); !st) return st;
  if (!found && !settings_->softSeek) SetEof();
  return {};
}

XbStatus TXbTable::SetScope(const TXbValue& top, const TXbValue& bottom) {
  Tag* t = CurrentTag();
  if (!t) return XbFail(XbError::NoSuchTag, "no order selected");
  if (auto st = MakeSearchKey(*t, top, scopeLo_); !st) return st;
  if (auto st = MakeSearchKey(*t, bottom, scopeHi_); !st) return st;
  scoped_ = true;
  return {};
}

void TXbTable::ClearScope() { scoped_ = false; }

XbStatus TXbTable::VisibleCount(uint32_t& count) {
  count = 0;
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (auto st = SharedSync(); !st) return st;
  scratch_.resize(dbf_.RecordLength());
  Tag* t = CurrentTag();
  if (!t) {
    for (uint32_t r = 1; r <= RecCount(); ++r) {
      if (auto st = ReadRecord(r, scratch_.data()); !st) return st;
      if (Visible(scratch_.data(), r)) ++count;
    }
    return {};
  }
  AttachCursor(*t);
  if (auto st = CursorToScopeEdge(false); !st) return st;
  while (cur_.Valid() && InScope(cur_.Key())) {
    const uint32_t r = cur_.RecNo();
    if (auto st = ReadRecord(r, scratch_.data()); !st) return st;
    if (Visible(scratch_.data(), r)) ++count;
    if (auto st = cur_.Next(); !st) return st;
  }
  return {};
}

XbStatus TXbTable::SetFilter(std::string_view expr) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  std::string_view trimmed = expr;
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
  if (trimmed.empty()) {
    filter_ = TXbExpr();
    return {};
  }
  TXbExpr e;
  if (auto st = TXbExpr::Compile(trimmed, dbf_.Fields(), e); !st) return st;
  if (e.Type() != XbType::Logical) return XbFail(XbError::ExprType, "filter is not a logical expression");
  filter_ = std::move(e);
  return {};
}

XbStatus TXbTable::GetValue(int field, TXbValue& out) const {
  if (field < 0 || static_cast<size_t>(field) >= Fields().size()) return XbFail(XbError::NoSuchField);
  XbReadFieldInto(Fields()[static_cast<size_t>(field)], row_, out);
  return {};
}

XbStatus TXbTable::GetValue(std::string_view field, TXbValue& out) const {
  const int i = FieldIndex(field);
  if (i < 0) return XbFail(XbError::NoSuchField, std::string(field));
  return GetValue(i, out);
}

std::string TXbTable::GetString(std::string_view field) const {
  const int i = FieldIndex(field);
  if (i < 0) return {};
  const TDbfField& f = Fields()[static_cast<size_t>(i)];
  return std::string(reinterpret_cast<const char*>(row_ + f.offset), static_cast<size_t>(f.width));
}

std::string TXbTable::GetTrimString(std::string_view field) const {
  std::string s = GetString(field);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

XbStatus TXbTable::EvalValue(std::string_view expr, TXbValue& out) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (evalExpr_.Empty() || evalExpr_.Text() != expr) {
    if (auto st = TXbExpr::Compile(expr, dbf_.Fields(), evalExpr_); !st) return st;
  }
  evalExpr_.Eval(Ctx(row_, eof_ ? RecCount() + 1 : recno_), out);
  return {};
}

XbStatus TXbTable::EvalLogical(std::string_view expr, bool& out) {
  TXbValue v;
  if (auto st = EvalValue(expr, v); !st) return st;
  if (v.type != XbType::Logical) return XbFail(XbError::ExprType, "not a logical expression");
  out = v.log;
  return {};
}

// ------------------------------------------------------------------ changes

XbStatus TXbTable::AppendBlankChecked() {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  if (modified_ || appending_) {
    if (auto st = Post(); !st) return st;
  }
  const size_t rl = rec_.size();
  if (blank_.size() != rl) {
    blank_.resize(rl);
    XbBlankRecord(dbf_.Header(), blank_.data());
  }
  uint8_t* row = rec_.data();
  row_ = row;
  if (batching_ && options_.mode == XbOpenMode::Exclusive) {
    // Built where it will be written.
    if (auto st = NextBatchPlace(row); !st) return st;
  }
  StartRow(row);
  return {};
}

XbStatus TXbTable::NextBatchPlace(uint8_t*& place) {
  const size_t rl = rec_.size();
  // One buffer of bounded size, reused.
  if (batch_.empty()) batch_.resize(std::max(rl, kBatchBytes / rl * rl));
  if ((batchCount_ + 1) * rl > batch_.size()) {
    if (auto st = FlushBatch(); !st) return st;
  }
  place = batch_.data() + batchCount_ * rl;
  return {};
}

XbStatus TXbTable::SetValueChecked(int field, const TXbValue& v) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  if (eof_) return XbFail(XbError::NoRecord);
  if (field < 0 || static_cast<size_t>(field) >= Fields().size()) return XbFail(XbError::NoSuchField);
  SyncOrig();
  if (auto st = XbWriteField(Fields()[static_cast<size_t>(field)], v, row_); !st) return st;
  if (field < 64) blankFields_ &= ~(uint64_t{1} << field);
  modified_ = true;
  return {};
}

XbStatus TXbTable::SetTextChecked(int field, std::string_view text) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  if (eof_) return XbFail(XbError::NoRecord);
  if (field < 0 || static_cast<size_t>(field) >= Fields().size()) return XbFail(XbError::NoSuchField);
  const TDbfField& f = Fields()[static_cast<size_t>(field)];
  if (f.type != 'C') return XbFail(XbError::BadValue, f.name + " is not a text field");
  SyncOrig();
  XbStoreText(row_ + f.offset, static_cast<size_t>(f.width), text);
  if (field < 64) blankFields_ &= ~(uint64_t{1} << field);
  modified_ = true;
  return {};
}

XbStatus TXbTable::SetValue(std::string_view field, const TXbValue& v) {
  const int i = FieldIndex(field);
  if (i < 0) return XbFail(XbError::NoSuchField, std::string(field));
  return SetValue(i, v);
}

void TXbTable::Cancel() {
  if (appending_) {
    appending_ = modified_ = false;
    SetEof();
    return;
  }
  SyncOrig();
  std::memcpy(rec_.data(), orig_.data(), rec_.size());
  row_ = rec_.data();
  blankFields_ = 0;
  modified_ = false;
}

void TXbTable::UpdateTags(const uint8_t* oldRec, const uint8_t* newRec, uint32_t recno) {
  tagPosValid_ = false;
  // Deleting or recalling a row changes its first byte only: a tag whose
  // expressions do not call DELETED() keeps the row's key as it is.
  const bool flagOnly = oldRec != nullptr && std::memcmp(oldRec + 1, newRec + 1, rec_.size() - 1) == 0;
  for (auto& tp : tags_) {
    Tag& t = *tp;
    if (flagOnly && !t.readsDeleted) continue;
    const bool newIn = KeyOf(t, newRec, recno, key2_);
    if (!newIn && deferLeaving_ && oldRec != nullptr) {
      // Whatever key the row had in this tag goes with the others at the end.
      t.leaving.push_back(recno);
      indexDirty_ = true;
      t.data.written.Clear();
      continue;
    }
    const bool oldIn = oldRec != nullptr && KeyOf(t, oldRec, recno, key_);
    const bool same = oldIn && newIn && key_ == key2_;
    if (oldIn && !same) t.data.keys.Erase(key_.data(), recno);
    if (newIn && !same) t.data.keys.Insert(key2_.data(), recno);
    if (!same && (oldIn || newIn)) {
      indexDirty_ = true;
      t.data.written.Clear();
    }
  }
}

XbStatus TXbTable::PostChecked() {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (!modified_ && !appending_) return {};
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  const bool shared = options_.mode == XbOpenMode::Shared;
  if (shared) {
    if (auto st = LockRegion(kTableLockOffset, true); !st) return st;
  }
  struct Unlocker {
    TXbTable* t;
    bool on;
    ~Unlocker() {
      if (on) t->UnlockRegion(kTableLockOffset);
    }
  } unlocker{this, shared};
  if (shared) {
    pending_ = rec_;
    if (auto st = SharedSync(); !st) return st;
    std::memcpy(rec_.data(), pending_.data(), rec_.size());
  }
  if (!tags_.empty()) {
    if (auto es = EnsureKeys(); !es) return es;
  }
  XbStatus st;
  if (appending_) {
    const uint32_t recno = RecCount() + 1;
    row_[0] = kDbfLiveFlag;
    if (RowInBatch()) {
      ++batchCount_;  // built in the batch buffer's next place
    } else if (batching_ && !shared) {
      // The batch was begun, or its buffer written out, after AppendBlank.
      uint8_t* place = nullptr;
      if (auto fs = NextBatchPlace(place); !fs) return fs;
      std::memcpy(place, row_, rec_.size());
      ++batchCount_;
    } else {
      st = dbf_.AppendRecords(row_, 1);
      if (!st) return st;
    }
    if (tags_.empty())
      tagPosValid_ = false;
    else
      UpdateTags(nullptr, row_, recno);
    recno_ = recno;
  } else {
    DetachRow();  // an edit has done so already; cheap insurance before the copies below
    bool tempLock = false;
    if (shared && locks_.count(recno_) == 0) {
      if (auto ls = RLock(recno_); !ls) return ls;
      tempLock = true;
    }
    st = MarkIndexStale();
    const uint32_t onDisk = dbf_.RecordCount();
    if (st && recno_ > onDisk) {
      // A row of the batch not yet written: changed where it waits.
      std::memcpy(batch_.data() + static_cast<size_t>(recno_ - onDisk - 1) * rec_.size(), row_, rec_.size());
    } else if (st) {
      st = dbf_.WriteRecord(recno_, row_);
    }
    if (tempLock) static_cast<void>(Unlock(recno_));  // locked above: cannot fail
    if (!st) return st;
    if (CacheSlot* c = CachedBlock(recno_))
      std::memcpy(c->data.data() + static_cast<size_t>((recno_ - 1) % kCacheRecords) * dbf_.RecordLength(),
                  row_, dbf_.RecordLength());
    UpdateTags(orig_.data(), row_, recno_);
  }
  // Even a change that moves no key leaves the file's serial or count ahead
  // of the index's: writing it again spares a rebuild at the next open.
  if (!tags_.empty()) indexDirty_ = true;
  if (!appending_) std::memcpy(orig_.data(), row_, rec_.size());  // both a record long
  EndRow();
  if (shared) return WriteIndex();
  return {};
}

XbStatus TXbTable::PostIfModified() {
  if (modified_ || appending_) return Post();
  return {};
}

XbStatus TXbTable::Delete() {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (eof_) return XbFail(XbError::NoRecord);
  SyncOrig();
  row_[0] = kDbfDeletedFlag;
  modified_ = true;
  return Post();
}

XbStatus TXbTable::DeleteRecords(std::span<const uint32_t> recnos, const std::function<void(uint32_t)>& flagged) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  // A shared table writes its index after every change for the other users:
  // keys left in it for later would be read by them.
  deferLeaving_ = options_.mode != XbOpenMode::Shared;
  XbStatus st;
  for (const uint32_t recno : recnos) {
    st = Go(recno);
    if (!st) break;
    if (Deleted()) continue;
    st = Delete();
    if (!st) break;
    if (flagged) flagged(recno);
  }
  deferLeaving_ = false;
  // Even after a failure the rows flagged so far leave their tags.
  for (auto& tp : tags_) {
    std::vector<uint32_t>& gone = tp->leaving;
    if (gone.empty()) continue;
    tp->data.keys.EraseRecNos(gone);
    std::vector<uint32_t>().swap(gone);
    tagPosValid_ = false;
  }
  return st;
}

XbStatus TXbTable::Recall() {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (eof_) return XbFail(XbError::NoRecord);
  SyncOrig();
  row_[0] = kDbfLiveFlag;
  modified_ = true;
  return Post();
}

void TXbTable::BeginBatch() { batching_ = true; }

XbStatus TXbTable::FlushBatch() {
  DetachRow();  // the buffer is about to be reused or freed
  if (batchCount_ == 0) return {};
  if (auto st = dbf_.AppendRecords(batch_.data(), batchCount_); !st) return st;
  batchCount_ = 0;
  knownCount_ = dbf_.RecordCount();
  return {};
}

XbStatus TXbTable::EndBatch() {
  if (auto st = PostIfModified(); !st) return st;
  batching_ = false;
  if (auto st = FlushBatch(); !st) return st;
  std::vector<uint8_t>().swap(batch_);  // an open table does not keep the buffer
  return {};
}

XbStatus TXbTable::Commit() {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return {};
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = FlushBatch(); !st) return st;
  if (indexDirty_) {
    if (auto st = WriteIndex(); !st) return st;
  }
  return dbf_.Sync();
}

XbStatus TXbTable::Pack() {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (ReadOnly()) return XbFail(XbError::ReadOnly);
  if (options_.mode != XbOpenMode::Exclusive) return XbFail(XbError::Locked, "pack needs exclusive use");
  if (auto st = PostIfModified(); !st) return st;
  if (auto st = FlushBatch(); !st) return st;
  const std::filesystem::path path = dbf_.Path();
  std::filesystem::path tmp = path;
  tmp += ".pack";
  TDbfHeader h = dbf_.Header();
  const size_t rl = h.recordLength;
  const uint32_t n = h.recordCount;
  {
    TXbFile out;
    if (auto st = out.Open(tmp, O_WRONLY | O_CREAT | O_TRUNC); !st) return st;
    uint64_t at = h.headerLength;
    uint32_t kept = 0;
    std::vector<uint8_t> chunk, live;
    int lastPct = -1;
    XbStatus st;
    for (uint32_t first = 1; first <= n && st; first += kBuildChunk) {
      const uint32_t count = std::min(kBuildChunk, n - first + 1);
      chunk.resize(static_cast<size_t>(count) * rl);
      st = dbf_.ReadRecords(first, count, chunk.data());
      if (!st) break;
      live.clear();
      for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* r = chunk.data() + static_cast<size_t>(i) * rl;
        if (r[0] == kDbfDeletedFlag) continue;
        live.insert(live.end(), r, r + rl);
        ++kept;
      }
      st = out.WriteAt(at, live.data(), live.size());
      at += live.size();
      if (progress_) {
        const int pct = static_cast<int>(static_cast<uint64_t>(first + count - 1) * 100 / std::max<uint32_t>(n, 1));
        if (pct != lastPct) {
          lastPct = pct;
          if (!progress_(XbProgressStep::Pack, pct)) st = XbFail(XbError::Aborted, "pack");
        }
      }
    }
    if (st) {
      const uint8_t eofMark = kDbfEofMark;
      st = out.WriteAt(at, &eofMark, 1);
    }
    if (st) {
      h.recordCount = kept;
      ++h.serial;
      const std::string head = XbBuildDbfHeader(h);
      st = out.WriteAt(0, head.data(), head.size());
    }
    if (st) st = out.Sync();
    if (!st) {
      out.Close();
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      return st;
    }
  }
  // The old file stays locked until the packed one has replaced it.
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return XbFail(XbError::IoError, path.string() + " (" + ec.message() + ")");
  }
  dbf_.Close();
  InvalidateCache();
  if (auto st = dbf_.Open(path, TDbfFile::Access::ReadWrite); !st) return st;
  if (::flock(dbf_.File().fd(), LOCK_EX | LOCK_NB) != 0) {
    dbf_.Close();
    return XbFail(XbError::Locked, path.string());
  }
  locks_.clear();
  serialAhead_ = true;
  for (auto& t : tags_)
    if (auto st = BuildKeys(*t); !st) return st;
  indexDirty_ = true;
  if (auto st = WriteIndex(); !st) return st;
  return GoTop();
}

// ------------------------------------------------------------------ locks, sharing

XbStatus TXbTable::LockRegion(uint64_t offset, bool wait) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(0, settings_->lockTimeoutSeconds)) +
                        (wait ? std::chrono::seconds(5) : std::chrono::seconds(0));
  while (true) {
    if (::fcntl(dbf_.File().fd(), F_SETLK, &fl) == 0) return {};
    if (errno != EACCES && errno != EAGAIN && errno != EINTR) return XbFail(XbError::IoError, "lock");
    if (std::chrono::steady_clock::now() >= deadline) return XbFail(XbError::Locked, dbf_.Path().string());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void TXbTable::UnlockRegion(uint64_t offset) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  ::fcntl(dbf_.File().fd(), F_SETLK, &fl);
}

XbStatus TXbTable::RLock(uint32_t recno) {
  if (!IsOpen()) return XbFail(XbError::NoWorkArea);
  if (recno < 1 || recno > RecCount()) return XbFail(XbError::NoRecord);
  if (locks_.count(recno)) return {};
  if (options_.mode == XbOpenMode::Shared) {
    if (auto st = LockRegion(kRecordLockBase + recno, false); !st) return st;
  }
  locks_.insert(recno);
  return {};
}

XbStatus TXbTable::Unlock(uint32_t recno) {
  if (locks_.erase(recno) == 0) return XbFail(XbError::NotLocked);
  if (options_.mode == XbOpenMode::Shared && dbf_.IsOpen()) UnlockRegion(kRecordLockBase + recno);
  return {};
}

void TXbTable::UnlockAll() {
  if (options_.mode == XbOpenMode::Shared && dbf_.IsOpen())
    for (uint32_t r : locks_) UnlockRegion(kRecordLockBase + r);
  locks_.clear();
}

XbStatus TXbTable::SharedSync() {
  if (options_.mode != XbOpenMode::Shared || !dbf_.IsOpen()) return {};
  if (auto st = dbf_.Refresh(); !st) return st;
  if (dbf_.Serial() == knownSerial_ && dbf_.RecordCount() == knownCount_) return {};
  InvalidateCache();
  knownSerial_ = dbf_.Serial();
  knownCount_ = dbf_.RecordCount();
  // Another process changed the table: take its index when it matches,
  // otherwise recompute the keys here.
  bool adopted = false;
  std::shared_ptr<const TCdxFile> file;
  if (TCdxFile::Open(CdxPath(), file) && file->Serial() == dbf_.Serial() && file->RecordCount() == dbf_.RecordCount()) {
    std::vector<std::unique_ptr<Tag>> tags;
    if (AdoptTags(file, tags) && KeysCaseCurrent(*file, tags)) {
      const std::string current = TagName(order_);
      tags_ = std::move(tags);
      order_ = current.empty() ? 0 : TagNumber(current);
      adopted = true;
      serialAhead_ = false;
      indexDirty_ = false;
    }
  }
  if (!adopted) {
    for (auto& t : tags_)
      if (auto st = BuildKeys(*t); !st) return st;
    serialAhead_ = true;
  }
  if (!eof_ && recno_ <= RecCount()) {
    SyncOrig();
    if (auto st = ReadRecord(recno_, orig_.data()); !st) return st;
    if (!modified_) std::memcpy(rec_.data(), orig_.data(), rec_.size());
  }
  return {};
}

XbStatus TXbTable::VerifyIndexes() {
  if (auto st = FlushBatch(); !st) return st;
  for (auto& tp : tags_) {
    Tag copy;
    if (auto st = CompileTag(tp->data.def, copy, true); !st) return st;
    if (auto st = BuildKeys(copy); !st) return st;
    const TXbKeyList& want = copy.data.keys;
    const std::string& name = tp->data.def.name;
    // Through the cursor: what walks and seeks see, in memory or in the file.
    AttachCursor(*tp);
    size_t i = 0;
    XbStatus st = cur_.First();
    for (; st && cur_.Valid(); st = cur_.Next(), ++i) {
      if (i >= want.Size()) return XbFail(XbError::CdxMismatch, name + ": more keys than the table gives");
      if (cur_.RecNo() != want.RecNo(i) || std::memcmp(cur_.Key(), want.Key(i), want.KeyLength()) != 0)
        return XbFail(XbError::CdxMismatch, name + ": key " + std::to_string(i));
    }
    if (!st) return st;
    if (i != want.Size())
      return XbFail(XbError::CdxMismatch, name + ": " + std::to_string(i) + " keys, table gives " + std::to_string(want.Size()));
  }
  return {};
}
