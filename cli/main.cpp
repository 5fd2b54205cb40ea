#include <exception>
#include <iostream>

#include "cli/command_line.h"
#include "cli/console.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args = zelwik::cli::ProgramArguments(argc, argv);
    std::ostream* terminal = zelwik::cli::SetUpConsole();
    const auto prompt = zelwik::cli::StandardInputPrompt();
    return zelwik::cli::RunCommandLine(args, std::cout, std::cerr, terminal, {}, prompt.get());
  } catch (const std::exception& e) {
    std::cerr << "zelwik-cli: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "zelwik-cli: unexpected failure\n";
  }
  // A production line reads the status: nothing that ended this way may look like success.
  return zelwik::cli::kExitFailure;
}
