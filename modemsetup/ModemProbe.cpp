#include "modemsetup/ModemProbe.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <exception>
#include <fstream>
#include <thread>

#include "faxengine/port/ComDevice.h"
#include "faxengine/port/ComPort.h"
#include "faxengine/port/PortErrors.h"
#include "faxengine/port/Ticks.h"
#include "faxengine/text/FxStrings.h"
#include "shell/core/Folders.h"
#include "shell/core/Settings.h"
#include "shell/core/Text.h"

namespace {

constexpr const char* kCrLf = "\r\n";

// Writes line + CR and waits for "OK". A closed port has no modem behind it:
// the port's own wait would report success at once, so it is refused here.
bool CommandOk(TFxComPort& port, const std::string& line) {
  if (!port.Open()) return false;
  try {
    port.WriteString(line + "\r");
    return port.AwaitText("OK", kModemReplyTicks, false, true);
  } catch (const std::exception&) {
    return false;
  }
}

bool StopRequested(TFxComPort& port, TProbeStop stop) {
  if (stop && stop->load()) return true;
  const THostExecutor* host = port.HostExecutor();
  return host && host->Terminating();
}

}  // namespace

TOpenFaxPortResult OpenFaxPort(TFxComPort& port) {
  TOpenFaxPortResult r;
  const std::string number = std::to_string(port.ComNumber());
  // COM n is whatever [Ports] of the settings file names, as everywhere else.
  if (port.DeviceName().empty() && port.IniFileName().empty()) port.SetIniFileName(IniFileName());
  try {
    port.SetOpen(true);
    r.opened = port.Open();
  } catch (const EFxException& e) {
    r.errorCode = e.ErrorCode();
    switch (e.ErrorCode()) {
      case fxcode::ecPortInUse:
      case fxcode::ecAlreadyOpen:
        r.message = "The communications port is in use ( Com " + number + " )" + kCrLf + kCrLf +
                    "Please make sure that all communication " +
                    "programs (internet, AOL, etc) are closed, and then try " + "again.";
        // Which program holds it is what the user needs to close it.
        r.message += std::string(kCrLf) + kCrLf + PortHolderText(port.DevicePath());
        break;
      case fxcode::ecBadPortNumber:
        r.message = "Unable to open the specified communications port ( Com" + number + " )";
        break;
      default: {
        const std::string text = FxErrorText(e.ErrorCode());
        r.message = "Unable to open the specified communications port ( Com" + number + " )" + kCrLf +
                    "Error message: " + (text.empty() ? std::string("Unknown error") : text);
        break;
      }
    }
  } catch (const std::exception& e) {
    r.message = "Unable to open the specified communications port( Com" + number + " )" + kCrLf +
                "Error message: " + e.what();
  }
  return r;
}

void SettleWait(TFxComPort& port, int ticks, TProbeStop stop) {
  THostExecutor* host = port.HostExecutor();
  const bool onHost = host && host->IsHostThread();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ticks * static_cast<int>(kMsPerTick));
  while (std::chrono::steady_clock::now() < end && !StopRequested(port, stop)) {
    if (onHost) host->ProcessEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool CheckForModem(TFxComPort& port, const std::string& resetString, TProbeStop stop) {
  SettleWait(port, kModemSettleTicks, stop);
  if (StopRequested(port, stop)) return false;
  if (CommandOk(port, "AT")) return true;
  const std::string reset = TrimBoth(resetString);
  if (reset.empty()) return false;
  return CommandOk(port, reset);
}

bool CheckForModem(TFxComPort& port, TProbeStop stop) { return CheckForModem(port, Settings.ResetString, stop); }

bool SendModemString(TFxComPort& port, std::string& command) {
  std::string upper = command;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("AT") == std::string::npos) command = "AT" + command;
  return CommandOk(port, command);
}

bool ResetModemToFactory(TFxComPort& port) {
  if (!port.Open()) return false;
  try {
    port.WriteString("AT&F\r");
    return port.AwaitText("OK", kModemReplyTicks, false, true);
  } catch (const std::exception&) {
    // After a port error the plain reset is tried for the modem's sake; the
    // factory reset has failed all the same.
    (void)CommandOk(port, "ATZ");
    return false;
  }
}

std::unique_ptr<TFxComPort> MakeProbePort(const TFxComPort& lent) {
  auto port = std::make_unique<TFxComPort>();
  port->SetIniFileName(lent.IniFileName().empty() ? std::filesystem::path(IniFileName()) : lent.IniFileName());
  port->SetPromptForPort(false);
  port->SetAutoOpen(false);
  port->SetTapiMode(lent.TapiMode());
  port->SetBaud(lent.Baud());
  port->SetParity(lent.Parity());
  port->SetDataBits(lent.DataBits());
  port->SetStopBits(lent.StopBits());
  port->SetInSize(lent.InSize());
  port->SetOutSize(lent.OutSize());
  port->SetHWFlowOptions(lent.HWFlowOptions());
  port->SetSWFlowOptions(lent.SWFlowOptions());
  port->SetXOnChar(lent.XOnChar());
  port->SetXOffChar(lent.XOffChar());
  port->SetDTR(lent.DTR());
  port->SetRTS(lent.RTS());
  return port;
}

int RateFromIndex(int index) {
  if (index < 0 || index > 5) return 9600;
  return 2400 * (index + 1);
}

int IndexFromRate(int rate) {
  if (rate % 2400 == 0 && rate >= 2400 && rate <= 14400) return rate / 2400 - 1;
  return 3;
}

std::optional<TPortHolder> PortLockHolder(const std::string& device) {
  std::ifstream lock(LockFileName(TComDevice::CanonicalPath(device)), std::ios::binary);
  if (!lock) return std::nullopt;
  char buf[64];
  lock.read(buf, sizeof buf);
  const pid_t pid = ParseLockOwner(std::string_view(buf, static_cast<size_t>(lock.gcount())));
  if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM)) return std::nullopt;
  TPortHolder holder;
  holder.pid = pid;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::getline(comm, holder.program);
  return holder;
}

std::string PortHolderText(const std::string& device) {
  const std::string shown = TComDevice::CanonicalPath(device);
  const auto holder = PortLockHolder(device);
  if (!holder) return "The device " + shown + " is held by another program.";
  if (holder->pid == ::getpid()) return "The device " + shown + " is already open in this program.";
  const std::string pid = "PID " + std::to_string(holder->pid);
  if (holder->program.empty()) return "The device " + shown + " is held by the program with " + pid + ".";
  return "The device " + shown + " is held by " + holder->program + " (" + pid + ").";
}
