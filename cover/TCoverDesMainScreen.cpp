#include "cover/TCoverDesMainScreen.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>

#include "cover/CoverTemplate.h"
#include "cover/TCoverProperties.h"
#include "cover/TFaxCoverPanel.h"
#include "cover/TPreviewCovers.h"
#include "cover/TSaveTemplateAs.h"
#include "cover/core/TemplateFiles.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"

namespace {

constexpr int kZoomStepPercent = 10;
constexpr int kMinZoomPercent = 50;
constexpr int kMaxZoomPercent = 150;
constexpr int kUndoLimit = 200;
constexpr const char* kFontSection = "CD Default Font";
constexpr const char* kTitle = "Cover Sheet Template Designer";

struct TToolInfo {
  const char* Name;
  const char* Text;
  const char* Hint;
};
// In the order of TLPanelState.
constexpr TToolInfo kTools[] = {
    {"SelectTool", "Select", "Selection tool -  use this tool to select existing items\non the cover page"},
    {"TextTool", "Text", "Text tool - use this tool to place static text on the\ncover page"},
    {"SymbolTool", "Symbol", "Symbol tool - use this tool to place various symbols\nfrom a symbol font"},
    {"RectangleTool", "Rectangle", "Rectangle tool  - use this tool to place rectangles of \nany size"},
    {"EllipseTool", "Ellipse", "Ellipse tool - use this tool to place ellipses or circles \nof any size"},
    {"RoundRectangleTool", "Round Rect", "Round Rectangle tool - use this tool to place rectangles \nwith rounded corners"},
    {"LineTool", "Line", "Line Tool  - use this tool to place lines of \nany length and angle"},
    {"FieldTool", "Field", "Field Box tool - use this tool to place field text of \nthe fax (date, recipient, sender, ...)"},
    {"MessageTool", "Message", "Message Box tool - use this tool to place a rectangular\narea for the fax message"},
    {"ImportanceTool", "Importance", "Importance Box Tool - use this tool to create  importance\ncheck boxes"},
};

constexpr const char* kQuickTips =
    "Pick a tool in the tool bar and drag a rectangle on the page to place an object; the selection tool "
    "comes back afterwards.\n\n"
    "Click an object to select it, Shift+click to add or remove one, or drag a band around several. Drag "
    "the selection to move it, or a handle to resize a single object. The right mouse button opens the "
    "object's menu (font, line thickness, field, ...).\n\n"
    "Arrow keys move the selection by a grid step, with Shift by one pixel; Ctrl+arrow resizes.\n"
    "Ctrl+Z undoes, Ctrl+Shift+Z or Ctrl+Y redoes. Ctrl+X, Ctrl+C and Ctrl+V cut, copy and paste objects, "
    "also between two designer windows.\n"
    "Keypad + and - zoom between 50 % and 150 %.";

QString FontText(const TCoverFont& f) {
  QString text = "&Default Font: " + QString::fromStdString(f.Name) + ", " + QString::number(f.Size) + " pt ";
  if (f.Bold) text += ", bold";
  if (f.Italic) text += ", italic";
  return text;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  return SameTextNoCase(a.string(), b.string());
}

}  // namespace

TCoverDesMainScreen::TCoverDesMainScreen(QWidget* parent, std::filesystem::path coversFolder,
                                         std::filesystem::path iniFile)
    : QMainWindow(parent),
      coversFolder_(coversFolder.empty() ? std::filesystem::path(CoversFolder()) : std::move(coversFolder)),
      iniFile_(iniFile.empty() ? std::filesystem::path(IniFileName()) : std::move(iniFile)) {
  setObjectName("TCoverDesMainScreen");
  Ask = [](const QString& text, const QString& caption) { return AskYesNo(text, caption); };
  Inform = [](const QString& text) { ShowInformation(text); };
  AskSaveAs = [this](QString& name, QString& description) {
    TSaveTemplateAs dialog(coversFolder_, name, description, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    name = dialog.FileName();
    description = dialog.Description();
    return true;
  };
  ChooseTemplate = [this](const QString& title, bool withOk) {
    TPreviewCovers dialog(coversFolder_, title, withOk, QString::fromStdString(templateFile_.filename().string()),
                          this);
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : std::filesystem::path();
  };
  ChooseFileToDelete = [this] {
    return std::filesystem::path(QFileDialog::getOpenFileName(this, "Delete Fax Cover Template File",
                                                              QString::fromStdString(coversFolder_.string()),
                                                              "Fax Cover Template (*.FCS)")
                                     .toStdString());
  };

  FaxCoverPanel = new TFaxCoverPanel;
  FaxCoverPanel->SetDrawOutline(true);
  FaxCoverPanel->SetShape(lsRectangle);
  FaxCoverPanel->SetGridSize(gs4x4);
  FaxCoverPanel->SetShowGrid(false);
  FaxCoverPanel->SetSnapToGrid(false);
  FaxCoverPanel->PasteOffset = FaxCoverPanel->Surface().GridStep();
  FaxCoverPanel->ClipboardWrite = [](const std::string& bytes) {
    auto* mime = new QMimeData;
    mime->setData(kCoverObjectsMimeType, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    QApplication::clipboard()->setMimeData(mime);
  };
  FaxCoverPanel->ClipboardRead = []() -> std::optional<std::string> {
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    if (!mime || !mime->hasFormat(kCoverObjectsMimeType)) return std::nullopt;
    return mime->data(kCoverObjectsMimeType).toStdString();
  };
  FaxCoverPanel->LabelChangedEvent = [this] { SurfaceChanged(); };
  FaxCoverPanel->installEventFilter(this);

  ScrollBox = new QScrollArea;
  ScrollBox->setObjectName("ScrollBox");
  ScrollBox->setBackgroundRole(QPalette::Dark);
  ScrollBox->setWidget(FaxCoverPanel);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->addWidget(ScrollBox, 1);
  auto* buttons = new QHBoxLayout;
  HelpButton = NamedButton(central, "HelpButton", "Help");
  SaveButton = NamedButton(central, "SaveButton", "&Save");
  CancelButton = NamedButton(central, "CancelButton", "&Cancel");
  QuickTipsButton = NamedButton(central, "QuickTipsButton", "Quick tips");
  ExitButton = NamedButton(central, "ExitButton", "E&xit");
  for (QPushButton* b : {HelpButton, SaveButton, CancelButton, QuickTipsButton, ExitButton}) buttons->addWidget(b);
  buttons->addStretch();
  layout->addLayout(buttons);
  setCentralWidget(central);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpContext(HelpTopic::Contents); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { (void)SaveTemplate(); });
  connect(CancelButton, &QPushButton::clicked, this, &TCoverDesMainScreen::CancelChanges);
  connect(QuickTipsButton, &QPushButton::clicked, this, [this] { Inform(kQuickTips); });
  connect(ExitButton, &QPushButton::clicked, this, &QWidget::close);

  UndoStack = new QUndoStack(this);
  // Each step holds a copy of the objects; on a page of thousands of objects
  // an unlimited history would grow without end.
  UndoStack->setUndoLimit(kUndoLimit);
  connect(UndoStack, &QUndoStack::cleanChanged, this, [this] { UpdateState(); });
  connect(UndoStack, &QUndoStack::indexChanged, this, [this] {
    committed_ = std::make_shared<const TSurfaceSnapshot>(TakeSnapshot(*FaxCoverPanel));
    Properties->Refresh();
  });

  const TIniFile ini(iniFile_);
  TCoverFont& font = FaxCoverPanel->Surface().DefaultFont;
  font.Name = ini.ReadString(kFontSection, "Name", "Arial");
  font.Size = std::clamp(ini.ReadInteger(kFontSection, "Size", 10), 1, 999);
  font.Bold = ini.ReadBool(kFontSection, "Bold", false);
  font.Italic = ini.ReadBool(kFontSection, "Italic", false);
  font.Underline = ini.ReadBool(kFontSection, "Underline", false);
  recent_.Read(ini);

  Properties = new TCoverProperties(*FaxCoverPanel, this);
  auto* dock = new QDockWidget("Properties", this);
  dock->setObjectName("PropertiesDock");
  dock->setWidget(Properties);
  dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  addDockWidget(Qt::RightDockWidgetArea, dock);

  BuildToolBar();
  BuildMenus();
  ResetUndo();
  resize(900, 760);
}

TCoverDesMainScreen::~TCoverDesMainScreen() {
  // The stack's commands refer to the panel, and clearing it signals the
  // window: it goes before either.
  UndoStack->disconnect(this);
  delete UndoStack;
}

const TCoverFont& TCoverDesMainScreen::DefaultFont() const { return FaxCoverPanel->Surface().DefaultFont; }

bool TCoverDesMainScreen::ChangesMade() const { return !UndoStack->isClean(); }

void TCoverDesMainScreen::BuildToolBar() {
  ToolBar = addToolBar("Tools");
  ToolBar->setObjectName("ToolBar");
  auto* group = new QActionGroup(this);
  for (size_t i = 0; i < ToolButtons.size(); ++i) {
    QAction* a = ToolBar->addAction(kTools[i].Text);
    a->setObjectName(kTools[i].Name);
    a->setToolTip(kTools[i].Hint);
    a->setCheckable(true);
    group->addAction(a);
    connect(a, &QAction::triggered, this,
            [this, i] { FaxCoverPanel->SetPanelState(static_cast<TLPanelState>(i)); });
    ToolButtons[i] = a;
  }
  ToolButtons[psPointing]->setChecked(true);
  // Once an object is placed the surface is back at the pointer.
  FaxCoverPanel->DroppedObjectEvent = [this](const QRect&) { ToolButtons[psPointing]->setChecked(true); };
  ToolBar->addSeparator();
  ShowGridButton = ToolBar->addAction("Grid");
  ShowGridButton->setObjectName("ShowGridButton");
  ShowGridButton->setToolTip("Show grid toggle");
  ShowGridButton->setCheckable(true);
  connect(ShowGridButton, &QAction::toggled, this, [this](bool on) { FaxCoverPanel->SetShowGrid(on); });
  SnapToGridButton = ToolBar->addAction("Snap");
  SnapToGridButton->setObjectName("SnapToGridButton");
  SnapToGridButton->setToolTip("Snap to Grid toggle");
  SnapToGridButton->setCheckable(true);
  connect(SnapToGridButton, &QAction::toggled, this, [this](bool on) { FaxCoverPanel->SetSnapToGrid(on); });
  ToolBar->addSeparator();
  ZoomSpinner = new QSpinBox(this);
  ZoomSpinner->setObjectName("ZoomSpinner");
  ZoomSpinner->setRange(kMinZoomPercent, kMaxZoomPercent);
  ZoomSpinner->setSingleStep(kZoomStepPercent);
  ZoomSpinner->setValue(zoomPercent_);
  ZoomSpinner->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  ZoomSpinner->setFocusPolicy(Qt::NoFocus);
  ToolBar->addWidget(ZoomSpinner);
  ZoomCaption = new QLabel("100%", this);
  ZoomCaption->setObjectName("ZoomCaption");
  ToolBar->addWidget(ZoomCaption);
  connect(ZoomSpinner, &QSpinBox::valueChanged, this, [this](int value) {
    // Whole steps only, whatever was typed.
    const int steps = (value - zoomPercent_) / kZoomStepPercent;
    if (steps != 0) ZoomStep(steps);
    ZoomSpinner->setValue(zoomPercent_);
  });
}

void TCoverDesMainScreen::BuildMenus() {
  File1 = menuBar()->addMenu("&File");
  New1 = File1->addAction("&New", this, [this] {
    if (SaveChangesFirst()) NewTemplate();
  });
  Open1 = File1->addAction("&Open", this, [this] {
    if (!SaveChangesFirst()) return;
    const auto chosen = ChooseTemplate("Select  Fax Cover Template", true);
    if (!chosen.empty()) (void)OpenTemplate(chosen);
  });
  Delete1 = File1->addAction("&Delete", this, &TCoverDesMainScreen::DeleteTemplate);
  File1->addSeparator();
  Save1 = File1->addAction("Save", this, [this] {
    if (templateFile_.empty())
      QApplication::beep();
    else
      (void)SaveTemplate();
  });
  Save1->setShortcut(QKeySequence("Ctrl+S"));
  SaveAs1 = File1->addAction("Save &As...", this, [this] { (void)SaveTemplateAs(); });
  PreviewSavedTemplates1 = File1->addAction("Preview Saved Templates", this,
                                            [this] { (void)ChooseTemplate("Preview Fax Cover Templates", false); });
  File1->addSeparator();
  DefaultFont1 = File1->addAction(FontText(DefaultFont()), this, &TCoverDesMainScreen::ChooseDefaultFont);
  File1->addSeparator();
  Exit1 = File1->addAction("E&xit", this, &QWidget::close);
  RebuildRecentMenu();

  QMenu* edit = menuBar()->addMenu("&Edit");
  Undo1 = UndoStack->createUndoAction(this, "&Undo");
  Undo1->setObjectName("Undo1");
  Undo1->setShortcuts({QKeySequence("Ctrl+Z")});
  Redo1 = UndoStack->createRedoAction(this, "&Redo");
  Redo1->setObjectName("Redo1");
  Redo1->setShortcuts({QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")});
  edit->addAction(Undo1);
  edit->addAction(Redo1);
  edit->addSeparator();
  // Ctrl+X, Ctrl+C and Ctrl+V are the surface's own keys.
  edit->addAction("Cu&t\tCtrl+X", this, &TCoverDesMainScreen::CutSelection);
  edit->addAction("&Copy\tCtrl+C", this, &TCoverDesMainScreen::CopySelection);
  edit->addAction("&Paste\tCtrl+V", this, &TCoverDesMainScreen::PasteObjects);
  edit->addSeparator();
  edit->addAction("Align &Left", this, [this] { AlignSelection(TAlign::Left); });
  edit->addAction("Align &Right", this, [this] { AlignSelection(TAlign::Right); });
  edit->addAction("Align T&ops", this, [this] { AlignSelection(TAlign::Tops); });
  edit->addAction("Align &Bottoms", this, [this] { AlignSelection(TAlign::Bottoms); });
  edit->addAction("Distribute &Horizontally", this, [this] { DistributeSelection(Qt::Horizontal); });
  edit->addAction("Distribute &Vertically", this, [this] { DistributeSelection(Qt::Vertical); });
}

void TCoverDesMainScreen::RebuildRecentMenu() {
  for (QAction* a : recentActions_) {
    File1->removeAction(a);
    a->deleteLater();
  }
  recentActions_.clear();
  int n = 0;
  for (const std::string& file : recent_.Entries()) {
    const std::filesystem::path path(file);
    QAction* a = File1->addAction("&" + QString::number(++n) + " " + QString::fromStdString(file), this,
                                  [this, path] { UseRecent(path); });
    recentActions_.push_back(a);
  }
}

void TCoverDesMainScreen::UseRecent(const std::filesystem::path& file) {
  if (!SaveChangesFirst()) return;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    Inform(QString::fromStdString(file.string()) + " no longer exists");
    return;
  }
  (void)OpenTemplate(file);
}

void TCoverDesMainScreen::UpdateState() {
  const bool changed = ChangesMade();
  SaveButton->setVisible(changed);
  CancelButton->setVisible(changed);
  SaveButton->setText(templateFile_.empty() ? "&Save As" : "&Save");
  Save1->setEnabled(!templateFile_.empty());
  setWindowTitle(!templateFile_.empty() && !description_.empty()
                     ? QString(kTitle) + " - " + QString::fromStdString(description_)
                     : QString(kTitle));
}

void TCoverDesMainScreen::ResetUndo() {
  UndoStack->clear();
  committed_ = std::make_shared<const TSurfaceSnapshot>(TakeSnapshot(*FaxCoverPanel));
  UpdateState();
}

void TCoverDesMainScreen::SurfaceChanged() {
  auto after = std::make_shared<const TSurfaceSnapshot>(TakeSnapshot(*FaxCoverPanel));
  if (committed_ && after->Zoom == committed_->Zoom && after->Objects == committed_->Objects) {
    committed_ = after;  // a selection change only
    Properties->Refresh();
    return;
  }
  UndoStack->push(new TSurfaceEdit(*FaxCoverPanel, committed_, after, "Change"));
}

void TCoverDesMainScreen::ApplyZoom() {
  FaxCoverPanel->SetZoom(zoomPercent_ / 100.0);
  committed_ = std::make_shared<const TSurfaceSnapshot>(TakeSnapshot(*FaxCoverPanel));
  Properties->Refresh();
}

void TCoverDesMainScreen::ZoomStep(int steps) {
  const int percent = std::clamp(zoomPercent_ + steps * kZoomStepPercent, kMinZoomPercent, kMaxZoomPercent);
  if (percent == zoomPercent_) return;
  zoomPercent_ = percent;
  ApplyZoom();
  ZoomCaption->setText(QString::number(zoomPercent_) + "%");
  const QSignalBlocker block(ZoomSpinner);
  ZoomSpinner->setValue(zoomPercent_);
}

void TCoverDesMainScreen::NewTemplate() {
  FaxCoverPanel->Surface().Clear();
  FaxCoverPanel->SurfaceReplaced();
  // A new template is a new file: Save asks for its name.
  templateFile_.clear();
  description_.clear();
  ResetUndo();
}

bool TCoverDesMainScreen::OpenTemplate(const std::filesystem::path& fcsFile) {
  TCoverSurface& surface = FaxCoverPanel->Surface();
  surface.SetZoom(1.0);
  const TOpenedTemplate opened = OpenCoverTemplate(surface, fcsFile);
  if (opened.Ok) {
    templateFile_ = fcsFile;
    description_ = opened.Description;
    recent_.Use(fcsFile.string());
    TIniFile ini(iniFile_);
    recent_.Write(ini);
    (void)ini.UpdateFile();
    RebuildRecentMenu();
  } else {
    templateFile_.clear();
    description_.clear();
  }
  ApplyZoom();
  FaxCoverPanel->SurfaceReplaced();
  ResetUndo();
  if (!opened.Ok) Inform(QString::fromStdString(opened.Message));
  return opened.Ok;
}

bool TCoverDesMainScreen::SaveTemplate() {
  if (templateFile_.empty()) return SaveTemplateAs();
  const std::string stored = ReadDescription(TemplatePaths(templateFile_).Des);
  const std::string description = !stored.empty()         ? stored
                                  : !description_.empty() ? description_
                                                          : std::string("[description]");
  return SaveTemplateUnder(templateFile_, description);
}

bool TCoverDesMainScreen::SaveTemplateAs() {
  QString name, description;
  if (templateFile_.empty()) {
    name = QString::fromStdString(NextTemplateName(coversFolder_));
    description = "[Description]";
  } else {
    name = QString::fromStdString(templateFile_.filename().string());
    description = QString::fromStdString(description_);
  }
  if (!AskSaveAs(name, description)) return false;
  if (!IsTemplateFileName(name.toStdString()) || description.isEmpty()) return false;
  return SaveTemplateUnder(coversFolder_ / name.toStdString(), description.toStdString());
}

bool TCoverDesMainScreen::SaveTemplateUnder(const std::filesystem::path& fcsFile, const std::string& description) {
  std::string error;
  const bool saved = SaveCoverTemplate(FaxCoverPanel->Surface(), fcsFile, description, &error);
  // Saving works at zoom 1; the user's zoom comes back, without an undo step.
  ApplyZoom();
  FaxCoverPanel->SurfaceReplaced();
  if (!saved) {
    Inform("Unable to save " + QString::fromStdString(fcsFile.string()) + ".\r" + QString::fromStdString(error) +
           "\rThe template's previous files were left as they were.");
    return false;
  }
  // The files are written as NAME.FCS, ... whatever case the name was typed in.
  templateFile_ = TemplatePaths(fcsFile).Fcs;
  description_ = description;
  recent_.Use(templateFile_.string());
  TIniFile ini(iniFile_);
  recent_.Write(ini);
  (void)ini.UpdateFile();
  RebuildRecentMenu();
  UndoStack->setClean();
  UpdateState();
  return true;
}

void TCoverDesMainScreen::DeleteTemplate() {
  const std::filesystem::path file = ChooseFileToDelete();
  if (file.empty()) return;
  if (!SameTextNoCase(file.extension().string(), ".FCS")) {
    Inform("Must be a FCS (Fax Cover Template) file");
    return;
  }
  if (!Ask("Delete " + QString::fromStdString(file.string()) + "?", "CONFIRM")) return;
  DeleteCoverTemplate(file);
  if (SameFile(file, templateFile_)) {
    templateFile_.clear();
    description_.clear();
    UpdateState();
  }
}

void TCoverDesMainScreen::CancelChanges() {
  if (!Ask("Cancel all changes?", "CANCEL")) return;
  if (templateFile_.empty())
    NewTemplate();
  else
    (void)OpenTemplate(templateFile_);
}

bool TCoverDesMainScreen::SaveChangesFirst() {
  if (!ChangesMade() || !Ask("Save changes?", "Save")) return true;
  return SaveTemplate();
}

void TCoverDesMainScreen::ChooseDefaultFont() {
  TCoverFont& f = FaxCoverPanel->Surface().DefaultFont;
  if (!AskForCoverFont(this, f)) return;
  DefaultFont1->setText(FontText(f));
  TIniFile ini(iniFile_);
  ini.WriteString(kFontSection, "Name", f.Name);
  ini.WriteInteger(kFontSection, "Size", f.Size);
  ini.WriteBool(kFontSection, "Bold", f.Bold);
  ini.WriteBool(kFontSection, "Italic", f.Italic);
  ini.WriteBool(kFontSection, "Underline", f.Underline);
  (void)ini.UpdateFile();
}

void TCoverDesMainScreen::CopySelection() {
  if (FaxCoverPanel->Surface().Selection().empty()) return;
  FaxCoverPanel->ClipboardWrite(FaxCoverPanel->Surface().CopySelection());
}

void TCoverDesMainScreen::CutSelection() {
  if (FaxCoverPanel->Surface().Selection().empty()) return;
  CopySelection();
  FaxCoverPanel->Surface().DeleteSelection();
  FaxCoverPanel->Changed();
}

void TCoverDesMainScreen::PasteObjects() {
  const std::optional<std::string> bytes = FaxCoverPanel->ClipboardRead();
  if (bytes && FaxCoverPanel->Surface().Paste(*bytes, FaxCoverPanel->PasteOffset)) FaxCoverPanel->Changed();
}

void TCoverDesMainScreen::Nudge(int dx, int dy, bool fine) {
  TCoverSurface& s = FaxCoverPanel->Surface();
  if (s.Selection().empty()) return;
  const int step = fine ? 1 : s.GridStep();
  // One pixel at a time, so that the surface's edge stops the selection.
  for (int i = 0; i < step * std::abs(dx); ++i) s.ArrowKey(dx < 0 ? TArrowKey::Left : TArrowKey::Right, false);
  for (int i = 0; i < step * std::abs(dy); ++i) s.ArrowKey(dy < 0 ? TArrowKey::Up : TArrowKey::Down, false);
  FaxCoverPanel->Changed();
}

void TCoverDesMainScreen::AlignSelection(TAlign how) {
  if (FaxCoverPanel->Surface().Selection().size() < 2) return;
  FaxCoverPanel->Surface().Align(how);
  FaxCoverPanel->Changed();
}

void TCoverDesMainScreen::DistributeSelection(Qt::Orientation orientation) {
  if (FaxCoverPanel->Surface().Selection().size() < 3) return;
  FaxCoverPanel->Surface().Distribute(orientation == Qt::Horizontal);
  FaxCoverPanel->Changed();
}

void TCoverDesMainScreen::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  RestorePlacement(this);
  if (!recent_.Entries().empty()) {
    std::error_code ec;
    const std::filesystem::path last(recent_.Entries().front());
    if (std::filesystem::exists(last, ec)) (void)OpenTemplate(last);
  }
  ResetUndo();
  FaxCoverPanel->setFocus();
}

void TCoverDesMainScreen::closeEvent(QCloseEvent* event) {
  // A save that failed or was cancelled keeps the window, and the work, open.
  if (!SaveChangesFirst()) {
    event->ignore();
    return;
  }
  const TCoverFont& f = DefaultFont();
  TIniFile ini(iniFile_);
  ini.WriteString(kFontSection, "Name", f.Name);
  ini.WriteInteger(kFontSection, "Size", f.Size);
  ini.WriteBool(kFontSection, "Bold", f.Bold);
  ini.WriteBool(kFontSection, "Italic", f.Italic);
  ini.WriteBool(kFontSection, "Underline", f.Underline);
  (void)ini.UpdateFile();
  SavePlacement(this);
  event->accept();
}

bool TCoverDesMainScreen::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FaxCoverPanel) return QMainWindow::eventFilter(watched, event);
  // Clicks and keys may change the selection; the properties follow after.
  if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease ||
      event->type() == QEvent::ContextMenu)
    QTimer::singleShot(0, Properties, &TCoverProperties::Refresh);
  if (event->type() == QEvent::KeyRelease) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & Qt::KeypadModifier) && (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Minus)) {
      ZoomStep(key->key() == Qt::Key_Plus ? 1 : -1);
      return true;
    }
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  QScrollBar* bar = ScrollBox->verticalScrollBar();
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  switch (key->key()) {
    case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); return true;
    case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); return true;
    case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); return true;
    case Qt::Key_End: bar->triggerAction(QAbstractSlider::SliderToMaximum); return true;
    case Qt::Key_Plus:
    case Qt::Key_Minus: return (key->modifiers() & Qt::KeypadModifier) != 0;  // zoom on release
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: {
      // Ctrl+arrow is the surface's own resize by one pixel.
      if (mods & Qt::ControlModifier) {
        const TArrowKey arrow = key->key() == Qt::Key_Left    ? TArrowKey::Left
                                : key->key() == Qt::Key_Right ? TArrowKey::Right
                                : key->key() == Qt::Key_Up    ? TArrowKey::Up
                                                              : TArrowKey::Down;
        FaxCoverPanel->Surface().ArrowKey(arrow, true);
        FaxCoverPanel->Changed();
        return true;
      }
      const int dx = key->key() == Qt::Key_Left ? -1 : key->key() == Qt::Key_Right ? 1 : 0;
      const int dy = key->key() == Qt::Key_Up ? -1 : key->key() == Qt::Key_Down ? 1 : 0;
      Nudge(dx, dy, (mods & Qt::ShiftModifier) != 0);
      return true;
    }
    default: return false;
  }
}
