#pragma once

#include <cstdint>

namespace zelwik {

// One byte of Windows-1250, the code page of the listing's character column, as a Unicode code
// point; 0 for the five codes the code page leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98).
char16_t Cp1250ToUnicode(std::uint8_t byte);

}  // namespace zelwik
