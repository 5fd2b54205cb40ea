#include "app/cp1250.h"

#include "image/cp1250.h"

namespace zelwik::app {

std::u16string DecodeListLine(std::string_view line) {
  std::u16string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(line[i]);
    out.push_back(i < kListCharacterColumn ? char16_t(byte) : ListCell(byte));
  }
  return out;
}

}  // namespace zelwik::app
