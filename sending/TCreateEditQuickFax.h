#pragma once
// The cover sheet editor ("Fax Cover Sheet Editor"): recipient, number,
// regarding text, notes, codes, the message and the importance flags of one
// cover sheet, the template it is drawn from and the sender information.
// Save renders the cover and stores it with its side file and the outgoing
// row.

#include <QDialog>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "cover/core/SideFile.h"
#include "sending/QuickFaxSave.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TEnterEdit;
class TXbDataTable;

class TCreateEditQuickFax : public QDialog {
  Q_OBJECT

 public:
  // Saving appends a row to `table` (`isNew`) or rewrites the current row,
  // whose cover (when it has one) is then read from its side file.
  TCreateEditQuickFax(TXbDataTable& table, bool isNew, QWidget* parent = nullptr);
  ~TCreateEditQuickFax() override;

  const std::string& TemplateName() const { return side_.Template; }
  // The cover image written by the last save (empty before).
  const std::filesystem::path& SavedCover() const { return savedCover_; }
  // The sheet as Save would store it now (texts in their stored form).
  [[nodiscard]] TQuickFaxSheet CollectSheet();
  void SetTemplateName(const std::string& name);

  TEnterEdit *Recipient, *RecipientFax, *Regarding, *Notes, *Codes;
  QPlainTextEdit* FaxMessage;
  QCheckBox *cUrgent, *cForReview, *cPleaseComment, *cPleaseReply, *cPleaseRecycle;
  QLabel* CurrentQFileLabel;
  QPushButton *PhonebookButton, *HelpButton, *SelectTemplateButton, *ChangeSenderButton, *SaveButton, *CancelButton;

 signals:
  // After a save attempt: saved or not (the reason has been shown).
  void SaveFinished(bool saved);

 public slots:
  void PhonebookButtonClick();
  void HelpButtonClick();
  void SelectTemplateButtonClick();
  void ChangeSenderButtonClick();
  void SaveButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildLayout();
  void LoadRow();
  std::array<QCheckBox*, kImportanceBoxes> FlagBoxes() const;
  void SetSenderHint(bool noneText);
  // Checks the fields; false after telling the user what is missing.
  bool Complete();
  void FinishSave(const TCoverWriteResult& written, const TQuickFaxSheet& sheet, const std::filesystem::path& target);

  TXbDataTable& table_;
  bool isNew_;
  uint32_t recno_ = 0;
  TCoverSideFile side_;
  std::filesystem::path existingCover_;
  std::filesystem::path savedCover_;
};
