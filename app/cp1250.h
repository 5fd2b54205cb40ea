#pragma once

#include <string>
#include <string_view>

#include "image/cp1250.h"

namespace zelwik::app {

using zelwik::Cp1250ToUnicode;

// A listing line for the log: the address and digits are ASCII, the character column raw image
// bytes. Bytes that would not show as one visible cell (controls, undefined codes, the soft
// hyphen) become '.', so every line keeps its columns.
std::u16string DecodeListLine(std::string_view line);

}  // namespace zelwik::app
