#include "modemsetup/TQuickSuggest.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "shell/Help.h"

using namespace quicksuggest;

namespace {

template <class W>
W* Named(W* w, const QString& name) {
  w->setObjectName(name);
  return w;
}

QLabel* Text(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

}  // namespace

TQuickSuggest::TQuickSuggest(QWidget* parent) : QDialog(parent), problems_(FindProblems(Settings)) {
  setObjectName("TQuickSuggest");
  setWindowTitle("Quick Configuration Analysis");
  BuildPages();
  ShowPage(0);
}

QWidget* TQuickSuggest::AddPage(const QString& title, const QString& text) {
  auto* page = Named(new QWidget(Pages), QString("Page%1").arg(Pages->count()));
  auto* layout = new QVBoxLayout(page);
  auto* heading = new QLabel(title, page);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  layout->addWidget(heading);
  if (!text.isEmpty()) layout->addWidget(Text(text, page));
  Pages->addWidget(page);
  return page;
}

void TQuickSuggest::BuildPages() {
  auto* layout = new QVBoxLayout(this);
  Pages = Named(new QStackedWidget(this), "Pages");
  layout->addWidget(Pages, 1);
  auto box = [this](QWidget* page, const char* name, const char* caption) {
    auto* b = Named(new QCheckBox(caption, page), name);
    page->layout()->addWidget(b);
    connect(b, &QCheckBox::toggled, this, &TQuickSuggest::SetButtons);
    return b;
  };
  auto radio = [this](QWidget* page, QButtonGroup* group, const QString& name, const QString& caption) {
    auto* b = Named(new QRadioButton(caption, page), name);
    group->addButton(b);
    page->layout()->addWidget(b);
    connect(b, &QRadioButton::toggled, this, &TQuickSuggest::SetButtons);
    return b;
  };
  auto resetPage = [&](const char* atz, const char* atf, const char* none, QRadioButton*& a, QRadioButton*& f,
                       QRadioButton*& n) {
    QWidget* p = AddPage("Reset string", "No reset string is set. Most modems work best when they are reset "
                                          "before each fax session.");
    auto* group = new QButtonGroup(p);
    a = radio(p, group, atz, "Use ATZ as the reset string (recommended)");
    f = radio(p, group, atf, "Use AT&&F as the reset string");
    n = radio(p, group, none, "Continue using No reset string (sometimes works better)");
    n->setChecked(true);
  };
  auto initPage = [&](const QString& prefix, std::array<QRadioButton*, kInitChoiceCount + 1>& choices) {
    QWidget* p = AddPage("Modem initialization string",
                         "No modem initialization string is set. Choose the one that suits your modem:");
    auto* group = new QButtonGroup(p);
    for (int i = 1; i <= kInitChoiceCount; ++i)
      choices[static_cast<size_t>(i)] =
          radio(p, group, prefix + QString::number(i), QString(kInitChoices[i - 1].caption).replace("&", "&&"));
    choices[0] = radio(p, group, prefix + "None", "Continue Using NO Initialization string");
    choices[0]->setChecked(true);
  };

  QWidget* p0 = AddPage("Quick Configuration Analysis",
                        "This analysis looks at the settings that most often cause trouble and suggests a remedy "
                        "for each. What kind of trouble are you having?");
  auto* modeGroup = new QButtonGroup(p0);
  UseSend = radio(p0, modeGroup, "UseSend", "I am having trouble sending faxes");
  UseRec = radio(p0, modeGroup, "UseRec", "I am having trouble receiving faxes");
  UseSend->setChecked(true);

  UseTONE = box(AddPage("Dialing", "Pulse dialing is set. Nearly all telephone lines take tone dialing."), "UseTONE",
                "Switch to the more common TONE dialing");
  UseFaxClass1Send = box(AddPage("Fax class for sending", "Class 1 is the fax class that works with most modems."),
                         "UseFaxClass1Send", "Use Fax Class 1 for Sending faxes");
  Use9600TransferSend = box(AddPage("Transfer rate for sending",
                                    "Rates above 9600 fail on many telephone lines and fax machines."),
                            "Use9600TransferSend", "Reduce the Transfer Rate for Sending to 9600");
  resetPage("UseATZ", "UseATANDF", "UseNoReset", UseATZ, UseATANDF, UseNoReset);
  initPage("InitSend", InitSend);
  UseDisableECMSend = box(AddPage("Error control for sending", "Fax error control (ECM) is on. Some modems and fax "
                                                               "machines do not handle it well."),
                          "UseDisableECMSend", "Disable Fax Error Control for Sending");
  UseDisableBlindSend = box(AddPage("Blind dialing", "Blind dialing is on: the modem dials without waiting for a "
                                                     "dial tone."),
                            "UseDisableBlindSend", "Disable Blind Dialing");
  UseDisableIgnoreBusySend = box(AddPage("Busy signal", "The busy signal is ignored: a busy number is taken for a "
                                                        "call that did not answer."),
                                 "UseDisableIgnoreBusySend", "Disable the Ignore Busy Signal setting");
  UseFaxClass1Rec = box(AddPage("Fax class for receiving", "Class 1 is the fax class that works with most modems."),
                        "UseFaxClass1Rec", "Use Fax Class 1 for Receiving faxes");
  Use9600TransferRec = box(AddPage("Transfer rate for receiving",
                                   "Rates above 9600 fail on many telephone lines and fax machines."),
                           "Use9600TransferRec", "Reduce the Transfer Rate for Sending to 9600 for Receiving");
  resetPage("UseATZRec", "UseATANDFRec", "UseNoResetRec", UseATZRec, UseATANDFRec, UseNoResetRec);
  initPage("InitRec", InitRec);
  UseDisableECMRec = box(AddPage("Error control for receiving", "Fax error control (ECM) is on for receiving. Some "
                                                                "modems and fax machines do not handle it well."),
                         "UseDisableECMRec", "Disable Fax Error Control for Receiving");

  QWidget* p14 = AddPage("Conclusion", "");
  Conclusion = Named(Text("\n\nThis concludes the Quick Config Analysis. \n\nTo save the settings, click the Finish "
                          "button.  To Cancel changes, click the \nCancel button.\n\nNote: Use the Preferences Wizard "
                          "for more options and more advanced settings",
                          p14),
                     "Conclusion");
  NoProblems = Named(Text("\n\nThe analysis did not find anything wrong with the more common Configuration "
                          "settings. \n\nPlease consult the Problem Solver for more in-depth analysis, and the "
                          "Preferences Wizard for more advanced settings.",
                          p14),
                     "NoProblems");
  ProblemSolverButton = Named(new QPushButton("Problem Solver", p14), "ProblemSolverButton");
  for (QWidget* w : {static_cast<QWidget*>(Conclusion), static_cast<QWidget*>(NoProblems),
                     static_cast<QWidget*>(ProblemSolverButton)})
    p14->layout()->addWidget(w);
  for (int i = 0; i < Pages->count(); ++i)
    static_cast<QVBoxLayout*>(Pages->widget(i)->layout())->addStretch();

  auto* buttons = new QHBoxLayout;
  BackButton = Named(new QPushButton("< Back", this), "BackButton");
  NextButton = Named(new QPushButton("Next >", this), "NextButton");
  FinishButton = Named(new QPushButton("&Finish", this), "FinishButton");
  CancelButton = Named(new QPushButton("Cance&l", this), "CancelButton");
  buttons->addStretch();
  for (QPushButton* b : {BackButton, NextButton, FinishButton, CancelButton}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  connect(BackButton, &QPushButton::clicked, this, &TQuickSuggest::BackButtonClick);
  connect(NextButton, &QPushButton::clicked, this, &TQuickSuggest::NextButtonClick);
  connect(FinishButton, &QPushButton::clicked, this, &TQuickSuggest::FinishButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ProblemSolverButton, &QPushButton::clicked, this, [this] { done(kProblemSolver); });
}

int TQuickSuggest::Page() const { return Pages->currentIndex(); }

TMode TQuickSuggest::Mode() const { return UseRec->isChecked() ? TMode::Receiving : TMode::Sending; }

TRemedies TQuickSuggest::Remedies() const {
  auto reset = [](QRadioButton* atz, QRadioButton* atf) {
    return atz->isChecked() ? TResetChoice::ATZ : atf->isChecked() ? TResetChoice::ATandF : TResetChoice::None;
  };
  auto init = [](const std::array<QRadioButton*, kInitChoiceCount + 1>& choices) {
    for (int i = 1; i <= kInitChoiceCount; ++i)
      if (choices[static_cast<size_t>(i)]->isChecked()) return i;
    return 0;
  };
  TRemedies r;
  r.tone = UseTONE->isChecked();
  r.class1Send = UseFaxClass1Send->isChecked();
  r.rate9600Send = Use9600TransferSend->isChecked();
  r.resetSend = reset(UseATZ, UseATANDF);
  r.initSend = init(InitSend);
  r.noEcmSend = UseDisableECMSend->isChecked();
  r.noBlindDial = UseDisableBlindSend->isChecked();
  r.noIgnoreBusy = UseDisableIgnoreBusySend->isChecked();
  r.class1Receive = UseFaxClass1Rec->isChecked();
  r.rate9600Receive = Use9600TransferRec->isChecked();
  r.resetReceive = reset(UseATZRec, UseATANDFRec);
  r.initReceive = init(InitRec);
  r.noEcmReceive = UseDisableECMRec->isChecked();
  return r;
}

void TQuickSuggest::ShowPage(int page) {
  Pages->setCurrentIndex(page);
  SetButtons();
}

void TQuickSuggest::SetButtons() {
  if (!FinishButton) return;  // remedy controls report while the window is built
  const int page = Page();
  const bool problems = ModeHasProblems(problems_, Mode());
  BackButton->setEnabled(page != 0);
  NextButton->setEnabled(page != kConclusionPage);
  FinishButton->setEnabled(problems && AnyRemedy(Remedies(), Mode()));
  Conclusion->setVisible(problems);
  NoProblems->setVisible(!problems);
  ProblemSolverButton->setVisible(!problems);
}

void TQuickSuggest::NextButtonClick() { ShowPage(NextPage(problems_, Mode(), Page())); }

void TQuickSuggest::BackButtonClick() { ShowPage(PreviousPage(problems_, Mode(), Page())); }

void TQuickSuggest::FinishButtonClick() {
  ApplyRemedies(Remedies(), Mode(), Settings);
  done(kOk);
}
