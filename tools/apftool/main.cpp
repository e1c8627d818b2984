#include <iostream>

#include "tools/apftool/ApfTool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return ApfToolMain(args, std::cout, std::cerr);
}
