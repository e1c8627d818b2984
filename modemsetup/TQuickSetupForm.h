#pragma once
// The quick setup of the first start: only the port, the user's name and fax
// number. "Ok" and "Preferences" store and write them; "Preferences" then
// leads on to the wizard.

#include <QDialog>

#include "faxengine/port/ComPort.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TQuickSetupForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;
  static constexpr int kPreferences = -99;

  // Reads the settings file and loads the fields from it.
  explicit TQuickSetupForm(QWidget* parent = nullptr);

  QComboBox* ComPort = nullptr;
  QPushButton* FindModemButton = nullptr;
  QLineEdit* Name = nullptr;
  QLineEdit* FaxNumber = nullptr;
  QLabel* ValidationLabel = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* PreferencesButton = nullptr;

 public slots:
  void FindModemButtonClick();
  void OkButtonClick();
  void CancelButtonClick();
  void PreferencesButtonClick();

 private:
  // Stores the three settings and writes all of them; false (with the reason
  // shown in the window) when a field cannot be stored.
  bool Store();

  TFxComPort port_;
};

// Shows the quick setup modally; true when "Ok" or "Preferences" was pressed
// (after "Preferences" the wizard has run).
bool RunQuickSetup(QWidget* parent = nullptr);
// The same without waiting: the window opens over parent (which must not be
// null) and the wizard follows "Preferences" when it closes. The window
// deletes itself when closed.
QDialog* OpenQuickSetup(QWidget* parent);
