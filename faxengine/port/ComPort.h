#pragma once
// TFxComPort: the serial port component. While open it owns a dispatcher
// (threads, rings, triggers); its trigger events run on the host thread
// through the host executor. Properties are getters and setters; setting a
// line property while open applies it to the open port.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "faxengine/HostExecutor.h"
#include "faxengine/port/ComDevice.h"
#include "faxengine/port/Dispatcher.h"
#include "faxengine/port/DispatchLog.h"

enum class TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum class TTapiMode { tmNone, tmAuto, tmOn, tmOff };

class TFxComPort {
 public:
  // The port chooser the application fills in: called on the host thread when
  // a port with ComNumber 0 and PromptForPort on is opened; returns the chosen
  // one-based number, or nothing when the user aborts.
  using TPortChooser = std::function<std::optional<int>()>;
  static void SetPortChooser(TPortChooser chooser);
  // True when COM n exists (it opens, or is busy or locked by another program).
  static bool PortPresent(int comNumber, const std::filesystem::path& iniFile);

  TFxComPort();
  ~TFxComPort();
  TFxComPort(const TFxComPort&) = delete;
  TFxComPort& operator=(const TFxComPort&) = delete;

  // --- where events go and where ports are named ---------------------------
  // The executor must outlive every open period of the port.
  void SetHostExecutor(THostExecutor* executor) { executor_ = executor; }
  THostExecutor* HostExecutor() const { return executor_; }
  // The settings file whose [Ports] section names the devices.
  void SetIniFileName(std::filesystem::path file) { iniFile_ = std::move(file); }
  const std::filesystem::path& IniFileName() const { return iniFile_; }
  // A device path that overrides the number mapping (tools, tests); empty
  // for the mapping.
  void SetDeviceName(std::string path) { deviceName_ = std::move(path); }
  const std::string& DeviceName() const { return deviceName_; }
  // The device the port uses (or would use).
  std::string DevicePath() const;

  // --- properties -----------------------------------------------------------
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(TDeviceLayer v) { deviceLayer_ = v; }
  uint16_t ComNumber() const { return comNumber_; }
  // While open, the port is reopened on the new number with its triggers.
  void SetComNumber(uint16_t n);
  int32_t Baud() const { return line_.baud; }
  void SetBaud(int32_t v);
  bool PromptForPort() const { return promptForPort_; }
  void SetPromptForPort(bool v) { promptForPort_ = v; }
  TParity Parity() const { return line_.parity; }
  void SetParity(TParity v);
  uint16_t DataBits() const { return line_.dataBits; }
  void SetDataBits(uint16_t v);
  uint16_t StopBits() const { return line_.stopBits; }
  void SetStopBits(uint16_t v);
  uint16_t InSize() const { return inSize_; }
  void SetInSize(uint16_t v) { inSize_ = v; }
  uint16_t OutSize() const { return outSize_; }
  void SetOutSize(uint16_t v) { outSize_ = v; }  // takes effect at the next open
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool v) { autoOpen_ = v; }
  bool Open() const;
  // Opening raises EOpenComm (or another EFxException) on failure. Closing
  // from inside a trigger handler is deferred until the delivery has ended.
  void SetOpen(bool open);
  bool DTR() const { return dtr_; }
  void SetDTR(bool on);
  bool RTS() const { return rts_; }
  void SetRTS(bool on);
  THWFlowOptions HWFlowOptions() const { return line_.hwFlow; }
  void SetHWFlowOptions(THWFlowOptions v);
  TSWFlowOptions SWFlowOptions() const { return line_.swFlow; }
  void SetSWFlowOptions(TSWFlowOptions v);
  char XOnChar() const { return line_.xonChar; }
  void SetXOnChar(char c);
  char XOffChar() const { return line_.xoffChar; }
  void SetXOffChar(char c);
  // Input fill levels for flow control; the driver keeps its own on Linux.
  uint16_t BufferFull() const { return bufferFull_; }
  void SetBufferFull(uint16_t v) { bufferFull_ = v; }
  uint16_t BufferResume() const { return bufferResume_; }
  void SetBufferResume(uint16_t v) { bufferResume_ = v; }
  TTraceLogState Tracing() const { return tracing_; }
  void SetTracing(TTraceLogState state);
  uint32_t TraceSize() const { return traceSize_; }
  void SetTraceSize(uint32_t entries);  // raises EBadArgument beyond 4,000,000
  const std::string& TraceName() const { return traceName_; }
  void SetTraceName(std::string name) { traceName_ = std::move(name); }
  bool TraceHex() const { return traceHex_; }
  void SetTraceHex(bool v) { traceHex_ = v; }
  TTraceLogState Logging() const { return logging_; }
  void SetLogging(TTraceLogState state);
  uint32_t LogSize() const { return logSize_; }
  void SetLogSize(uint32_t bytes);
  const std::string& LogName() const { return logName_; }
  void SetLogName(std::string name) { logName_ = std::move(name); }
  bool LogHex() const { return logHex_; }
  void SetLogHex(bool v) { logHex_ = v; }
  bool UseMSRShadow() const { return useMSRShadow_; }
  void SetUseMSRShadow(bool v) { useMSRShadow_ = v; }
  bool UseEventWord() const { return useEventWord_; }
  void SetUseEventWord(bool v) { useEventWord_ = v; }
  uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
  void SetCommNotificationLevel(uint16_t v) { commNotificationLevel_ = v; }
  TTapiMode TapiMode() const { return tapiMode_; }
  void SetTapiMode(TTapiMode v) { tapiMode_ = v; }
  bool RS485Mode() const { return rs485Mode_; }
  void SetRS485Mode(bool v) { rs485Mode_ = v; }

  // --- operations ------------------------------------------------------------
  // Queue bytes for sending; raise EOutputBufferTooSmall when they do not fit
  // the free part of the output ring. Nothing happens on a closed port.
  void WriteString(std::string_view s);
  void WriteBlock(const void* data, size_t size);
  void WriteChar(char c);
  bool HasInput() const;
  // Takes one byte; false when none is waiting.
  bool ReadChar(char& c);
  size_t ReadBlock(void* dest, size_t max);
  size_t OutputUsed() const;
  size_t OutputFree() const;
  void PurgeInput();
  void PurgeOutput();
  bool CarrierPresent() const;
  void AddLogText(std::string_view text);
  // Waits for text in the input (see the source for the exact rules); true
  // when it arrived (or the host is terminating), false on time-out.
  bool AwaitText(std::string_view text, int32_t ticks, bool processMessages, bool ignoreCase);

  // The open port's dispatcher, for the fax engine; null while closed.
  TFxPosixDispatcher* Dispatcher() const { return dispatcher_.get(); }

  // Components that work through this port hear when it opens or closes.
  using TPortListener = std::function<void(TFxComPort& port, bool opened)>;
  int AddPortListener(TPortListener listener);
  void RemovePortListener(int id);

  // --- events (run on the host thread) ----------------------------------------
  std::function<void(TFxComPort& CP, uint16_t Msg, uint16_t TriggerHandle, uint16_t Data)> OnTrigger;
  std::function<void(TFxComPort& CP, uint16_t Count)> OnTriggerAvail;
  std::function<void(TFxComPort& CP, uint16_t TriggerHandle)> OnTriggerData;
  std::function<void(TFxComPort& CP, uint16_t TriggerHandle)> OnTriggerStatus;
  std::function<void(TFxComPort& CP, uint16_t TriggerHandle)> OnTriggerTimer;
  std::function<void(TFxComPort& CP, uint16_t Error, bool LineBreak)> OnTriggerLineError;
  std::function<void(TFxComPort& CP)> OnTriggerModemStatus;
  std::function<void(TFxComPort& CP)> OnTriggerOutbuffFree;
  std::function<void(TFxComPort& CP)> OnTriggerOutbuffUsed;
  std::function<void(TFxComPort& CP)> OnTriggerOutSent;
  std::function<void(TFxComPort& CP, char C)> OnWaitChar;

 private:
  void DoOpen(std::shared_ptr<TFxPosixDispatcher::TTriggerSet> restore);
  void DoClose(bool keepTriggers, std::shared_ptr<TFxPosixDispatcher::TTriggerSet>* saved);
  void FinishPendingClose();
  void ApplyLine();
  void WindowMessage(uint16_t msg, uint16_t wParam, uint32_t lParam);
  bool AnyTriggerEvent() const;

  THostExecutor* executor_ = nullptr;
  std::filesystem::path iniFile_;
  std::string deviceName_;

  TDeviceLayer deviceLayer_ = TDeviceLayer::dlWin32;
  uint16_t comNumber_ = 0;
  bool promptForPort_ = true;
  TLineSettings line_;
  uint16_t inSize_ = 4096;
  uint16_t outSize_ = 4096;
  bool autoOpen_ = true;
  bool dtr_ = true;
  bool rts_ = true;
  uint16_t bufferFull_ = 0;
  uint16_t bufferResume_ = 0;
  TTraceLogState tracing_ = TTraceLogState::tlOff;
  uint32_t traceSize_ = 10000;
  std::string traceName_ = "FAXENG.TRC";
  bool traceHex_ = true;
  TTraceLogState logging_ = TTraceLogState::tlOff;
  uint32_t logSize_ = 10000;
  std::string logName_ = "FAXENG.LOG";
  bool logHex_ = true;
  bool useMSRShadow_ = true;
  bool useEventWord_ = true;
  uint16_t commNotificationLevel_ = 10;
  TTapiMode tapiMode_ = TTapiMode::tmAuto;
  bool rs485Mode_ = false;

  std::unique_ptr<TFxPosixDispatcher> dispatcher_;
  uint16_t registryPosition_ = 0;
  THandlerId windowHandler_ = 0;
  bool closePending_ = false;  // a close was asked for inside a delivery
  bool inWindowHandler_ = false;
  std::shared_ptr<bool> alive_;  // lets posted closes see a destroyed port
  std::vector<std::pair<int, TPortListener>> listeners_;
  int nextListenerId_ = 1;
};
