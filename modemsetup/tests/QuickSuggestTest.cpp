// The quick configuration analysis, one row per suspicious setting: the
// pages each mode visits, the conclusion it reaches, and what the remedy
// stores; and settings without problems.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <functional>
#include <vector>

#include "modemsetup/TQuickSuggest.h"
#include "shell/core/Settings.h"

namespace {

using quicksuggest::kConclusionPage;

// Settings in which nothing looks suspicious.
TSettings Sound() {
  TSettings s;
  s.ToneOrPulse = 0;
  s.FaxClass = s.FaxClassReceive = 1;
  s.MaximumBPS = s.MaximumBPSReceive = 9600;
  s.ResetString = "ATZ";
  s.InitString = s.InitStringReceive = "AT&F";
  return s;
}

// The pages "Next >" visits from page 0 up to and including the conclusion.
std::vector<int> Walk(TQuickSuggest& q, bool receiving) {
  (receiving ? q.UseRec : q.UseSend)->setChecked(true);
  std::vector<int> pages;
  for (int guard = 0; guard < 20 && q.Page() != kConclusionPage; ++guard) {
    q.NextButton->click();
    pages.push_back(q.Page());
  }
  return pages;
}

struct TRow {
  const char* what;
  std::function<void(TSettings&)> make;
  int sendPage, receivePage;  // 0: the mode has nothing to show
  std::function<void(TQuickSuggest&)> remedy;
  std::function<bool(const TSettings&)> remedied;
};

TEST(QuickSuggest, EachSuspiciousSettingShowsExactlyItsPagesAndItsRemedyStores) {
  const TRow rows[] = {
      {"pulse", [](TSettings& s) { s.ToneOrPulse = 1; }, 1, 0, [](TQuickSuggest& q) { q.UseTONE->setChecked(true); },
       [](const TSettings& s) { return s.ToneOrPulse == 0; }},
      {"class", [](TSettings& s) { s.FaxClass = 0; }, 2, 0,
       [](TQuickSuggest& q) { q.UseFaxClass1Send->setChecked(true); },
       [](const TSettings& s) { return s.FaxClass == 1; }},
      {"rate", [](TSettings& s) { s.MaximumBPS = 14400; }, 3, 0,
       [](TQuickSuggest& q) { q.Use9600TransferSend->setChecked(true); },
       [](const TSettings& s) { return s.MaximumBPS == 9600; }},
      {"reset", [](TSettings& s) { s.ResetString.clear(); }, 4, 11,
       [](TQuickSuggest& q) {
         (q.Mode() == quicksuggest::TMode::Sending ? q.UseATANDF : q.UseATZRec)->setChecked(true);
       },
       nullptr},
      {"init", [](TSettings& s) { s.InitString.clear(); }, 5, 0,
       [](TQuickSuggest& q) { q.InitSend[6]->setChecked(true); },
       [](const TSettings& s) { return s.InitString == "AT&H3&I2&R2S7=90S36=8S33=34"; }},
      {"ecm", [](TSettings& s) { s.ECM = true; }, 6, 0, [](TQuickSuggest& q) { q.UseDisableECMSend->setChecked(true); },
       [](const TSettings& s) { return !s.ECM; }},
      {"blind", [](TSettings& s) { s.BlindDial = true; }, 7, 0,
       [](TQuickSuggest& q) { q.UseDisableBlindSend->setChecked(true); },
       [](const TSettings& s) { return !s.BlindDial; }},
      {"busy", [](TSettings& s) { s.IgnoreBusy = true; }, 8, 0,
       [](TQuickSuggest& q) { q.UseDisableIgnoreBusySend->setChecked(true); },
       [](const TSettings& s) { return !s.IgnoreBusy; }},
      {"rclass", [](TSettings& s) { s.FaxClassReceive = 3; }, 0, 9,
       [](TQuickSuggest& q) { q.UseFaxClass1Rec->setChecked(true); },
       [](const TSettings& s) { return s.FaxClassReceive == 1; }},
      {"rrate", [](TSettings& s) { s.MaximumBPSReceive = 12000; }, 0, 10,
       [](TQuickSuggest& q) { q.Use9600TransferRec->setChecked(true); },
       [](const TSettings& s) { return s.MaximumBPSReceive == 9600; }},
      {"rinit", [](TSettings& s) { s.InitStringReceive.clear(); }, 0, 12,
       [](TQuickSuggest& q) { q.InitRec[1]->setChecked(true); },
       [](const TSettings& s) { return s.InitStringReceive == "AT&F&C1&D2&K3S7=90"; }},
      {"recm", [](TSettings& s) { s.ECMReceive = true; }, 0, 13,
       [](TQuickSuggest& q) { q.UseDisableECMRec->setChecked(true); },
       [](const TSettings& s) { return !s.ECMReceive; }},
  };
  for (const TRow& row : rows) {
    for (const bool receiving : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (receiving ? " receiving" : " sending"));
      Settings = Sound();
      row.make(Settings);
      TQuickSuggest q;
      const int page = receiving ? row.receivePage : row.sendPage;
      const std::vector<int> expected =
          page ? std::vector<int>{page, kConclusionPage} : std::vector<int>{kConclusionPage};
      EXPECT_EQ(Walk(q, receiving), expected);
      EXPECT_EQ(q.Conclusion->isVisibleTo(&q), page != 0);
      EXPECT_EQ(q.NoProblems->isVisibleTo(&q), page == 0);
      EXPECT_FALSE(q.FinishButton->isEnabled());
      EXPECT_FALSE(q.NextButton->isEnabled());
      q.BackButton->click();
      EXPECT_EQ(q.Page(), page);
      if (!page) continue;
      row.remedy(q);
      ASSERT_TRUE(q.FinishButton->isEnabled());
      q.FinishButton->click();
      EXPECT_EQ(q.result(), TQuickSuggest::kOk);
      if (row.remedied)
        EXPECT_TRUE(row.remedied(Settings));
      else
        EXPECT_EQ(Settings.ResetString, receiving ? "ATZ" : "AT&F");  // one ampersand
    }
  }
}

TEST(QuickSuggest, SeveralProblemsAreVisitedInOrderAndOnlyTheModesRemediesApply) {
  Settings = Sound();
  Settings.ToneOrPulse = 1;
  Settings.IgnoreBusy = true;
  Settings.ECMReceive = true;
  Settings.InitString.clear();
  TQuickSuggest q;
  EXPECT_EQ(Walk(q, false), (std::vector<int>{1, 5, 8, kConclusionPage}));
  q.BackButton->click();
  q.BackButton->click();
  EXPECT_EQ(q.Page(), 5);
  q.InitSend[2]->setChecked(true);
  q.InitSend[0]->setChecked(true);  // back to "continue": nothing chosen
  EXPECT_FALSE(q.FinishButton->isEnabled());
  q.InitSend[3]->setChecked(true);
  q.UseDisableECMRec->setChecked(true);  // a receiving remedy, not applied when sending
  q.FinishButton->click();
  EXPECT_EQ(Settings.InitString, "AT&F&C1&D2\\Q3S7=90");
  EXPECT_EQ(Settings.ToneOrPulse, 1);
  EXPECT_TRUE(Settings.IgnoreBusy);
  EXPECT_TRUE(Settings.ECMReceive);
}

TEST(QuickSuggest, NoProblemsOffersTheProblemSolverAndCancelChangesNothing) {
  Settings = Sound();
  TQuickSuggest q;
  EXPECT_EQ(q.windowTitle(), "Quick Configuration Analysis");
  EXPECT_EQ(Walk(q, false), std::vector<int>{kConclusionPage});
  EXPECT_TRUE(q.ProblemSolverButton->isVisibleTo(&q));
  q.ProblemSolverButton->click();
  EXPECT_EQ(q.result(), TQuickSuggest::kProblemSolver);

  Settings.BlindDial = true;
  TQuickSuggest cancelled;
  Walk(cancelled, false);
  cancelled.BackButton->click();
  cancelled.UseDisableBlindSend->setChecked(true);
  cancelled.CancelButton->click();
  EXPECT_TRUE(Settings.BlindDial);
}

}  // namespace
