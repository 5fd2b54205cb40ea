#pragma once

#include <string>
#include <string_view>

namespace zelwik::app {

// One byte of Windows-1250 as a UTF-16 code unit; 0 for the five codes the code page leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98).
char16_t Cp1250ToUnicode(unsigned char byte);

// A listing line for the log: the address and digits are ASCII, the character column raw image
// bytes. Bytes that would not show as one visible cell (controls, undefined codes, the soft
// hyphen) become '.', so every line keeps its columns.
std::u16string DecodeListLine(std::string_view line);

}  // namespace zelwik::app
