#pragma once
// The "Starting Receive mode..." notice: a small dialog without title-bar
// buttons that first says receive mode is starting, then that it is on. It
// hides itself 15 seconds after it was shown.

#include <QDialog>

class QCheckBox;
class QFrame;
class QPushButton;
class QTimer;

class TStartingFaxForm : public QDialog {
  Q_OBJECT
 public:
  explicit TStartingFaxForm(QWidget* parent = nullptr);

  // Only the starting panel ("Please wait ...").
  void ShowStartingPanel();
  // The ready panel with "Ok" and "Do not show this again".
  void ShowReadyPanel();

  QFrame* ReadyPanel;
  QFrame* StartingPanel;
  QCheckBox* DontShowCheckBox;
  QPushButton* OkButton;
  QTimer* Timer1;

 public slots:
  void OkButtonClick();
  void DontShowCheckBoxClick();
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
};
