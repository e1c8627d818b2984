#include "mainscreen/PrinterDriverIntake.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "shell/core/Files.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Text.h"

namespace fs = std::filesystem;

namespace {

// FAXDOC holds an 8.3 name; a longer one would be cut and name another file.
constexpr size_t kFaxDocWidth = 12;

std::string ExecutablePath() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).string();
}

}  // namespace

std::string PrinterDriverConfigFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/corvane/";
}

void WriteZRTPDINI() {
  std::error_code ec;
  fs::create_directories(PrinterDriverConfigFolder(), ec);
  TIniFile ini(ResolveNoCase(PrinterDriverConfigFolder(), "CVPD.INI"));
  ini.WriteString("Location", "CVOutPath", SendFolder());
  ini.WriteString("Location", "CVExecutable", ExecutablePath());
  ini.UpdateFile();
}

TJobDescription ReadJobDescription(const std::string& zrdFile) {
  TJobDescription job;
  std::ifstream in(zrdFile, std::ios::binary);
  std::string* fields[] = {&job.faxNumber, &job.recipient, &job.subject};
  for (std::string* field : fields) {
    if (!std::getline(in, *field)) break;
    if (!field->empty() && field->back() == '\r') field->pop_back();
  }
  return job;
}

bool ProcessPDFaxFile(const std::string& imageFile, const TAppendJobRow& append) {
  std::error_code ec;
  if (!fs::is_regular_file(imageFile, ec)) return false;
  fs::path image(imageFile);
  const fs::path folder = image.parent_path();
  const auto zrd = FindNoCase(folder, image.stem().string() + ".ZRD");
  const TJobDescription job = zrd ? ReadJobDescription(zrd->string()) : TJobDescription{};
  if (image.filename().string().size() > kFaxDocWidth) {
    const fs::path shorter = NextFileName(folder.string() + "/", "FAX");
    fs::rename(image, shorter, ec);
    if (ec) return false;
    image = shorter;
  }
  if (!append(image.filename().string(), job)) return false;
  if (zrd) fs::remove(*zrd, ec);
  return true;
}

bool ProcessExtraPDFaxFiles(const TAppendJobRow& append) {
  const std::string send = SendFolder();
  std::vector<fs::path> descriptions;
  std::error_code ec;
  for (fs::directory_iterator it(send, ec), end; !ec && it != end; it.increment(ec)) {
    if (LowerAscii(it->path().extension().string()) == ".zrd") descriptions.push_back(it->path());
  }
  for (const fs::path& zrd : descriptions) {
    const fs::path image = ResolveNoCase(send, zrd.stem().string() + ".APF");
    ProcessPDFaxFile(image.string(), append);
  }
  return !descriptions.empty();
}
