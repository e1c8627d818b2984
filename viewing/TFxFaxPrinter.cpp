#include "viewing/TFxFaxPrinter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>

#include <functional>
#include <thread>
#include <vector>

#include "faximage/Apf.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxUnpacker.h"
#include "shell/core/Settings.h"
#include "viewing/TFxFaxPrinterStatus.h"

namespace {
constexpr int kTickMs = 55;

QFont MarginFont() {
  QFont f("Arial");
  f.setPointSizeF(8.25);  // 11 screen pixels
  return f;
}
}  // namespace

TFxFaxPrinter::TFxFaxPrinter(QObject* owner)
    : QObject(owner), printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  FaxHeader = {"FILE: $F", true, MarginFont()};
  FaxFooter = {"PAGE: $P of $N", true, MarginFont()};
}

TFxFaxPrinter::~TFxFaxPrinter() = default;

QString TFxFaxPrinter::ProgressText(TFaxPrintProgress progress) {
  switch (progress) {
    case TFaxPrintProgress::ppIdle: return "Idle";
    case TFaxPrintProgress::ppComposing: return "Composing";
    case TFaxPrintProgress::ppRendering: return "Rendering";
    case TFaxPrintProgress::ppSubmitting: return "Submitting";
    case TFaxPrintProgress::ppConverting: return "Converting";
  }
  return {};
}

void TFxFaxPrinter::SetFileName(const QString& fileName) {
  fileName_ = fileName;
  fileError_.clear();
  pageCount_ = 0;
  firstHighRes_ = firstWide_ = false;
  TFxFaxUnpacker unpacker;
  unpacker.SetInFileName(fileName.toStdString());
  try {
    pageCount_ = unpacker.PageCount();
    if (pageCount_ > 0) {
      firstHighRes_ = unpacker.FirstPageHighRes();
      firstWide_ = unpacker.FirstPageWide();
    }
  } catch (const EFxImageError& e) {
    pageCount_ = 0;
    fileError_ = QString::fromStdString(e.what());
  }
  firstPage_ = pageCount_ > 0 ? 1 : 0;
  lastPage_ = pageCount_;
}

bool TFxFaxPrinter::PrinterSetup(QWidget* parent) {
  QPrintDialog dialog(printer_.get(), parent);
  if (pageCount_ > 0) {
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setMinMax(1, static_cast<int>(pageCount_));
    dialog.setFromTo(static_cast<int>(firstPage_), static_cast<int>(lastPage_));
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  if (printer_->printRange() == QPrinter::PageRange && printer_->fromPage() > 0) {
    firstPage_ = static_cast<unsigned>(printer_->fromPage());
    lastPage_ = std::min(pageCount_, static_cast<unsigned>(printer_->toPage()));
  }
  // The range belongs to the fax, not to the printer's later runs.
  printer_->setPrintRange(QPrinter::AllPages);
  return true;
}

void TFxFaxPrinter::SetProgress(TFaxPrintProgress progress) {
  progress_ = progress;
  emit FaxPrintStatus(progress);
  if (StatusDisplay && running_ && !aborted_) StatusDisplay->UpdateDisplay();
  QCoreApplication::processEvents();
}

void TFxFaxPrinter::Log(TFaxPLCode code) {
  if (FaxPrinterLog) FaxPrinterLog->UpdateLog(code, fileName_);
  emit FaxPrintLog(code);
}

void TFxFaxPrinter::Abort() {
  if (!running_ || aborted_) return;
  aborted_ = true;
  if (stop_) stop_->store(true);
  if (wait_) wait_->quit();
  currentPage_ = 0;
  Log(TFaxPLCode::lcAborted);
  if (StatusDisplay) StatusDisplay->hide();
}

void TFxFaxPrinter::RunAside(const std::function<void()>& work) {
  std::atomic<bool> done{false};
  QEventLoop loop;
  wait_ = &loop;
  std::thread worker([&] {
    work();
    done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  wait_ = nullptr;
  // The loop also ends when the application quits: the run stops then too.
  if (!done && !aborted_) Abort();
  worker.join();
}

int TFxFaxPrinter::UnpackPage(unsigned page, TPrintPage& out) {
  int rc = 0;
  auto stop = stop_;
  const std::string file = fileName_.toStdString();
  RunAside([&] {
    TFxFaxUnpacker unpacker;
    unpacker.SetInFileName(file);
    unpacker.SetOptions(uoYield);
    // Called on the worker every few lines: the only place the unpacker
    // may be told to stop.
    unpacker.OnYield = [&unpacker, &stop] {
      if (stop->load()) unpacker.Abort();
    };
    try {
      // The bitmap ends at its right-most ink; the page's own width comes
      // from its header.
      TFxApfReader reader;
      ApfPageHeader header;
      uint64_t offset = 0;
      if (reader.Open(file) == 0 && reader.FindPage(page, header, offset) == 0) out.width = header.Width();
      rc = unpacker.TryPageToBitmap(page, out.bitmap);
    } catch (const std::bad_alloc&) {
      rc = FxErr::ecOutOfMemory;
    }
  });
  return rc;
}

void TFxFaxPrinter::ImposedWait() {
  if (!Settings.ImposeWaitBeforePrinting) return;
  QEventLoop loop;
  QTimer::singleShot(2 * kTickMs, &loop, &QEventLoop::quit);
  loop.exec();
}

void TFxFaxPrinter::DrawPage(QPainter& painter, const QRect& sheet, bool landscape, unsigned page,
                             const TPrintPage& printPage) {
  const TFxBitmap& bitmap = printPage.bitmap;
  QRect area = SheetCell(sheet, MultiPage, landscape, (page - firstPage_) % 4);
  const QString shortName = QFileInfo(fileName_).fileName();
  const int lineWidth = std::max(1, printer_->logicalDpiY() / 200);
  painter.setPen(QPen(Qt::black, lineWidth));
  auto marginFont = [this](const TFxFaxPrinterMargin& m) {
    QFont f = m.Font;
    if (MultiPage && f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() / 2);
    return f;
  };
  if (FaxHeader.Enabled) {
    const QFont font = marginFont(FaxHeader);
    painter.setFont(font);
    const int h = QFontMetrics(font, printer_.get()).height();
    painter.drawText(QRect(area.left(), area.top(), area.width(), h), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     ExpandCaptionTags(FaxHeader.Caption, shortName, page, pageCount_));
    const int line = area.top() + h + 2;
    painter.drawLine(area.left(), line, area.right(), line);
    area.setTop(line + 1 + lineWidth);
  }
  if (FaxFooter.Enabled) {
    const QFont font = marginFont(FaxFooter);
    painter.setFont(font);
    const int f = QFontMetrics(font, printer_.get()).height();
    const int bottom = area.bottom() + 1;
    painter.drawText(QRect(area.left(), bottom - f, area.width(), f), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     ExpandCaptionTags(FaxFooter.Caption, shortName, page, pageCount_));
    const int line = bottom - f - 2;
    painter.drawLine(area.left(), line, area.right(), line);
    area.setBottom(line - 2 - lineWidth);
  }
  if (bitmap.Empty() || area.isEmpty()) return;
  // Sizes are those of the whole page; the bitmap, which ends at its
  // right-most ink, takes its share of the width.
  const unsigned pageWidth = std::max(printPage.width, bitmap.width);
  QSize size = PageSizeOnPaper(area, pageWidth, bitmap.height, PrintScale, printer_->logicalDpiX(),
                               printer_->logicalDpiY());
  size = SnapToWholeRatio(size, pageWidth, bitmap.height);
  const QSize target(static_cast<int>(int64_t{size.width()} * bitmap.width / pageWidth), size.height());
  SetProgress(TFaxPrintProgress::ppRendering);
  ImposedWait();
  QImage image;
  RunAside([&] {
    try {
      image = PrintImage(bitmap, target);
    } catch (const std::bad_alloc&) {
      image = {};
    }
  });
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  if (!image.isNull()) painter.drawImage(QRect(area.topLeft(), target), image);
  ImposedWait();
  SetProgress(TFaxPrintProgress::ppSubmitting);
}

bool TFxFaxPrinter::PrintFax() {
  if (running_ || pageCount_ == 0 || firstPage_ == 0 || lastPage_ < firstPage_) return false;
  if (!StatusDisplay && parent()) StatusDisplay = parent()->findChild<TFxFaxPrinterStatus*>();
  lastPage_ = std::min(lastPage_, pageCount_);
  running_ = true;
  aborted_ = false;
  failedPages_ = 0;
  stop_ = std::make_shared<std::atomic<bool>>(false);
  SetProgress(TFaxPrintProgress::ppIdle);
  if (StatusDisplay) {
    StatusDisplay->SetFaxPrinter(this);
    StatusDisplay->UpdateDisplay();
    StatusDisplay->show();
  }
  Log(TFaxPLCode::lcStart);
  printer_->setDocName(Caption);
  printer_->setPrintRange(QPrinter::AllPages);
  QPainter painter;
  if (!painter.begin(printer_.get())) {
    Log(TFaxPLCode::lcFailed);
    FinishRun();
    return false;
  }
  const bool landscape = printer_->pageLayout().orientation() == QPageLayout::Landscape;
  const unsigned perSheet = PagesPerSheet(MultiPage, landscape);
  const QRect sheet(0, 0, printer_->width(), printer_->height());
  for (unsigned sheetFirst = firstPage_; sheetFirst <= lastPage_ && !aborted_; sheetFirst += perSheet) {
    const unsigned sheetLast = std::min(lastPage_, sheetFirst + perSheet - 1);
    std::vector<TPrintPage> pages;
    for (unsigned p = sheetFirst; p <= sheetLast && !aborted_; ++p) {
      QCoreApplication::processEvents();
      if (aborted_) break;
      currentPage_ = p;
      emit NextPage(p, pageCount_);
      SetProgress(TFaxPrintProgress::ppConverting);
      TPrintPage printPage;
      const int rc = UnpackPage(p, printPage);
      if (aborted_) break;
      SetProgress(TFaxPrintProgress::ppComposing);
      if (rc < 0) {
        // The page stays blank on its sheet; the other pages still print.
        ++failedPages_;
        printPage.bitmap = {};
        Log(TFaxPLCode::lcFailed);
      }
      pages.push_back(std::move(printPage));
    }
    if (aborted_) break;
    if (sheetFirst != firstPage_) printer_->newPage();
    for (unsigned p = sheetFirst; p <= sheetLast; ++p) {
      currentPage_ = p;
      DrawPage(painter, sheet, landscape, p, pages[p - sheetFirst]);
    }
  }
  if (aborted_) {
    printer_->abort();
    painter.end();
    // A file printer has no job to cancel: the file itself is the job.
    if (!printer_->outputFileName().isEmpty()) QFile::remove(printer_->outputFileName());
    FinishRun();
    return false;
  }
  const bool ended = painter.end();
  Log(ended ? TFaxPLCode::lcFinish : TFaxPLCode::lcFailed);
  FinishRun();
  return ended;
}

void TFxFaxPrinter::FinishRun() {
  running_ = false;
  stop_.reset();
  SetProgress(TFaxPrintProgress::ppIdle);
  if (StatusDisplay) StatusDisplay->hide();
  currentPage_ = 0;
}
