#include <iostream>

#include "cli/command_line.h"
#include "cli/console.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = zelwik::cli::ProgramArguments(argc, argv);
  std::ostream* terminal = zelwik::cli::SetUpConsole();
  return zelwik::cli::RunCommandLine(args, std::cout, std::cerr, terminal);
}
