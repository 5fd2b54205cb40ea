#pragma once

#include <cstdint>
#include <string>

#include "ops/operations.h"

namespace zelwik {

// ReadChip that also tells how many bytes it read: the chip's memory size after a completed read,
// 0 otherwise. A backup to a raw binary file needs the size, which the image alone cannot tell.
struct ChipRead {
  OpResult result;
  int size;
};
ChipRead ReadChipSized(State& state, View& view);

// Reads the chip's whole memory with exactly the frames of ReadChip, into a buffer of its own (the
// image stays as it was), and tells whether every byte is 0xFF. Mismatch when one is not.
OpResult BlankCheck(State& state, View& view);

inline constexpr const char* kTextBlankChecking = " Sprawdzanie czystości...";
inline constexpr const char* kTextBlank = " Układ jest czysty.";
// " Układ nie jest czysty: AAAA jest RR (N bajtów)": the first byte that is not 0xFF, its value
// and how many are not.
std::string NotBlankText(int address, std::uint8_t value, int count);

}  // namespace zelwik
