#pragma once
// The main window: it lives for the whole run, reads the settings and makes
// the folders when it is created, restores its placement when first shown,
// and stores its placement and all settings when it closes.

#include <QMainWindow>

class TJustOne;
class QLabel;

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);
  ~TMainScreen() override;

  // The first-run flag: no serial port has ever been chosen.
  bool FirstRun() const { return firstRun_; }

 public slots:
  void FormCreate();
  void FormActivate();
  void ExitClick();

 protected:
  void changeEvent(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  TJustOne* JustOne1;
  QLabel* StatusLabel;
  bool firstActivation_ = true;
  bool firstRun_ = false;
  bool closed_ = false;
};
