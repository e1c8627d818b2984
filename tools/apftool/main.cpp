#include <iostream>

#include "tools/apftool/ApfTool.h"
#ifdef APFTOOL_COVER
#include "docimport/qt/QtImageLoader.h"
#include "tools/apftool/CoverCommand.h"
#include "tools/apftool/ImportCommand.h"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#ifdef APFTOOL_COVER
  if (!args.empty() && args[0] == "cover") return ApfToolCover(args, std::cout, std::cerr);
  if (!args.empty() && args[0] == "import") return ApfToolImport(args, std::cout, std::cerr, FxLoadImageWithQt);
#endif
  return ApfToolMain(args, std::cout, std::cerr);
}
