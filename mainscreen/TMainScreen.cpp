#include "mainscreen/TMainScreen.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "shell/SingleInstance.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainScreen");
  // Ends this process here when another copy runs.
  JustOne1 = new TJustOne(this);
  setWindowTitle("Corvane");
  resize(760, 520);
  SetApplicationWindow(this);

  QMenu* file = menuBar()->addMenu("&File");
  QAction* exit = file->addAction("E&xit");
  exit->setShortcut(QKeySequence("Ctrl+X"));
  connect(exit, &QAction::triggered, this, &TMainScreen::ExitClick);
  QMenu* help = menuBar()->addMenu("&Help");
  connect(help->addAction("Help &Contents"), &QAction::triggered, this, [] { ShowHelpContext(HelpTopic::Contents); });
  connect(help->addAction("Problem Solver"), &QAction::triggered, this, [] { ShowProblemSolver(); });

  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName("StatusLabel");
  statusBar()->addWidget(StatusLabel, 1);
  FormCreate();
}

TMainScreen::~TMainScreen() = default;

void TMainScreen::FormCreate() {
  ReadSettings();
  if (Settings.ComPort == -1) {
    firstRun_ = true;
    Settings.ComPort = 0;
  }
  SetApplicationHelpFile(QString::fromStdString(ProgramFolder()) + "CV.hlp");
  MakeFolders();
}

void TMainScreen::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (firstActivation_) {
    // After the window system has mapped the window, so frame sizes are known.
    QTimer::singleShot(0, this, &TMainScreen::FormActivate);
  }
}

void TMainScreen::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && !firstActivation_) FormActivate();
  QMainWindow::changeEvent(e);
}

void TMainScreen::FormActivate() {
  if (!firstActivation_) return;
  firstActivation_ = false;
  RestorePlacement(this);
}

void TMainScreen::ExitClick() { close(); }

void TMainScreen::closeEvent(QCloseEvent* e) {
  if (!closed_) {
    closed_ = true;
    // Settings first, so that a new file starts with the settings sections.
    WriteSettings();
    SavePlacement(this);
  }
  e->accept();
}
