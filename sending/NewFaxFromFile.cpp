#include "sending/NewFaxFromFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QThread>

#include <atomic>
#include <filesystem>
#include <thread>

#include "docimport/DocImport.h"
#include "docimport/qt/QtImageLoader.h"
#include "sending/TFaxEditor.h"
#include "shell/Dialogs.h"
#include "shell/Placement.h"
#include "shell/core/Files.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

// Runs the import on a worker thread; the window stays live and shows the
// pages done, and Cancel stops the import at the next page.
int ImportWithProgress(const fs::path& in, const fs::path& out, QWidget* parent, FxImportResult& result) {
  std::atomic<bool> cancel{false}, finished{false};
  std::atomic<unsigned> done{0}, total{0};
  FxImportOptions options;
  options.imageLoader = FxLoadImageWithQt;
  options.progress = [&](unsigned d, unsigned t) {
    done = d;
    total = t;
    return !cancel.load();
  };
  int rc = 0;
  std::thread worker([&] {
    rc = FxImportDocument(in, out, options, result);
    finished = true;
  });
  QProgressDialog progress("Importing " + QString::fromStdString(in.filename().string()) + "...", "Cancel", 0, 0,
                           parent);
  progress.setWindowTitle("New Fax from File");
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  while (!finished) {
    if (progress.wasCanceled()) cancel = true;
    if (total > 0) {
      progress.setMaximum(static_cast<int>(total.load()));
      progress.setValue(static_cast<int>(done.load()));
    }
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  worker.join();
  return rc;
}

}  // namespace

bool NewFaxFromFile(TXbDataTable& faxTable, const QString& file, QWidget* mainWindow) {
  if (!faxTable.Active() || file.isEmpty()) return false;
  TFaxEditor editor(mainWindow);
  editor.setWindowTitle("New fax from: " + QFileInfo(file).fileName());
  CentreForm(&editor);
  if (editor.exec() != QDialog::Accepted) return false;

  const std::string target = NextSendFileName("FAX");
  FxImportResult result;
  const int rc = ImportWithProgress(file.toStdString(), target, mainWindow, result);
  if (rc == ecImportCancelled) return false;
  if (rc != 0) {
    ShowInformation("The file could not be made into a fax:\r" + QString::fromStdString(result.error));
    return false;
  }
  const bool stored = faxTable.Append() && editor.StoreRow(faxTable) &&
                      faxTable.SetFieldText("FAXDOC", fs::path(target).filename().string()) && faxTable.Post();
  if (!stored) {
    faxTable.Cancel();
    std::error_code ec;
    fs::remove(target, ec);
    ShowInformation("The fax could not be stored in the outgoing fax table.");
    return false;
  }
  faxTable.DataChanged();
  return true;
}

bool AskNewFaxFromFile(TXbDataTable& faxTable, QWidget* mainWindow) {
  const QString file = QFileDialog::getOpenFileName(
      mainWindow, "New Fax from File", QString(),
      "Documents (*.pdf *.ps *.eps *.tif *.tiff *.png *.jpg *.jpeg *.bmp *.gif *.txt);;All files (*)");
  if (file.isEmpty()) return false;
  return NewFaxFromFile(faxTable, file, mainWindow);
}
