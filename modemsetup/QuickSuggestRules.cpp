#include "modemsetup/QuickSuggestRules.h"

#include <algorithm>

namespace quicksuggest {

const TInitChoice kInitChoices[kInitChoiceCount] = {
    {"Generic string for Hayes compatible modems (most modems) ", "AT&F&C1&D2&K3S7=90"},
    {"Basic string for US Robotics (aka 3COM) modems", "AT&H3&I2&R2S7=90"},
    {"Basic string for for Cirrus Logic/AT&T modems (very rare)", "AT&F&C1&D2\\Q3S7=90"},
    {"For older US Robotics Sportster 28.8 or Early 33.6 models", "AT&H3&I2&R2S7=90S36=0"},
    {"For US Robotics  Late Model Sportster 33.6 models", "AT&H3&I2&R2S7=90S36=8"},
    {"For US Robotics Sportster X2 modems (56K)", "AT&H3&I2&R2S7=90S36=8S33=34"},
};

TProblems FindProblems(const TSettings& s) {
  TProblems p{};
  p[1] = s.ToneOrPulse == 1;
  p[2] = s.FaxClass != 1;
  p[3] = s.MaximumBPS > 9600;
  p[4] = s.ResetString.empty();
  p[5] = s.InitString.empty();
  p[6] = s.ECM;
  p[7] = s.BlindDial;
  p[8] = s.IgnoreBusy;
  p[9] = s.FaxClassReceive != 1;
  p[10] = s.MaximumBPSReceive > 9600;
  p[11] = s.ResetString.empty();
  p[12] = s.InitStringReceive.empty();
  p[13] = s.ECMReceive;
  return p;
}

namespace {
int First(TMode mode) { return mode == TMode::Sending ? kFirstSendPage : kFirstReceivePage; }
int Last(TMode mode) { return mode == TMode::Sending ? kLastSendPage : kLastReceivePage; }

std::string ResetCommand(TResetChoice c, const std::string& current) {
  switch (c) {
    case TResetChoice::ATZ: return "ATZ";
    case TResetChoice::ATandF: return "AT&F";
    case TResetChoice::None: break;
  }
  return current;
}
std::string InitCommand(int choice, const std::string& current) {
  return choice >= 1 && choice <= kInitChoiceCount ? kInitChoices[choice - 1].command : current;
}
}  // namespace

bool ModeHasProblems(const TProblems& problems, TMode mode) {
  for (int page = First(mode); page <= Last(mode); ++page)
    if (problems[static_cast<size_t>(page)]) return true;
  return false;
}

int NextPage(const TProblems& problems, TMode mode, int current) {
  for (int page = std::max(current + 1, First(mode)); page <= Last(mode); ++page)
    if (problems[static_cast<size_t>(page)]) return page;
  return kConclusionPage;
}

int PreviousPage(const TProblems& problems, TMode mode, int current) {
  for (int page = std::min(current - 1, Last(mode)); page >= First(mode); --page)
    if (problems[static_cast<size_t>(page)]) return page;
  return 0;
}

bool AnyRemedy(const TRemedies& r, TMode mode) {
  if (mode == TMode::Sending)
    return r.tone || r.class1Send || r.rate9600Send || r.resetSend != TResetChoice::None || r.initSend != 0 ||
           r.noEcmSend || r.noBlindDial || r.noIgnoreBusy;
  return r.class1Receive || r.rate9600Receive || r.resetReceive != TResetChoice::None || r.initReceive != 0 ||
         r.noEcmReceive;
}

void ApplyRemedies(const TRemedies& r, TMode mode, TSettings& s) {
  if (mode == TMode::Sending) {
    if (r.tone) s.ToneOrPulse = 0;
    if (r.class1Send) s.FaxClass = 1;
    if (r.rate9600Send) s.MaximumBPS = 9600;
    s.ResetString = ResetCommand(r.resetSend, s.ResetString);
    s.InitString = InitCommand(r.initSend, s.InitString);
    if (r.noEcmSend) s.ECM = false;
    if (r.noBlindDial) s.BlindDial = false;
    if (r.noIgnoreBusy) s.IgnoreBusy = false;
    return;
  }
  if (r.class1Receive) s.FaxClassReceive = 1;
  if (r.rate9600Receive) s.MaximumBPSReceive = 9600;
  s.ResetString = ResetCommand(r.resetReceive, s.ResetString);
  s.InitStringReceive = InitCommand(r.initReceive, s.InitStringReceive);
  if (r.noEcmReceive) s.ECMReceive = false;
}

}  // namespace quicksuggest
