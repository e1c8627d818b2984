#include "cover/CoverTemplate.h"

#include "cover/CoverRenderer.h"
#include "cover/core/FcsFile.h"
#include "cover/core/FctFile.h"
#include "cover/core/TemplateFiles.h"

bool SaveCoverTemplate(TCoverSurface& surface, const std::filesystem::path& fcsFile, const std::string& description) {
  // The stored units must not depend on the zoom the user works at.
  surface.SetZoom(1.0);
  const TTemplatePaths p = TemplatePaths(fcsFile);
  std::vector<TFctRecord> records;
  for (const TCoverObject& o : surface.Objects()) records.push_back(MakeFctRecord(o, 96));
  return WriteFcsFile(p.Fcs, surface.Objects()) && WriteFctFile(p.Fct, records) && RenderCoverPreview(p.Fct) &&
         WriteDescription(p.Des, description);
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
  result.Description = ReadDescription(TemplatePaths(fcsFile).Des);
  return result;
}
