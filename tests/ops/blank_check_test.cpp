// The blank check: a read of the whole chip, frame for frame, that leaves the image alone and
// gives a verdict, never a blank one when the programmer went silent.
#include <gtest/gtest.h>

#include "ops/chip_memory.h"
#include "ops_test_support.h"

namespace zelwik::testing {
namespace {

struct BlankCase {
  const char* name;
  sim::SimChip socket;
  int chipType, programmed, count;  // `count` bytes 0x12 from `programmed` in the chip
  long silentAfter;                 // 0: every frame answered
  std::string verdict;
};

const BlankCase kBlankCases[] = {
    {"Erased2051Detected", sim::SimChip::C2051, 0, 0, 0, 0, " Układ jest czysty."},
    {"LastByteOf4051", sim::SimChip::C4051, 7, 0xFFF, 1, 0,
     " Układ nie jest czysty: 0FFF jest 12 (1 bajtów)"},
    {"FiveBytesOf89C51", sim::SimChip::C51_12V, 0, 0x1A3, 5, 0,
     " Układ nie jest czysty: 01A3 jest 12 (5 bajtów)"},
    // Half-way through the data, before the one programmed byte.
    {"SilentHalfWay2051", sim::SimChip::C2051, 0, 0x7FF, 1, 2000, kFailed},
};

class BlankCheckTest : public ::testing::TestWithParam<BlankCase> {};

TEST_P(BlankCheckTest, ReadsLikeAReadAndKeepsTheImage) {
  const BlankCase& c = GetParam();
  sim::Faults faults;
  if (c.silentAfter) faults.stopAfterFrames = c.silentAfter;
  Rig rig(c.socket, c.chipType, faults), reader(c.socket, c.chipType, faults);
  for (Rig* r : {&rig, &reader})
    r->FillFlash(
        [&](int a) { return a >= c.programmed && a < c.programmed + c.count ? 0x12 : 0xFF; });
  rig.state->image.MemoryImage[5] = 0x55;
  FindImageEnd(rig.state->image);

  const OpResult result = BlankCheck(*rig.state, rig.view);
  EXPECT_EQ(result, c.silentAfter ? OpResult::LinkFailure
                    : c.count     ? OpResult::Mismatch
                                  : OpResult::Success);
  ReadChip(*reader.state, reader.view);
  EXPECT_EQ(rig.SentText(), reader.SentText());
  EXPECT_EQ(rig.view.statuses,
            (std::vector<std::string>{"", " Sprawdzanie czystości...", c.verdict, kReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_TRUE(rig.view.log.empty());
  EXPECT_EQ(rig.state->image.ImageEnd, 5);
  EXPECT_TRUE(rig.PortReusable());
}
INSTANTIATE_TEST_SUITE_P(Chips, BlankCheckTest, ::testing::ValuesIn(kBlankCases), CaseName);

}  // namespace
}  // namespace zelwik::testing
