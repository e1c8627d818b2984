#include "tools/cvmodemline/Line.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include <spandsp.h>

namespace {
constexpr long kDialTicks = kTicksPerSecond;          // dialling before the far end rings
constexpr long kRingPeriod = 6 * kTicksPerSecond;      // 2 s ring, 4 s pause
constexpr long kVoiceTicks = 4 * kTicksPerSecond;      // time to recognise a voice answer
constexpr long kFailTicks = kTicksPerSecond / 2;

int16_t Clip(double v) {
  return static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
}
}  // namespace

TLine::TLine() = default;

TLine::~TLine() {
  for (auto& c : calls_) {
    if (c->toCaller.noise) awgn_free(c->toCaller.noise);
    if (c->toCallee.noise) awgn_free(c->toCallee.noise);
  }
}

void TLine::Register(const std::string& number, TLineEndpoint* endpoint) { numbers_[number] = endpoint; }

std::string TLine::NumberOf(const TLineEndpoint* endpoint) const {
  for (const auto& [n, e] : numbers_)
    if (e == endpoint) return n;
  return {};
}

bool TLine::Known(const std::string& number) const { return numbers_.count(number) != 0; }

TLineEndpoint* TLine::Resolve(const std::string& digits, std::string& number) const {
  TLineEndpoint* best = nullptr;
  for (const auto& [n, e] : numbers_) {
    if (n.size() <= digits.size() && digits.compare(digits.size() - n.size(), n.size(), n) == 0 &&
        n.size() > number.size()) {
      best = e;
      number = n;
    }
  }
  return best;
}

TLine::TCall* TLine::Find(const TLineEndpoint* who) {
  for (auto& c : calls_)
    if (!c->ended && (c->caller == who || c->callee == who)) return c.get();
  return nullptr;
}

const TLine::TCall* TLine::Find(const TLineEndpoint* who) const {
  for (const auto& c : calls_)
    if (!c->ended && (c->caller == who || c->callee == who)) return c.get();
  return nullptr;
}

bool TLine::InCall(const TLineEndpoint* who) const { return Find(who) != nullptr; }

bool TLine::Ringing(const TLineEndpoint* who) const {
  const TCall* c = Find(who);
  return c && c->callee == who && c->state == TState::Ringing;
}

bool TLine::Connected(const TLineEndpoint* who) const {
  const TCall* c = Find(who);
  return c && c->state == TState::Connected;
}

void TLine::Dial(TLineEndpoint* from, const std::string& digits, int waitSeconds) {
  auto call = std::make_unique<TCall>();
  call->caller = from;
  call->waitTicks = std::max(1, waitSeconds) * static_cast<long>(kTicksPerSecond);
  std::string ownNumber = NumberOf(from);
  std::string number;
  TLineEndpoint* target = Resolve(digits, number);
  if (faults_[ownNumber].noDialtone || faults_[ownNumber].unplugged) {
    call->state = TState::Failing;
    call->failure = TCallFailure::NoDialtone;
  } else if (target && target != from && !faults_[number].busy && !InCall(target)) {
    call->callee = target;
    if (faults_[number].voice) {
      call->state = TState::Failing;
      call->failure = TCallFailure::Voice;
    }
  } else if (target) {
    call->state = TState::Failing;
    call->failure = TCallFailure::Busy;
  }
  // An unknown number just rings out until the caller gives up.
  if (call->callee && faults_[number].refuse) call->callee = nullptr;
  calls_.push_back(std::move(call));
}

bool TLine::Answer(TLineEndpoint* who) {
  TCall* c = Find(who);
  if (!c || c->callee != who || c->state != TState::Ringing) return false;
  c->state = TState::Connected;
  c->ticks = 0;
  c->callee->LineConnected();
  if (!c->ended) c->caller->LineConnected();
  return true;
}

void TLine::End(TCall& c, TLineEndpoint* leaver) {
  if (c.ended) return;
  c.ended = true;
  TLineEndpoint* other = leaver == c.caller ? c.callee : c.caller;
  bool tell = c.state == TState::Connected || (c.state == TState::Ringing && other == c.callee);
  if (other && tell) other->LineHungUp();
}

void TLine::Hangup(TLineEndpoint* who) {
  if (TCall* c = Find(who)) End(*c, who);
}

bool TLine::DropCall(const std::string& number, int delayMs) {
  auto it = numbers_.find(number);
  if (it == numbers_.end()) return false;
  TCall* c = Find(it->second);
  if (!c) return false;
  c->dropAfter = std::max(0L, static_cast<long>(delayMs) * kTicksPerSecond / 1000);
  return true;
}

void TLine::SetImpairments(const TImpairments& imp) {
  imp_ = imp;
  // Delays are held as samples in memory: keep them to what a line can have.
  imp_.delayMs = std::clamp(imp_.delayMs, 0, 1000);
  imp_.echoDelayMs = std::clamp(imp_.echoDelayMs, 0, 1000);
  for (auto& c : calls_) {
    SetupNoise(c->toCaller);
    SetupNoise(c->toCallee);
  }
}

void TLine::SetupNoise(TDirection& dir) {
  if (dir.noise) awgn_free(dir.noise);
  dir.noise = imp_.noiseDbm0 > -100 ? awgn_init_dbm0(nullptr, seed_++, static_cast<float>(imp_.noiseDbm0)) : nullptr;
}

void TLine::Impair(TDirection& dir, const int16_t* in, const int16_t* own, int16_t* out) {
  const double gain = std::pow(10.0, -imp_.attenuationDb / 20.0);
  const bool echo = imp_.echoDb > -100;
  const double echoGain = std::pow(10.0, imp_.echoDb / 20.0);
  const size_t delay = static_cast<size_t>(std::max(0, imp_.echoDelayMs)) * kSampleRate / 1000;
  const size_t transit = static_cast<size_t>(std::max(0, imp_.delayMs)) * kSampleRate / 1000;
  for (int i = 0; i < kBlock; ++i) {
    dir.transit.push_back(in[i]);
    double v = 0;
    if (dir.transit.size() > transit) {
      v = dir.transit.front() * gain;
      dir.transit.pop_front();
    }
    if (echo) {
      dir.echoLine.push_back(own[i]);
      if (dir.echoLine.size() > delay) {
        v += dir.echoLine.front() * echoGain;
        dir.echoLine.pop_front();
      }
    }
    if (dir.noise) v += awgn(dir.noise);
    out[i] = Clip(v);
  }
  if (imp_.snrDb < 100) {
    double power = 0;
    for (int i = 0; i < kBlock; ++i) power += double(out[i]) * out[i];
    const double rms = std::sqrt(power / kBlock);
    // Below about -55 dBm0 there is no signal to follow.
    if (rms > 20) {
      std::normal_distribution<double> gauss(0.0, rms * std::pow(10.0, -imp_.snrDb / 20.0));
      for (int i = 0; i < kBlock; ++i) out[i] = Clip(out[i] + gauss(dir.rng));
    }
  }
  if (!echo) dir.echoLine.clear();
}

void TLine::Carry(TCall& c) {
  int16_t fromCaller[kBlock] = {};
  int16_t fromCallee[kBlock] = {};
  c.caller->LineTx(fromCaller, kBlock);
  if (c.ended) return;
  c.callee->LineTx(fromCallee, kBlock);
  if (c.ended) return;
  if (imp_.Active()) {
    if (imp_.noiseDbm0 > -100 && !c.toCaller.noise) {
      SetupNoise(c.toCaller);
      SetupNoise(c.toCallee);
    }
    int16_t toCaller[kBlock];
    int16_t toCallee[kBlock];
    Impair(c.toCaller, fromCallee, fromCaller, toCaller);
    Impair(c.toCallee, fromCaller, fromCallee, toCallee);
    c.callee->LineRx(toCallee, kBlock);
    if (!c.ended) c.caller->LineRx(toCaller, kBlock);
  } else {
    c.callee->LineRx(fromCaller, kBlock);
    if (!c.ended) c.caller->LineRx(fromCallee, kBlock);
  }
}

void TLine::Tick() {
  // Calls may start or end from inside the endpoints' callbacks: walk by index
  // over the calls present at the start of the tick.
  const size_t n = calls_.size();
  for (size_t i = 0; i < n; ++i) {
    TCall& c = *calls_[i];
    if (c.ended) continue;
    ++c.ticks;
    if (c.dropAfter >= 0 && c.dropAfter-- == 0) {
      // Both sides lose the line, as when the exchange clears the call.
      c.ended = true;
      if (c.callee && (c.state == TState::Connected || c.state == TState::Ringing)) c.callee->LineHungUp();
      c.caller->LineHungUp();
      continue;
    }
    switch (c.state) {
      case TState::Failing:
        if (c.ticks >= (c.failure == TCallFailure::Voice ? kVoiceTicks : kFailTicks)) {
          c.ended = true;
          c.caller->LineFailed(c.failure);
        }
        break;
      case TState::Dialling:
        if (c.ticks >= kDialTicks) {
          c.state = TState::Ringing;
          c.ticks = 0;
          if (c.callee) c.callee->LineRing();
        }
        break;
      case TState::Ringing:
        ++c.totalRingTicks;
        if (c.totalRingTicks >= c.waitTicks) {
          TLineEndpoint* callee = c.callee;
          c.ended = true;
          if (callee) callee->LineHungUp();
          c.caller->LineFailed(TCallFailure::NoAnswer);
        } else if (c.ticks >= kRingPeriod) {
          c.ticks = 0;
          if (c.callee) c.callee->LineRing();
        }
        break;
      case TState::Connected:
        Carry(c);
        break;
    }
  }
  Sweep();
}

void TLine::Sweep() {
  auto dead = std::remove_if(calls_.begin(), calls_.end(), [](const std::unique_ptr<TCall>& c) {
    if (!c->ended) return false;
    if (c->toCaller.noise) awgn_free(c->toCaller.noise);
    if (c->toCallee.noise) awgn_free(c->toCallee.noise);
    return true;
  });
  calls_.erase(dead, calls_.end());
}

std::string TLine::Status() const {
  std::ostringstream out;
  for (const auto& c : calls_) {
    if (c->ended) continue;
    static const char* names[] = {"dialling", "ringing", "connected", "failing"};
    out << "call " << NumberOf(c->caller) << " -> " << (c->callee ? NumberOf(c->callee) : "?") << " "
        << names[static_cast<int>(c->state)] << "\n";
  }
  out << "impairments attenuation " << imp_.attenuationDb << " noise " << imp_.noiseDbm0 << " snr " << imp_.snrDb
      << " echo " << imp_.echoDb
      << " echo-delay " << imp_.echoDelayMs << " delay " << imp_.delayMs << "\n";
  return out.str();
}
