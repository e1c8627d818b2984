#include "cover/CoverTemplate.h"

#include <array>
#include <system_error>

#include "cover/CoverRenderer.h"
#include "cover/core/FcsFile.h"
#include "cover/core/FctFile.h"
#include "cover/core/TemplateFiles.h"
#include "shell/core/Folders.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<fs::path TTemplatePaths::*, 4> kMembers{&TTemplatePaths::Fcs, &TTemplatePaths::Fct,
                                                             &TTemplatePaths::Bmp, &TTemplatePaths::Des};

// The temporaries of one save, removed again unless they were renamed.
struct TSaveFiles {
  TTemplatePaths Temp, Backup;
  ~TSaveFiles() {
    std::error_code ec;
    for (auto m : kMembers) fs::remove(Temp.*m, ec);
  }
};

void Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
}

}  // namespace

bool SaveCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile, const std::string& description,
                       std::string* error) {
  // The stored units must not depend on the zoom the user works at.
  surface.SetZoom(1.0);
  const TTemplatePaths target = TemplatePaths(fcsFile);
  const fs::path folder = fcsFile.parent_path().empty() ? fs::path(".") : fcsFile.parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    Fail(error, "The folder " + folder.string() + " does not exist.");
    return false;
  }
  const std::string base = fcsFile.stem().string();
  // The base names take no dot: TemplatePaths replaces what follows one.
  TSaveFiles files{TemplatePaths(folder / ("~" + base + "-saving")), TemplatePaths(folder / ("~" + base + "-old"))};

  // A template whose files were made read-only is kept as it is, even where
  // the folder would let them be replaced.
  for (auto m : kMembers) {
    const auto existing = FindNoCase(folder, (target.*m).filename().string());
    if (existing && (fs::status(*existing, ec).permissions() & fs::perms::owner_write) == fs::perms::none) {
      Fail(error, "The file " + existing->string() + " is read-only.");
      return false;
    }
  }

  std::vector<TFctRecord> records;
  for (const TCoverObject& o : surface.Objects()) records.push_back(MakeFctRecord(o, 96));
  if (!WriteFcsFile(files.Temp.Fcs, surface.Objects()) || !WriteFctFile(files.Temp.Fct, records) ||
      !RenderCoverPreviewImage(files.Temp.Fct).save(QString::fromStdString(files.Temp.Bmp.string()), "BMP") ||
      !WriteDescription(files.Temp.Des, description)) {
    Fail(error, "The files could not be written in " + folder.string() + " (folder read-only or disk full?).");
    return false;
  }

  // The old files (in whatever letter case they were written) step aside,
  // the new ones take their names; when a rename fails, everything goes
  // back as it was.
  std::vector<std::pair<fs::path TTemplatePaths::*, fs::path>> movedAside;
  std::vector<fs::path TTemplatePaths::*> movedIn;
  auto rollBack = [&] {
    std::error_code ignored;
    for (auto m : movedIn) fs::remove(target.*m, ignored);
    for (const auto& [m, original] : movedAside) fs::rename(files.Backup.*m, original, ignored);
  };
  for (auto m : kMembers) {
    const auto existing = FindNoCase(folder, (target.*m).filename().string());
    if (!existing) continue;
    fs::rename(*existing, files.Backup.*m, ec);
    if (ec) {
      rollBack();
      Fail(error, "The file " + existing->string() + " could not be replaced: " + ec.message());
      return false;
    }
    movedAside.emplace_back(m, *existing);
  }
  for (auto m : kMembers) {
    fs::rename(files.Temp.*m, target.*m, ec);
    if (ec) {
      rollBack();
      Fail(error, "The file " + (target.*m).string() + " could not be written: " + ec.message());
      return false;
    }
    movedIn.push_back(m);
  }
  for (const auto& moved : movedAside) fs::remove(files.Backup.*moved.first, ec);
  return true;
}

TOpenedTemplate OpenCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile) {
  TOpenedTemplate result;
  surface.Clear();
  TFcsReadResult read = ReadFcsFile(fcsFile);
  if (!read.Ok()) {
    result.Message = UnableToOpenMessage(fcsFile.string());
    return result;
  }
  surface.Load(std::move(read.Objects));
  result.Ok = true;
  const fs::path folder = fcsFile.parent_path().empty() ? fs::path(".") : fcsFile.parent_path();
  result.Description = ReadDescription(ResolveNoCase(folder, TemplatePaths(fcsFile).Des.filename().string()));
  return result;
}

void DeleteCoverTemplate(const std::filesystem::path& fcsFile) {
  const TTemplatePaths paths = TemplatePaths(fcsFile);
  const fs::path folder = fcsFile.parent_path().empty() ? fs::path(".") : fcsFile.parent_path();
  std::error_code ec;
  for (auto m : kMembers)
    if (const auto found = FindNoCase(folder, (paths.*m).filename().string())) fs::remove(*found, ec);
}
