#pragma once
// TCoverDesMainScreen: the cover page designer. One design surface in a
// scrolling area, a tool bar of drawing tools, grid toggles and the zoom,
// the File menu with the recently used templates, and the commands that
// make, open, save, preview and delete templates. Every change of the
// objects goes onto an undo stack; the clean state of that stack is the
// window's "changes made" flag.

#include <QMainWindow>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "cover/CoverUndo.h"
#include "cover/core/CoverSurface.h"
#include "cover/core/RecentTemplates.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QToolBar;
class QUndoStack;
class TCoverProperties;
class TFaxCoverPanel;

// The private clipboard format of copied objects: their component stream.
inline constexpr char kCoverObjectsMimeType[] = "application/x-corvane-cover-objects";

class TCoverDesMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  // Templates live in coversFolder, settings in iniFile; empty paths mean
  // the program's Covers folder and its settings file.
  explicit TCoverDesMainScreen(QWidget* parent = nullptr, std::filesystem::path coversFolder = {},
                               std::filesystem::path iniFile = {});
  ~TCoverDesMainScreen() override;

  // The template being edited (.FCS, empty while unnamed) and its description.
  const std::filesystem::path& TemplateFile() const { return templateFile_; }
  const std::string& Description() const { return description_; }
  bool ChangesMade() const;
  int ZoomPercent() const { return zoomPercent_; }
  const TRecentTemplates& Recent() const { return recent_; }
  const TCoverFont& DefaultFont() const;

  // The commands of the menus and buttons.
  void NewTemplate();
  bool OpenTemplate(const std::filesystem::path& fcsFile);
  bool SaveTemplate();  // Save As while unnamed
  bool SaveTemplateAs();
  bool SaveTemplateUnder(const std::filesystem::path& fcsFile, const std::string& description);
  void DeleteTemplate();
  void CancelChanges();
  void ZoomStep(int steps);  // by 10 %, from 50 % to 150 %
  void CopySelection();
  void CutSelection();
  void PasteObjects();
  // Moves the selection by a grid step, or by one pixel when fine.
  void Nudge(int dx, int dy, bool fine);
  // Makes every selected object's left edges, tops, ... meet, or spreads
  // three or more evenly between the outermost ones.
  void AlignSelection(TAlign how);
  void DistributeSelection(Qt::Orientation orientation);

  // Dialogs the commands open; tests answer them without a window.
  std::function<bool(const QString& text, const QString& caption)> Ask;
  std::function<void(const QString& text)> Inform;
  // Name (file name only) and description to save under; false cancels.
  std::function<bool(QString& name, QString& description)> AskSaveAs;
  // The template chosen in the chooser (title, with an "Ok"); empty cancels.
  std::function<std::filesystem::path(const QString& title, bool withOk)> ChooseTemplate;
  std::function<std::filesystem::path()> ChooseFileToDelete;

  TFaxCoverPanel* FaxCoverPanel = nullptr;
  QScrollArea* ScrollBox = nullptr;
  QToolBar* ToolBar = nullptr;
  // Pointer, text, symbol, rectangle, ellipse, round rectangle, line, field,
  // message and importance, in the order of TLPanelState's values.
  std::array<QAction*, 10> ToolButtons{};
  QAction* ShowGridButton = nullptr;
  QAction* SnapToGridButton = nullptr;
  QSpinBox* ZoomSpinner = nullptr;
  QLabel* ZoomCaption = nullptr;
  QPushButton* HelpButton = nullptr;
  QPushButton* SaveButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* QuickTipsButton = nullptr;
  QPushButton* ExitButton = nullptr;
  QMenu* File1 = nullptr;
  QAction* New1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* Save1 = nullptr;
  QAction* SaveAs1 = nullptr;
  QAction* PreviewSavedTemplates1 = nullptr;
  QAction* DefaultFont1 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* Undo1 = nullptr;
  QAction* Redo1 = nullptr;
  QUndoStack* UndoStack = nullptr;
  // The selected object's properties, docked beside the surface.
  TCoverProperties* Properties = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void SurfaceChanged();
  void ResetUndo();
  void UpdateState();
  void RebuildRecentMenu();
  void UseRecent(const std::filesystem::path& file);
  void ChooseDefaultFont();
  // Asks to save unsaved changes; false when the user's save did not happen.
  bool SaveChangesFirst();
  void ApplyZoom();

  std::filesystem::path coversFolder_;
  std::filesystem::path iniFile_;
  std::filesystem::path templateFile_;
  std::string description_;
  int zoomPercent_ = 100;
  TRecentTemplates recent_;
  std::vector<QAction*> recentActions_;
  TSurfaceEdit::Shared committed_;  // the objects as the last undo step left them
  bool shown_ = false;
};
