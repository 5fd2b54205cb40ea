#pragma once

#include <string>

namespace zelwik::win {

// UTF-8, the core's texts, to the UTF-16 of the W functions and back.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace zelwik::win
