#pragma once
// The dispatcher of one open serial port. Three threads serve it:
//  - the comm thread waits in poll() for input and tells the dispatch thread;
//  - the dispatch thread reads input into the 8192-byte dispatch ring, checks
//    the triggers (at least every 50 ms) and delivers their notifications to
//    the registered handlers;
//  - the output thread writes the output ring to the device.
// Writers copy into the output ring and never wait for the line.
//
// Triggers are short notifications: data available (avail threshold), a
// string seen (data trigger), a timer expired, a status condition met. Every
// timer and status trigger fires once and must be armed again.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "faxengine/HostExecutor.h"
#include "faxengine/port/ComDevice.h"
#include "faxengine/port/DispatchLog.h"
#include "faxengine/port/Ticks.h"

// Trigger messages, for all three handler kinds alike.
enum class TTriggerMsg : uint16_t {
  tmAvail = 0x7E01,         // wParam = byte count
  tmData = 0x7E02,          // wParam = trigger handle, lParam low word = string length
  tmTimer = 0x7E03,         // wParam = trigger handle
  tmStatus = 0x7E04,        // wParam = trigger handle, lParam low word by kind
  tmClosePending = 0x7E0A,  // the port component's own deferred close
};

enum class TStatusKind : uint8_t {
  skModemStatus = 1,  // a watched modem status bit changed
  skLineStatus = 2,   // a watched line error occurred
  skOutBuffFree = 3,  // free bytes in the output ring >= value
  skOutBuffUsed = 4,  // used bytes in the output ring <= value
  skOutSent = 5,      // the output ring has been written out completely
};

// Milliseconds to wait after the output ring drained before new line
// settings apply: the time of about 18 characters at the current settings,
// doubled when short, rounded up to whole milliseconds.
unsigned LineSettleMs(const TLineSettings& s);

// Every handler receives the message, wParam and lParam; lParam carries the
// message's data in its low and the port's registry position in its high 16
// bits.
using TTriggerProc = void (*)(uint16_t msg, uint16_t wParam, uint32_t lParam);
using TTriggerMethod = std::function<void(uint16_t msg, uint16_t wParam, uint32_t lParam)>;
using THandlerId = uint32_t;

class TFxPosixDispatcher {
 public:
  static constexpr size_t kDispatchRingSize = 8192;
  static constexpr unsigned kDispatchPassMs = 50;
  static constexpr unsigned kWindowHandlerTimeoutMs = 3000;
  static constexpr unsigned kMaxFreshHandles = 4096;
  static constexpr size_t kMaxDataTriggerLength = 255;
  static constexpr int kAvailHandle = 1;

  // Trigger lists and handler lists; kept aside when a port is closed for a
  // change of number and given to the next dispatcher.
  struct TTriggerSet;

  explicit TFxPosixDispatcher(size_t outSize);
  ~TFxPosixDispatcher();
  TFxPosixDispatcher(const TFxPosixDispatcher&) = delete;
  TFxPosixDispatcher& operator=(const TFxPosixDispatcher&) = delete;

  // Opens and sets up the device (not yet the threads); a negative code on failure.
  int OpenDevice(const std::string& path, const TLineSettings& settings);
  TComDevice& Device() { return device_; }
  void SetRegistryPosition(uint16_t position) { registryPosition_ = position; }
  uint16_t RegistryPosition() const { return registryPosition_; }

  // Starts the three threads; throws when already started.
  void Start();
  // Stops the threads, then closes the device. Safe to call more than once.
  // From a handler on the dispatch thread it only asks the threads to end.
  void Stop();
  // Asks the threads to end without waiting for them.
  void RequestStop();
  bool Stopping() const { return stop_.load(); }
  bool OnDispatchThread() const;
  // True while a notification is being delivered.
  bool InDelivery() const { return dispatching_.load(); }

  // --- triggers -----------------------------------------------------------
  int NewTimerTrigger();
  int NewStatusTrigger(unsigned kind);
  int AddDataTrigger(std::string_view text, bool ignoreCase);
  int ArmTimerTrigger(int handle, int32_t ticks, bool activate);
  // Arms a timer to fire once, delay from now to the millisecond rather than
  // at the next tick: for the pauses a modem needs between commands.
  int ArmTimerTriggerMs(int handle, std::chrono::milliseconds delay);
  int ArmStatusTrigger(int handle, uint32_t value, bool activate);
  int SetAvailThreshold(uint32_t count);
  int DropTrigger(int handle);

  std::shared_ptr<TTriggerSet> TakeTriggers();
  void RestoreTriggers(std::shared_ptr<TTriggerSet> set);

  // --- handlers -----------------------------------------------------------
  void AddProcHandler(TTriggerProc proc);
  void RemoveProcHandler(TTriggerProc proc);
  THandlerId AddMethodHandler(TTriggerMethod method);
  void RemoveMethodHandler(THandlerId id);
  // A window handler runs on the host thread through executor, waiting for it
  // up to 3000 ms. Window handlers are called only when more than one is
  // registered or window delivery is forced on.
  THandlerId AddWindowHandler(THostExecutor& executor, TTriggerMethod handler);
  void RemoveWindowHandler(THandlerId id);
  void SetForceWindowDelivery(bool on);

  // Data-pointer slots 1..3; -1002 outside.
  int SetDataPointer(void* data, int slot);
  int GetDataPointer(void*& data, int slot) const;

  // Suppresses trigger checking and delivery while set; returns the previous value.
  bool HoldDispatch(bool hold);

  // --- input --------------------------------------------------------------
  size_t InputCount() const;
  bool ReadChar(uint8_t& c);
  size_t ReadBlock(uint8_t* dest, size_t max);
  // Waits until input is waiting, the port stops or timeout passes.
  bool WaitForInput(std::chrono::milliseconds timeout);
  // Drops the driver's receive queue and every unread byte of the ring.
  void PurgeInput();

  // --- output -------------------------------------------------------------
  // Queues the whole block; -3006 (nothing queued) when it does not fit.
  int WriteBlock(const void* data, size_t size);
  size_t OutputUsed() const;
  size_t OutputFree() const;
  size_t OutputSize() const { return outRing_.size(); }
  void PurgeOutput();

  // --- line ---------------------------------------------------------------
  uint8_t ModemStatus() const { return msr_.load(); }
  bool ModemStatusPresent() const { return msrPresent_; }
  uint8_t LastLineError() const { return lastLineError_.load(); }
  bool LastLineBreak() const { return (lastLineError_.load() & lsr::kBreak) != 0; }
  // Waits for the output ring to drain and the line to settle, then applies.
  int ChangeLineSettings(const TLineSettings& settings);
  const TLineSettings& LineSettings() const { return settings_; }

  // --- log and trace ------------------------------------------------------
  // Applies a state; returns the state that results (tlDump and tlAppend end
  // in tlOff, tlClear in tlOn). tlDump/tlAppend write file; -1002 for a trace
  // size beyond 4,000,000 entries.
  TTraceLogState SetLogging(TTraceLogState state, const std::filesystem::path& file, bool hex);
  TTraceLogState SetTracing(TTraceLogState state, const std::filesystem::path& file, bool hex);
  void SetLogSize(size_t bytes);
  int SetTraceSize(size_t entries);
  void AddLogEntry(TLogType type, TLogSubtype subtype, uint32_t data, std::span<const uint8_t> extra = {});
  void AddLogEntry(uint8_t type, uint8_t subtype, uint32_t data, std::span<const uint8_t> extra);
  bool Logging() const;
  // For tests: fixed times in the log.
  void SetLogClock(TDispatchLog::TClock clock);

 private:
  enum class THandlerKind { hkWindow, hkProcedure, hkMethod };
  struct THandler;
  struct TNotification {
    TTriggerMsg msg;
    uint16_t wParam;
    uint16_t data;
  };

  void ComThreadMain();
  void DispatchThreadMain();
  void OutThreadMain();

  // Dispatch-thread work.
  void ReadInput();
  void PollLines();
  void CheckStatusAndTimers();
  // When the dispatch thread must look again at the latest: the next pass,
  // or a millisecond timer due before it.
  std::chrono::steady_clock::time_point NextPassDue() const;
  bool FireOneStatus();
  bool FireOneTimer();
  void ScanInput();
  // Delivers one notification; returns the largest number of bytes a handler consumed.
  size_t Deliver(const TNotification& n, bool consumes);
  bool CallWindowHandler(const std::shared_ptr<THandler>& h, uint16_t msg, uint16_t wParam, uint32_t lParam);
  void CallGuarded(const std::shared_ptr<THandler>& h, uint16_t msg, uint16_t wParam, uint32_t lParam);
  void WakeDispatch();

  int NewHandle();
  bool HandleInUse(int handle) const;
  void LogLocked(TLogType type, TLogSubtype sub, uint32_t data, std::span<const uint8_t> extra = {});
  size_t UnreadLocked() const;

  TComDevice device_;
  TLineSettings settings_;
  uint16_t registryPosition_ = 0;

  // Thread start and stop.
  std::mutex threadMutex_;
  std::thread comThread_, dispThread_, outThread_;
  bool started_ = false;
  std::atomic<bool> stop_{false};
  int stopFd_ = -1;  // eventfd, readable once stopping
  std::thread::id dispThreadId_;

  // Comm thread -> dispatch thread hand-over.
  std::mutex eventMutex_;
  std::condition_variable eventCv_;
  bool rxEvent_ = false;     // comm thread saw input
  bool rxReleased_ = false;  // dispatch thread finished with it
  bool rxGotData_ = false;   // the last read took at least one byte
  bool wake_ = false;        // something else wants a pass now

  // Trigger lists, handler lists, log, trace, the dispatching flag.
  mutable std::mutex triggerMutex_;
  std::shared_ptr<TTriggerSet> triggers_;
  std::atomic<bool> dispatching_{false};
  std::atomic<bool> hold_{false};
  void* dataPointers_[3] = {nullptr, nullptr, nullptr};
  TDispatchLog log_;
  TDispatchTrace trace_;
  TTraceLogState logState_ = TTraceLogState::tlOff;
  TTraceLogState traceState_ = TTraceLogState::tlOff;
  uint64_t lastAvailScan_ = UINT64_MAX;

  // Dispatch ring: positions count bytes since open; ring index = pos % size.
  mutable std::mutex inputMutex_;
  std::condition_variable inputCv_;   // input arrived
  std::condition_variable roomCv_;    // the reader made room
  std::vector<uint8_t> ring_;
  uint64_t written_ = 0;       // bytes put into the ring
  uint64_t read_ = 0;          // bytes consumed
  uint64_t scanned_ = 0;       // bytes scanned for data triggers (dispatch thread only)
  uint64_t purges_ = 0;        // PurgeInput calls so far
  uint64_t scanPurges_ = 0;    // purges the data triggers have seen (dispatch thread only)
  bool inDeliveryRead_ = false;
  uint64_t deliveryRead_ = 0;  // a handler's read position during delivery

  // Output ring.
  mutable std::mutex outputMutex_;
  std::condition_variable outputCv_;
  std::vector<uint8_t> outRing_;
  uint64_t outHead_ = 0;  // bytes queued
  uint64_t outTail_ = 0;  // bytes written to the device
  uint64_t outGeneration_ = 0;  // bumped by PurgeOutput
  bool writing_ = false;
  bool purging_ = false;  // PurgeOutput waits for the write in hand

  // Modem and line status, refreshed by the dispatch thread.
  bool msrPresent_ = false;
  bool countsPresent_ = false;
  std::atomic<uint8_t> msr_{0};
  uint8_t lineError_ = 0;  // errors not yet reported (trigger lock)
  std::atomic<uint8_t> lastLineError_{0};
  TComDevice::TErrorCounts counts_;
};
