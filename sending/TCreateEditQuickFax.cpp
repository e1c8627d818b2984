#include "sending/TCreateEditQuickFax.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

#include <system_error>

#include "sending/TEnterEdit.h"
#include "sending/TGetSenderInfo.h"
#include "sending/TPhoneBook.h"
#include "sending/TPreviewQuickFaxForms.h"
#include "shell/Dialogs.h"
#include "shell/Help.h"
#include "shell/Placement.h"
#include "shell/core/Folders.h"
#include "shell/core/Files.h"
#include "shell/core/Settings.h"
#include "store/StoreText.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

// Widths of the outgoing table's fields: the editor holds no more than the
// row keeps, so the cover and the row always show the same text.
constexpr int kRecipientWidth = 35;
constexpr int kPhoneWidth = 25;
constexpr int kSubjectWidth = 50;
constexpr int kNotesWidth = 50;
constexpr int kCodesWidth = 25;

// Any text in the form the tables store it, without a width limit.
QString Stored(const QString& text) { return TableText(ToTableText(text)); }
std::string StoredUtf8(const std::string& utf8) { return Stored(QString::fromStdString(utf8)).toStdString(); }

}  // namespace

TCreateEditQuickFax::TCreateEditQuickFax(TXbDataTable& table, bool isNew, QWidget* parent)
    : QDialog(parent), table_(table), isNew_(isNew) {
  setObjectName("TCreateEditQuickFax");
  setWindowTitle("Fax Cover Sheet Editor");
  BuildLayout();
  if (!isNew_) LoadRow();
}

TCreateEditQuickFax::~TCreateEditQuickFax() = default;

void TCreateEditQuickFax::BuildLayout() {
  Recipient = TEnterEdit::Make(this, "Recipient", kRecipientWidth);
  RecipientFax = TEnterEdit::Make(this, "RecipientFax", kPhoneWidth);
  Regarding = TEnterEdit::Make(this, "Regarding", kSubjectWidth);
  Notes = TEnterEdit::Make(this, "Notes", kNotesWidth);
  Codes = TEnterEdit::Make(this, "Codes", kCodesWidth);
  Recipient->setMinimumWidth(Recipient->fontMetrics().averageCharWidth() * (kRecipientWidth + 2));
  FaxMessage = new QPlainTextEdit(this);
  FaxMessage->setObjectName("FaxMessage");
  FaxMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FaxMessage->setTabChangesFocus(true);

  auto* flags = new QGroupBox("Importance Flags", this);
  auto* flagLayout = new QVBoxLayout(flags);
  auto box = [&](const char* name, const char* caption) {
    auto* c = new QCheckBox(caption, flags);
    c->setObjectName(name);
    flagLayout->addWidget(c);
    return c;
  };
  cUrgent = box("cUrgent", "Urgent");
  cForReview = box("cForReview", "For Review");
  cPleaseComment = box("cPleaseComment", "Please Comment");
  cPleaseReply = box("cPleaseReply", "Please Reply");
  cPleaseRecycle = box("cPleaseRecycle", "Please Recycle");

  CurrentQFileLabel = new QLabel(this);
  CurrentQFileLabel->setObjectName("CurrentQFileLabel");
  PhonebookButton = NamedButton(this, "PhonebookButton", "&Phonebook");
  HelpButton = NamedButton(this, "HelpButton", "&Help");
  SelectTemplateButton = NamedButton(this, "SelectTemplateButton", "&Select Fax Cover Template");
  ChangeSenderButton = NamedButton(this, "ChangeSenderButton", "&Change Sender Info");
  SaveButton = NamedButton(this, "SaveButton", "&Save");
  SaveButton->setDefault(true);
  CancelButton = NamedButton(this, "CancelButton", "Cance&l");

  auto* form = new QFormLayout;
  form->addRow("Recipient", Recipient);
  form->addRow("Recipient Fax #", RecipientFax);
  form->addRow("Regarding", Regarding);
  form->addRow("Notes", Notes);
  form->addRow("Codes", Codes);
  auto* side = new QVBoxLayout;
  side->addWidget(PhonebookButton);
  side->addWidget(flags);
  side->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(form, 1);
  top->addLayout(side);
  auto* templateRow = new QHBoxLayout;
  templateRow->addWidget(new QLabel("Template:", this));
  templateRow->addWidget(CurrentQFileLabel, 1);
  templateRow->addWidget(SelectTemplateButton);
  templateRow->addWidget(ChangeSenderButton);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  for (QPushButton* b : {SaveButton, CancelButton, HelpButton}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(new QLabel("Message", this));
  layout->addWidget(FaxMessage, 1);
  layout->addLayout(templateRow);
  layout->addLayout(buttons);

  connect(PhonebookButton, &QPushButton::clicked, this, &TCreateEditQuickFax::PhonebookButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TCreateEditQuickFax::HelpButtonClick);
  connect(SelectTemplateButton, &QPushButton::clicked, this, &TCreateEditQuickFax::SelectTemplateButtonClick);
  connect(ChangeSenderButton, &QPushButton::clicked, this, &TCreateEditQuickFax::ChangeSenderButtonClick);
  connect(SaveButton, &QPushButton::clicked, this, &TCreateEditQuickFax::SaveButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TCreateEditQuickFax::CancelButtonClick);
}

std::array<QCheckBox*, kImportanceBoxes> TCreateEditQuickFax::FlagBoxes() const {
  return {cUrgent, cForReview, cPleaseComment, cPleaseReply, cPleaseRecycle};
}

void TCreateEditQuickFax::LoadRow() {
  if (!table_.Active() || table_.Eof()) return;
  recno_ = table_.RecNo();
  const std::string cover = table_.FieldText("FAXCOVER");
  if (!cover.empty()) {
    existingCover_ = ResolveNoCase(SendFolder(), cover);
    // No side file: the default template, no flags, an empty message.
    if (auto found = ReadCoverSideFile(ResolveNoCase(SendFolder(), SideFilePath(cover).string()))) {
      side_ = *found;
      QStringList lines;
      for (const std::string& l : side_.MessageLines) lines << TableText(l);
      FaxMessage->setPlainText(lines.join('\n'));
    }
  }
  const auto flags = side_.Flags();
  const auto boxes = FlagBoxes();
  for (size_t i = 0; i < boxes.size(); ++i) boxes[i]->setChecked(flags[i]);
  Recipient->setText(FitTableText(TableText(table_.FieldText("RECIPIENT")), kRecipientWidth));
  RecipientFax->setText(FitTableText(TableText(table_.FieldText("PHONE")), kPhoneWidth));
  Regarding->setText(FitTableText(TableText(table_.FieldText("SUBJECT")), kSubjectWidth));
  Notes->setText(FitTableText(TableText(table_.FieldText("NOTES")), kNotesWidth));
  Codes->setText(FitTableText(TableText(table_.FieldText("CODES")), kCodesWidth));
}

void TCreateEditQuickFax::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CurrentQFileLabel->setText(QString::fromStdString(side_.Template));
  SetSenderHint(true);
}

void TCreateEditQuickFax::SetSenderHint(bool noneText) {
  const QString hint = QString::fromStdString(Settings.Name + "\r" + Settings.Company + "\r" + Settings.Fax + "\r" +
                                              Settings.Voice);
  const bool none = Settings.Name.empty() && Settings.Company.empty() && Settings.Fax.empty() && Settings.Voice.empty();
  ChangeSenderButton->setToolTip(noneText && none ? QString("No sender information entered") : hint);
}

void TCreateEditQuickFax::SetTemplateName(const std::string& name) {
  side_.Template = name;
  CurrentQFileLabel->setText(QString::fromStdString(name));
}

void TCreateEditQuickFax::PhonebookButtonClick() {
  QString name, number;
  if (!TPhoneBook::Choose(ProgramFolder(), this, name, number)) return;
  Recipient->setText(FitTableText(name, kRecipientWidth));
  RecipientFax->setText(FitTableText(number, kPhoneWidth));
}

void TCreateEditQuickFax::HelpButtonClick() { ShowHelpContext(HelpTopic::CoverSheetEditor); }

void TCreateEditQuickFax::SelectTemplateButtonClick() {
  TPreviewQuickFaxForms chooser(CoversFolder(), QString::fromStdString(side_.Template), this);
  if (chooser.exec() == QDialog::Accepted) SetTemplateName(chooser.ChosenName().toStdString());
}

void TCreateEditQuickFax::ChangeSenderButtonClick() {
  TGetSenderInfo sender(this);
  sender.exec();
  SetSenderHint(false);
}

bool TCreateEditQuickFax::Complete() {
  if (Recipient->text().isEmpty()) {
    ShowInformation("Please enter a recipient");
    Recipient->setFocus();
    return false;
  }
  if (RecipientFax->text().isEmpty()) {
    ShowInformation("Please enter a recipient fax number");
    RecipientFax->setFocus();
    return false;
  }
  if (Regarding->text().isEmpty() && FaxMessage->toPlainText().isEmpty()) {
    ShowInformation("Please enter text for the \"regarding\" field\rand/or enter a message");
    Regarding->setFocus();
    return false;
  }
  return true;
}

TQuickFaxSheet TCreateEditQuickFax::CollectSheet() {
  TQuickFaxSheet sheet;
  const QString recipient = FitTableText(Recipient->text(), kRecipientWidth);
  const QString phone = FitTableText(RecipientFax->text(), kPhoneWidth);
  const QString regarding = FitTableText(Regarding->text(), kSubjectWidth);
  sheet.Recipient = ToTableText(recipient);
  sheet.Phone = ToTableText(phone);
  sheet.Subject = ToTableText(regarding);
  sheet.Notes = ToTableText(FitTableText(Notes->text(), kNotesWidth));
  sheet.Codes = ToTableText(FitTableText(Codes->text(), kCodesWidth));

  // The message shows what the side file and the cover will hold.
  const QString message = Stored(FaxMessage->toPlainText());
  if (message != FaxMessage->toPlainText()) FaxMessage->setPlainText(message);
  sheet.Message = message.toStdString();

  const QLocale locale = QLocale::system();
  auto& t = sheet.Values.Texts;
  t[cfDate] = locale.toString(QDate::currentDate(), QLocale::LongFormat).toStdString();
  t[cfTime] = locale.toString(QTime::currentTime(), QLocale::ShortFormat).toStdString();
  t[cfRegarding] = regarding.toStdString();
  t[cfRecipient] = recipient.toStdString();
  t[cfRecipientFax] = phone.toStdString();
  t[cfSender] = StoredUtf8(Settings.Name);
  t[cfSenderCompany] = StoredUtf8(Settings.Company);
  t[cfSenderFax] = StoredUtf8(Settings.Fax);
  t[cfSenderVoice] = StoredUtf8(Settings.Voice);
  const auto boxes = FlagBoxes();
  for (size_t i = 0; i < boxes.size(); ++i) sheet.Values.Importance[i] = boxes[i]->isChecked();

  sheet.Side.Template = side_.Template;
  sheet.Side.SetFlags(sheet.Values.Importance);
  if (!message.isEmpty())
    for (const QString& line : message.split('\n')) sheet.Side.MessageLines.push_back(ToTableText(line));
  return sheet;
}

void TCreateEditQuickFax::SaveButtonClick() {
  if (!Complete()) return;
  const TQuickFaxSheet sheet = CollectSheet();
  // An existing cover is rewritten in place; a new one takes the next free name.
  const fs::path target = existingCover_.empty() ? fs::path(NextSendFileName("COV")) : existingCover_;
  const fs::path fct = ResolveNoCase(CoversFolder(), side_.Template);
  // A one-page cover renders in a few milliseconds: no need to leave the GUI thread.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TCoverWriteResult written = WriteCoverFiles(target, fct, sheet);
  QApplication::restoreOverrideCursor();
  FinishSave(written, sheet, target);
}

void TCreateEditQuickFax::FinishSave(const TCoverWriteResult& written, const TQuickFaxSheet& sheet,
                                     const fs::path& target) {
  if (!written.Ok) {
    ShowInformation(written.Error);
    emit SaveFinished(false);
    return;
  }
  if (!StoreQuickFaxRow(table_, isNew_, recno_, sheet, target.filename().string())) {
    // No row names a cover that is not kept, and no cover is kept that no row names.
    if (existingCover_.empty()) {
      std::error_code ec;
      fs::remove(target, ec);
      fs::remove(SideFilePath(target), ec);
    }
    ShowInformation("The fax could not be stored in the outgoing fax table.");
    emit SaveFinished(false);
    return;
  }
  savedCover_ = target;
  if (existingCover_.empty()) existingCover_ = target;
  emit SaveFinished(true);
  done(QDialog::Accepted);
}

void TCreateEditQuickFax::CancelButtonClick() { reject(); }
