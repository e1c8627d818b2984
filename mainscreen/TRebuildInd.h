#pragma once
// Packs the three tables and builds their compound indexes afresh. The
// window does its work as soon as it is first shown and then closes itself;
// a gauge and a one-line label tell the current step.

#include <QDialog>

#include <filesystem>
#include <string>
#include <vector>

#include "store/core/FaxTables.h"
#include "store/core/Xbase.h"

class QLabel;
class QProgressBar;

// One open table with its companion, and what its rebuild says and builds.
struct TRebuildTarget {
  TXbDataTable* table = nullptr;
  TXbase* xbase = nullptr;
  const char* removingText = "";
  const char* rebuildingText = "";
  const std::vector<TTagDef>* tags = nullptr;
};

class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  // The outgoing and received tables stay open throughout; the phone book is
  // opened exclusively from `phoneBookFolder` and closed again afterwards
  // (left as it is when another program has it open).
  TRebuildInd(TRebuildTarget outgoing, TRebuildTarget received, TXbDataTable& phoneBook, TXbase& phoneBookXbase,
              std::filesystem::path phoneBookFolder, QWidget* parent = nullptr);

  QProgressBar* Gauge;
  QLabel* StepLabel;

  // The work itself, also usable without showing the window.
  void Rebuild();

 protected:
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;

 private:
  void RebuildTable(const TRebuildTarget& target);
  void Step(const char* text);

  TRebuildTarget outgoing_, received_;
  TXbDataTable& phoneBook_;
  TXbase& phoneBookXbase_;
  std::filesystem::path phoneBookFolder_;
  bool started_ = false;
};

// The table texts and tags of the three rebuild steps.
TRebuildTarget OutgoingRebuildTarget(TXbDataTable& table, TXbase& xbase);
TRebuildTarget ReceivedRebuildTarget(TXbDataTable& table, TXbase& xbase);
