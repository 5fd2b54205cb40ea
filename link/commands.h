#pragma once

#include <cstdint>

namespace zelwik {

// Command codes of the programmer. Every frame is [command, arg1, arg2, arg3] and gets one reply.
inline constexpr std::uint8_t CMD_WRITE_12V = 0x00;
inline constexpr std::uint8_t CMD_READ = 0x01;
inline constexpr std::uint8_t CMD_ERASE_12V = 0x02;
inline constexpr std::uint8_t CMD_WRITE_5V = 0x03;
inline constexpr std::uint8_t CMD_ERASE_5V = 0x04;
inline constexpr std::uint8_t CMD_LOCK1_12V = 0x05;
inline constexpr std::uint8_t CMD_LOCK2_12V = 0x06;
inline constexpr std::uint8_t CMD_LOCK3_12V = 0x07;
inline constexpr std::uint8_t CMD_LOCK1_5V = 0x08;
inline constexpr std::uint8_t CMD_LOCK2_5V = 0x09;
inline constexpr std::uint8_t CMD_LOCK3_5V = 0x0A;
inline constexpr std::uint8_t CMD_SIG_DEVICE = 0x0B;
inline constexpr std::uint8_t CMD_SIG_MAKER = 0x0C;
inline constexpr std::uint8_t CMD_SIG_VOLTAGE = 0x0D;
inline constexpr std::uint8_t CMD_WRITE_20 = 0x0E;
inline constexpr std::uint8_t CMD_READ_20 = 0x0F;
inline constexpr std::uint8_t CMD_ERASE_20 = 0x10;
inline constexpr std::uint8_t CMD_START = 0x11;
inline constexpr std::uint8_t CMD_NEXT_ADDRESS = 0x12;
inline constexpr std::uint8_t CMD_STOP = 0x13;
inline constexpr std::uint8_t CMD_LOCK1_20 = 0x14;
inline constexpr std::uint8_t CMD_LOCK2_20 = 0x15;
inline constexpr std::uint8_t CMD_SIG_MAKER_20 = 0x16;
inline constexpr std::uint8_t CMD_SIG_DEVICE_20 = 0x17;
inline constexpr std::uint8_t CMD_PROBE = 0xFF;

inline constexpr std::uint8_t kProbeAnswer = 0x55;

}  // namespace zelwik
