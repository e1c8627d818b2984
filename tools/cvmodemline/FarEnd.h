#pragma once
// The far-end fax machine: spandsp's T.30 terminal on a number of its own.
// It answers calls and stores every fax it receives in its folder: one TIFF
// per fax, one PBM per page, and a line in "faxes.log" with the result, the
// negotiated bit rate, resolution and the remote station's ID. Told to, it
// calls a number and sends a TIFF file.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cvmodemline/Line.h"

struct fax_state_s;
struct t30_state_s;

class TFarEndFax : public TLineEndpoint {
 public:
  TFarEndFax(TLine& line, std::string number, std::string folder, std::string stationId);
  ~TFarEndFax() override;
  TFarEndFax(const TFarEndFax&) = delete;
  TFarEndFax& operator=(const TFarEndFax&) = delete;

  const std::string& Number() const { return number_; }
  // Calls `digits` and sends the TIFF file; false (with a reason) when busy
  // or the file cannot be read.
  bool Send(const std::string& digits, const std::string& tiffFile, std::string& why);
  void SetAnswerRings(int rings) { answerRings_ = rings; }
  void Tick();
  // The last call's negotiation as this machine saw it: from the answer to
  // the confirmation to receive (CFR) it sent, in microseconds; -1 when it
  // sent none.
  int64_t NegotiationUs() const { return negotiationUs_; }

  void LineRing() override;
  void LineConnected() override;
  void LineFailed(TCallFailure why) override;
  void LineHungUp() override;
  void LineTx(int16_t* amp, int n) override;
  void LineRx(const int16_t* amp, int n) override;

  // Writes one PBM per page of a fax TIFF as base + "-pN.pbm"; returns the
  // files written (empty when the TIFF cannot be read).
  static std::vector<std::string> TiffToPbm(const std::string& tiff, const std::string& base);

 private:
  static void PhaseE(t30_state_s* t30, void* user, int result);
  static void Frame(t30_state_s* t30, void* user, int incoming, const uint8_t* msg, int len);
  void Finish(const std::string& why);
  void Log(const std::string& text);

  TLine& line_;
  std::string number_;
  std::string folder_;
  std::string stationId_;
  int answerRings_ = 1;
  int rings_ = 0;
  fax_state_s* fax_ = nullptr;
  bool sending_ = false;
  std::string sendFile_;
  std::string rxFile_;
  bool phaseEDone_ = false;
  long hangupTicks_ = -1;  // after phase E: let the last frame out, then hang up
  int serial_ = 0;
  std::string result_;
  int64_t samples_ = 0;        // audio sent, counted from the process start
  int64_t answeredAt_ = 0;
  int64_t negotiationUs_ = -1;
};
