// USB serial devices and their COM numbers: the devices found with their
// stable names, the free COM number and its [Ports] entry, and the advice for
// a device the user may not open.

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "modemsetup/SerialDevices.h"
#include "shell/core/IniFile.h"
#include "testsupport/Pty.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class SerialDevicesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSerialDeviceFolder(dev_.Path()); }
  void TearDown() override { SetSerialDeviceFolder({}); }
  TTempFolder dev_;
};

TEST_F(SerialDevicesTest, UsbDevicesAreListedWithTheirStableNames) {
  TPty acm, usb;
  fs::create_symlink(acm.SlavePath(), dev_.Path() / "ttyACM0");
  fs::create_symlink(usb.SlavePath(), dev_.Path() / "ttyUSB1");
  fs::create_symlink(usb.SlavePath(), dev_.Path() / "ttyS0");  // not a USB device
  fs::create_directories(dev_.Path() / "serial" / "by-id");
  const fs::path byId = dev_.Path() / "serial" / "by-id" / "usb-Acme_FaxModem_56K-if00";
  fs::create_symlink("../../ttyACM0", byId);
  const auto found = UsbSerialDevices();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].device, (dev_.Path() / "ttyACM0").string());
  EXPECT_EQ(found[0].name, byId.string());
  EXPECT_EQ(found[1].device, (dev_.Path() / "ttyUSB1").string());
  EXPECT_EQ(found[1].name, found[1].device);

  SetSerialDeviceFolder(dev_.Path() / "missing");
  EXPECT_TRUE(UsbSerialDevices().empty());
}

TEST_F(SerialDevicesTest, AFreeComNumberIsMappedWithTheRestOfTheFileKept) {
  TPty modem;
  const fs::path link = dev_.Path() / "ttyACM0";
  fs::create_symlink(modem.SlavePath(), link);
  const fs::path ini = dev_.Path() / "CV.INI";
  std::ofstream(ini, std::ios::binary)
      << "; mine\r\n[Ports]\r\nCOM1=/dev/null\r\ncom2 = /dev/zero\r\n[Modem]\r\nComPort=1\r\n";
  EXPECT_EQ(FreeComNumber(ini, 6), 3);
  EXPECT_EQ(ComNumberOfDevice(ini, link.string(), 6), 0);
  ASSERT_TRUE(MapComPort(ini, 3, link.string()));
  const TIniFile after(ini);
  EXPECT_EQ(after.ReadString("Ports", "COM3", ""), link.string());
  EXPECT_EQ(after.ReadString("Ports", "COM2", ""), "/dev/zero");
  EXPECT_EQ(after.ReadInteger("Modem", "ComPort", -1), 1);
  EXPECT_EQ(ComNumberOfDevice(ini, modem.SlavePath(), 6), 3);  // found through the link
  EXPECT_EQ(FreeComNumber(ini, 6), 4);
  EXPECT_EQ(FreeComNumber(ini, 3), 0);
}

TEST_F(SerialDevicesTest, ADeviceTheUserMayNotOpenGetsTheDialoutAdvice) {
  TPty device;
  const std::string path = device.SlavePath();
  EXPECT_EQ(DeviceAccessAdvice(path), std::nullopt);
  const struct group* dialout = ::getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "this system has no dialout group";
  const gid_t dialoutGid = dialout->gr_gid;
  if (::geteuid() != 0) {
    // As the device's owner: take the rights away from ourselves.
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const auto advice = DeviceAccessAdvice(path);
    ASSERT_TRUE(advice.has_value());
    EXPECT_EQ(advice->rfind("You are not allowed to open " + path + ". Serial devices belong to the group", 0), 0u);
    return;
  }
  // As root, the check runs in a child that has become "nobody", against a
  // device set up as serial ports are: root:dialout, mode 660.
  ASSERT_EQ(::chown(path.c_str(), 0, dialoutGid), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const std::string text = DeviceAccessAdvice(path).value_or("(none)");
    const bool written = ::write(pipeFds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 3);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const struct passwd* nobody = ::getpwuid(65534);
  const std::string user = nobody ? nobody->pw_name : "$USER";
  EXPECT_EQ(text, "You are not allowed to open " + path +
                      ". Serial devices belong to the group \"dialout\": add your user to it with \"sudo adduser " +
                      user + " dialout\", then log out and log in again.");
}

}  // namespace
