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
#include "faximage/Apf.h"
#include "sending/TFaxEditor.h"
#include "shell/Dialogs.h"
#include "shell/Placement.h"
#include "shell/core/Files.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

// An APF file taken as it is: every page must be whole, then it is copied
// under a temporary name beside the target and renamed, so a failure leaves
// nothing behind.
int CopyFaxFile(const fs::path& in, const fs::path& out, FxImportResult& result) {
  TFxApfReader reader;
  if (reader.Open(in) != 0 || reader.PageCount() == 0) {
    result.error = "The fax file is damaged or has no pages.";
    return ecImportDamaged;
  }
  for (unsigned n = 1; n <= reader.PageCount(); ++n) {
    ApfPageHeader page;
    if (reader.ReadPageData(n, page, [](const uint8_t*, size_t, uint64_t, uint64_t) { return true; }) != 0) {
      result.error = "Page " + std::to_string(n) + " of the fax file is damaged.";
      return ecImportDamaged;
    }
  }
  const fs::path part = fs::path(out).concat(".part");
  std::error_code ec;
  fs::copy_file(in, part, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(part, out, ec);
  if (ec) {
    fs::remove(part, ec);
    result.error = "The fax file could not be copied: " + ec.message();
    return ecImportToolFailed;
  }
  result.pagesWritten = reader.PageCount();
  return 0;
}

bool IsApfFile(const fs::path& file) {
  TFxApfReader reader;
  return reader.Open(file) == 0;
}

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
    rc = IsApfFile(in) ? CopyFaxFile(in, out, result) : FxImportDocument(in, out, options, result);
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

bool IsNewFaxDocumentName(const QString& file) {
  static const QStringList endings{"pdf", "ps",  "eps", "tif", "tiff", "png", "jpg",
                                   "jpeg", "bmp", "gif", "txt", "text", "apf"};
  return endings.contains(QFileInfo(file).suffix().toLower());
}

bool NewFaxFromFile(TXbDataTable& faxTable, const QString& file, QWidget* mainWindow, bool* cancelled) {
  if (cancelled != nullptr) *cancelled = false;
  if (!faxTable.Active() || file.isEmpty()) return false;
  TFaxEditor editor(mainWindow);
  editor.setWindowTitle("New fax from: " + QFileInfo(file).fileName());
  CentreForm(&editor);
  if (editor.exec() != QDialog::Accepted) {
    if (cancelled != nullptr) *cancelled = true;
    return false;
  }

  const std::string target = NextSendFileName("FAX");
  FxImportResult result;
  const int rc = ImportWithProgress(file.toStdString(), target, mainWindow, result);
  if (rc == ecImportCancelled) {
    if (cancelled != nullptr) *cancelled = true;
    return false;
  }
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
      "Documents (*.pdf *.ps *.eps *.tif *.tiff *.png *.jpg *.jpeg *.bmp *.gif *.txt *.apf);;All files (*)");
  if (file.isEmpty()) return false;
  return NewFaxFromFile(faxTable, file, mainWindow);
}
