#pragma once

#include <cstdint>
#include <string>

namespace zelwik::cli {

// The UTF-8 text of one character-column byte: its ListCell, so file content can never drive the
// terminal.
std::string TerminalChar(std::uint8_t byte);

// A listing line ("AAAA:" 32 digits, a blank, raw bytes) with its character column made safe
// for a UTF-8 terminal.
std::string TerminalListingLine(const std::string& line);

}  // namespace zelwik::cli
