#include "app/cp1250.h"

namespace zelwik::app {

std::u16string DecodeListLine(std::string_view line) {
  std::u16string out;
  out.reserve(line.size());
  for (char c : line) {
    const char16_t u = Cp1250ToUnicode(static_cast<unsigned char>(c));
    const bool blankCell = u < 0x20 || u == 0x7F || u == 0x00AD;
    out.push_back(blankCell ? u'.' : u);
  }
  return out;
}

}  // namespace zelwik::app
