#include "sending/QuickFaxSave.h"

#include <exception>
#include <system_error>

#include "shell/core/Folders.h"
#include "store/core/Xbase.h"

namespace fs = std::filesystem;

namespace {

// The converter writes only names ending in ".APF": the image's temporary
// name keeps that ending, the side file's takes ".part".
fs::path ImagePartName(const fs::path& target) {
  return target.parent_path() / (target.stem().string() + ".part.APF");
}
fs::path PartName(const fs::path& target) { return fs::path(target.string() + ".part"); }

void RemoveQuietly(const fs::path& p) {
  std::error_code ec;
  fs::remove(p, ec);
}

QString Failure(const fs::path& target, const QString& why) {
  return QString("The cover sheet could not be written to\r%1\r\r%2")
      .arg(QString::fromStdString(target.string()), why);
}

}  // namespace

TCoverWriteResult WriteCoverFiles(const fs::path& target, const fs::path& fctFile, const TQuickFaxSheet& sheet) {
  // A side file already there in another letter case is the one replaced.
  const fs::path side = ResolveNoCase(target.parent_path(), SideFilePath(target).filename().string());
  const fs::path imagePart = ImagePartName(target), sidePart = PartName(side);
  TCoverWriteResult result;
  try {
    (void)RenderCoverPage(imagePart.string(), fctFile, sheet.Values, sheet.Message);
  } catch (const std::exception& e) {
    RemoveQuietly(imagePart);
    result.Error = Failure(target, QString::fromLocal8Bit(e.what()));
    return result;
  }
  if (!WriteCoverSideFile(sidePart, sheet.Side)) {
    RemoveQuietly(imagePart);
    result.Error = Failure(side, "The side file could not be written.");
    return result;
  }
  const bool existed = fs::exists(target);
  std::error_code ec;
  fs::rename(imagePart, target, ec);
  if (!ec) fs::rename(sidePart, side, ec);
  if (ec) {
    RemoveQuietly(imagePart);
    RemoveQuietly(sidePart);
    // A new image without its side file would be a cover that cannot be edited.
    if (!existed) RemoveQuietly(target);
    result.Error = Failure(target, QString::fromStdString(ec.message()));
    return result;
  }
  result.Ok = true;
  return result;
}

bool StoreQuickFaxRow(TXbDataTable& table, bool append, uint32_t recno, const TQuickFaxSheet& sheet,
                      const std::string& coverName) {
  if (!table.Active()) return false;
  if (append) {
    if (!table.Append()) return false;
  } else {
    TXbTable* t = table.Table();
    if (recno == 0 || !t || !t->Go(recno)) return false;
  }
  const bool ok = table.SetFieldText("RECIPIENT", sheet.Recipient) && table.SetFieldText("SUBJECT", sheet.Subject) &&
                  table.SetFieldText("PHONE", sheet.Phone) && table.SetFieldText("NOTES", sheet.Notes) &&
                  table.SetFieldText("CODES", sheet.Codes) && table.SetFieldText("FAXCOVER", coverName);
  // A row is posted whole or not at all.
  if (!ok || !table.Post()) {
    table.Cancel();
    return false;
  }
  return true;
}
