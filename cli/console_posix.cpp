#include <unistd.h>

#include <iostream>

#include "cli/console.h"

namespace zelwik::cli {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::ostream* SetUpConsole() { return isatty(STDERR_FILENO) ? &std::cerr : nullptr; }

}  // namespace zelwik::cli
