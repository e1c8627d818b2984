// Runs the real corvane program (offscreen) as a user would start it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "testsupport/TempFolder.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home_);
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
  }

  // Starts corvane with its own program folder and its own runtime folder, so
  // tests running in parallel do not see each other as "another copy".
  pid_t Start(const fs::path& home, const std::vector<std::string>& args = {}, const fs::path& errors = "/dev/null") {
    std::vector<std::string> env = {"CORVANE_HOME=" + home.string(), "QT_QPA_PLATFORM=offscreen",
                                    "XDG_RUNTIME_DIR=" + runtime_, "HOME=" + home_.string()};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = CORVANE_EXE;
    std::vector<std::string> words = args;
    std::vector<char*> argv = {exe.data()};
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Exit code, or -1 when it did not end within the time.
  static int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

  static bool WaitFor(const fs::path& p, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (fs::exists(p)) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  static std::string Read(const fs::path& p) { return TTempFolder::ReadFile(p); }

  TTempFolder temp_;
  fs::path home_ = temp_ / "home";
  std::string runtime_ = (temp_ / "run").string();
};

TEST_F(ProgramTest, FirstStartMakesFoldersAndSigtermWritesEverySetting) {
  const pid_t pid = Start(home_);
  ASSERT_TRUE(WaitFor(home_ / "Receive", 10s));
  EXPECT_TRUE(fs::is_directory(home_ / "SEND"));
  std::this_thread::sleep_for(300ms);
  ::kill(pid, SIGTERM);
  ASSERT_EQ(WaitExit(pid, 10s), 0);
  // A new installation gets the stock cover templates, the first as CV0001.
  EXPECT_TRUE(fs::is_regular_file(home_ / "Covers" / "CV0001.FCS"));
  EXPECT_TRUE(fs::is_regular_file(home_ / "Covers" / "CV0001.FCT"));
  const std::string ini = Read(home_ / "CV.INI");
  size_t last = 0;
  for (const char* section : {"[User]", "[Dialing]", "[Modem]", "[Resetting]", "[Receive]", "[Hints]", "[Version]",
                              "[Other]"}) {
    const size_t at = ini.find(std::string(section) + "\r\n");
    ASSERT_NE(at, std::string::npos) << section;
    EXPECT_GE(at, last) << section << " out of order";
    last = at;
  }
  EXPECT_NE(ini.find("Version=2.9r\r\n"), std::string::npos);
  EXPECT_NE(ini.find("DisableReceivingFaxesNotification=0\r\n"), std::string::npos);
  EXPECT_NE(ini.find("[TMainScreen_Placement]"), std::string::npos);
}

TEST_F(ProgramTest, SecondCopyEndsWithCodeZeroAndLeavesTheFirstRunning) {
  const pid_t first = Start(home_);
  ASSERT_TRUE(WaitFor(home_ / "Receive", 10s));
  std::this_thread::sleep_for(300ms);
  const fs::path otherHome = home_ / "other";
  fs::create_directories(otherHome);
  const pid_t second = Start(otherHome);
  EXPECT_EQ(WaitExit(second, 10s), 0);
  // The second copy showed nothing and wrote nothing.
  EXPECT_FALSE(fs::exists(otherHome / "CV.INI"));
  EXPECT_FALSE(fs::exists(otherHome / "SEND"));
  EXPECT_EQ(WaitExit(first, 200ms), -1) << "the first copy must keep running";
  ::kill(first, SIGINT);
  EXPECT_EQ(WaitExit(first, 10s), 0);
}

// A second copy started with a document hands it to the first and ends;
// when the first does not answer, the second says that the file was not
// opened and ends with an error.
TEST_F(ProgramTest, SecondCopyHandsItsDocumentToTheFirstOrSaysItCouldNot) {
  const pid_t first = Start(home_);
  ASSERT_TRUE(WaitFor(home_ / "Receive", 10s));
  std::this_thread::sleep_for(300ms);
  const fs::path letter = temp_ / "letter.txt";
  TTempFolder::WriteFile(letter, "A letter.\n");
  const fs::path errors = temp_ / "errors.txt";
  EXPECT_EQ(WaitExit(Start(home_, {letter.string()}, errors), 10s), 0) << Read(errors);

  ::kill(first, SIGSTOP);
  const pid_t second = Start(home_, {letter.string()}, errors);
  EXPECT_EQ(WaitExit(second, 15s), 1);
  const std::string said = Read(errors);
  EXPECT_NE(said.find("did not answer"), std::string::npos) << said;
  EXPECT_NE(said.find(letter.string()), std::string::npos) << said;
  ::kill(first, SIGKILL);
  WaitExit(first, 10s);
}

TEST_F(ProgramTest, SettingsSurviveARestart) {
  std::ofstream(home_ / "CV.INI", std::ios::binary)
      << "[modem]\r\ncomport = 2\r\n[Ports]\r\nCOM3=/dev/null\r\n\xfe\xff garbage\r\n";
  pid_t pid = Start(home_);
  ASSERT_TRUE(WaitFor(home_ / "Receive", 10s));
  std::this_thread::sleep_for(300ms);
  ::kill(pid, SIGTERM);
  ASSERT_EQ(WaitExit(pid, 10s), 0);
  const std::string ini = Read(home_ / "CV.INI");
  EXPECT_NE(ini.find("comport=2\r\n"), std::string::npos);
  EXPECT_NE(ini.find("COM3=/dev/null\r\n"), std::string::npos);
  EXPECT_NE(ini.find("\xfe\xff garbage\r\n"), std::string::npos);
}

}  // namespace
