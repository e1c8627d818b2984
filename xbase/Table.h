#pragma once
// One open table: the .DBF file, the tags of its compound index, a cursor
// with filter, order and scope, and the edit buffer of the current row.
//
// Tags. At open only the index's directory and tag headers are read; walks
// and seeks read the tree pages they reach from the index file as it was
// when opened (so opening a long table costs what opening a short one
// does). The first change or a new tag reads the whole index into memory;
// from then on the tags are kept there and written back to the .CDX. Damage met in a page while walking is reported with the
// index's error codes; the first change then finds it too, moves the file
// aside as below and rebuilds the tags from the table.
//
// Durability. Every change reaches the .DBF before the call that makes it
// returns: a new row is written whole (data and end mark first, then the
// header that counts it), a changed row in place. The .CDX is written whole,
// next to the old one and renamed over it, when the table is committed or
// closed (and after every change in shared mode). Before the first change
// after a write of the .CDX the table's change serial is advanced, so an
// index left behind by a crash no longer matches and is rebuilt at the next
// open. A process killed at any instant therefore leaves a table that opens
// with every row whose Post returned. Commit() also asks the system to put
// the data on the disk.
//
// Damage. A .DBF whose header is inconsistent is refused (a clear code, no
// write). A .CDX that cannot be read is moved aside as NAME.CDX.bad (never
// overwritten); its tags are rebuilt into a new index when their definitions
// can still be read, otherwise the table opens without tags. One that reads
// but belongs to another state of the table is rebuilt from the table.
//
// Locking. Exclusive opening takes flock(LOCK_EX) on the .DBF, shared opening
// flock(LOCK_SH); both fail at once with Locked when they conflict. In shared
// mode rows are locked with fcntl byte-range locks (RLock/Unlock, tried for
// the lock timeout), changes take a short table write lock, and every call
// first picks up what other processes wrote. Note that fcntl locks belong to
// the process: two tables of one process on the same file share them.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/Cdx.h"
#include "xbase/Dbf.h"
#include "xbase/Expr.h"
#include "xbase/Value.h"
#include "xbase/XbError.h"

enum class XbOpenMode { Exclusive, Shared };
enum class XbAccess { ReadWrite, ReadOnly };

// What Open found about the index file.
enum class XbIndexState {
  None,       // no .CDX
  Current,    // read and matching the table
  Rebuilt,    // out of date (e.g. after a crash) and rebuilt from the table
  MovedAside  // unreadable or foreign: renamed to NAME.CDX.bad; when every
              // tag definition could still be read, the tags were rebuilt
              // from the table into a new index, otherwise there are none
};

enum class XbProgressStep { Pack, BuildTag };

// Progress of pack and tag building, 0..100. Returning false stops the work
// (the table stays as it was before the step).
using TXbProgress = std::function<bool(XbProgressStep step, int percent)>;

class TXbTable {
 public:
  TXbTable();
  ~TXbTable();
  TXbTable(const TXbTable&) = delete;
  TXbTable& operator=(const TXbTable&) = delete;

  struct OpenOptions {
    XbOpenMode mode = XbOpenMode::Exclusive;
    XbAccess access = XbAccess::ReadWrite;
  };

  // `settings` must outlive the table (the engine's settings).
  XbStatus Open(const std::filesystem::path& dbf, OpenOptions options, const TXbSettings* settings);
  XbStatus Close();
  bool IsOpen() const { return dbf_.IsOpen(); }
  const std::filesystem::path& Path() const { return dbf_.Path(); }
  std::filesystem::path CdxPath() const;
  XbIndexState IndexState() const { return indexState_; }
  const std::filesystem::path& MovedAsidePath() const { return movedAside_; }
  XbOpenMode Mode() const { return options_.mode; }
  bool ReadOnly() const { return options_.access == XbAccess::ReadOnly; }

  // Structure.
  const std::vector<TDbfField>& Fields() const { return dbf_.Fields(); }
  int FieldIndex(std::string_view name) const { return dbf_.FieldIndex(name); }
  size_t RecordLength() const { return dbf_.RecordLength(); }

  // Index tags. Order numbers are 1-based in tag creation order; 0 is natural.
  XbStatus AddTag(std::string_view name, std::string_view key, std::string_view forExpr, bool descending);
  int TagCount() const { return static_cast<int>(tags_.size()); }
  std::string TagName(int order) const;
  int TagNumber(std::string_view name) const;  // 0 when absent
  const TCdxTagDef* TagDef(int order) const;
  int Order() const { return order_; }
  XbStatus SetOrder(int order);
  // Forgets every tag; the .CDX file is closed and may then be deleted.
  XbStatus CloseIndexes();
  // Forgets every tag without writing the keys held in memory: for a caller
  // about to delete the .CDX file and build it anew. The file left behind is
  // marked stale first, so it is rebuilt if the caller stops before that.
  XbStatus DropIndexes();
  // Recomputes the keys of every tag from the table.
  XbStatus Reindex();

  // Filter: only rows for which it is true are visible; "" shows all.
  XbStatus SetFilter(std::string_view expr);
  const std::string& Filter() const { return filter_.Text(); }

  // Scope on the current order: only keys between the two values (compared
  // over the length of the given key) are visible. Cleared by SetOrder.
  XbStatus SetScope(const TXbValue& top, const TXbValue& bottom);
  void ClearScope();

  // Navigation over visible rows in the current order.
  XbStatus GoTop();
  XbStatus GoBottom();
  XbStatus Skip(long n = 1);
  // Skip(n) forward that also notes the record number of every row it
  // passes: a list reads a page of rows with one look at a shared file.
  XbStatus SkipCollecting(long n, std::vector<uint32_t>& passed);
  XbStatus Go(uint32_t recno);  // any row, visible or not; NoRecord beyond the table
  // Seek in the current tag: the first visible row whose key starts with the
  // value's key. Found: true. Not found: soft seek leaves the cursor on the
  // next key, otherwise at the end.
  XbStatus Seek(const TXbValue& value, bool& found);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // Current record number; RecCount() + 1 at the end or when empty.
  uint32_t RecNo() const { return recno_; }
  uint32_t RecCount() const { return dbf_.RecordCount() + batchCount_; }
  // Rows visible through filter, scope, order and the Deleted setting.
  XbStatus VisibleCount(uint32_t& count);

  // Current row.
  bool Deleted() const { return !eof_ && row_ != nullptr && row_[0] == kDbfDeletedFlag; }
  XbStatus GetValue(int field, TXbValue& out) const;
  XbStatus GetValue(std::string_view field, TXbValue& out) const;
  std::string GetString(std::string_view field) const;      // raw field text, "" when none
  std::string GetTrimString(std::string_view field) const;  // without trailing blanks
  const uint8_t* RecordBuffer() const { return row_; }
  // Reads any row into `out` without moving the cursor (lists).
  XbStatus ReadRow(uint32_t recno, std::vector<uint8_t>& out);
  XbStatus EvalLogical(std::string_view expr, bool& out);
  XbStatus EvalValue(std::string_view expr, TXbValue& out);

  // Editing. SetValue changes the edit buffer; Post writes it (a new row is
  // appended, an existing one rewritten) and keeps every tag up to date.
  // Moving the cursor posts pending changes first. The edit calls are
  // always inlined (a caller that drops the status then builds none), and a
  // row of a batch without tags is begun and posted inline too.
  [[gnu::always_inline]] XbStatus AppendBlank() {
    const size_t rl = rec_.size();
    if (batching_ && !modified_ && !appending_ && blank_.size() == rl && (batchCount_ + 1) * rl <= batch_.size() &&
        options_.mode == XbOpenMode::Exclusive) {
      StartRow(batch_.data() + batchCount_ * rl);
      return {};
    }
    return AppendBlankChecked();
  }
  [[gnu::always_inline]] XbStatus SetValue(int field, const TXbValue& v) {
    // Dates and logicals of a writable row are written here, inline: rows
    // are filled by the hundred thousand. Everything else, and every error,
    // goes the checked way.
    if (editable_ && !eof_ && !origStale_ && static_cast<size_t>(field) < slots_.size()) {
      const FieldSlot f = slots_[static_cast<size_t>(field)];
      if (f.type == 'D' && v.type == XbType::Date) {
        XbWriteDate(v.date, row_ + f.offset);
        modified_ = true;
        return {};
      }
      if (f.type == 'L' && v.type == XbType::Logical) {
        row_[f.offset] = v.log ? 'T' : 'F';
        modified_ = true;
        return {};
      }
    }
    return SetValueChecked(field, v);
  }
  XbStatus SetValue(std::string_view field, const TXbValue& v);
  // Text fields, without building a value; blank-padded, cut at the width.
  [[gnu::always_inline]] XbStatus SetText(int field, std::string_view text) {
    if (editable_ && !eof_ && !origStale_ && static_cast<size_t>(field) < slots_.size()) {
      const FieldSlot f = slots_[static_cast<size_t>(field)];
      if (f.type == 'C') {
        const uint64_t bit = field < 64 ? uint64_t{1} << field : 0;
        if (blankFields_ & bit) {
          // Still blank since AppendBlank: only the text itself to copy.
          XbCopyText(row_ + f.offset, text.data(), text.size() < f.width ? text.size() : f.width);
          blankFields_ &= ~bit;
        } else {
          XbStoreText(row_ + f.offset, f.width, text);
        }
        modified_ = true;
        return {};
      }
    }
    return SetTextChecked(field, text);
  }
  [[gnu::always_inline]] XbStatus Post() {
    if (appending_ && RowInBatch() && tags_.empty()) {
      row_[0] = kDbfLiveFlag;
      ++batchCount_;  // built in the batch buffer's next place
      recno_ = RecCount();
      tagPosValid_ = false;
      EndRow();
      return {};
    }
    return PostChecked();
  }
  void Cancel();
  bool Modified() const { return modified_; }
  bool Appending() const { return appending_; }
  XbStatus Delete();
  // Flags the given rows deleted, in the order given, skipping rows already
  // deleted; `flagged` is called after each row is written (it must not move
  // the table). For many rows this is far cheaper than Delete on each: a row
  // that leaves a tag (a tag kept for live rows only) has its keys taken out
  // in one pass per tag at the end, not by a search per row and tag. A table
  // opened shared keeps its index current row by row instead.
  XbStatus DeleteRecords(std::span<const uint32_t> recnos, const std::function<void(uint32_t)>& flagged);
  // Starts reading the keys still only in the index file on a thread of its
  // own, for a caller that is about to need them all (DeleteRecords does)
  // and has other work first; the table takes them when it needs them. The
  // table is used as ever meanwhile: the thread only reads the file.
  void PrefetchKeys();
  XbStatus Recall();

  // Appends posted inside a batch are built in a buffer of about a
  // megabyte and written in large pieces as it fills; the rest is written
  // at EndBatch, which is when they become durable.
  void BeginBatch();
  XbStatus EndBatch();

  // Removes rows marked deleted for good (exclusive use only) and rebuilds
  // the tags. The packed table is written beside the old one and renamed
  // over it.
  XbStatus Pack();
  // Writes the index and flushes the table to disk.
  XbStatus Commit();

  // Row locks (shared mode; always granted in exclusive mode).
  XbStatus RLock(uint32_t recno);
  XbStatus Unlock(uint32_t recno);
  void UnlockAll();

  void SetProgress(TXbProgress p) { progress_ = std::move(p); }

  // Consistency check used by tests and after recovery: every tag holds
  // exactly the keys its expressions give for the rows of the table, as
  // walks see them (from the index file while its keys are still there).
  XbStatus VerifyIndexes();

 private:
  // What the edit calls need of a field, packed so that a row's fields
  // share a cache line or two.
  struct FieldSlot {
    uint32_t offset = 0;
    uint16_t width = 0;
    char type = 'C';
  };
  struct CacheSlot {
    uint32_t block = UINT32_MAX;
    uint32_t count = 0;
    std::vector<uint8_t> data;
  };
  struct Tag {
    TCdxTagData data;  // definition, and the keys once in memory
    TXbExpr key;
    TXbExpr cond;
    // While set, the keys are still only in this file's tree.
    std::shared_ptr<const TCdxFile> file;
    uint32_t root = 0;
    uint32_t maxRecNo = 0;
    // The key or the condition calls DELETED(): deleting a row may move it.
    bool readsDeleted = false;
    // Rows that left the tag while its upkeep was deferred (DeleteRecords).
    std::vector<uint32_t> leaving;
  };

  XbStatus OpenIndex();
  // Tags of an index file whose keys stay in the file; false when a tag does
  // not fit the table.
  bool AdoptTags(const std::shared_ptr<const TCdxFile>& file, std::vector<std::unique_ptr<Tag>>& out) const;
  XbStatus RecoverIndex(const std::filesystem::path& cdx);
  // False when the file's keys of UPPER()/LOWER() tags were made with the
  // old ASCII-only letter case and must be recomputed.
  static bool KeysCaseCurrent(const TCdxFile& file, const std::vector<std::unique_ptr<Tag>>& tags);
  bool KeysCaseCurrent(const TCdxFile& file) const { return KeysCaseCurrent(file, tags_); }
  // Reads the keys of every tag still in the index file into memory.
  XbStatus EnsureKeys();
  // The index file read and parsed whole.
  struct KeysRead {
    XbStatus read, parse;
    TCdxImage img;
  };
  static KeysRead ReadKeys(const TCdxFile& file);
  std::shared_ptr<const TCdxFile> prefetchFile_;
  std::future<KeysRead> prefetch_;
  void AttachCursor(Tag& t);
  XbStatus MoveIndexAside(const std::filesystem::path& cdx);
  XbStatus CompileTag(const TCdxTagDef& def, Tag& tag, bool checkLength) const;
  XbStatus BuildKeys(Tag& tag);
  XbStatus WriteIndex();
  XbStatus MarkIndexStale();
  XbStatus SharedSync();
  XbStatus LockRegion(uint64_t offset, bool wait);
  void UnlockRegion(uint64_t offset);
  bool KeyOf(Tag& t, const uint8_t* rec, uint32_t recno, std::vector<uint8_t>& key);
  void UpdateTags(const uint8_t* oldRec, const uint8_t* newRec, uint32_t recno);
  XbStatus ReadRecord(uint32_t recno, uint8_t* buf);
  void InvalidateCache();
  CacheSlot* CachedBlock(uint32_t recno);
  XbStatus Load(uint32_t recno);
  void SetEof();
  bool Visible(const uint8_t* rec, uint32_t recno);
  Tag* CurrentTag() { return order_ > 0 ? tags_[static_cast<size_t>(order_ - 1)].get() : nullptr; }
  // Scope values in key order (they may have been given either way round).
  void ScopeBounds(const std::vector<uint8_t>*& lo, const std::vector<uint8_t>*& hi) const;
  bool InScope(const uint8_t* key) const;
  // Puts the cursor on the first (or last) key of the scope, in key order.
  XbStatus CursorToScopeEdge(bool last);
  // First visible row from record `pos` on in natural order (dir +1 or -1);
  // 0 when there is none.
  XbStatus ScanNatural(long pos, int dir, uint32_t& found);
  // First visible row from the cursor on in key order (dir +1 or -1), within
  // the scope; leaves the cursor on it.
  XbStatus ScanTag(int dir, uint32_t& found);
  XbStatus GoEnd(bool bottom);
  XbStatus SkipSteps(long n, std::vector<uint32_t>* passed);
  // Puts the cursor on the current row's key (or where it would go).
  XbStatus CurrentTagPos(Tag& t, bool& exact);
  XbStatus AppendBlankChecked();
  XbStatus PostChecked();
  // A new blank row at `row` (the edit buffer or the batch buffer's next
  // place) becomes the current row, being appended.
  void StartRow(uint8_t* row) {
    row_ = row;
    std::memcpy(row_, blank_.data(), rec_.size());
    blankFields_ = ~uint64_t{0};
    origStale_ = false;  // not read while appending
    appending_ = modified_ = true;
    eof_ = bof_ = false;
    recno_ = RecCount() + 1;
  }
  // The current row has been posted. After an append, orig_ is brought up
  // to date only when something needs it.
  void EndRow() {
    if (appending_) origStale_ = true;
    modified_ = appending_ = false;
    blankFields_ = 0;
    eof_ = bof_ = false;
    knownCount_ = dbf_.RecordCount();
    knownSerial_ = dbf_.Serial();
  }
  XbStatus SetValueChecked(int field, const TXbValue& v);
  XbStatus SetTextChecked(int field, std::string_view text);
  // Called before the current row is changed.
  void SyncOrig() {
    if (origStale_) {
      DetachRow();
      std::memcpy(orig_.data(), row_, rec_.size());
    }
    origStale_ = false;
  }
  bool RowInBatch() const { return row_ != rec_.data(); }
  // Moves the current row out of the batch buffer into rec_.
  void DetachRow() {
    if (RowInBatch()) {
      std::memcpy(rec_.data(), row_, rec_.size());
      row_ = rec_.data();
    }
  }
  XbStatus PostIfModified();
  // The batch buffer's next place for a row; a full buffer is written out
  // first.
  XbStatus NextBatchPlace(uint8_t*& place);
  XbStatus FlushBatch();
  XbStatus MakeSearchKey(const Tag& t, const TXbValue& v, std::vector<uint8_t>& key) const;
  TXbEvalContext Ctx(const uint8_t* rec, uint32_t recno) const { return {rec, recno, settings_}; }

  TDbfFile dbf_;
  OpenOptions options_;
  const TXbSettings* settings_ = nullptr;
  TXbSettings defaultSettings_;
  std::vector<std::unique_ptr<Tag>> tags_;
  bool indexDirty_ = false;   // memory differs from the .CDX file
  bool deferLeaving_ = false;  // rows leaving a tag are collected, not erased one by one
  bool serialAhead_ = true;   // the .DBF's serial already marks the .CDX stale
  XbIndexState indexState_ = XbIndexState::None;
  std::filesystem::path movedAside_;
  uint32_t knownSerial_ = 0, knownCount_ = 0;

  int order_ = 0;
  TXbExpr filter_;
  bool scoped_ = false;
  std::vector<uint8_t> scopeLo_, scopeHi_;

  uint32_t recno_ = 1;
  bool bof_ = true, eof_ = true;
  std::vector<uint8_t> rec_, orig_, blank_;
  // The current row: rec_, except for a row appended inside a batch, which
  // is built in its place in the batch buffer (no copy when it is posted)
  // and stays there until it is changed again or the buffer is written.
  uint8_t* row_ = nullptr;
  // Text fields (the first 64) untouched since AppendBlank: they are still
  // blank, so filling one needs no padding.
  uint64_t blankFields_ = 0;
  // After an appended row is posted, orig_ is brought up to date only when
  // something needs it (an edit of that row, Cancel, a tag walk from it):
  // until then row_ holds the row as written.
  bool origStale_ = false;
  std::vector<uint8_t> pending_;  // the edit kept across a shared-mode re-read
  std::vector<FieldSlot> slots_;
  bool editable_ = false;  // open for writing
  bool modified_ = false, appending_ = false;

  bool batching_ = false;
  std::vector<uint8_t> batch_;  // a fixed buffer; batchCount_ records in use
  uint32_t batchCount_ = 0;

  std::set<uint32_t> locks_;
  TXbProgress progress_;

  // A direct-mapped cache of aligned runs of records, so that walks in any
  // order and filters read the file in runs, not record by record.
  static constexpr uint32_t kCacheRecords = 8;
  static constexpr size_t kCacheSlots = 4096;
  std::vector<CacheSlot> cache_;
  // The cursor in the current tag; tagPosValid_ while it is on the current row.
  TCdxCursor cur_;
  bool tagPosValid_ = false;
  std::vector<uint8_t> scratch_, key_, key2_;
  TXbValue val_;
  TXbExpr evalExpr_;
};
