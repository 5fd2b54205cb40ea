#pragma once

#include <string>
#include <string_view>

namespace zelwik::app {

// A listing line for the log: the ASCII address and digits as they are, the character column's
// image bytes as the cells ListCell gives them.
std::u16string DecodeListLine(std::string_view line);

}  // namespace zelwik::app
