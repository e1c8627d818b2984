#include "tools/apftool/ImportCommand.h"

int ApfToolImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const FxImageLoader& images) {
  FxImportOptions options;
  options.imageLoader = images;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--fine") {
      options.resolution = FxImportResolution::fine;
    } else if (a == "--normal") {
      options.resolution = FxImportResolution::normal;
    } else if (a == "--photo") {
      options.toning = FxImportToning::photo;
    } else if (a == "--text") {
      options.toning = FxImportToning::text;
    } else if (a == "--station" && i + 1 < args.size()) {
      options.stationId = args[++i].substr(0, 20);
    } else if (a.size() > 1 && a[0] == '-') {
      err << "apftool: unknown option " << a << "\n";
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) {
    err << "usage: apftool import IN OUT.apf [--fine|--normal] [--photo|--text] [--station ID]\n";
    return 2;
  }
  FxImportResult result;
  const int rc = FxImportDocument(files[0], files[1], options, result);
  for (const auto& w : result.warnings) err << "apftool: " << files[0] << ": " << w << "\n";
  if (rc != 0) {
    err << "apftool: " << files[0] << ": " << result.error << "\n";
    return 1;
  }
  out << files[1] << ": " << result.pagesWritten << (result.pagesWritten == 1 ? " page\n" : " pages\n");
  return 0;
}
