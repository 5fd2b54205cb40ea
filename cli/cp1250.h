#pragma once

#include <cstdint>
#include <string>

namespace zelwik::cli {

// The UTF-8 text of one Windows-1250 byte; "." for control characters and for the bytes that
// Windows-1250 leaves undefined, so file content can never drive the terminal.
std::string TerminalChar(std::uint8_t byte);

// A listing line ("AAAA:" 32 digits, a blank, raw bytes) with its character column made safe
// for a UTF-8 terminal.
std::string TerminalListingLine(const std::string& line);

}  // namespace zelwik::cli
