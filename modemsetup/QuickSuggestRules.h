#pragma once
// The rules of the quick configuration analysis: which common settings look
// suspicious, the order its pages are visited in, and what each remedy
// changes. Plain functions over the settings, so the window is only a face.

#include <array>
#include <string>

#include "shell/core/Settings.h"

namespace quicksuggest {

inline constexpr int kFirstSendPage = 1;
inline constexpr int kLastSendPage = 8;
inline constexpr int kFirstReceivePage = 9;
inline constexpr int kLastReceivePage = 13;
inline constexpr int kConclusionPage = 14;
inline constexpr int kPageCount = 15;

enum class TMode { Sending, Receiving };

// One flag per page: set when the page's setting looks suspicious (pages 0
// and 14 never are).
using TProblems = std::array<bool, kPageCount>;
[[nodiscard]] TProblems FindProblems(const TSettings& s);
// Whether any page of the mode has its flag set.
[[nodiscard]] bool ModeHasProblems(const TProblems& problems, TMode mode);

// The page "Next >" and "< Back" lead to from current in mode.
[[nodiscard]] int NextPage(const TProblems& problems, TMode mode, int current);
[[nodiscard]] int PreviousPage(const TProblems& problems, TMode mode, int current);

// The reset strings and the init strings the analysis offers; position 0 is
// "keep it empty".
enum class TResetChoice { None, ATZ, ATandF };
struct TInitChoice {
  const char* caption;
  const char* command;
};
inline constexpr int kInitChoiceCount = 6;
extern const TInitChoice kInitChoices[kInitChoiceCount];

// What the user ticked or chose; a choice of 0 is the preselected "continue"
// one (no init string).
struct TRemedies {
  bool tone = false, class1Send = false, rate9600Send = false;
  TResetChoice resetSend = TResetChoice::None;
  int initSend = 0;
  bool noEcmSend = false, noBlindDial = false, noIgnoreBusy = false;
  bool class1Receive = false, rate9600Receive = false;
  TResetChoice resetReceive = TResetChoice::None;
  int initReceive = 0;
  bool noEcmReceive = false;
};
// Whether any remedy of the mode is chosen.
[[nodiscard]] bool AnyRemedy(const TRemedies& r, TMode mode);
// Applies the remedies of mode (only those) to s, in page order.
void ApplyRemedies(const TRemedies& r, TMode mode, TSettings& s);

}  // namespace quicksuggest
