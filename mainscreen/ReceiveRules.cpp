#include "mainscreen/ReceiveRules.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "faximage/Apf.h"
#include "shell/core/Folders.h"

namespace fs = std::filesystem;

namespace {
constexpr int kFromWidth = 20;
constexpr int kLogFromWidth = 40;
constexpr char kMarkerName[] = ".receiving";
}  // namespace

std::string ReceiveDirectory() {
  std::string dir = ReceiveFolder();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

QString CleanStationId(const std::string& raw) {
  QString id;
  for (char c : raw) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) id += QChar(u);
  }
  return id.trimmed().left(kFromWidth).trimmed();
}

QString ReceiveStatusLine(const std::string& progressText, const QString& remoteId, int page, long bytes) {
  QString text = QString::fromStdString(progressText).trimmed();
  QString pagePart, bytesPart;
  if (text.toUpper() == "GOT CLASS 2 FHNG CODE") {
    text = "Hangup successful";
  } else if (text == "Getting page data") {
    text = "Receiving fax";
    if (page != 0) pagePart = ", page " + QString::number(page);
    if (bytes > 0) bytesPart = " (" + QString::number(bytes) + " bytes)";
  }
  const QString id = remoteId.trimmed();
  QString line = id.isEmpty() ? text : text + " from: " + id + pagePart + bytesPart;
  if (line.toUpper().contains("ABORT")) line.clear();
  return line;
}

QString ReceivedOkLine(const QString& from, int pages) {
  return ("Received OK   From: " + from).left(kLogFromWidth) + "  Pages: " + QString::number(pages);
}

int CompleteReceivedPages(const fs::path& file) {
  TFxApfReader reader;
  if (reader.Open(file) != 0) return -1;
  // The header counts a page only once its data is whole; the chain must
  // hold every page it counts.
  const unsigned count = reader.PageCount();
  for (unsigned p = 1; p <= count; ++p) {
    ApfPageHeader page;
    uint64_t at = 0;
    if (reader.FindPage(p, page, at) != 0 || at + page.imageLength > reader.FileSize())
      return static_cast<int>(p) - 1;
  }
  return static_cast<int>(count);
}

int KeepReceivedPages(const fs::path& file, int pages) {
  if (pages < 0) return -1002;
  uint64_t end = kApfFileHeaderSize;
  ApfFileHeader header;
  {
    TFxApfReader reader;
    if (const int rc = reader.Open(file); rc != 0) return rc;
    if (pages > reader.PageCount()) return -8001;
    header = reader.Header();
    if (pages > 0) {
      ApfPageHeader page;
      uint64_t at = 0;
      if (const int rc = reader.FindPage(static_cast<unsigned>(pages), page, at); rc != 0) return rc;
      end = at + page.imageLength;
      if (end > reader.FileSize()) return -8001;
    } else {
      end = header.firstPageOffset;
    }
  }
  header.pageCount = static_cast<uint16_t>(pages);
  const auto bytes = header.Pack();
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  int rc = 0;
  if (::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()) ||
      ::ftruncate(fd, static_cast<off_t>(end)) != 0 || ::fsync(fd) != 0)
    rc = errno != 0 ? -errno : -5;
  ::close(fd);
  return rc;
}

QString IncompleteNote(const QString& errorText) { return ("Incomplete: " + errorText).left(60); }

fs::path ReceivingMarker(const fs::path& receiveFolder) { return receiveFolder / kMarkerName; }

void MarkReceiving(const fs::path& receiveFolder, const std::string& imageFile) {
  std::ofstream out(ReceivingMarker(receiveFolder), std::ios::binary | std::ios::trunc);
  out << fs::path(imageFile).filename().string() << '\n';
}

void ClearReceiving(const fs::path& receiveFolder) {
  std::error_code ec;
  fs::remove(ReceivingMarker(receiveFolder), ec);
}

std::string UnfinishedReception(const fs::path& receiveFolder) {
  std::ifstream in(ReceivingMarker(receiveFolder), std::ios::binary);
  std::string name;
  if (!in || !std::getline(in, name)) return {};
  // Only a plain name inside the Receive folder is ever acted on.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
  return name;
}
