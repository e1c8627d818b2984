#pragma once
// The fax session components. TFxSendFax and TFxReceiveFax share
// TFxAbstractFax: properties, events, the read-only session values and the
// session start. A session runs its state machine on the port's dispatcher
// thread; the machine reaches the component only through messages that the
// host executor runs on the host thread (the finish posted, the others sent:
// an answer the machine needs is waited for, news for at most a second), so
// every event handler runs on the host thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "faxengine/port/ComPort.h"
#include "faxengine/session/FaxCodes.h"
#include "faxengine/session/FaxLog.h"
#include "faxengine/session/FaxStatus.h"

enum class TFaxClass { fcUnknown, fcDetect, fcClass1, fcClass2, fcClass2_0 };
using TFaxClassSet = std::set<TFaxClass>;

// The class a settings number names: 1, 2 and 3 for Class 1, 2 and 2.0,
// anything else automatic detection.
[[nodiscard]] constexpr TFaxClass FaxClassFromSetting(int number) {
  switch (number) {
    case 1: return TFaxClass::fcClass1;
    case 2: return TFaxClass::fcClass2;
    case 3: return TFaxClass::fcClass2_0;
    default: return TFaxClass::fcDetect;
  }
}

// Messages from the state machine to its component.
enum class TFaxMessage : uint16_t {
  fmAbort = 0x7EA0,    // the user's cancel, to the machine
  fmNextFax = 0x7EA1,  // send: next entry
  fmStatus = 0x7EA2,   // wParam 1 first, 2 last, 0 other
  fmLog = 0x7EA3,      // wParam log code
  fmName = 0x7EA4,     // receive: file name
  fmAccept = 0x7EA5,   // receive: remote identified
  fmError = 0x7EA6,    // wParam error code
  fmFinish = 0x7EA7,   // posted; wParam error code
};

class TFaxSession;

class TFxAbstractFax {
 public:
  TFxAbstractFax();
  virtual ~TFxAbstractFax();
  TFxAbstractFax(const TFxAbstractFax&) = delete;
  TFxAbstractFax& operator=(const TFxAbstractFax&) = delete;

  // --- properties -------------------------------------------------------------
  int InitBaud = 0;
  int NormalBaud = 0;
  TFaxClass FaxClass = TFaxClass::fcDetect;
  const std::string& ModemInit() const { return modemInit_; }
  // Stored in capitals, at most 40 characters, "AT" put in front when missing.
  void SetModemInit(const std::string& s);
  const std::string& StationID() const { return stationID_; }
  void SetStationID(const std::string& s) { stationID_ = s.substr(0, 20); }
  TFxComPort* ComPort() const { return comPort_; }
  // Sets the port's line settings for fax use (8N1, 19200, 8192-byte rings,
  // RTS/CTS flow control).
  void SetComPort(TFxComPort* port);
  TFxAbstractFaxStatus* StatusDisplay = nullptr;
  TFxFaxLog* FaxLog = nullptr;
  virtual std::string FaxFile() const { return faxFile_; }
  virtual void SetFaxFile(const std::string& f) { faxFile_ = f; }
  bool AbortNoConnect = false;
  bool ExitOnError = false;
  bool SoftwareFlow = false;
  uint16_t StatusInterval = 1;
  uint16_t DesiredBPS = 9600;
  bool DesiredECM = false;
  std::string FaxFileExt = "APF";

  std::function<void(TFxAbstractFax& CP, bool First, bool Last)> OnFaxStatus;
  std::function<void(TFxAbstractFax& CP, int LogCode)> OnFaxLog;
  std::function<void(TFxAbstractFax& CP, int ErrorCode)> OnFaxError;
  std::function<void(TFxAbstractFax& CP, int ErrorCode)> OnFaxFinish;

  // --- read-only session values ------------------------------------------------
  int ProgressCode() const;
  int LastFaxError() const { return lastFaxError_; }
  int HangupReason() const;
  std::string RemoteID() const;
  int ConnectBPS() const;
  bool ConnectFine() const;
  bool ConnectWide() const;
  bool ConnectECM() const;
  int CurrentPage() const;
  int TotalPages() const;
  long PageLength() const;
  long BytesTransferred() const;
  int DialAttempt() const;
  // Seconds since the connection (progress 40/41) until its end; -1 before.
  long ElapsedSeconds() const;
  static std::string ProgressText(int code);
  // The classes the modem offers (AT+FCLASS=?), queried once on the open
  // port and cached. The first call waits for the modem's answer on the
  // caller's thread (up to about ten seconds with a silent modem), with the
  // port's trigger delivery held: call it from a worker, never from a
  // window's thread, and not while a session runs on the port (it answers
  // nothing then). The class check of the modem set-up calls it from its
  // own worker thread, between its other modem commands, which wait the
  // same way.
  TFaxClassSet SupportedClasses();

  // --- operations ---------------------------------------------------------------
  // Asks a running session to cancel and returns at once; the session ends
  // through OnFaxFinish with -6005.
  void AbortFax();
  bool Active() const;

  // The session's message to the component; runs on the host thread.
  int HandleMessage(TFaxMessage msg, int wParam);

 protected:
  friend class TFaxSession;
  enum class TDirection { dSend, dReceive };
  // Checks the port (raising on misuse) and starts a session.
  void CheckPort() const;
  // first: work that runs on the session's thread before the modem is
  // prepared (a code < 0 ends the session with it).
  void StartSession(TDirection direction, std::function<int()> first = {});
  virtual int NextFax() { return 0; }
  virtual void OnFinished() {}
  virtual std::string ReceiveName() { return {}; }
  virtual bool Accept() { return true; }
  virtual void LogLine(int code);

  std::shared_ptr<TFaxSession> session_;
  TFaxClassSet supported_;
  bool supportedKnown_ = false;
  std::string tempFile_;  // concatenated file list, deleted at finish

 private:
  TFxComPort* comPort_ = nullptr;
  std::string modemInit_;
  std::string stationID_;
  std::string faxFile_;
  int lastFaxError_ = 0;
};

class TFxSendFax : public TFxAbstractFax {
 public:
  bool EnhTextEnabled = false;
  std::shared_ptr<const class TFxFontRenderer> EnhHeaderFont, EnhFont;
  const std::vector<std::string>& FaxFileList() const { return faxFileList_; }
  void SetFaxFileList(std::vector<std::string> list) { faxFileList_ = std::move(list); }
  std::string FaxFile() const override { return faxFileList_.empty() ? std::string() : faxFileList_.front(); }
  void SetFaxFile(const std::string& f) override { faxFileList_ = {f}; }
  bool BlindDial = false;
  bool DetectBusy = true;
  bool ToneDial = true;
  std::string DialPrefix;
  int DialWait() const { return TicksToSecs(dialWaitTicks_); }
  void SetDialWait(int secs) { dialWaitTicks_ = SecsToTicks(secs); }
  int DialAttempts = 3;
  int DialRetryWait = 60;
  int MaxSendCount = 50;
  int BufferMinimum = 1000;
  std::string HeaderLine;
  std::string CoverFile() const { return coverFile_; }
  void SetCoverFile(const std::string& f) { coverFile_ = f; }
  std::string PhoneNumber() const { return phoneNumber_; }
  void SetPhoneNumber(const std::string& n) { phoneNumber_ = n; }
  bool SafeMode = true;
  bool KeepPageParameters = false;
  std::string HeaderSender, HeaderRecipient, HeaderTitle;
  // Returns the next entry: phone number, fax file, cover file (all empty:
  // no more entries).
  std::function<void(TFxSendFax& CP, std::string& APhoneNumber, std::string& AFaxFile, std::string& ACoverFile)>
      OnFaxNext;

  int32_t DialWaitTicks() const { return dialWaitTicks_; }

  // Raises EFxException (EPortNotAssigned, EOutputBufferTooSmall, ...) on
  // misuse. Returns at once: a file list is joined on the session's thread,
  // and a list that cannot be joined ends the session through OnFaxError
  // and OnFaxFinish with the code.
  void StartTransmit();

 protected:
  int NextFax() override;
  void OnFinished() override;

 private:
  std::vector<std::string> faxFileList_;
  std::string coverFile_, phoneNumber_;
  int32_t dialWaitTicks_ = SecsToTicks(60);
  int nextCalls_ = 0;
};

class TFxReceiveFax : public TFxAbstractFax {
 public:
  enum class TNameMode { nmCount = 1, nmMonthDay = 2 };
  int AnswerOnRing = 1;
  bool FaxAndData = false;
  bool OneFax = false;
  bool ConstantStatus = false;
  std::string DestinationDir;
  TNameMode NameMode = TNameMode::nmCount;
  std::function<void(TFxReceiveFax& CP, bool& Accept)> OnFaxAccept;
  std::function<void(TFxReceiveFax& CP, std::string& Name)> OnFaxName;

  void StartReceive();
  // The first free default name (count or month-day mode).
  std::string DefaultFaxName() const;

 protected:
  std::string ReceiveName() override;
  bool Accept() override;
};
