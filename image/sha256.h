#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zelwik {

// SHA-256 of the bytes: the file's image and what a read took from the chip, in the production
// log; a job file's image, in the job.
std::array<std::uint8_t, 32> Sha256(const std::uint8_t* data, std::size_t size);
// The same as 64 lower-case hex digits.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);

}  // namespace zelwik
