// The command line of `orvsite`, the operator's command: one subcommand per
// job an operator does on a site, each with its own --help.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvsite {

/// Carries out the command line `args` (without the program name):
/// writes results to `out` and complaints to `err`. Returns the exit status:
/// 0 done, 1 the job found or met a problem, 2 a wrong command line.
int run_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orvsite
