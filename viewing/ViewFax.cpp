#include "viewing/ViewFax.h"

#include <filesystem>
#include <system_error>

#include "faximage/Apf.h"
#include "shell/core/Files.h"
#include "shell/core/Folders.h"

namespace fs = std::filesystem;

namespace {
// The file of that name in the folder, in any letter case; empty when none.
std::string Existing(const std::string& folder, const std::string& name) {
  if (name.empty()) return {};
  const fs::path p = ResolveNoCase(folder, name);
  std::error_code ec;
  return fs::is_regular_file(p, ec) ? p.string() : std::string();
}
}  // namespace

TFaxToView TFaxToView::Outgoing(const std::string& sendFolder, const std::string& cover, const std::string& doc) {
  TFaxToView v;
  const std::string coverFile = Existing(sendFolder, cover);
  const std::string docFile = Existing(sendFolder, doc);
  if (!coverFile.empty() && !docFile.empty()) {
    v.file_ = NextTempFileName("Temp");
    v.temporary_ = true;
    // A failed join leaves what was written; the viewer shows the pages it
    // can read or says the file cannot be opened.
    (void)ApfConcatenate(coverFile, docFile, v.file_);
  } else {
    v.file_ = !docFile.empty() ? docFile : coverFile;
  }
  return v;
}

TFaxToView TFaxToView::Received(const std::string& receiveFolder, const std::string& faxFile) {
  TFaxToView v;
  v.file_ = Existing(receiveFolder, faxFile);
  return v;
}

TFaxToView::TFaxToView(TFaxToView&& other) noexcept
    : file_(std::move(other.file_)), temporary_(other.temporary_) {
  other.file_.clear();
  other.temporary_ = false;
}

TFaxToView& TFaxToView::operator=(TFaxToView&& other) noexcept {
  if (this != &other) {
    Remove();
    file_ = std::move(other.file_);
    temporary_ = other.temporary_;
    other.file_.clear();
    other.temporary_ = false;
  }
  return *this;
}

TFaxToView::~TFaxToView() { Remove(); }

void TFaxToView::Remove() {
  if (temporary_ && !file_.empty()) {
    std::error_code ec;
    fs::remove(file_, ec);
  }
  temporary_ = false;
}
