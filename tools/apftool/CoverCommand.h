#pragma once
// apftool cover: a cover template filled in and written as a one-page APF
// file. Draws with Qt's fonts, so it is built only with the application.

#include <ostream>
#include <string>
#include <vector>

// args as for ApfToolMain, starting with "cover". Returns the exit status.
int ApfToolCover(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
