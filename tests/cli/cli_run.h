// zelwik-cli run in process: its exit status and what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace zelwik::cli {

struct CliRun {
  int status;
  std::string out, err;
};

inline CliRun Cli(const std::vector<std::string>& args, const PortListRoots& roots = {}) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, nullptr, roots);
  return {status, out.str(), err.str()};
}

}  // namespace zelwik::cli
