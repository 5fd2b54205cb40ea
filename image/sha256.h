#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zelwik {

// SHA-256 of the bytes, for the log's record of what went into each chip.
std::array<std::uint8_t, 32> Sha256(const std::uint8_t* data, std::size_t size);
// The same as 64 lower-case hex digits.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

}  // namespace zelwik
