#include "viewing/TFaxViewer.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "faximage/Apf.h"
#include "faximage/ErrorCodes.h"
#include "faximage/FaxUnpacker.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "viewing/FaxPrinting.h"
#include "viewing/TFxFaxPrinter.h"
#include "viewing/TFxFaxPrinterStatus.h"
#include "viewing/TFxFaxViewer.h"

namespace {

constexpr int kLevels[] = {25, 50, 75, 100};

QToolButton* ToolButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon, const char* hint,
                        const char* text) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setIcon(parent->style()->standardIcon(icon));
  b->setText(text);
  b->setToolTip(hint);
  b->setToolButtonStyle(Qt::ToolButtonIconOnly);
  return b;
}

bool FirstPageHighRes(const QString& file) {
  TFxApfReader reader;
  ApfPageHeader header;
  uint64_t offset = 0;
  return reader.Open(file.toStdString()) == 0 && reader.FindPage(1, header, offset) == 0 && header.HighRes();
}

void ErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, "Error", text, QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace

TFaxViewer::TFaxViewer(QWidget* parent) : QDialog(parent) {
  setObjectName("TFaxViewer");
  setWindowTitle("Fax Viewer ");
  setSizeGripEnabled(true);
  resize(640, 560);
  BuildLayout();
  BuildMenus();
}

TFaxViewer::~TFaxViewer() = default;

void TFaxViewer::BuildLayout() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* buttons = new QHBoxLayout;
  FirstButton = ToolButton(this, "FirstButton", QStyle::SP_MediaSkipBackward, "First page", "First");
  PrevButton = ToolButton(this, "PrevButton", QStyle::SP_MediaSeekBackward, "Previous page", "Previous");
  NextButton = ToolButton(this, "NextButton", QStyle::SP_MediaSeekForward, "Next page", "Next");
  LastButton = ToolButton(this, "LastButton", QStyle::SP_MediaSkipForward, "Last page", "Last");
  ZoomInButton = ToolButton(this, "ZoomInButton", QStyle::SP_ArrowUp, "Zoom in", "+");
  ZoomOutButton = ToolButton(this, "ZoomOutButton", QStyle::SP_ArrowDown, "Zoom out", "-");
  PrinterSetupButton = ToolButton(this, "PrinterSetupButton", QStyle::SP_FileDialogDetailedView, "Printer setup",
                                  "Setup");
  Printbutton = ToolButton(this, "Printbutton", QStyle::SP_DialogSaveButton, "Print", "Print");
  PrintSinglePageButton = ToolButton(this, "PrintSinglePageButton", QStyle::SP_FileIcon, "Print current page",
                                     "Page");
  for (QToolButton* b : {FirstButton, PrevButton, NextButton, LastButton, ZoomInButton, ZoomOutButton,
                         PrinterSetupButton, Printbutton, PrintSinglePageButton})
    buttons->addWidget(b);
  buttons->addStretch(1);
  CloseButton = new QPushButton("C&lose", this);
  CloseButton->setObjectName("CloseButton");
  CloseButton->setDefault(true);
  Helpbutton = new QPushButton("&Help", this);
  Helpbutton->setObjectName("Helpbutton");
  buttons->addWidget(CloseButton);
  buttons->addWidget(Helpbutton);
  layout->addLayout(buttons);

  FaxViewer = new TFxFaxViewer(this);
  FaxViewer->AutoScaleMode = TAutoScaleMode::asHalfWidth;
  FaxViewer->BusyCursor = Qt::WaitCursor;
  layout->addWidget(FaxViewer, 1);

  StatusPanel = new QLabel(this);
  StatusPanel->setObjectName("StatusPanel");
  StatusPanel->setFrameShape(QFrame::Panel);
  StatusPanel->setFrameShadow(QFrame::Sunken);
  layout->addWidget(StatusPanel);

  connect(FirstButton, &QToolButton::clicked, this, &TFaxViewer::FirstButtonClick);
  connect(PrevButton, &QToolButton::clicked, this, &TFaxViewer::PrevButtonClick);
  connect(NextButton, &QToolButton::clicked, this, &TFaxViewer::NextButtonClick);
  connect(LastButton, &QToolButton::clicked, this, &TFaxViewer::LastButtonClick);
  connect(ZoomInButton, &QToolButton::clicked, this, &TFaxViewer::ZoomInButtonClick);
  connect(ZoomOutButton, &QToolButton::clicked, this, &TFaxViewer::ZoomOutButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(Helpbutton, &QPushButton::clicked, this, &TFaxViewer::HelpbuttonClick);
  FaxViewer->OnPageChange = [this] { FaxViewerPageChange(); };
  FaxViewer->OnViewerError = [this](int code) { FaxViewerViewerError(code); };
  // A dropped fax is loaded as the first one was: the control has reset its
  // scale and rotation, so the window's level and marks start over too.
  FaxViewer->OnDropFile = [this](const QString& name) {
    fileToShow_ = name;
    zoomLevel_ = FirstPageHighRes(name) ? 100 : 50;
    Load();
    for (QAction* a : {NoRotationItem, Rotate90Item, Rotate180Item, Rotate270Item}) a->setChecked(false);
  };
  FxFaxPrinterStatus1 = new TFxFaxPrinterStatus(this);
  FxFaxPrinter1 = new TFxFaxPrinter(this);
  FxFaxPrinter1->setObjectName("FxFaxPrinter1");
  FxFaxPrinter1->Caption = "Corvane Fax Printer";
  FxFaxPrinter1->FaxHeader.Caption = "File: $F";
  FxFaxPrinter1->FaxHeader.Enabled = false;
  FxFaxPrinter1->FaxFooter.Caption = kPrintFooterCaption;
  FxFaxPrinter1->FaxFooter.Enabled = false;
  FxFaxPrinter1->StatusDisplay = FxFaxPrinterStatus1;
  connect(Printbutton, &QToolButton::clicked, this, &TFaxViewer::PrintbuttonClick);
  connect(PrintSinglePageButton, &QToolButton::clicked, this, &TFaxViewer::PrintSinglePageButtonClick);
  connect(PrinterSetupButton, &QToolButton::clicked, this, &TFaxViewer::PrinterSetupButtonClick);
  // Without a printer only viewing and export are left.
  if (!PrinterInstalled())
    for (QToolButton* b : {PrinterSetupButton, Printbutton, PrintSinglePageButton}) b->setEnabled(false);
}

void TFaxViewer::BuildMenus() {
  MainMenu = new QMenuBar(this);
  MainMenu->setObjectName("MainMenu");
  layout()->setMenuBar(MainMenu);
  ViewMenu = MainMenu->addMenu("&View");
  auto zoom = [this](const char* name, const char* caption, int level) {
    QAction* a = ViewMenu->addAction(caption);
    a->setObjectName(name);
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, level] { ApplyZoom(level); });
    return a;
  };
  Zoom50Item = zoom("Zoom50Item", "50%", 25);
  Zoom100Item = zoom("Zoom100Item", "100%", 50);
  Zoom150Item = zoom("Zoom150Item", "150%", 75);
  Zoom200Item = zoom("Zoom200Item", "200%", 100);

  RotationMenu = MainMenu->addMenu("Rotation");
  auto rotation = [this](const char* name, const char* caption, int r) {
    QAction* a = RotationMenu->addAction(caption);
    a->setObjectName(name);
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, r] { ApplyRotation(r); });
    return a;
  };
  NoRotationItem = rotation("NoRotationItem", "No rotation", 0);
  Rotate90Item = rotation("Rotate90Item", "Rotate 90 degrees", 1);
  Rotate180Item = rotation("Rotate180Item", "Rotate 180 degrees", 2);
  Rotate270Item = rotation("Rotate270Item", "Rotate 270 degrees", 3);

  ExportMenu = MainMenu->addMenu("Export");
  ExportBmpItem = ExportMenu->addAction("Export this page as BMP File");
  ExportBmpItem->setObjectName("ExportBmpItem");
  ExportPcxItem = ExportMenu->addAction("Export this page as PCX File");
  ExportPcxItem->setObjectName("ExportPcxItem");
  ExportDcxItem = ExportMenu->addAction("Export this page as DCX File");
  ExportDcxItem->setObjectName("ExportDcxItem");
  connect(ExportMenu, &QMenu::triggered, this, &TFaxViewer::ExportClick);
}

// ---- first activation and loading -------------------------------------------------------

void TFaxViewer::showEvent(QShowEvent* e) {
  if (!placementRestored_) {
    placementRestored_ = true;
    RestorePlacement(this);
  }
  QDialog::showEvent(e);
  if (firstActivation_) FormActivate();
}

void TFaxViewer::PrintbuttonClick() {
  if (FxFaxPrinter1->Printing() || FaxViewer->NumPages() == 0) {
    QApplication::beep();
    return;
  }
  (void)PrintFaxWithOptions(this, *FxFaxPrinter1, fileToShow_, HeaderText, printRangeSet_);
  printRangeSet_ = true;
}

void TFaxViewer::PrintSinglePageButtonClick() {
  if (FxFaxPrinter1->Printing() || FaxViewer->NumPages() == 0) {
    QApplication::beep();
    return;
  }
  (void)PrintCurrentPage(this, *FxFaxPrinter1, fileToShow_, FaxViewer->CurrentPage(), HeaderText);
}

void TFaxViewer::PrinterSetupButtonClick() {
  if (FxFaxPrinter1->Printing()) {
    QApplication::beep();
    return;
  }
  if (!printRangeSet_) {
    FxFaxPrinter1->SetFileName(fileToShow_);
    printRangeSet_ = true;
  }
  (void)FxFaxPrinter1->PrinterSetup(this);
}

void TFaxViewer::FormActivate() {
  if (!firstActivation_) return;
  firstActivation_ = false;
  if (layout()) layout()->activate();
  if (!fileToShow_.isEmpty() && !FirstPageHighRes(fileToShow_)) zoomLevel_ = 50;
  Load();
  for (QAction* a : {Zoom50Item, Zoom100Item, Zoom150Item, Zoom200Item, NoRotationItem, Rotate90Item, Rotate180Item,
                     Rotate270Item})
    a->setChecked(false);
  QApplication::restoreOverrideCursor();
}

void TFaxViewer::Load() {
  FaxViewer->BeginUpdate();
  FaxViewer->SetScaling(false);
  FaxViewer->SetHorizMult(1);
  FaxViewer->SetHorizDiv(1);
  FaxViewer->SetVertMult(1);
  FaxViewer->SetVertDiv(1);
  FaxViewer->EndUpdate();
  if (const int rc = FaxViewer->SetFileName(fileToShow_); rc < 0 || fileToShow_.isEmpty()) {
    (void)FaxViewer->SetFileName(QString());
    ErrorBox(this, "Error opening fax file");
    StatusPanel->setText("No file loaded");
    for (QToolButton* b : {FirstButton, PrevButton, NextButton, LastButton}) b->setVisible(false);
    return;
  }
  int target = 50;
  const int w = FaxViewer->width();
  const int p = static_cast<int>(FaxViewer->PageWidth());
  if (p > 0 && w < p) target = std::lround(double(w) / p * 150) > 36 ? 50 : 25;
  ApplyZoom(target);
  CheckZoomItem();
  StatusPanel->setText(PageText());
  const bool several = FaxViewer->NumPages() > 1;
  for (QToolButton* b : {FirstButton, PrevButton, NextButton, LastButton}) b->setVisible(several);
}

QString TFaxViewer::PageText() const {
  if (FaxViewer->FileName().isEmpty()) return "No file loaded";
  const QString pages = QString("Page %1 of %2").arg(FaxViewer->CurrentPage()).arg(FaxViewer->NumPages());
  return Title.isEmpty() ? pages : Title + ": " + pages;
}

// ---- zoom and rotation ------------------------------------------------------------------

QAction* TFaxViewer::ZoomItem(int level) const {
  switch (level) {
    case 25: return Zoom50Item;
    case 50: return Zoom100Item;
    case 75: return Zoom150Item;
    default: return Zoom200Item;
  }
}

void TFaxViewer::CheckZoomItem() {
  for (int level : kLevels) ZoomItem(level)->setChecked(level == zoomLevel_);
}

void TFaxViewer::ApplyZoom(int level) {
  if (level == zoomLevel_) {
    CheckZoomItem();
    return;
  }
  zoomLevel_ = level;
  if (level == 100) {
    FaxViewer->SetScaling(false);
  } else {
    FaxViewer->BeginUpdate();
    FaxViewer->SetScaling(true);
    FaxViewer->SetHorizMult(static_cast<unsigned>(level));
    FaxViewer->SetVertMult(static_cast<unsigned>(level));
    FaxViewer->SetHorizDiv(100);
    FaxViewer->SetVertDiv(100);
    FaxViewer->EndUpdate();
  }
  CheckZoomItem();
}

void TFaxViewer::ZoomInButtonClick() {
  if (zoomLevel_ >= 100) {
    QApplication::beep();
    return;
  }
  ApplyZoom(zoomLevel_ + 25);
}

void TFaxViewer::ZoomOutButtonClick() {
  if (zoomLevel_ <= 25) {
    QApplication::beep();
    return;
  }
  ApplyZoom(zoomLevel_ - 25);
}

void TFaxViewer::ApplyRotation(int rotation) {
  if (const int rc = FaxViewer->SetRotation(rotation); rc < 0) FaxViewerViewerError(rc);
  QAction* const items[] = {NoRotationItem, Rotate90Item, Rotate180Item, Rotate270Item};
  for (int i = 0; i < 4; ++i) items[i]->setChecked(i == FaxViewer->Rotation());
}

// ---- pages and status ---------------------------------------------------------------------

void TFaxViewer::FirstButtonClick() { FaxViewer->FirstPage(); }
void TFaxViewer::PrevButtonClick() { FaxViewer->PrevPage(); }
void TFaxViewer::NextButtonClick() { FaxViewer->NextPage(); }
void TFaxViewer::LastButtonClick() { FaxViewer->LastPage(); }

void TFaxViewer::FaxViewerPageChange() { StatusPanel->setText(PageText()); }

void TFaxViewer::FaxViewerViewerError(int errorCode) {
  ErrorBox(this, QString("Viewer error %1").arg(errorCode));
}

void TFaxViewer::HelpbuttonClick() { ShowHelpContext(HelpTopic::Viewer); }

// ---- export --------------------------------------------------------------------------------

void TFaxViewer::ExportClick(QAction* item) {
  QString format;
  for (const char* f : {"BMP", "PCX", "DCX"})
    if (item->text().contains(f)) format = f;
  if (format.isEmpty() || FaxViewer->FileName().isEmpty()) return;
  const QString name = AskExportFileName ? AskExportFileName(format) : AskSaveName(format);
  if (!name.isEmpty()) (void)ExportPage(format, name);
}

QString TFaxViewer::ExportNameFilter(const QString& format) { return format + " File (*." + format + ")"; }

QString TFaxViewer::AskSaveName(const QString& format) {
  QFileDialog dialog(this, QString(), QString(), ExportNameFilter(format));
  dialog.setObjectName("SaveDialog");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(format);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

int TFaxViewer::ExportPage(const QString& format, const QString& fileName) {
  TFxFaxUnpacker unpacker;
  unpacker.SetOptions(0);
  unpacker.WhitespaceCompression = FaxViewer->WhitespaceCompression;
  unpacker.WhitespaceFrom = FaxViewer->WhitespaceFrom;
  unpacker.WhitespaceTo = FaxViewer->WhitespaceTo;
  unpacker.SetInFileName(FaxViewer->FileName().toStdString());
  unpacker.SetOutFileName(fileName.toStdString());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int rc = unpacker.TryPageToFile(FaxViewer->CurrentPage(), format.toStdString());
  QApplication::restoreOverrideCursor();
  if (rc < 0) ErrorBox(this, QString::fromStdString(FxImageErrorText(rc)));
  return rc;
}

void TFaxViewer::done(int result) {
  SavePlacement(this);
  QDialog::done(result);
}
