// The backend run as the print system runs it: as root for a job of an
// unprivileged user with a home of its own (made for the run), and as that
// user itself. Needs root to make the user; otherwise every case is skipped
// with the reason.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

#include <cups/backend.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "docimport/tests/PdfMaker.h"
#include "faximage/Apf.h"
#include "mainscreen/PrinterDriverIntake.h"
#include "shell/core/Folders.h"
#include "testsupport/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// The user the jobs belong to, made for this run and removed after it.
class TJobUser : public ::testing::Environment {
 public:
  static inline std::string name;
  static inline fs::path home;
  static inline uid_t uid = 0;
  static inline gid_t gid = 0;
  static inline std::string skipReason;

  void SetUp() override {
    if (::geteuid() != 0) {
      skipReason = "the backend tests need root to make a user of their own";
      return;
    }
    std::string templ = "/tmp/cvpd-home-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
      skipReason = "cannot make a home folder";
      return;
    }
    home = templ;
    name = "cvpd" + std::to_string(::getpid());
    // useradd waits for nobody: another test adding a user at the same time
    // makes it fail, so it is tried a few times.
    bool made = false;
    for (int attempt = 0; attempt < 10 && !made; ++attempt) {
      made = Run("useradd -M -U -s /usr/sbin/nologin -d " + home.string() + " " + name + " 2>/dev/null");
      if (!made) ::usleep(300000);
    }
    const passwd* pw = made ? ::getpwnam(name.c_str()) : nullptr;
    if (pw == nullptr) {
      skipReason = "useradd could not make a test user";
      return;
    }
    uid = pw->pw_uid;
    gid = pw->pw_gid;
  }
  void TearDown() override {
    if (uid != 0) Run("userdel " + name + " 2>/dev/null");
    std::error_code ec;
    if (!home.empty()) fs::remove_all(home, ec);
  }
};

[[maybe_unused]] auto* const gJobUser = ::testing::AddGlobalTestEnvironment(new TJobUser);

struct TRun {
  int status = -1;
  std::string log;
  long maxRssKb = 0;
};

// Runs the backend with args after argv[0]; asUser runs it as the job user
// (as the print system runs a backend that is not root's), stdinFile feeds
// standard input.
TRun RunBackend(const std::vector<std::string>& args, bool asUser = false, const fs::path& stdinFile = {}) {
  TTempFolder logs;
  const fs::path log = logs / "stderr";
  // The job user must be able to reach the program: a build inside a
  // private folder (mode 0700) is out of its reach, so it runs a copy.
  TTempFolder bin;
  std::string exe = CORVANE_BACKEND;
  if (asUser) {
    using fs::perms;
    fs::permissions(bin.Path(), perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                                    perms::others_exec);
    exe = (bin / "corvane").string();
    fs::copy_file(CORVANE_BACKEND, exe);
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, STDERR_FILENO);
    const int in = ::open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
    ::dup2(in, STDIN_FILENO);
    if (asUser && (::setgid(TJobUser::gid) != 0 || ::setuid(TJobUser::uid) != 0)) ::_exit(99);
    std::vector<char*> argv{exe.data()};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(98);
  }
  TRun run;
  int wstatus = 0;
  rusage usage{};
  ::wait4(pid, &wstatus, 0, &usage);
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  run.maxRssKb = usage.ru_maxrss;
  run.log = ReadAll(log);
  return run;
}

// Every file and folder under root with its content, for "nothing changed".
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> all;
  for (const auto& e : fs::recursive_directory_iterator(root))
    all[e.path().string()] = e.is_symlink() ? "link" : e.is_regular_file() ? ReadAll(e.path()) : "dir";
  return all;
}

class Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TJobUser::skipReason.empty()) GTEST_SKIP() << TJobUser::skipReason;
    for (const auto& e : fs::directory_iterator(TJobUser::home)) fs::remove_all(e.path());
    programFolder = TJobUser::home / "corvane";
    send = programFolder / "SEND";
    fs::create_directories(send);
    const fs::path config = PrinterDriverConfigFolderIn(TJobUser::home.string());
    fs::create_directories(config);
    TTempFolder::WriteFile(fs::path(config) / "CVPD.INI",
                           "[Location]\r\nCVOutPath=" + send.string() + "/\r\nCVExecutable=/usr/bin/corvane\r\n");
    GiveHomeToUser();
    // The spooled document, readable by root only as the print system keeps it.
    document = spool / "d00042-001";
    std::vector<HandPdfPage> pages(2);
    for (auto& p : pages) p.content = "BT /F1 24 Tf 72 700 Td (Corvane fax printer) Tj ET 0 0 0 RG 72 600 m 540 600 l S";
    TTempFolder::WriteFile(document, MakeHandPdf(pages));
    fs::permissions(document, fs::perms::owner_read | fs::perms::owner_write);
  }
  void GiveHomeToUser() {
    ASSERT_EQ(::chmod(TJobUser::home.c_str(), 0700), 0);
    for (const auto& e : fs::recursive_directory_iterator(TJobUser::home))
      ASSERT_EQ(::lchown(e.path().c_str(), TJobUser::uid, TJobUser::gid), 0);
    ASSERT_EQ(::chown(TJobUser::home.c_str(), TJobUser::uid, TJobUser::gid), 0);
  }
  std::vector<std::string> Job(const std::string& options, const std::string& title = "Letter") {
    return {"42", TJobUser::name, title, "1", options, document.string()};
  }

  TTempFolder spool;
  fs::path programFolder, send, document;
};

}  // namespace

TEST_F(Backend, PrintsItsDeviceLineWithoutArguments) {
  const TRun run = RunBackend({});
  EXPECT_EQ(run.status, CUPS_BACKEND_OK);
}

TEST_F(Backend, TurnsAJobIntoAFaxTheIntakeTakes) {
  const TRun run = RunBackend(Job("fax-number=555-0199 fax-to='Ann Smith' job-uuid=urn:uuid:1"));
  ASSERT_EQ(run.status, CUPS_BACKEND_OK) << run.log;
  EXPECT_NE(run.log.find("PD00000"), std::string::npos) << run.log;
  // Exactly the job, owned by the user, readable by nobody else.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(send)) {
    names.push_back(e.path().filename().string());
    struct stat st {};
    ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, TJobUser::uid);
    EXPECT_EQ(st.st_mode & 0077, 0u) << e.path();
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"PD00000.APF", "PD00000.ZRD"}));
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(send / "PD00000.APF"), 0);
  EXPECT_EQ(reader.PageCount(), 2);

  SetProgramFolder(programFolder.string());
  std::vector<std::pair<std::string, TJobDescription>> rows;
  const TJobTable table{[&](const std::string& doc, const TJobDescription& job) {
                          rows.emplace_back(doc, job);
                          return true;
                        },
                        [](const std::string&) { return std::optional<bool>(false); }};
  EXPECT_TRUE(ProcessExtraPDFaxFiles(table));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].first, "PD00000.APF");
  EXPECT_EQ(rows[0].second.faxNumber, "555-0199");
  EXPECT_EQ(rows[0].second.recipient, "Ann Smith");
  EXPECT_EQ(rows[0].second.subject, "Letter");
  EXPECT_FALSE(fs::exists(send / "PD00000.ZRD"));

  // The document on standard input, as the print system passes it when it
  // names no file; the next job gets the next name.
  std::vector<std::string> args = Job("");
  args.pop_back();
  const TRun piped = RunBackend(args, false, document);
  ASSERT_EQ(piped.status, CUPS_BACKEND_OK) << piped.log;
  EXPECT_TRUE(fs::exists(send / "PD00001.ZRD"));
}

TEST_F(Backend, WithoutCvpdIniHoldsTheJobAndWritesNothing) {
  fs::remove(PrinterDriverConfigFolderIn(TJobUser::home.string()) + "CVPD.INI");
  const auto before = Snapshot(TJobUser::home);
  const TRun run = RunBackend(Job("fax-number=1"));
  EXPECT_EQ(run.status, CUPS_BACKEND_HOLD);
  EXPECT_EQ(run.log.rfind("ERROR: ", 0), 0u) << run.log;
  EXPECT_NE(run.log.find("CVPD.INI"), std::string::npos);
  EXPECT_EQ(Snapshot(TJobUser::home), before);
}

TEST_F(Backend, CancelsJobsOfUnknownOrPathLikeUsers) {
  const auto before = Snapshot(TJobUser::home);
  for (const std::string& user : std::vector<std::string>{"no-such-user-cv", "..", "../" + TJobUser::name,
                                                          TJobUser::name + "/..", "a/b"}) {
    const TRun run = RunBackend({"42", user, "t", "1", "", document.string()});
    EXPECT_EQ(run.status, CUPS_BACKEND_CANCEL) << user;
    EXPECT_NE(run.log.find("ERROR: "), std::string::npos) << user;
  }
  EXPECT_EQ(Snapshot(TJobUser::home), before);
  EXPECT_EQ(RunBackend({"42", TJobUser::name, "t"}).status, CUPS_BACKEND_FAILED);  // too few arguments
}

TEST_F(Backend, QuotesAndNewlinesInOptionsStayInsideTheirLines) {
  const TRun run = RunBackend(
      Job("fax-number=\"555\n0100\" fax-to='O\\'Brien \"Jr\"\r\nX' fax-subject=\"Line one\nline two\"",
          "ignored\ntitle"));
  ASSERT_EQ(run.status, CUPS_BACKEND_OK) << run.log;
  EXPECT_EQ(ReadAll(send / "PD00000.ZRD"), "555 0100\r\nO'Brien \"Jr\"  X\r\nLine one line two\r\n");
}

TEST_F(Backend, FollowsNoLinkPlantedByTheUser) {
  // A file of root's that the user would like the backend to overwrite.
  const fs::path victim = spool / "root-only";
  TTempFolder::WriteFile(victim, "root's");
  fs::create_symlink(victim, send / "PD00000.APF");
  fs::create_symlink(victim, send / "PD00000.ZRD");
  fs::create_symlink(victim, send / "PD00001.ZRD");
  GiveHomeToUser();
  const TRun run = RunBackend(Job(""));
  ASSERT_EQ(run.status, CUPS_BACKEND_OK) << run.log;
  EXPECT_EQ(ReadAll(victim), "root's");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(send / "PD00002.APF")));
  EXPECT_TRUE(fs::is_symlink(send / "PD00000.APF"));

  // The job folder itself replaced by a link to a folder of root's.
  fs::rename(send, programFolder / "SEND.old");
  fs::create_directory_symlink(spool.Path(), send);
  GiveHomeToUser();
  const auto rootFolder = Snapshot(spool.Path());
  const TRun linked = RunBackend(Job(""));
  EXPECT_EQ(linked.status, CUPS_BACKEND_HOLD) << linked.log;
  EXPECT_EQ(Snapshot(spool.Path()), rootFolder);
}

TEST_F(Backend, RunAsAUserServesOnlyThatUser) {
  // The document readable by the user now, as a spool it could read.
  ASSERT_EQ(::chown(document.c_str(), TJobUser::uid, TJobUser::gid), 0);
  ASSERT_EQ(::chmod(spool.Path().c_str(), 0755), 0);
  const TRun own = RunBackend(Job(""), true);
  EXPECT_EQ(own.status, CUPS_BACKEND_OK) << own.log;
  EXPECT_TRUE(fs::exists(send / "PD00000.ZRD"));

  const auto before = Snapshot(TJobUser::home);
  const TRun other = RunBackend({"42", "root", "t", "1", "", document.string()}, true);
  EXPECT_EQ(other.status, CUPS_BACKEND_FAILED) << other.log;
  EXPECT_NE(other.log.find("0700"), std::string::npos) << other.log;
  EXPECT_EQ(Snapshot(TJobUser::home), before);
}

// Starts a program as the job user with standard output into a file.
pid_t SpawnAsUser(std::vector<std::string> args, const fs::path& output) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    if (::setgid(TJobUser::gid) != 0 || ::setuid(TJobUser::uid) != 0) ::_exit(99);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(98);
  }
  return pid;
}

TEST_F(Backend, TellsTheUsersDesktopThatAJobWaits) {
  const fs::path runtime = "/run/user/" + std::to_string(TJobUser::uid);
  if (::access("/usr/bin/dbus-daemon", X_OK) != 0 || ::access("/usr/bin/dbus-monitor", X_OK) != 0)
    GTEST_SKIP() << "dbus-daemon and dbus-monitor are needed";
  if (fs::exists(runtime)) GTEST_SKIP() << runtime << " exists already";
  fs::create_directories(runtime);
  struct TRemove {
    fs::path p;
    ~TRemove() { fs::remove_all(p); }
  } removeRuntime{runtime};
  ASSERT_EQ(::chown(runtime.c_str(), TJobUser::uid, TJobUser::gid), 0);
  ASSERT_EQ(::chmod(runtime.c_str(), 0700), 0);
  const std::string address = "unix:path=" + (runtime / "bus").string();
  const pid_t bus = SpawnAsUser({"dbus-daemon", "--session", "--nofork", "--address=" + address}, spool / "bus.log");
  for (int i = 0; i < 100 && !fs::exists(runtime / "bus"); ++i) ::usleep(50000);
  const pid_t monitor = SpawnAsUser(
      {"dbus-monitor", "--address", address, "interface='org.freedesktop.Notifications'"}, spool / "monitor.log");
  for (int i = 0; i < 100 && ReadAll(spool / "monitor.log").find("NameLost") == std::string::npos; ++i)
    ::usleep(50000);

  const TRun run = RunBackend(Job("fax-subject='\"quoted\" subject'"));
  EXPECT_EQ(run.status, CUPS_BACKEND_OK) << run.log;
  ::usleep(300000);
  ::kill(monitor, SIGTERM);
  ::kill(bus, SIGTERM);
  ::waitpid(monitor, nullptr, 0);
  ::waitpid(bus, nullptr, 0);
  const std::string seen = ReadAll(spool / "monitor.log");
  EXPECT_NE(seen.find("member=Notify"), std::string::npos) << seen;
  EXPECT_NE(seen.find("string \"Fax job waiting\""), std::string::npos) << seen;
  EXPECT_NE(seen.find("string \"Fax job PD00000 (2 pages) is waiting in Corvane.\""), std::string::npos) << seen;
  EXPECT_NE(seen.find("uint32 0"), std::string::npos) << seen;
}

TEST_F(Backend, AThousandPagesInBoundedMemory) {
  std::vector<HandPdfPage> pages(1000);
  for (size_t i = 0; i < pages.size(); ++i)
    pages[i].content = "BT /F1 48 Tf 72 600 Td (Page " + std::to_string(i + 1) + ") Tj ET";
  TTempFolder::WriteFile(document, MakeHandPdf(pages));
  const TRun run = RunBackend(Job(""));
  ASSERT_EQ(run.status, CUPS_BACKEND_OK) << run.log;
  TFxApfReader reader;
  ASSERT_EQ(reader.Open(send / "PD00000.APF"), 0);
  EXPECT_EQ(reader.PageCount(), 1000);
  // One rendered page at fax resolution is a few megabytes; a thousand kept
  // at once would be gigabytes.
  EXPECT_LT(run.maxRssKb, 400 * 1024) << "peak " << run.maxRssKb << " kB";
  std::printf("1,000 pages: peak resident size %ld kB\n", run.maxRssKb);
}
