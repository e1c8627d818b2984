// New Fax from File: a document imported as a new outgoing fax, chosen in the
// file window, dropped on the main window or named on the command line.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTabBar>
#include <QTimer>
#include <QUrl>

#include "mainscreen/TMainScreen.h"
#include "sending/NewFaxFromFile.h"
#include "shell/Dialogs.h"

namespace {

// The dropped local files whose names say they are documents the import
// takes; the import itself still looks at their content. Everything else
// dropped is listed in refused.
QStringList DroppedDocuments(const QMimeData* mime, QStringList* refused) {
  QStringList files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    if (!path.isEmpty() && IsNewFaxDocumentName(path)) {
      files << path;
    } else if (refused != nullptr) {
      *refused << (path.isEmpty() ? url.toDisplayString() : QFileInfo(path).fileName());
    }
  }
  return files;
}

}  // namespace

void TMainScreen::mnuNewFaxFromFileClick() {
  if (ReceiveModeRefused()) return;
  if (!AskNewFaxFromFile(FaxTable, this)) return;
  ShowNewOutgoingRow();
}

void TMainScreen::ShowNewOutgoingRow() {
  TabSet1->setCurrentIndex(0);
  FaxTableCloseAndOpen();
  SetButtons();
}

void TMainScreen::dragEnterEvent(QDragEnterEvent* e) {
  if (!DroppedDocuments(e->mimeData(), nullptr).isEmpty()) e->acceptProposedAction();
}

void TMainScreen::dropEvent(QDropEvent* e) {
  QStringList refused;
  const QStringList files = DroppedDocuments(e->mimeData(), &refused);
  if (files.isEmpty()) return;
  e->acceptProposedAction();
  // The windows open after the drop has returned: the program the files
  // came from waits for the drop's answer.
  QTimer::singleShot(0, this, [this, files, refused] {
    if (!refused.isEmpty())
      ShowInformation("These files are not documents Corvane can fax and were left out:\r" + refused.join("\r"));
    NewFaxFromFiles(files);
  });
}

void TMainScreen::NewFaxFromFiles(const QStringList& files) {
  filesToTake_ << files;
  QTimer::singleShot(0, this, &TMainScreen::TakeNextFile);
}

void TMainScreen::TakeNextFile() {
  if (takingFile_ || filesToTake_.isEmpty() || closed_) return;
  // Not before the window is up, and not over a window that is open now
  // (a startup notice, an editor): try again shortly.
  if (!FirstActivationDone() || QApplication::activeModalWidget() != nullptr) {
    QTimer::singleShot(200, this, &TMainScreen::TakeNextFile);
    return;
  }
  if (ReceiveModeRefused()) {
    filesToTake_.clear();
    return;
  }
  takingFile_ = true;
  const QString file = filesToTake_.takeFirst();
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) {
    ShowInformation("The file cannot be read:\r" + file);
  } else {
    bool cancelled = false;
    if (NewFaxFromFile(FaxTable, file, this, &cancelled)) ShowNewOutgoingRow();
    // Cancel stops the files still waiting, not just this one.
    if (cancelled) filesToTake_.clear();
  }
  takingFile_ = false;
  if (!filesToTake_.isEmpty()) QTimer::singleShot(0, this, &TMainScreen::TakeNextFile);
}
