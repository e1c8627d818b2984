#include "mainscreen/CloneFax.h"

#include <filesystem>

#include "shell/core/Files.h"
#include "shell/core/Folders.h"

namespace fs = std::filesystem;

namespace {

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

}  // namespace

std::string CoverSideFile(const std::string& coverPath) {
  // An existing side file may be spelt ".FCD" as well.
  const fs::path p = fs::path(coverPath).replace_extension(".fcd");
  return ResolveNoCase(p.parent_path(), p.filename().string()).string();
}

bool CloneAPFFax(TXbDataTable& table, const std::string& documentPath, const std::string& coverPath,
                 const std::string& phone, const std::string& recipient, const std::string& subject) {
  // A failed copy is not reported here: the row then names a file that is
  // missing, and sending it says so.
  std::string faxDoc, faxCover;
  if (IsFile(documentPath)) {
    const std::string target = NextSendFileName("FAX");
    CopyFileData(documentPath, target);
    faxDoc = fs::path(target).filename().string();
  }
  if (IsFile(coverPath) && IsFile(CoverSideFile(coverPath))) {
    const std::string target = NextSendFileName("COV");
    CopyFileData(coverPath, target);
    CopyFileData(CoverSideFile(coverPath), CoverSideFile(target));
    faxCover = fs::path(target).filename().string();
  }
  if (!table.Append()) return false;
  if (table.SetFieldText("FAXDOC", faxDoc) && table.SetFieldText("FAXCOVER", faxCover) &&
      table.SetFieldText("RECIPIENT", recipient) && table.SetFieldText("SUBJECT", "[clone]" + subject) &&
      table.SetFieldText("PHONE", phone) && table.Post())
    return true;
  table.Cancel();
  return false;
}
