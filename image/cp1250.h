#pragma once

#include <cstddef>
#include <cstdint>

namespace zelwik {

// One byte of Windows-1250, the code page of the listing's character column, as a Unicode code
// point; 0 for the five codes the code page leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98).
char16_t Cp1250ToUnicode(std::uint8_t byte);

// Where a listing line's character column starts: "AAAA:", 32 digits and a blank.
inline constexpr std::size_t kListCharacterColumn = 5 + 32 + 1;

// The code point one byte of the character column shows as, in the window and on a terminal
// alike: '.' for control characters, undefined codes and the soft hyphen, none of which would
// take a visible cell of its own, so every line keeps its columns.
char16_t ListCell(std::uint8_t byte);

}  // namespace zelwik
