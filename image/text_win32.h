#pragma once

// Windows only: every text crosses to the W calls here, and system error codes become words.

#include <string>
#include <string_view>

namespace zelwik {

// UTF-8 to UTF-16; bytes that are no UTF-8 become U+FFFD. With `orAnsi`, such a text is taken in
// the system's ANSI code page instead, as names given to the narrow calls were (empty when that
// fails too).
std::wstring Widen(std::string_view utf8, bool orAnsi = false);
std::string Narrow(std::wstring_view wide);

// The system's words for a GetLastError() code, in English where the system has them, without the
// closing period and line end.
std::string SystemErrorText(unsigned long code);

}  // namespace zelwik
