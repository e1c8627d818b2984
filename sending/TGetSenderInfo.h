#pragma once
// The sender information window ("Sender Information"): the user's name,
// fax number (the station identifier), voice number and company. Accept
// stores them in the settings and writes the settings file.

#include <QDialog>

class QPushButton;
class TEnterEdit;

class TGetSenderInfo : public QDialog {
  Q_OBJECT

 public:
  explicit TGetSenderInfo(QWidget* parent = nullptr);

  TEnterEdit *Name, *FaxNumber, *Voicenumber, *Company;
  QPushButton *OKButton, *CancelButton;

 public slots:
  void OKButtonClick();
  void CancelButtonClick();
};
