#include "faxengine/session/AbstractFax.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "faxengine/session/FaxSession.h"
#include "faxengine/session/FxExceptions.h"
#include "faxengine/text/FxStrings.h"
#include "faximage/Apf.h"

namespace fs = std::filesystem;

TFxAbstractFax::TFxAbstractFax() = default;

TFxAbstractFax::~TFxAbstractFax() {
  if (session_) {
    // A window closed with a call in hand: the call is still hung up, on the
    // dispatcher thread, before the session lets go of the port. Nothing
    // reaches this component any more, so no wait for it can hold that up.
    session_->Detach();
    session_->Abort();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!session_->Finished() && session_->OnOpenPort() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    session_->Teardown();
  }
  if (!tempFile_.empty()) {
    std::error_code ec;
    fs::remove(tempFile_, ec);
  }
}

void TFxAbstractFax::SetModemInit(const std::string& s) {
  std::string v = s;
  for (char& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!v.empty() && v.rfind("AT", 0) != 0) v = "AT" + v;
  modemInit_ = v.substr(0, 40);
}

void TFxAbstractFax::SetComPort(TFxComPort* port) {
  comPort_ = port;
  if (!port) return;
  port->SetDataBits(8);
  port->SetStopBits(1);
  port->SetParity(TParity::pNone);
  port->SetBaud(19200);
  port->SetInSize(8192);
  port->SetOutSize(8192);
  port->SetHWFlowOptions(THWFlowOption::hwfUseRTS | THWFlowOption::hwfRequireCTS);
}

int TFxAbstractFax::ProgressCode() const { return session_ ? session_->progress.load() : 0; }
int TFxAbstractFax::HangupReason() const { return session_ ? session_->hangupReason.load() : 0; }
std::string TFxAbstractFax::RemoteID() const { return session_ ? session_->RemoteId() : std::string(); }
int TFxAbstractFax::ConnectBPS() const { return session_ ? session_->connectBps.load() : 0; }
bool TFxAbstractFax::ConnectFine() const { return session_ && session_->connectFine.load(); }
bool TFxAbstractFax::ConnectWide() const { return session_ && session_->connectWide.load(); }
bool TFxAbstractFax::ConnectECM() const { return session_ && session_->connectEcm.load(); }
int TFxAbstractFax::CurrentPage() const { return session_ ? session_->currentPage.load() : 0; }
int TFxAbstractFax::TotalPages() const { return Active() ? session_->totalPages.load() : 0; }
long TFxAbstractFax::PageLength() const { return Active() ? session_->pageLength.load() : 0; }
long TFxAbstractFax::BytesTransferred() const {
  if (!Active()) return 0;
  if (!session_->Sending()) return session_->bytesReceived.load();
  if (!comPort_) return 0;
  const long queued = static_cast<long>(comPort_->OutputUsed());
  return std::max(0L, session_->bytesSent.load() - queued);
}
int TFxAbstractFax::DialAttempt() const { return session_ ? session_->dialAttempt.load() : 0; }
bool TFxAbstractFax::Active() const { return session_ && session_->active.load(); }
std::string TFxAbstractFax::ProgressText(int code) { return FxProgressText(code); }

long TFxAbstractFax::ElapsedSeconds() const {
  if (!session_ || session_->connectStartMs < 0) return -1;
  long end = session_->connectEndMs.load();
  if (end < 0)
    end = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count());
  return (end - session_->connectStartMs.load()) / 1000;
}

TFaxClassSet TFxAbstractFax::SupportedClasses() {
  if (supportedKnown_) return supported_;
  // A session still preparing talks to the modem on its own thread.
  if (!comPort_ || !comPort_->Open() || (session_ && !session_->Finished())) return {};
  auto probe = std::make_shared<TFaxSession>(*this, true);
  supported_ = probe->QueryClasses(false);
  supportedKnown_ = true;
  return supported_;
}

void TFxAbstractFax::AbortFax() {
  if (session_ && !session_->Finished()) session_->Abort();
}

void TFxAbstractFax::CheckPort() const {
  if (!comPort_) RaiseFxError(fxcode::ecPortNotAssigned);
  if (comPort_->DeviceLayer() == TDeviceLayer::dlWinsock) RaiseFxError(fxcode::ecCannotUseWithWinSock);
  if (comPort_->OutSize() < 8192) RaiseFxError(fxcode::ecOutputBufferTooSmall);
  if (!comPort_->HostExecutor()) RaiseFxError(fxcode::ecInternal);
}

void TFxAbstractFax::StartSession(TDirection direction, std::function<int()> first) {
  if (session_) session_->Teardown();
  lastFaxError_ = 0;
  session_ = std::make_shared<TFaxSession>(*this, direction == TDirection::dSend);
  session_->Start(std::move(first));
}

void TFxAbstractFax::LogLine(int code) {
  if (FaxLog) FaxLog->UpdateLog(*this, code);
}

int TFxAbstractFax::HandleMessage(TFaxMessage msg, int wParam) {
  switch (msg) {
    case TFaxMessage::fmNextFax: return NextFax();
    case TFaxMessage::fmStatus:
      if (StatusDisplay) StatusDisplay->UpdateDisplay(*this, wParam == 1, wParam == 2);
      if (OnFaxStatus) OnFaxStatus(*this, wParam == 1, wParam == 2);
      return 1;
    case TFaxMessage::fmLog:
      LogLine(wParam);
      if (OnFaxLog) OnFaxLog(*this, wParam);
      if (wParam == 5 || wParam == 6 || wParam == 7) faxFile_.clear();
      return 1;
    case TFaxMessage::fmName: {
      const std::string name = ReceiveName();
      faxFile_ = name;
      if (session_) session_->receiveFileName = name;
      return 1;
    }
    case TFaxMessage::fmAccept: return Accept() ? 1 : 0;
    case TFaxMessage::fmError:
      lastFaxError_ = wParam;
      if (OnFaxError) OnFaxError(*this, wParam);
      return 1;
    case TFaxMessage::fmFinish: {
      if (session_) session_->Teardown();
      if (!tempFile_.empty()) {
        std::error_code ec;
        fs::remove(tempFile_, ec);
        tempFile_.clear();
      }
      if (wParam != 0) lastFaxError_ = wParam;
      OnFinished();
      if (OnFaxFinish) OnFaxFinish(*this, wParam);
      return 1;
    }
    case TFaxMessage::fmAbort: return 0;
  }
  return 0;
}

// --- send -----------------------------------------------------------------------

void TFxSendFax::StartTransmit() {
  CheckPort();
  // A session still preparing may be writing the last joined copy.
  if (session_) session_->Teardown();
  if (!tempFile_.empty()) {
    std::error_code ec;
    fs::remove(tempFile_, ec);
    tempFile_.clear();
  }
  std::function<int()> join;
  if (faxFileList_.size() >= 2 && !OnFaxNext) {
    // The session opens a fax file by its name plus the fax extension when
    // the name has none: the joined copy carries that extension.
    const std::string suffix = "." + (FaxFileExt.empty() ? std::string("APF") : FaxFileExt);
    std::string templ = (fs::temp_directory_path() / ("~FXXXXXX" + suffix)).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    const int fd = mkstemps(buf.data(), static_cast<int>(suffix.size()));
    if (fd < 0) RaiseFxError(-errno);
    close(fd);
    tempFile_ = buf.data();
    // Joining copies every page of every file, which takes as long as the
    // files are large: it runs on the session's own thread before the
    // modem is prepared, and a failure ends the session with its code.
    join = [sources = std::vector<fs::path>(faxFileList_.begin(), faxFileList_.end()), target = tempFile_] {
      return ApfConcatenate(sources, target);
    };
  }
  nextCalls_ = 0;
  StartSession(TDirection::dSend, std::move(join));
}

int TFxSendFax::NextFax() {
  std::string number, file, cover;
  if (OnFaxNext) {
    OnFaxNext(*this, number, file, cover);
  } else if (nextCalls_ == 0) {
    number = PhoneNumber();
    file = tempFile_.empty() ? FaxFile() : tempFile_;
    cover = CoverFile();
  }
  ++nextCalls_;
  if (number.empty() || !session_) return 0;
  // Names are kept as given: on a case-sensitive file system capitals
  // would name another file.
  session_->phoneNumber = number.substr(0, 40);
  session_->faxFileName = file;
  session_->coverFileName = cover;
  return 1;
}

void TFxSendFax::OnFinished() {}

// --- receive ---------------------------------------------------------------------

void TFxReceiveFax::StartReceive() {
  CheckPort();
  StartSession(TDirection::dReceive);
}

std::string TFxReceiveFax::DefaultFaxName() const {
  std::string prefix;
  if (NameMode == TNameMode::nmMonthDay) {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d%02d", (local.tm_mon + 1) % 100, local.tm_mday % 100);
    prefix = buf;
  } else {
    prefix = "FAX";
  }
  const std::string dir = DestinationDir.empty() ? std::string() : DestinationDir + "/";
  for (int n = 1; n <= 9999; ++n) {
    char num[8];
    std::snprintf(num, sizeof num, "%04d", n);
    const std::string name = dir + prefix + num + "." + FaxFileExt;
    std::error_code ec;
    if (!fs::exists(name, ec)) return name;
  }
  return dir + "NONAME.APF";
}

std::string TFxReceiveFax::ReceiveName() {
  std::string name;
  if (OnFaxName) OnFaxName(*this, name);
  if (name.empty()) name = DefaultFaxName();
  return name;
}

bool TFxReceiveFax::Accept() {
  bool accept = true;
  if (OnFaxAccept) OnFaxAccept(*this, accept);
  return accept;
}
