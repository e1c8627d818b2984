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

#include "docimport/DocImport.h"
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
  // An empty home starts it without CORVANE_HOME; its error output goes to
  // errors.
  pid_t Start(const fs::path& home, std::vector<std::string> args = {}, std::string exe = CORVANE_EXE,
              const fs::path& errors = "/dev/null") {
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime_,
                                    "HOME=" + home_.string()};
    if (!home.empty()) env.push_back("CORVANE_HOME=" + home.string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{exe.data()};
    for (std::string& a : args) argv.push_back(a.data());
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
  EXPECT_EQ(WaitExit(Start(home_, {letter.string()}, CORVANE_EXE, errors), 10s), 0) << Read(errors);

  ::kill(first, SIGSTOP);
  const pid_t second = Start(home_, {letter.string()}, CORVANE_EXE, errors);
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

TEST_F(ProgramTest, ViewOpensAFaxImageBesideARunningCopy) {
  TTempFolder::WriteFile(temp_ / "note.txt", "A fax to view.\n");
  FxImportResult result;
  ASSERT_EQ(FxImportDocument(temp_ / "note.txt", temp_ / "note.apf", FxImportOptions{}, result), 0) << result.error;

  const pid_t main = Start(home_);
  ASSERT_TRUE(WaitFor(home_ / "Receive", 10s));
  // The viewer is no second copy of the program: it stays open.
  const fs::path viewerHome = temp_ / "viewer-home";
  const pid_t viewer = Start(viewerHome, {"--view", (temp_ / "note.apf").string()});
  EXPECT_EQ(WaitExit(viewer, 1500ms), -1) << "the viewer must stay open";
  ::kill(viewer, SIGKILL);
  WaitExit(viewer, 10s);
  // As the desktop starts it: the file alone.
  const pid_t plain = Start(viewerHome, {(temp_ / "note.apf").string()});
  EXPECT_EQ(WaitExit(plain, 1500ms), -1);
  ::kill(plain, SIGKILL);
  WaitExit(plain, 10s);

  // A file that is no fax image ends at once with an error.
  EXPECT_EQ(WaitExit(Start(viewerHome, {"--view", (temp_ / "note.txt").string()}), 10s), 2);
  EXPECT_EQ(WaitExit(Start(viewerHome, {"--view", (temp_ / "missing.apf").string()}), 10s), 2);
  ::kill(main, SIGTERM);
  EXPECT_EQ(WaitExit(main, 10s), 0);
}

TEST_F(ProgramTest, AnInstalledProgramKeepsItsFilesInTheUsersHome) {
  const fs::path bin = temp_ / "usr" / "bin";
  fs::create_directories(bin);
  fs::copy_file(CORVANE_EXE, bin / "corvane");
  fs::permissions(bin / "corvane", fs::perms::owner_all);
  const pid_t pid = Start({}, {}, (bin / "corvane").string());
  const fs::path folder = home_ / ".local" / "share" / "corvane";
  ASSERT_TRUE(WaitFor(folder / "Receive", 10s));
  std::this_thread::sleep_for(300ms);
  ::kill(pid, SIGTERM);
  ASSERT_EQ(WaitExit(pid, 10s), 0);
  EXPECT_TRUE(fs::is_regular_file(folder / "CV.INI"));
  EXPECT_FALSE(fs::exists(bin / "CV.INI"));
  EXPECT_FALSE(fs::exists(bin / "SEND"));
}

}  // namespace
