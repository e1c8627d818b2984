// The wizard's pages and buttons, laid out once when it is created.

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "modemsetup/PreferenceFields.h"
#include "modemsetup/PortChoice.h"
#include "modemsetup/TPreferences.h"
#include "shell/Help.h"
#include "shell/core/Settings.h"

namespace {

const char* const kPageNames[TPreferences::kPageCount] = {
    "Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
    "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
    "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced"};

template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

QComboBox* Choices(QWidget* parent, const char* name, const QStringList& items) {
  auto* box = Named(new QComboBox(parent), name);
  box->addItems(items);
  return box;
}

QStringList Rates() { return {"2400", "4800", "7200", "9600", "12000", "14400"}; }
QStringList Classes() { return {"auto detect", "class 1", "class 2", "class 2.0"}; }

}  // namespace

void TPreferences::BuildPages() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  PageLabel = Named(new QLabel(this), "PageLabel");
  QFont bold = PageLabel->font();
  bold.setBold(true);
  PageLabel->setFont(bold);
  PageCombo = Named(new QComboBox(this), "PageCombo");
  for (const char* name : kPageNames) PageCombo->addItem(name);
  top->addWidget(PageLabel, 1);
  top->addWidget(PageCombo);
  layout->addLayout(top);
  Pages = Named(new QStackedWidget(this), "Pages");
  layout->addWidget(Pages, 1);

  auto page = [this](const char* name) {
    auto* w = Named(new QWidget(Pages), name);
    Pages->addWidget(w);
    return w;
  };
  auto button = [](QWidget* parent, const char* name, const char* caption) {
    return Named(new QPushButton(caption, parent), name);
  };

  QWidget* p0 = page("Page0");
  auto* l0 = new QVBoxLayout(p0);
  l0->addWidget(Text("This wizard takes you through the settings for your modem, for sending faxes and for "
                     "receiving faxes. Use \"Next >\" and \"< Back\" to move between the pages, or choose a page "
                     "from the list above. Nothing is saved until you press \"Finish\".",
                     p0));
  FirstTimeLabel = Named(Text("While the default settings will work for most people, be sure to verify that the "
                              "COMMUNICATIONS PORT and FAX CLASS settings are correct before continuing to use the "
                              "program.",
                              p0),
                         "FirstTimeLabel");
  FirstTimeLabel->hide();
  l0->addWidget(FirstTimeLabel);
  l0->addStretch();

  QWidget* p1 = page("Page1");
  auto* l1 = new QFormLayout(p1);
  ComPort = Choices(p1, "ComPort", {});
  FillPortChoices(ComPort, port_);
  FindModemButton = button(p1, "FindModemButton", "Find Modem Port");
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(ComPort, 1);
  portRow->addWidget(FindModemButton);
  l1->addRow("Communications port:", portRow);
  ToneOrPulse = Choices(p1, "ToneOrPulse", {"Tone", "Pulse"});
  l1->addRow("Dialing:", ToneOrPulse);
  ResetString = Named(new QLineEdit(p1), "ResetString");
  l1->addRow("Reset string:", ResetString);
  ResetAfterString = Named(new QLineEdit(p1), "ResetAfterString");
  l1->addRow("After reset string:", ResetAfterString);

  QWidget* p2 = page("Page2");
  auto* l2 = new QFormLayout(p2);
  FaxClass = Choices(p2, "FaxClass", Classes());
  CheckFaxClassButton = button(p2, "CheckFaxClassButton", "Check Fax Class");
  auto* classRow = new QHBoxLayout;
  classRow->addWidget(FaxClass, 1);
  classRow->addWidget(CheckFaxClassButton);
  l2->addRow("Fax class:", classRow);
  TransferRate = Choices(p2, "TransferRate", Rates());
  l2->addRow("Maximum transfer rate:", TransferRate);
  ModemInit = Named(new QLineEdit(p2), "ModemInit");
  l2->addRow("Modem init string:", ModemInit);
  InitHelpButton = button(p2, "InitHelpButton", "Help with Init Strings");
  l2->addRow("", InitHelpButton);

  QWidget* p3 = page("Page3");
  auto* l3 = new QFormLayout(p3);
  FaxNumber = Named(new QLineEdit(p3), "FaxNumber");
  FaxNumber->setMaxLength(20);
  l3->addRow("Your fax number:", FaxNumber);
  Name = Named(new QLineEdit(p3), "Name");
  Name->setMaxLength(35);
  l3->addRow("Your name:", Name);
  UseECM = Named(new QCheckBox("Use fax error control (ECM)", p3), "UseECM");
  l3->addRow("", UseECM);
  DialPrefix = Named(new QLineEdit(p3), "DialPrefix");
  l3->addRow("Dial prefix:", DialPrefix);
  DialSuffix = Named(new QLineEdit(p3), "DialSuffix");
  l3->addRow("Dial suffix:", DialSuffix);

  QWidget* p4 = page("Page4");
  auto* l4 = new QFormLayout(p4);
  DialAttempts = Named(new QLineEdit(p4), "DialAttempts");
  l4->addRow("Dial attempts:", DialAttempts);
  RetryWait = Named(new QLineEdit(p4), "RetryWait");
  l4->addRow("Wait between attempts (seconds):", RetryWait);
  CheckBlindDial = Named(new QCheckBox("Blind dialing (do not wait for a dial tone)", p4), "CheckBlindDial");
  l4->addRow("", CheckBlindDial);
  CheckIgnoreBusy = Named(new QCheckBox("Ignore the busy signal", p4), "CheckIgnoreBusy");
  l4->addRow("", CheckIgnoreBusy);
  RenegotiateBetween = Named(new QCheckBox("Renegotiate between pages", p4), "RenegotiateBetween");
  l4->addRow("", RenegotiateBetween);

  QWidget* p5 = page("Page5");
  auto* l5 = new QFormLayout(p5);
  auto sameRow = [](QWidget* field, QPushButton* a, QPushButton* b = nullptr) {
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(a);
    if (b) row->addWidget(b);
    return row;
  };
  FaxClassReceive = Choices(p5, "FaxClassReceive", Classes());
  CheckFaxClassReceiveButton = button(p5, "CheckFaxClassReceiveButton", "Check Fax Class");
  SameClassButton = button(p5, "SameClassButton", "Same as SEND");
  l5->addRow("Fax class:", sameRow(FaxClassReceive, SameClassButton, CheckFaxClassReceiveButton));
  TransferRateReceive = Choices(p5, "TransferRateReceive", Rates());
  SameRateButton = button(p5, "SameRateButton", "Same as SEND");
  l5->addRow("Maximum transfer rate:", sameRow(TransferRateReceive, SameRateButton));
  ModemInitReceive = Named(new QLineEdit(p5), "ModemInitReceive");
  SameInitButton = button(p5, "SameInitButton", "Same as SEND");
  l5->addRow("Modem init string:", sameRow(ModemInitReceive, SameInitButton));
  InitHelpReceiveButton = button(p5, "InitHelpReceiveButton", "Help With Init Strings");
  l5->addRow("", InitHelpReceiveButton);

  QWidget* p6 = page("Page6");
  auto* l6 = new QFormLayout(p6);
  AnswerOnRing = Choices(p6, "AnswerOnRing", {"1", "2", "3", "4", "5", "6", "7", "8"});
  l6->addRow("Answer on ring:", AnswerOnRing);
  ReceiveAtStartup = Named(new QCheckBox("Start receive mode when the program starts", p6), "ReceiveAtStartup");
  l6->addRow("", ReceiveAtStartup);
  UseECMReceive = Named(new QCheckBox("Use fax error control (ECM) for receiving", p6), "UseECMReceive");
  l6->addRow("", UseECMReceive);

  QWidget* p7 = page("Page7");
  auto* l7 = new QFormLayout(p7);
  WaveFileEdit = Named(new QLineEdit(p7), "WaveFileEdit");
  ChooseButton = button(p7, "ChooseButton", "&Choose");
  PlayNowButton = button(p7, "PlayNowButton", "Play &Now");
  NoneButton = button(p7, "NoneButton", "None");
  auto* waveRow = new QHBoxLayout;
  waveRow->addWidget(WaveFileEdit, 1);
  for (QPushButton* b : {ChooseButton, PlayNowButton, NoneButton}) waveRow->addWidget(b);
  l7->addRow("Sound when a fax arrives:", waveRow);
  WaveLabel = Named(new QLabel(p7), "WaveLabel");
  l7->addRow("", WaveLabel);
  PrintFaxOnReceipt = Named(new QCheckBox("Print each fax when it arrives", p7), "PrintFaxOnReceipt");
  l7->addRow("", PrintFaxOnReceipt);
  PrintFaxOnReceiptPrinter = Named(new QComboBox(p7), "PrintFaxOnReceiptPrinter");
  l7->addRow("Printer:", PrintFaxOnReceiptPrinter);
  DisableReceivingFaxesNotification = Named(
      new QCheckBox("Do not show the receive mode notice", p7), "DisableReceivingFaxesNotification");
  l7->addRow("", DisableReceivingFaxesNotification);

  QWidget* p8 = page("Page8");
  auto* l8 = new QVBoxLayout(p8);
  l8->addWidget(Text("WARNING: change these settings only when technical support asks you to.", p8));
  ImposeWaitBeforePrinting = Named(new QCheckBox("RAGE MOBILITY Printing/Viewing Problems", p8),
                                   "ImposeWaitBeforePrinting");
  l8->addWidget(ImposeWaitBeforePrinting);
  l8->addStretch();

  ValidationLabel = Named(new QLabel(this), "ValidationLabel");
  ValidationLabel->setStyleSheet("color: #b00000");
  ValidationLabel->setWordWrap(true);
  ValidationLabel->hide();
  layout->addWidget(ValidationLabel);

  auto* buttons = new QHBoxLayout;
  HelpButton = button(this, "HelpButton", "&Help");
  ProblemSolverButton = button(this, "ProblemSolverButton", "Problem Solver");
  CancelButton = button(this, "CancelButton", "Cance&l");
  BackButton = button(this, "BackButton", "< Back");
  NextButton = button(this, "NextButton", "Next >");
  FinishButton = button(this, "FinishButton", "&Finish");
  buttons->addWidget(HelpButton);
  buttons->addWidget(ProblemSolverButton);
  buttons->addStretch();
  for (QPushButton* b : {CancelButton, BackButton, NextButton, FinishButton}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);

  connect(PageCombo, &QComboBox::activated, this, &TPreferences::PageComboChange);
  connect(BackButton, &QPushButton::clicked, this, &TPreferences::BackButtonClick);
  connect(NextButton, &QPushButton::clicked, this, &TPreferences::NextButtonClick);
  connect(FinishButton, &QPushButton::clicked, this, &TPreferences::FinishButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TPreferences::CancelButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TPreferences::HelpButtonClick);
  connect(ProblemSolverButton, &QPushButton::clicked, this, [] { ShowProblemSolver(); });
  connect(FindModemButton, &QPushButton::clicked, this, &TPreferences::FindModemButtonClick);
  for (QPushButton* b : {CheckFaxClassButton, CheckFaxClassReceiveButton})
    connect(b, &QPushButton::clicked, this, &TPreferences::CheckFaxClassButtonClick);
  for (QPushButton* b : {InitHelpButton, InitHelpReceiveButton})
    connect(b, &QPushButton::clicked, this, &TPreferences::InitHelpButtonClick);
  connect(SameClassButton, &QPushButton::clicked, this,
          [this] { FaxClassReceive->setCurrentIndex(FaxClass->currentIndex()); });
  connect(SameRateButton, &QPushButton::clicked, this,
          [this] { TransferRateReceive->setCurrentIndex(TransferRate->currentIndex()); });
  connect(SameInitButton, &QPushButton::clicked, this, [this] { ModemInitReceive->setText(ModemInit->text()); });
  connect(ChooseButton, &QPushButton::clicked, this, &TPreferences::ChooseButtonClick);
  connect(PlayNowButton, &QPushButton::clicked, this, &TPreferences::PlayNowButtonClick);
  connect(NoneButton, &QPushButton::clicked, this, &TPreferences::NoneButtonClick);
}

void TPreferences::FillPrinters() {
  PrintFaxOnReceiptPrinter->addItem(kDefaultPrinterName);
  PrintFaxOnReceiptPrinter->addItems(QPrinterInfo::availablePrinterNames());
}
