#pragma once
// USB serial devices (most fax modems today) and the [Ports] section that
// gives them COM numbers. A USB modem's name changes with the order devices
// are plugged in (/dev/ttyACM0 may become /dev/ttyACM1), so the stable name
// under /dev/serial/by-id is stored where there is one.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct TUsbSerialDevice {
  std::string device;  // e.g. /dev/ttyACM0
  std::string name;    // the by-id name when there is one, else device
};

// The folder searched for devices: /dev, or another for tests.
void SetSerialDeviceFolder(const std::filesystem::path& folder);
std::filesystem::path SerialDeviceFolder();

// The ttyACM* and ttyUSB* devices present, in name order.
[[nodiscard]] std::vector<TUsbSerialDevice> UsbSerialDevices();

// The COM number in 1..highest whose device (as [Ports] in iniFile names it,
// else /dev/ttyS(n-1)) is device or links to it; 0 when none.
[[nodiscard]] int ComNumberOfDevice(const std::filesystem::path& iniFile, const std::string& device, int highest);

// The first COM number in 1..highest that [Ports] does not name yet; 0 when
// every one is taken.
[[nodiscard]] int FreeComNumber(const std::filesystem::path& iniFile, int highest);

// Names device as COM n in [Ports] of iniFile, written at once and whole
// (the rest of the file kept). False when the file could not be written.
[[nodiscard]] bool MapComPort(const std::filesystem::path& iniFile, int n, const std::string& device);

// What to tell a user who may not open device: nullopt when it can be
// opened for reading and writing, or fails for another reason.
[[nodiscard]] std::optional<std::string> DeviceAccessAdvice(const std::string& device);
