#pragma once
// The apftool commands, callable from tests as well as from main().

#include <ostream>
#include <string>
#include <vector>

#include "faximage/Bitmap.h"

// Runs one command line (without the program name). Output goes to out,
// error texts to err. Returns the exit status: 0, 1 for a failure, 2 for a
// usage error.
int ApfToolMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Reads a PBM file (P1 or P4) into a monochrome bitmap: 0, -1002 for a
// malformed file, or -errno.
int ApfToolLoadPbm(const std::string& path, TFxBitmap& out);
