// Which input the window drops as an operation's, on a tick count that passes 2^31 after 24.9
// days of uptime and wraps at 2^32.
#include "win/input_gate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

namespace zelwik::win {
namespace {

constexpr std::uint32_t kHalf = 0x80000000u;

// Before any operation, and after an end whose start went unseen, nothing is dropped.
TEST(InputGate, WithoutAStartNothingIsDropped) {
  InputGate fresh, endedOnly;
  endedOnly.Ended(kHalf + 5);
  for (const InputGate& gate : {fresh, endedOnly})
    for (std::uint32_t t : {0u, 1u, kHalf - 1, kHalf, kHalf + 4, kHalf + 5, kHalf + 6, ~0u})
      EXPECT_FALSE(gate.Drops(t)) << std::hex << t;
}

// Operations across 2^31 and across the wrap, and one in the middle of the count: what was made
// from the start to the end goes, what came before or after stays, however long after.
TEST(InputGate, DropsOnlyWhatWasMadeDuringTheLastOperation) {
  for (std::uint32_t start : {kHalf - 16, 0xFFFFFFF0u, 0x12345678u, 0u}) {
    const std::uint32_t end = start + 32;
    InputGate gate;
    gate.Started(start);
    EXPECT_TRUE(gate.Running());
    for (std::uint32_t t : {start, start + 16, start + 31, start + 40, start + kHalf - 1})
      EXPECT_TRUE(gate.Drops(t)) << std::hex << start << " running, " << t;
    EXPECT_FALSE(gate.Drops(start - 1)) << std::hex << start;
    gate.Ended(end);
    EXPECT_FALSE(gate.Running());
    for (std::uint32_t t : {start, start + 16, end - 1})
      EXPECT_TRUE(gate.Drops(t)) << std::hex << t;
    for (std::uint32_t t :
         {start - 1, start - 1000, end, end + 1, end + kHalf, end + kHalf + 1, start - 0x10000})
      EXPECT_FALSE(gate.Drops(t)) << std::hex << start << ' ' << t;
    // The next operation replaces the span.
    gate.Started(end + 100);
    gate.Ended(end + 200);
    EXPECT_FALSE(gate.Drops(start + 16));
    EXPECT_TRUE(gate.Drops(end + 150));
  }
}

}  // namespace
}  // namespace zelwik::win
