#include "printer/Backend.h"

#include <cups/backend.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "docimport/DocImport.h"
#include "printer/JobFolder.h"
#include "printer/JobOptions.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"

namespace fs = std::filesystem;

namespace {

void Log(const char* level, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", level, OneLineValue(message, 1000).c_str());
  std::fflush(stderr);
}

int Fail(int status, const std::string& message) {
  Log("ERROR", message);
  return status;
}

struct TUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

// Becomes the user for good (groups, group, user), or stays who it is when
// that is already the user. False when the process is someone else and
// cannot change.
bool BecomeUser(const TUser& user, std::string& why) {
  if (::geteuid() == 0 && user.uid != 0) {
    if (::initgroups(user.name.c_str(), user.gid) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
      why = std::string("cannot change to user ") + user.name + ": " + std::strerror(errno);
      return false;
    }
    if (::setuid(0) == 0 || ::geteuid() != user.uid || ::getegid() != user.gid) {
      why = "the change to user " + user.name + " did not hold";
      return false;
    }
    return true;
  }
  if (::getuid() != user.uid || ::geteuid() != user.uid) {
    why = "the backend runs as user " + std::to_string(::geteuid()) + " and cannot act for user " + user.name +
          "; install it with mode 0700 owned by root so that the print system runs it as root";
    return false;
  }
  return true;
}

// A folder only this process's user can enter, removed with its contents.
class TPrivateFolder {
 public:
  TPrivateFolder() {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp == '/' && ::access(tmp, W_OK | X_OK) == 0)
      base = tmp;
    std::string templ = base + "/corvane-backend-XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
  }
  TPrivateFolder(const TPrivateFolder&) = delete;
  TPrivateFolder& operator=(const TPrivateFolder&) = delete;
  ~TPrivateFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

bool CopyToNewFile(int from, const fs::path& to) {
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) return false;
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (const char* p = buffer.data(); n > 0 && ok;) {
      const ssize_t w = ::write(out, p, static_cast<size_t>(n));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      p += w;
      n -= w;
    }
    if (!ok) break;
  }
  return ::close(out) == 0 && ok;
}

// Tells the user's desktop that a job waits, through the notification
// service of the user's session bus at its usual place. Best effort: no
// session, no service or no gdbus leaves the job as it is.
void NotifyDesktop(uid_t uid, const std::string& job, unsigned pages) {
  const std::string bus = "/run/user/" + std::to_string(uid) + "/bus";
  struct stat st {};
  if (::stat(bus.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != uid) return;
  // Only the job's own name and page count: nothing from the job's options
  // goes into the call's text.
  const std::string body =
      "\"Fax job " + job + " (" + std::to_string(pages) + " pages) is waiting in Corvane.\"";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus).c_str(), 1);
    ::execlp("gdbus", "gdbus", "call", "--session", "--timeout", "5", "--dest", "org.freedesktop.Notifications",
             "--object-path", "/org/freedesktop/Notifications", "--method", "org.freedesktop.Notifications.Notify",
             "\"Corvane\"", "uint32 0", "\"corvane\"", "\"Fax job waiting\"", body.c_str(), "@as []", "@a{sv} {}",
             "int32 10000", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid > 0) ::waitpid(pid, nullptr, 0);
}

bool UnusableDocument(int code) {
  return code == ecImportUnknownFormat || code == ecImportEncrypted || code == ecImportDamaged ||
         code == ecImportNoPages || code == ecImportTimeLimit || code == ecImportToolFailed;
}

}  // namespace

bool AcceptableUserName(const char* name) {
  if (name == nullptr || *name == '\0' || *name == '-') return false;
  const std::string_view text(name);
  if (text.find('/') != std::string_view::npos || text.find("..") != std::string_view::npos) return false;
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

int RunCorvaneBackend(int argc, char** argv) {
  if (argc == 1) {
    std::printf("direct corvane:/ \"Corvane Fax\" \"Corvane fax printer\" \"MFG:Corvane;MDL:Fax;CLS:PRINTER;\"\n");
    return CUPS_BACKEND_OK;
  }
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }
  const char* userName = argv[2];
  if (!AcceptableUserName(userName)) return Fail(CUPS_BACKEND_CANCEL, "the job's user name is not acceptable");
  errno = 0;
  const passwd* pw = ::getpwnam(userName);
  if (pw == nullptr) return Fail(CUPS_BACKEND_CANCEL, std::string("the job's user ") + userName + " does not exist");
  const TUser user{pw->pw_name, pw->pw_uid, pw->pw_gid, pw->pw_dir != nullptr ? pw->pw_dir : ""};

  // The spooled document is readable only by the print system: opened before
  // the change of user.
  const int document = argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC) : ::dup(STDIN_FILENO);
  if (document < 0) return Fail(CUPS_BACKEND_FAILED, std::string("cannot read the document: ") + std::strerror(errno));
  struct TCloser {
    int fd;
    ~TCloser() { ::close(fd); }
  } closeDocument{document};

  std::string why;
  if (!BecomeUser(user, why)) return Fail(CUPS_BACKEND_FAILED, why);
  ::setenv("HOME", user.home.c_str(), 1);

  if (user.home.empty() || user.home.front() != '/' || ("/" + user.home + "/").find("/../") != std::string::npos)
    return Fail(CUPS_BACKEND_HOLD, "the home folder of user " + user.name + " is not usable");
  const fs::path configFolder = PrinterDriverConfigFolderIn(user.home);
  const auto ini = FindNoCase(configFolder, "CVPD.INI");
  if (!ini)
    return Fail(CUPS_BACKEND_HOLD, "user " + user.name + " has no " + (configFolder / "CVPD.INI").string() +
                                       "; start Corvane once as that user, then release the job");
  const std::string outPath = TIniFile(*ini).ReadString("Location", "CVOutPath", "");
  if (outPath.empty()) return Fail(CUPS_BACKEND_HOLD, ini->string() + " names no job folder (CVOutPath)");
  TJobFolder folder(outPath);
  if (!folder.IsOpen()) return Fail(CUPS_BACKEND_HOLD, folder.Error());

  TPrivateFolder work;
  if (work.Path().empty()) return Fail(CUPS_BACKEND_HOLD, "cannot make a temporary folder");
  const fs::path in = work.Path() / "document", out = work.Path() / "fax.apf";
  if (!CopyToNewFile(document, in)) return Fail(CUPS_BACKEND_HOLD, "cannot copy the document");

  Log("INFO", "Converting the document to a fax");
  FxImportOptions options;
  FxImportResult result;
  if (const int code = FxImportDocument(in, out, options, result); code != 0)
    return Fail(UnusableDocument(code) ? CUPS_BACKEND_CANCEL : CUPS_BACKEND_HOLD,
                "the document cannot become a fax: " + result.error);
  for (const std::string& warning : result.warnings) Log("WARNING", warning);

  const int image = ::open(out.c_str(), O_RDONLY | O_CLOEXEC);
  if (image < 0) return Fail(CUPS_BACKEND_HOLD, "cannot read the converted fax");
  TCloser closeImage{image};
  const TPrintedFax fax = PrintedFaxFromJob(argv[5], argv[3]);
  const std::string job = folder.Deliver(image, JobDescriptionText(fax));
  if (job.empty()) return Fail(CUPS_BACKEND_HOLD, folder.Error());
  Log("INFO", "Fax job " + job + " (" + std::to_string(result.pagesWritten) + " pages) is waiting for Corvane");
  NotifyDesktop(user.uid, job, result.pagesWritten);
  return CUPS_BACKEND_OK;
}
