#pragma once
// Talking to a modem outside any fax call: opening a port with a readable
// error text, checking that a modem answers, sending a command, resetting to
// the factory profile. The routines block for up to 36 ticks per command and
// never run the user interface, so windows call them from a worker thread.
// None of them raises: port errors become a false result or a message.

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class TFxComPort;

// Ticks every wait for "OK" may take.
inline constexpr int kModemReplyTicks = 36;
// The settle time before the first command.
inline constexpr int kModemSettleTicks = 12;

struct TOpenFaxPortResult {
  bool opened = false;
  std::string message;  // empty when opened
  int errorCode = 0;    // the engine's code when opening raised one, else 0
};

// Opens port (its number already set). On failure the message names the port
// and, for a device another program holds, the device and that program.
[[nodiscard]] TOpenFaxPortResult OpenFaxPort(TFxComPort& port);

// A flag a worker's owner sets to end the settle wait early (the waits for
// "OK" end on their own within kModemReplyTicks).
using TProbeStop = const std::atomic<bool>*;

// Waits the settle time, then "AT"; when that brings no "OK" and resetString
// (trimmed) is not empty, the reset string decides. True when a modem answered.
[[nodiscard]] bool CheckForModem(TFxComPort& port, const std::string& resetString, TProbeStop stop = nullptr);
// The same with the reset string of the settings ([Resetting] String).
[[nodiscard]] bool CheckForModem(TFxComPort& port, TProbeStop stop = nullptr);

// Sends command (with "AT" put in front, in the caller's variable too, when
// it has none) and waits for "OK".
[[nodiscard]] bool SendModemString(TFxComPort& port, std::string& command);

// "AT&F"; only when sending it fails with a port error is "ATZ" tried, and the
// result is then still false.
[[nodiscard]] bool ResetModemToFactory(TFxComPort& port);

// Waits ticks, ending early when stop is set or the host is terminating; on
// the host thread it lets the host's events run meanwhile.
void SettleWait(TFxComPort& port, int ticks, TProbeStop stop = nullptr);

// A port of its own for a probe on a worker thread, set up like lent: the
// same settings file for the port names and the same line settings, but no
// host executor and never the port chooser (no window may open off the GUI
// thread). Closed, with number 0.
[[nodiscard]] std::unique_ptr<TFxComPort> MakeProbePort(const TFxComPort& lent);

// Positions 0..5 of the transfer rate list: 2400 to 14400 bit/s in steps of
// 2400. Out of range gives 9600; a rate not in the list gives position 3.
[[nodiscard]] int RateFromIndex(int index);
[[nodiscard]] int IndexFromRate(int rate);

// Who holds a device through its UUCP lock file: the PID recorded there when
// that process is alive, and its program name when it can be read.
struct TPortHolder {
  pid_t pid = 0;
  std::string program;
};
[[nodiscard]] std::optional<TPortHolder> PortLockHolder(const std::string& device);
// "The device /dev/ttyS0 is held by efax (PID 1234).", or that it is already
// open in this program, or, when the holder is unknown, "The device
// /dev/ttyS0 is held by another program."
[[nodiscard]] std::string PortHolderText(const std::string& device);
