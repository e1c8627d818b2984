#include "mainscreen/TRebuildInd.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "mainscreen/TMainScreen.h"
#include "store/TableLog.h"

namespace {

void RemoveFile(const std::filesystem::path& p) {
  std::error_code ec;
  std::filesystem::remove(p, ec);
}

}  // namespace

TRebuildTarget OutgoingRebuildTarget(TXbDataTable& table, TXbase& xbase) {
  return {&table, &xbase, "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
          &OutgoingTags()};
}

TRebuildTarget ReceivedRebuildTarget(TXbDataTable& table, TXbase& xbase) {
  return {&table, &xbase, "Removing RECEIVE file records marked for deletion", "Rebuilding RECEIVE file indexes",
          &ReceivedTags()};
}

TRebuildInd::TRebuildInd(TRebuildTarget outgoing, TRebuildTarget received, TXbDataTable& phoneBook,
                         TXbase& phoneBookXbase, std::filesystem::path phoneBookFolder, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      outgoing_(outgoing),
      received_(received),
      phoneBook_(phoneBook),
      phoneBookXbase_(phoneBookXbase),
      phoneBookFolder_(std::move(phoneBookFolder)) {
  setObjectName("RebuildInd");
  setWindowTitle("Rebuild Indexes");
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  Gauge = new QProgressBar(this);
  Gauge->setRange(0, 100);
  Gauge->setValue(0);
  StepLabel = new QLabel(this);
  StepLabel->setMinimumWidth(320);
  layout->addWidget(Gauge);
  layout->addWidget(StepLabel);
  Gauge->hide();
  StepLabel->hide();
}

void TRebuildInd::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (started_) return;
  started_ = true;
  // Once the window is on screen: work, then close through the close message.
  QTimer::singleShot(0, this, [this] {
    Rebuild();
    QApplication::postEvent(this, new QEvent(kCloseMessage));
  });
}

bool TRebuildInd::event(QEvent* e) {
  if (e->type() == kCloseMessage) {
    accept();
    return true;
  }
  return QDialog::event(e);
}

void TRebuildInd::Step(const char* text) {
  StepLabel->setText(text);
  Gauge->setValue(0);
  // The window belongs to the thread doing the work: paint the step now.
  if (isVisible()) repaint();
}

void TRebuildInd::RebuildTable(const TRebuildTarget& target) {
  TXbDataTable& table = *target.table;
  TXbase& xbase = *target.xbase;
  TXbTable* t = table.Table();
  if (!t) return;
  xbase.SetProgress([this](XbProgressStep, int percent) {
    Gauge->setValue(std::max(0, percent));
    if (isVisible()) Gauge->repaint();
  });
  const std::string order = table.IndexName();
  const std::filesystem::path cdx = t->CdxPath();
  xbase.CloseIndexes();
  RemoveFile(cdx);
  Step(target.removingText);
  xbase.Pack();
  Step(target.rebuildingText);
  BuildTags(xbase, *target.tags, false);
  LogTableFailure(table.SetIndexName(order), "list order");
  xbase.SetProgress({});
}

void TRebuildInd::Rebuild() {
  Gauge->show();
  StepLabel->show();
  RebuildTable(outgoing_);
  RebuildTable(received_);
  if (OpenPhoneBook(phoneBook_, phoneBookXbase_, phoneBookFolder_, true)) {
    RebuildTable({&phoneBook_, &phoneBookXbase_, "Removing PHONE file records marked for deletion",
                  "Rebuilding PHONE file indexes", &PhoneBookTags()});
    LogTableFailure(phoneBook_.SetIndexName("NAME"), "phone book order");
    LogTableFailure(phoneBook_.Close(), "closing the phone book");
  }
}
