#pragma once
// apftool import IN OUT.apf [--fine|--normal] [--photo|--text] [--station ID]

#include <ostream>
#include <string>
#include <vector>

#include "docimport/DocImport.h"

// args[0] is "import". images reads picture files (empty: refused).
int ApfToolImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  const FxImageLoader& images);
