#pragma once
// What the Class 1 receive states keep between passes, and how they read the
// caller's frames. The reading is kept apart from the modem so that hostile
// frames can be fed to it directly.

#include <chrono>
#include <cstdint>
#include <string>

#include "faxengine/class1/Frames.h"

// The caller's post-page message.
enum class TFxPostPage : uint8_t { ppNone, ppMPS, ppEOM, ppEOP };

struct TFxClass1Receive {
  // --- the frames since the last AT+FRH=3 ---------------------------------------------
  bool frameArrived = false;
  bool lastFinal = false;
  uint8_t lastFcf = 0;
  int badFrames = 0;            // frames with a bad check sum
  bool haveDcs = false;         // a DCS this station can receive
  bool badDcs = false;          // a DCS for a modulation it cannot
  TFxDcsInfo dcs;
  bool haveTsi = false;
  std::string remoteId;
  bool dcn = false;

  // --- the session -------------------------------------------------------------------
  bool refuseTraining = false;  // the DCS asks for more than this station offered
  int trainings = 0;
  int retries = 0;              // CSI and DIS sent again
  int noCarriers = 0;           // NO CARRIER while waiting for a post-page message
  bool morePages = false, eom = false, repeatMcf = false;
  bool pageLost = false;        // the page's carrier never came: its post-page message gets RTN
  bool sendRtn = false;
  TFxTrainingCheck training{2400};
  std::chrono::steady_clock::time_point trainingDeadline;

  // Forgets the frames before a new AT+FRH=3 (the bad-frame count is kept
  // by the caller when it listens again after one).
  void StartBurst();
  // Records a frame. DCS and TSI count only while the caller's parameters
  // are collected (wantDcs); DCN always.
  void Take(const TFxFrame& f, bool wantDcs);
  // The post-page message of the last final frame: MPS and EOM by their FCF
  // (the caller's bit ignored), any other final frame ends the procedure.
  TFxPostPage PostPage() const;
};
