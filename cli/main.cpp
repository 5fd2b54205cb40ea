#include <unistd.h>

#include <exception>
#include <iostream>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::ostream* terminal = isatty(STDERR_FILENO) ? &std::cerr : nullptr;
    return zelwik::cli::RunCommandLine(args, std::cout, std::cerr, terminal);
  } catch (const std::exception& e) {
    std::cerr << "zelwik-cli: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "zelwik-cli: unexpected failure\n";
  }
  // A production line reads the status: nothing that ended this way may look like success.
  return zelwik::cli::kExitFailure;
}
