#pragma once
// The init string helper: the user says which modem they have (and, for
// sending, whether it hangs up too early) and gets a matching modem
// initialisation string.

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

class TModemInitStringHelperForm : public QDialog {
  Q_OBJECT
 public:
  // Modal results of the three buttons.
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;
  static constexpr int kLeaveBlank = -99;

  // Preset from current; the hang-up box is shown only for a sending string.
  TModemInitStringHelperForm(const QString& current, bool forSending, QWidget* parent = nullptr);

  // The string after the window closed: the composed one for "Ok", empty for
  // "Leave it Blank", the current one otherwise.
  const QString& Result() const { return result_; }

  QComboBox* ModemType = nullptr;
  QCheckBox* CheckAT7 = nullptr;
  QLabel* CheckAT7Label = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* BlankButton = nullptr;

 public slots:
  void OKButtonClick();
  void CancelButtonClick();
  void BlankButtonClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool forSending_;
  QString result_;
};

// Shows the helper modally and returns the new string.
QString InitStringHelper(const QString& current, bool forSending, QWidget* parent = nullptr);
