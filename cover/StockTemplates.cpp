#include "cover/StockTemplates.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <string>

int InstallStockTemplates(const std::filesystem::path& coversFolder) {
  std::error_code ec;
  std::filesystem::create_directories(coversFolder, ec);
  for (const auto& entry : std::filesystem::directory_iterator(coversFolder, ec)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
    if (ext == ".FCS") return 0;
  }
  if (ec) return -1;
  const QDir stock(QStringLiteral(":/stockcovers"));
  int copied = 0;
  for (const QString& name : stock.entryList(QDir::Files, QDir::Name)) {
    const QString target = QString::fromStdString((coversFolder / name.toStdString()).string());
    if (!QFile::copy(stock.filePath(name), target)) return -1;
    // Resource files are read-only; the copies belong to the user.
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    ++copied;
  }
  return copied;
}
