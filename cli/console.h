#pragma once

#include <ostream>
#include <string>
#include <vector>

// The process's side of the command line; console_posix.cpp or console_win32.cpp.
namespace zelwik::cli {

// The arguments after the program name, as UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Readies standard output and error for the UTF-8 texts. Returns the stream to draw the progress
// bar on, or nullptr when standard error is no terminal.
std::ostream* SetUpConsole();

}  // namespace zelwik::cli
