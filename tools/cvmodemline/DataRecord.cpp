#include "tools/cvmodemline/DataRecord.h"

#include <algorithm>
#include <sstream>

void TDataRecorder::Reset(int64_t at) {
  bursts_.clear();
  callStart_ = at;
  answeredUs_ = -1;
  open_ = false;
  starved_ = false;
}

void TDataRecorder::Block(int64_t at, int samples, int rate, int levelBefore, int levelAfter, bool active,
                          bool ended) {
  if (rate <= 0 || samples <= 0) return;
  if (open_ && !active) {
    // The fast modem stopped without the program's end of data.
    CallEnded(at);
    return;
  }
  const int consumed = std::max(0, levelBefore - levelAfter);
  // Samples the consumed bytes took on the line.
  const int64_t dataSamples = static_cast<int64_t>(consumed) * 8 * kSampleRate / rate;
  if (!open_) {
    if (!active || consumed == 0) return;
    if (bursts_.size() >= kMaxBursts) bursts_.erase(bursts_.begin());
    TDataBurst b;
    b.rate = rate;
    // The block's last bits were data unless it ran dry: then the data
    // went out from the block's start.
    const int64_t firstSample = levelAfter > 0 ? at + samples - dataSamples : at;
    b.startUs = ToUs(std::max(at, firstSample));
    bursts_.push_back(b);
    open_ = true;
    starved_ = false;
  }
  bursts_.back().bytes += static_cast<uint64_t>(consumed);
  TDataBurst& b = bursts_.back();
  if (levelAfter > 0) {
    starved_ = false;
    return;
  }
  if (ended) {
    b.endUs = ToUs(at + dataSamples);
    b.complete = true;
    open_ = false;
    return;
  }
  // Nothing left to send and no end of data: the modem sends fill.
  const int64_t blockBytes = static_cast<int64_t>(samples) * rate / (8 * kSampleRate);
  b.fillBytes += static_cast<uint64_t>(std::max<int64_t>(0, blockBytes - consumed));
  if (!starved_) ++b.underruns;
  starved_ = true;
}

void TDataRecorder::CallEnded(int64_t at) {
  if (!open_) return;
  bursts_.back().endUs = ToUs(at);
  open_ = false;
}

std::string TDataRecorder::Text() const {
  std::ostringstream out;
  out << "bursts=" << bursts_.size() << " answered-us=" << answeredUs_;
  for (const TDataBurst& b : bursts_) {
    out << " [rate=" << b.rate << " bytes=" << b.bytes << " start-us=" << b.startUs << " airtime-us=" << b.AirtimeUs()
        << " minimum-us=" << b.MinimumUs() << " underruns=" << b.underruns << " fill=" << b.fillBytes
        << (b.complete ? "" : " incomplete") << "]";
  }
  return out.str();
}
