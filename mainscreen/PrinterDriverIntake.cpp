#include "mainscreen/PrinterDriverIntake.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <vector>

#include "shell/core/Files.h"
#include "shell/core/Folders.h"
#include "shell/core/IniFile.h"
#include "shell/core/Text.h"
#include "xbase/Table.h"

namespace fs = std::filesystem;

// Crash safety. The intake may be killed at any instant; at the next start no
// job may be lost and none may become two rows. The description file is the
// job's state, and every step that changes it is a single rename:
//   NAME.ZRD  waiting;
//   NAME.ZRC  claimed: its row is being written;
//   (gone)    done: the row is in the table.
// A job is claimed (ZRD renamed to ZRC), then its row appended (the engine
// has written the row to the .DBF when Post returns), then the claim deleted.
// A claim found at the next run is the one job an interrupted run was taking:
// when a row names its image the row was written and only the claim is
// deleted; otherwise the job is taken again. Only a claim needs the look at
// the table, so a run over thousands of jobs reads the table at most once per
// interruption.
//
// An image whose name is too long for FAXDOC first gets a short name of its
// own, also one rename at a time: the short name is made a second link to the
// image, the description renamed to the short name (from then on the job is
// the short one), and the long name removed. A run interrupted before the
// description moved finds the link again by its file identity and reuses it;
// one interrupted after removes the long name when it takes the short job.

namespace {

// FAXDOC holds an 8.3 name; a longer one would be cut and name another file.
constexpr size_t kFaxDocWidth = 12;
constexpr const char* kWaiting = ".ZRD";
constexpr const char* kClaimed = ".ZRC";

std::string ExecutablePath() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).string();
}

bool FitsFaxDoc(const fs::path& p) { return p.filename().string().size() <= kFaxDocWidth; }

bool SameFile(const struct stat& a, const fs::path& p) {
  struct stat b {};
  return ::stat(p.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Other names of `image` in its folder whose length is accepted by `want`.
std::vector<fs::path> OtherLinks(const fs::path& image, bool shortNames) {
  std::vector<fs::path> found;
  struct stat st {};
  if (::stat(image.c_str(), &st) != 0 || st.st_nlink < 2) return found;
  std::error_code ec;
  for (fs::directory_iterator it(image.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.filename() == image.filename() || FitsFaxDoc(p) != shortNames) continue;
    if (LowerAscii(p.extension().string()) == ".apf" && SameFile(st, p)) found.push_back(p);
  }
  return found;
}

// Gives a job whose image name is too long a short name (see above). On
// success `image` and `zrd` name the short job.
bool ShortenJob(fs::path& image, fs::path& zrd) {
  const fs::path folder = image.parent_path();
  std::error_code ec;
  const std::vector<fs::path> links = OtherLinks(image, true);
  fs::path shorter = links.empty() ? fs::path(NextFileName(folder.string() + "/", "FAX")) : links.front();
  if (links.empty()) {
    fs::create_hard_link(image, shorter, ec);
    // A folder without hard links: rename, accepting that an interruption
    // between the two renames leaves the job to be taken by hand.
    if (ec) fs::rename(image, shorter, ec);
    if (ec) return false;
  }
  fs::path shortZrd = shorter;
  shortZrd.replace_extension(kWaiting);
  fs::rename(zrd, shortZrd, ec);
  if (ec) return false;
  fs::remove(image, ec);  // a leftover is removed when the short job is taken
  image = shorter;
  zrd = shortZrd;
  return true;
}

// Removes long names left beside `image` by an interrupted ShortenJob.
void RemoveLongLinks(const fs::path& image) {
  std::error_code ec;
  for (const fs::path& p : OtherLinks(image, false))
    if (!FindNoCase(p.parent_path(), p.stem().string() + kWaiting)) fs::remove(p, ec);
}

// Appends the row of a claimed job and ends the claim: deleted once the row
// is in, renamed back to waiting when the row could not be stored.
bool TakeClaimed(const fs::path& image, const fs::path& claim, const TJobTable& table) {
  const TJobDescription job = ReadJobDescription(claim.string());
  std::error_code ec;
  if (!table.append(image.filename().string(), job)) {
    fs::path waiting = claim;
    fs::rename(claim, waiting.replace_extension(kWaiting), ec);
    return false;
  }
  fs::remove(claim, ec);
  RemoveLongLinks(image);
  return true;
}

// A claim left by an interrupted run (see above).
void FinishClaim(const fs::path& claim, const TJobTable& table) {
  const fs::path image = ResolveNoCase(claim.parent_path(), claim.stem().string() + ".APF");
  const std::optional<bool> hasRow = table.hasRow(image.filename().string());
  if (!hasRow) return;  // the table cannot tell now: decide at the next run
  std::error_code ec;
  if (*hasRow) {
    fs::remove(claim, ec);
    RemoveLongLinks(image);
  } else if (fs::is_regular_file(image, ec)) {
    TakeClaimed(image, claim, table);
  } else {
    fs::path waiting = claim;
    fs::rename(claim, waiting.replace_extension(kWaiting), ec);  // waits for its image again
  }
}

}  // namespace

std::string PrinterDriverConfigFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/')
    return std::string(xdg) + "/corvane/";
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    return PrinterDriverConfigFolderIn(home);
  return "/tmp/corvane/";
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

std::optional<bool> TableHasFaxDoc(TXbTable& table, const std::string& faxDoc) {
  const int index = table.FieldIndex("FAXDOC");
  if (index < 0) return std::nullopt;
  const TDbfField& field = table.Fields()[static_cast<size_t>(index)];
  const std::string wanted = LowerAscii(faxDoc);
  std::vector<uint8_t> row;
  for (uint32_t r = table.RecCount(); r >= 1; --r) {
    if (!table.ReadRow(r, row)) return std::nullopt;
    if (row[0] == kDbfDeletedFlag) continue;
    std::string doc(reinterpret_cast<const char*>(row.data()) + field.offset, static_cast<size_t>(field.width));
    while (!doc.empty() && doc.back() == ' ') doc.pop_back();
    if (LowerAscii(doc) == wanted) return true;
  }
  return false;
}

bool ProcessPDFaxFile(const std::string& imageFile, const TJobTable& table) {
  std::error_code ec;
  if (!fs::is_regular_file(imageFile, ec)) return false;
  fs::path image(imageFile);
  const fs::path folder = image.parent_path();
  const auto found = FindNoCase(folder, image.stem().string() + kWaiting);
  if (!found) {
    // An image handed over without a description: nothing marks it as
    // waiting, so there is no state to keep safe.
    if (!FitsFaxDoc(image)) {
      const fs::path shorter = NextFileName(folder.string() + "/", "FAX");
      fs::rename(image, shorter, ec);
      if (ec) return false;
      image = shorter;
    }
    return table.append(image.filename().string(), TJobDescription{});
  }
  fs::path zrd = *found;
  if (!FitsFaxDoc(image) && !ShortenJob(image, zrd)) return false;
  fs::path claim = zrd;
  claim.replace_extension(kClaimed);
  fs::rename(zrd, claim, ec);
  if (ec) return false;
  return TakeClaimed(image, claim, table);
}

bool ProcessExtraPDFaxFiles(const TJobTable& table) {
  const std::string send = SendFolder();
  std::vector<fs::path> descriptions, claims;
  std::error_code ec;
  for (fs::directory_iterator it(send, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string ext = LowerAscii(it->path().extension().string());
    if (ext == ".zrd") descriptions.push_back(it->path());
    if (ext == ".zrc") claims.push_back(it->path());
  }
  for (const fs::path& claim : claims) FinishClaim(claim, table);
  for (const fs::path& zrd : descriptions) {
    const fs::path image = ResolveNoCase(send, zrd.stem().string() + ".APF");
    ProcessPDFaxFile(image.string(), table);
  }
  return !descriptions.empty() || !claims.empty();
}
