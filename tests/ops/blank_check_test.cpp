// The blank check: a read of the whole chip, frame for frame, that leaves the image alone and
// gives a verdict, never a blank one when the programmer went silent.
#include <gtest/gtest.h>

#include "ops/chip_memory.h"
#include "ops_test_support.h"

namespace zelwik::testing {
namespace {

using sim::SimChip;

struct BlankCase {
  const char* name;
  SimChip socket;
  int chipType;
  int programmed;  // first of `count` bytes 0x12 in the chip
  int count;
  long silentAfter;  // 0: the programmer answers every frame
  OpResult result;
  std::string verdict;
};

const BlankCase kBlankCases[] = {
    {"Erased2051Detected", SimChip::C2051, 0, 0, 0, 0, OpResult::Success, " Układ jest czysty."},
    {"LastByteOf4051", SimChip::C4051, 7, 0xFFF, 1, 0, OpResult::Mismatch,
     " Układ nie jest czysty: 0FFF jest 12 (1 bajtów)"},
    {"FiveBytesOf89C51", SimChip::C51_12V, 0, 0x1A3, 5, 0, OpResult::Mismatch,
     " Układ nie jest czysty: 01A3 jest 12 (5 bajtów)"},
    // Half-way through the data, with a programmed byte beyond the point of silence.
    {"SilentHalfWay2051", SimChip::C2051, 0, 0x7FF, 1, 2000, OpResult::LinkFailure, kFailed},
    {"SilentHalfWay89C51", SimChip::C51_12V, 1, 0, 0, 2000, OpResult::LinkFailure, kFailed},
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
  rig.view.AddLogLine("kept");

  EXPECT_EQ(BlankCheck(*rig.state, rig.view), c.result);
  ReadChip(*reader.state, reader.view);
  EXPECT_EQ(rig.SentText(), reader.SentText());
  EXPECT_EQ(rig.view.statuses,
            (std::vector<std::string>{"", " Sprawdzanie czystości...", c.verdict, kReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_EQ(rig.view.log, std::vector<std::string>{"kept"});
  EXPECT_EQ(rig.state->image.ImageEnd, 5);
  EXPECT_TRUE(rig.PortReusable());
}
INSTANTIATE_TEST_SUITE_P(Chips, BlankCheckTest, ::testing::ValuesIn(kBlankCases), CaseName);

}  // namespace
}  // namespace zelwik::testing
