// orvsite: the site operator's command (lay out, check, show, prune and
// exchange for a site directory).
#include <iostream>
#include <string>
#include <vector>

#include "programs/orvsite/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = orvsite::run_command(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
