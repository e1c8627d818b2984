#pragma once
// What a modem's transmitter did with non-ECM data (Class 1 +FTM data,
// Class 2 page data): when the first and the last data bit went on the line,
// how many bytes the program gave it, and how often it ran out of data in
// between. A transmitter that runs dry sends fill instead, which stretches
// the page's airtime beyond bytes * 8 / rate; the record makes that visible
// to tests and benchmarks through the control socket.

#include <cstdint>
#include <string>
#include <vector>

struct TDataBurst {
  int rate = 0;              // bit/s
  int64_t startUs = -1;      // first data bit, from the dial (or answer)
  int64_t endUs = -1;        // end of the last data bit; -1 while open
  uint64_t bytes = 0;        // data bytes sent, fill of the program's own included
  uint64_t fillBytes = 0;    // bytes of fill the modem added because it had no data
  int underruns = 0;         // times the modem ran out of data
  bool complete = false;     // ended by the program's end of data, not by a hang-up

  int64_t AirtimeUs() const { return endUs >= 0 ? endUs - startUs : -1; }
  // bytes * 8 / rate: the time the data needs on the line.
  int64_t MinimumUs() const { return rate > 0 ? static_cast<int64_t>(bytes * 8 * 1000000 / static_cast<uint64_t>(rate)) : -1; }
};

class TDataRecorder {
 public:
  static constexpr int kSampleRate = 8000;
  static constexpr size_t kMaxBursts = 64;  // a call's pages; older ones are dropped

  // A call starts (dial or answer) at sample `at`: the record starts afresh.
  void Reset(int64_t at);
  // The call was answered at sample `at`.
  void Answered(int64_t at) { answeredUs_ = ToUs(at); }
  int64_t AnsweredUs() const { return answeredUs_; }
  // One transmit block of `samples` samples starting at sample `at`:
  // `levelBefore`/`levelAfter` are the bytes waiting in the transmitter
  // before and after the block, `active` says the fast modem is sending
  // data, `ended` that the program has ended the data (DLE ETX).
  void Block(int64_t at, int samples, int rate, int levelBefore, int levelAfter, bool active, bool ended);
  // The call ended (or the modem stopped sending): an open burst is closed
  // as incomplete.
  void CallEnded(int64_t at);

  const std::vector<TDataBurst>& Bursts() const { return bursts_; }
  int64_t CallStartSample() const { return callStart_; }
  // One line: "bursts=N" then each burst's figures.
  std::string Text() const;

 private:
  int64_t ToUs(int64_t sample) const { return (sample - callStart_) * 1000000 / kSampleRate; }

  std::vector<TDataBurst> bursts_;
  int64_t callStart_ = 0;
  int64_t answeredUs_ = -1;
  bool open_ = false;
  bool starved_ = false;
};
