#include <algorithm>
#include <vector>

#include "image/memory_image.h"
#include "ops/chip_memory.h"
#include "ops/frame.h"
#include "ops/read_memory.h"

namespace zelwik {

std::string NotBlankText(int address, std::uint8_t value, int count) {
  return std::string(" Układ nie jest czysty: ") +
         ByteToHexText(static_cast<std::uint8_t>(address >> 8)) +
         ByteToHexText(static_cast<std::uint8_t>(address & 0xFF)) + " jest " +
         ByteToHexText(value) + " (" + std::to_string(count) + " bajtów)";
}

OpResult BlankCheck(State& state, View& view) {
  constexpr detail::FrameSpec kFrame{
      .framing = detail::Framing::BodySendsAll, .pauseMs = kPauseTransferMs, .transfer = true};
  return detail::RunOperation(
      state, view, kFrame, [&](const ChipInfo& chip, const GroupCommands& commands) {
        const int size = std::min(chip.memorySize, kImageSize);
        std::vector<std::uint8_t> memory(static_cast<std::size_t>(size), kEmptyByte);
        detail::ReadMemory(state.link, view, commands, size, memory.data(), kTextBlankChecking);
        const auto first = std::find_if(memory.begin(), memory.end(),
                                        [](std::uint8_t b) { return b != kEmptyByte; });
        if (first == memory.end()) {
          view.SetStatus(kTextBlank);
          return OpResult::Success;
        }
        const auto count =
            std::count_if(first, memory.end(), [](std::uint8_t b) { return b != kEmptyByte; });
        view.SetStatus(NotBlankText(static_cast<int>(first - memory.begin()), *first,
                                    static_cast<int>(count)));
        return OpResult::Mismatch;
      });
}

}  // namespace zelwik
