#pragma once
// The serial device under a port: naming (COM n to a device path), exclusive
// use (UUCP lock file plus TIOCEXCL), line settings through termios, and the
// modem control lines. Pseudo-terminals have no modem lines; that is reported
// as "not present", never as an error.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

enum class TParity { pNone, pOdd, pEven, pMark, pSpace };

enum class THWFlowOption : uint8_t { hwfUseDTR = 1, hwfUseRTS = 2, hwfRequireDSR = 4, hwfRequireCTS = 8 };
using THWFlowOptions = uint8_t;  // set of THWFlowOption bits
constexpr THWFlowOptions operator|(THWFlowOption a, THWFlowOption b) {
  return static_cast<THWFlowOptions>(static_cast<uint8_t>(a) | static_cast<uint8_t>(b));
}
constexpr bool Has(THWFlowOptions set, THWFlowOption o) { return (set & static_cast<uint8_t>(o)) != 0; }

enum class TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };

struct TLineSettings {
  int32_t baud = 19200;
  TParity parity = TParity::pNone;
  uint16_t dataBits = 8;
  uint16_t stopBits = 1;
  THWFlowOptions hwFlow = 0;
  TSWFlowOptions swFlow = TSWFlowOptions::swfNone;
  char xonChar = 17;
  char xoffChar = 19;
};

// Bits of the modem status register as the engine sees it.
namespace msr {
constexpr uint8_t kDeltaCTS = 0x01;
constexpr uint8_t kDeltaDSR = 0x02;
constexpr uint8_t kTrailingRI = 0x04;
constexpr uint8_t kDeltaDCD = 0x08;
constexpr uint8_t kCTS = 0x10;
constexpr uint8_t kDSR = 0x20;
constexpr uint8_t kRI = 0x40;
constexpr uint8_t kDCD = 0x80;
}  // namespace msr

// Line error bits: overrun, parity, framing, break.
namespace lsr {
constexpr uint8_t kOverrun = 0x02;
constexpr uint8_t kParity = 0x04;
constexpr uint8_t kFraming = 0x08;
constexpr uint8_t kBreak = 0x10;
}  // namespace lsr

// The device for COM comNumber: key "COMn" of section [Ports] in iniFile when
// present and not empty, else /dev/ttyS(n-1). An empty iniFile path skips the
// file.
std::string ComDeviceName(int comNumber, const std::filesystem::path& iniFile);

// Folder of the UUCP lock files: /var/lock unless CORVANE_LOCK_DIR names
// another or SetLockFolder was called (an empty path restores the default).
std::filesystem::path LockFolder();
void SetLockFolder(const std::filesystem::path& folder);
// The owner recorded in a lock file's content (ASCII or old binary form);
// 0 when there is none.
pid_t ParseLockOwner(std::string_view content);
// The lock file that guards device.
std::filesystem::path LockFileName(const std::string& device);

// An open serial device with its lock; closing releases both.
class TComDevice {
 public:
  TComDevice() = default;
  ~TComDevice();
  TComDevice(const TComDevice&) = delete;
  TComDevice& operator=(const TComDevice&) = delete;

  // Locks and opens path. Returns 0, -2001 (no such device, not a terminal),
  // -2005 (locked by a running program) or -2008 (busy or access refused).
  int Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }

  // Applies settings in raw mode; -1002 for a speed or format the device
  // cannot take.
  int Apply(const TLineSettings& s);

  bool IsPseudoTerminal() const;

  // Modem lines as msr bits (without deltas); false when the device has none.
  bool ModemLines(uint8_t& bits) const;
  // Sets DTR or RTS; false when the device has no such line.
  bool SetDTR(bool on) const;
  bool SetRTS(bool on) const;
  // Counts of line errors so far; false when the device keeps none.
  struct TErrorCounts {
    int overrun = 0, parity = 0, frame = 0, brk = 0;
  };
  bool ErrorCounts(TErrorCounts& c) const;
  // Bytes still queued in the driver for sending; 0 when unknown.
  int DriverOutQueue() const;

  void PurgeInput() const;
  void PurgeOutput() const;

  // The path used for the lock and for in-process exclusion: symbolic links
  // resolved when the device exists.
  static std::string CanonicalPath(const std::string& path);

 private:
  bool SetLine(int bit, bool on) const;
  void ReleaseLock();

  int fd_ = -1;
  std::string path_;
  std::filesystem::path lockFile_;
};
