#include <unistd.h>

#include <iostream>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::ostream* terminal = isatty(STDERR_FILENO) ? &std::cerr : nullptr;
  return zelwik::cli::RunCommandLine(args, std::cout, std::cerr, terminal);
}
