#pragma once
// The quick configuration analysis: steps through the common settings that
// look suspicious for sending or for receiving and offers a fixed remedy for
// each. "&Finish" applies the chosen remedies to the settings and closes with
// OK (the caller writes the settings); the conclusion page without problems
// offers the problem solver (result 99).

#include <QDialog>

#include <array>

#include "modemsetup/QuickSuggestRules.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QStackedWidget;

class TQuickSuggest : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kOk = 1;
  static constexpr int kProblemSolver = 99;

  // The problems are those of the settings at creation.
  explicit TQuickSuggest(QWidget* parent = nullptr);

  int Page() const;
  quicksuggest::TMode Mode() const;

  QStackedWidget* Pages = nullptr;
  QRadioButton* UseSend = nullptr;
  QRadioButton* UseRec = nullptr;
  QCheckBox* UseTONE = nullptr;
  QCheckBox* UseFaxClass1Send = nullptr;
  QCheckBox* Use9600TransferSend = nullptr;
  QRadioButton* UseATZ = nullptr;
  QRadioButton* UseATANDF = nullptr;
  QRadioButton* UseNoReset = nullptr;
  std::array<QRadioButton*, quicksuggest::kInitChoiceCount + 1> InitSend{};  // 0: no init string
  QCheckBox* UseDisableECMSend = nullptr;
  QCheckBox* UseDisableBlindSend = nullptr;
  QCheckBox* UseDisableIgnoreBusySend = nullptr;
  QCheckBox* UseFaxClass1Rec = nullptr;
  QCheckBox* Use9600TransferRec = nullptr;
  QRadioButton* UseATZRec = nullptr;
  QRadioButton* UseATANDFRec = nullptr;
  QRadioButton* UseNoResetRec = nullptr;
  std::array<QRadioButton*, quicksuggest::kInitChoiceCount + 1> InitRec{};
  QCheckBox* UseDisableECMRec = nullptr;
  QLabel* Conclusion = nullptr;
  QLabel* NoProblems = nullptr;
  QPushButton* ProblemSolverButton = nullptr;
  QPushButton* BackButton = nullptr;
  QPushButton* NextButton = nullptr;
  QPushButton* FinishButton = nullptr;
  QPushButton* CancelButton = nullptr;

 public slots:
  void BackButtonClick();
  void NextButtonClick();
  void FinishButtonClick();

 private:
  void BuildPages();
  QWidget* AddPage(const QString& title, const QString& text);
  quicksuggest::TRemedies Remedies() const;
  void ShowPage(int page);
  void SetButtons();

  quicksuggest::TProblems problems_{};
};
