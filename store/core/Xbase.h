#pragma once
// The application's two levels over the table engine.
//
// TXbDataTable is the data-set layer: a table object with a folder and a
// file name that opens and closes, moves between rows, reads and writes field
// values, appends, posts and deletes. Lists, forms and handlers use it.
//
// TXbase is the companion of one table object for what the data-set layer
// does not offer: creating tables, building index tags, choosing the order,
// filtering, packing, record numbers. Every TXbase operation makes its
// table's work area current and puts the previous one back afterwards.
//
// TXbaseEnv sets the engine-wide options once.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/Engine.h"

class TXbDataTable {
 public:
  explicit TXbDataTable(TXbEngine& engine) : engine_(engine) {}
  // Nothing to report to here; owners that care close the table first.
  ~TXbDataTable() { static_cast<void>(Close()); }
  TXbDataTable(const TXbDataTable&) = delete;
  TXbDataTable& operator=(const TXbDataTable&) = delete;

  TXbEngine& Engine() { return engine_; }
  void SetDatabaseName(const std::filesystem::path& folder) { folder_ = folder; }
  void SetTableName(const std::string& name) { tableName_ = name; }
  const std::string& TableName() const { return tableName_; }
  std::filesystem::path FilePath() const { return folder_ / tableName_; }
  void SetExclusive(bool on) { exclusive_ = on; }
  bool Exclusive() const { return exclusive_; }
  void SetReadOnly(bool on) { readOnly_ = on; }

  XbStatus Open();
  // Closes even when the last writes fail; that failure is returned.
  XbStatus Close();
  bool Active() const { return area_ != 0; }
  int Area() const { return area_; }
  // The engine's table (nullptr while closed).
  TXbTable* Table();
  const TXbTable* Table() const;

  // Navigation over the visible rows.
  XbStatus First();
  XbStatus Last();
  XbStatus Next();
  XbStatus Prior();
  bool Eof() const;
  bool Bof() const;
  // Record number of the current row; RecordCount() + 1 when there is none.
  uint32_t RecNo() const;
  uint32_t RecordCount() const;

  // Field values of the current row.
  std::string FieldText(std::string_view field) const;  // without trailing blanks
  TXbValue FieldValue(std::string_view field) const;
  bool FieldBool(std::string_view field) const;
  XbStatus SetFieldText(std::string_view field, const std::string& text);
  XbStatus SetFieldValue(std::string_view field, const TXbValue& v);

  XbStatus Append();
  XbStatus Post();
  void Cancel();
  XbStatus Delete();

  // Order by tag name ("" = natural order).
  XbStatus SetIndexName(const std::string& tag);
  std::string IndexName() const;

  // The data link: told when the table opens (true) or closes (false).
  std::function<void(bool active)> OnActiveChanged;
  // Lists listen for changes of rows, order or filter; several may listen.
  int AddDataListener(std::function<void()> listener);
  void RemoveDataListener(int id);
  void DataChanged();

 private:
  TXbEngine& engine_;
  std::filesystem::path folder_;
  std::string tableName_;
  bool exclusive_ = true;
  bool readOnly_ = false;
  int area_ = 0;
  std::vector<std::pair<int, std::function<void()>>> listeners_;
  int nextListener_ = 1;
};

class TXbase {
 public:
  explicit TXbase(TXbEngine& engine) : engine_(engine) {}
  TXbase(const TXbase&) = delete;
  TXbase& operator=(const TXbase&) = delete;
  ~TXbase();

  // Published properties. The table object must outlive this companion (or
  // be unhooked with SetDataSource(nullptr) first).
  void SetDataSource(TXbDataTable* table);
  TXbDataTable* DataSource() const { return table_; }
  void SetFilter(const std::string& filter);  // applied now when open, and at every opening
  const std::string& Filter() const { return filter_; }
  // Further index files to open with the table. Only the table's own
  // compound index is supported; the names are kept and reported as
  // unsupported when the table opens (LastStatus).
  std::vector<std::string> ExtraIndexes;
  bool FastRead = false;

  // Creation: CreateTable, AddField once per field in table order,
  // FinishCreate (true when the file was written).
  int CreateTable(const std::filesystem::path& fullPath, int fieldCount);
  bool AddField(const std::string& name, char type, int width, int decimals);
  bool FinishCreate();

  // Index tags of the table's own compound index.
  bool AddIndexTag(const std::string& tag, const std::string& key, bool descending, const std::string& condition);
  int TagNumber(const std::string& tag);
  int SetOrder(int order);  // returns the previous order; 0 = natural
  int CurrentOrder();
  bool CloseIndexes();
  // Forgets the indexes without writing them: the caller deletes the file.
  bool DropIndexes();
  bool Pack();

  // Filter text in force ("" when none).
  std::string FilterText();
  uint32_t VisibleRowCount();
  uint32_t RowCount();
  uint32_t RecordNumber();
  bool GoToRecord(uint32_t recno);
  bool IsDeleted();
  bool Evaluate(const std::string& logicalExpr);

  // Progress reports during pack and tag building; an empty function ends them.
  void SetProgress(std::function<void(XbProgressStep, int)> progress);
  // Engine properties: kept per table; 1009 is accepted and has no effect
  // on this engine (it tuned the original engine's buffering).
  int SysProp(int property, int value);

  const XbStatus& LastStatus() const { return last_; }

 private:
  class AreaScope;
  TXbTable* Ready();
  void TableOpened(bool active);

  TXbEngine& engine_;
  TXbDataTable* table_ = nullptr;
  std::string filter_;
  XbStatus last_;
  std::filesystem::path createPath_;
  int createCount_ = 0;
  std::vector<TDbfField> createFields_;
  std::map<int, int> props_;
  std::function<void(XbProgressStep, int)> progress_;
};

class TXbaseEnv {
 public:
  explicit TXbaseEnv(TXbEngine& engine) : engine_(engine) {}

  bool Exact() const { return engine_.Settings().exact; }
  void SetExact(bool on) { engine_.Settings().exact = on; }
  bool Century() const { return engine_.Settings().century; }
  void SetCentury(bool on);
  int DateFormat() const { return static_cast<int>(engine_.Settings().dateFormat); }
  void SetDateFormat(int format);
  int LockTimeout() const { return engine_.Settings().lockTimeoutSeconds; }
  void SetLockTimeout(int seconds) { engine_.Settings().lockTimeoutSeconds = seconds; }
  int MemoBlockSize() const { return engine_.Settings().memoBlockSize; }
  void SetMemoBlockSize(int size) { engine_.Settings().memoBlockSize = size; }
  bool SoftSeek() const { return engine_.Settings().softSeek; }
  void SetSoftSeek(bool on) { engine_.Settings().softSeek = on; }
  bool Deleted() const { return engine_.Settings().deleted; }
  void SetDeleted(bool on) { engine_.Settings().deleted = on; }

  // The engine's date pattern ("mm/dd/yyyy" for format 0 with century);
  // OnDatePatternChanged hands it to whoever keeps the process's short date
  // format.
  std::string DatePattern() const { return engine_.Settings().DatePattern(); }
  std::function<void(const std::string& pattern)> OnDatePatternChanged;

 private:
  TXbEngine& engine_;
};
