#pragma once
// The simulated telephone line: a switchboard of numbers and the calls
// between them. Every connected call carries 8 kHz 16-bit audio both ways in
// blocks of kBlock samples, one block per Tick (20 ms of real time), through
// the impairments set for the line (attenuation, white noise, echo).

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <memory>
#include <string>
#include <vector>

struct awgn_state_s;

inline constexpr int kSampleRate = 8000;
inline constexpr int kBlock = 160;  // 20 ms
inline constexpr int kTicksPerSecond = kSampleRate / kBlock;

enum class TCallFailure { Busy, NoAnswer, NoDialtone, Voice };

// Something with a telephone number: a virtual modem or the far-end machine.
class TLineEndpoint {
 public:
  virtual ~TLineEndpoint() = default;
  virtual void LineRing() = 0;                     // one ring of an incoming call
  virtual void LineConnected() = 0;                // the call is answered
  virtual void LineFailed(TCallFailure why) = 0;   // an outgoing call did not connect
  virtual void LineHungUp() = 0;                   // the other side left (or stopped ringing)
  virtual void LineTx(int16_t* amp, int n) = 0;    // audio this side sends
  virtual void LineRx(const int16_t* amp, int n) = 0;
};

struct TImpairments {
  double attenuationDb = 0;   // loss on the way, both directions
  double noiseDbm0 = -200;    // white noise added at the receiving end; below -100 is off
  // Noise that follows the signal at this many dB below it, as quantising
  // and compander noise do; off at 100 and above. Unlike steady noise it
  // leaves the silence between signals clean, so carriers start and stop
  // where they should and only the dense constellations suffer.
  double snrDb = 200;
  double echoDb = -200;       // talker echo: own signal back, this much below; below -100 is off
  int echoDelayMs = 20;
  // One-way transmission delay. Real calls have tens of milliseconds; with
  // none, two fast programs can answer before the other side's modem has
  // finished its own signal, which no real line allows.
  int delayMs = 40;
  bool Active() const {
    return attenuationDb != 0 || noiseDbm0 > -100 || snrDb < 100 || echoDb > -100 || delayMs > 0;
  }
};

// Per-number faults the control interface can script.
struct TNumberFaults {
  bool busy = false;       // always busy
  bool voice = false;      // a person answers: the caller's modem reports VOICE
  bool refuse = false;     // rings, never answered
  bool noDialtone = false; // this number's own line is dead: dialling gives NO DIALTONE
  bool unplugged = false;  // the modem on this number is cut off from its computer: it answers
                           // nothing on its serial side (and its line is dead too)
};

class TLine {
 public:
  TLine();
  ~TLine();
  TLine(const TLine&) = delete;
  TLine& operator=(const TLine&) = delete;

  void Register(const std::string& number, TLineEndpoint* endpoint);
  // Number of an endpoint; empty when unknown.
  std::string NumberOf(const TLineEndpoint* endpoint) const;
  bool Known(const std::string& number) const;

  // Starts a call from `from` to the number whose digits end the dialled
  // digits (so prefixes such as "9," reach the number); the result arrives
  // later through LineConnected or LineFailed. waitSeconds is how long the
  // caller waits for an answer (the modem's S7).
  void Dial(TLineEndpoint* from, const std::string& digits, int waitSeconds);
  // Answers the call ringing at `who`; false when nothing rings there.
  bool Answer(TLineEndpoint* who);
  // Leaves any call `who` is in (ringing, dialling or connected).
  void Hangup(TLineEndpoint* who);
  bool Ringing(const TLineEndpoint* who) const;
  bool Connected(const TLineEndpoint* who) const;
  bool InCall(const TLineEndpoint* who) const;

  // Advances every call by one block of audio and the call timers.
  void Tick();

  TNumberFaults& Faults(const std::string& number) { return faults_[number]; }
  void SetImpairments(const TImpairments& imp);
  const TImpairments& Impairments() const { return imp_; }
  // Drops the call `number` is in after delayMs; false when it is in none.
  bool DropCall(const std::string& number, int delayMs);
  std::string Status() const;

 private:
  enum class TState { Dialling, Ringing, Connected, Failing };
  struct TDirection {
    std::deque<int16_t> echoLine;  // what this side sent, delayed for its echo
    std::deque<int16_t> transit;   // samples on their way (one-way delay)
    awgn_state_s* noise = nullptr;
    std::mt19937 rng{12345};
  };
  struct TCall {
    TLineEndpoint* caller = nullptr;
    TLineEndpoint* callee = nullptr;  // null when nobody will answer
    TState state = TState::Dialling;
    TCallFailure failure = TCallFailure::NoAnswer;
    long ticks = 0;                   // since the last state change
    long waitTicks = 0;               // caller gives up after this many ringing ticks
    long totalRingTicks = 0;
    long dropAfter = -1;              // ticks until a scripted drop, -1 none
    bool ended = false;
    TDirection toCaller, toCallee;
  };

  TCall* Find(const TLineEndpoint* who);
  const TCall* Find(const TLineEndpoint* who) const;
  TLineEndpoint* Resolve(const std::string& digits, std::string& number) const;
  void End(TCall& c, TLineEndpoint* leaver);
  void Carry(TCall& c);
  void Impair(TDirection& dir, const int16_t* in, const int16_t* own, int16_t* out);
  void SetupNoise(TDirection& dir);
  void Sweep();

  std::map<std::string, TLineEndpoint*> numbers_;
  std::map<std::string, TNumberFaults> faults_;
  std::vector<std::unique_ptr<TCall>> calls_;
  TImpairments imp_;
  int seed_ = 1;
};
