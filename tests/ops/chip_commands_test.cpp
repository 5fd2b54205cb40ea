// Erase, locks and signatures in every chip group, detected and chosen, checked frame by frame.
#include <gtest/gtest.h>

#include <optional>

#include "ops_test_support.h"

namespace zelwik::testing {
namespace {

using sim::SimChip;

enum GroupIndex { k12V = 0, k5V = 1, k20 = 2, kNone = 3 };

// The socket and the chip choice of one run, and what the chip answers to the signature commands.
struct Mode {
  const char* name;
  SimChip socket;
  int chipType;
  GroupIndex group;
  std::uint8_t device, maker, voltage;
};

const Mode kModes[] = {
    {"Auto12V", SimChip::C51_12V, 0, k12V, 0x51, 0x1E, 0xFF},
    {"Auto5V", SimChip::C52_5V, 0, k5V, 0x52, 0x1E, 0x05},
    {"Auto20Pin", SimChip::C2051, 0, k20, 0x21, 0x1E, 0},
    {"OtherChipChosen", SimChip::C51_12V, 10, k12V, 0x51, 0x1E, 0xFF},
    {"Chosen89C55", SimChip::C55_12V, 4, k12V, 0x55, 0x1E, 0xFF},
    // A chosen chip is never checked: the 20-pin commands go to the 40-pin chip, which answers FF.
    {"Chosen2051With89C51InSocket", SimChip::C51_12V, 6, k20, 0xFF, 0xFF, 0},
    {"Chosen1051", SimChip::C1051, 5, k20, 0x11, 0x1E, 0},
    {"AutoEmptySocket", SimChip::Empty, 0, kNone, 0, 0, 0},
};

std::string Prefix(const Mode& mode) {
  Frames frames;
  frames.Add(kProbe);
  if (mode.chipType == 0) frames.Add(DetectionFrames());
  return frames.Text();
}

struct CommandCase {
  const char* name;
  ChipCommand command;
  std::vector<std::uint8_t> frames[3];
  const char* text[3];
};

const CommandCase kCommands[] = {
    {"Erase", ChipCommand::Erase, {{0x02}, {0x04}, {0x10}},
     {" Układ wymazano...", " Układ wymazano...", " Układ wymazano..."}},
    {"Lock1", ChipCommand::Lock1, {{0x05}, {0x08}, {0x14}},
     {" Układ zablokowano...", " Układ zablakowano...", " Układ zablokowano..."}},
    {"Lock2", ChipCommand::Lock2, {{0x06}, {0x09}, {0x15}},
     {" Układ zablokowano...", " Układ zablokowano...", " Układ zablokowano..."}},
    {"Lock3", ChipCommand::Lock3, {{0x07}, {0x0A}, {}},
     {" Układ zablokowano...", " Układ zablokowano...", " Układ nie posiada tej blokady !"}},
    {"LockAll", ChipCommand::LockAll, {{0x05, 0x06, 0x07}, {0x08, 0x09, 0x0A}, {0x14, 0x13, 0x11, 0x15}},
     {" Układ zablokowano...", " Układ zablokowano...", " Układ zablokowano..."}},
};

class ChipCommandTest : public ::testing::TestWithParam<std::tuple<CommandCase, Mode>> {};

TEST_P(ChipCommandTest, SendsTheGroupsFramesAndShowsItsText) {
  const auto& [c, mode] = GetParam();
  Rig rig(mode.socket, mode.chipType);
  const OpResult result = RunChipCommand(*rig.state, rig.view, c.command);

  Frames expected;
  expected.Add(kStop).Add(kStart);
  std::vector<std::string> statuses;
  OpResult expectedResult = OpResult::NoChip;
  if (mode.group == kNone) {
    statuses.push_back(kTextNoChip);
  } else {
    for (std::uint8_t command : c.frames[mode.group]) expected.Add(F(command));
    statuses.push_back(c.text[mode.group]);
    const bool lacksLock = c.command == ChipCommand::Lock3 && mode.group == k20;
    expectedResult = lacksLock ? OpResult::NotSupported : OpResult::Success;
  }
  expected.Add(kStop);
  statuses.push_back(kTextReady);

  EXPECT_EQ(rig.SentText(), Prefix(mode) + " " + expected.Text());
  EXPECT_EQ(rig.view.statuses, statuses);
  EXPECT_EQ(rig.view.pauses, std::vector<int>{2000});
  EXPECT_EQ(rig.view.events.back(), "status:  Gotowy...");
  EXPECT_EQ(result, expectedResult);
  EXPECT_EQ(rig.state->ChipType, mode.chipType);
  EXPECT_TRUE(rig.PortReusable());
}

struct SignatureCase {
  const char* name;
  Signature which;
};
const SignatureCase kSignatures[] = {
    {"Device", Signature::Device}, {"Maker", Signature::Maker}, {"Voltage", Signature::Voltage}};

std::string Hex(std::uint8_t b) { return ByteToHexText(b); }

class SignatureTest : public ::testing::TestWithParam<std::tuple<SignatureCase, Mode>> {};

TEST_P(SignatureTest, FramesTextAndPause) {
  const auto& [s, mode] = GetParam();
  Rig rig(mode.socket, mode.chipType);
  const OpResult result = ShowSignature(*rig.state, rig.view, s.which);

  Frames expected;
  std::string text;
  OpResult expectedResult = OpResult::Success;
  const bool pin20 = mode.group == k20;
  switch (s.which) {
    case Signature::Device:  // mixed: the branch opens, the frame closes
      if (mode.group != kNone) expected.Add(kStop).Add(kStart).Add(F(pin20 ? 0x17 : 0x0B));
      text = " Sygnatura układu=" + Hex(mode.device) + "H";
      break;
    case Signature::Maker:
      expected.Add(kStop).Add(kStart);
      if (pin20) expected.Add(kStop).Add(kStart).Add(F(0x16));
      else if (mode.group != kNone) expected.Add(F(0x0C));
      text = " Sygnatura producenta=" + Hex(mode.maker) + "H";
      break;
    case Signature::Voltage:
      expected.Add(kStop).Add(kStart);
      if (mode.group != kNone && !pin20) expected.Add(F(0x0D));
      text = pin20 ? " Układ nie posiada tej sygnatury" : " Sygnatura napięcia=" + Hex(mode.voltage) + "H";
      if (pin20) expectedResult = OpResult::NotSupported;
      break;
  }
  expected.Add(kStop);
  if (mode.group == kNone) {
    text = kTextNoChip;
    expectedResult = OpResult::NoChip;
  }

  EXPECT_EQ(rig.SentText(), Prefix(mode) + " " + expected.Text());
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{text, kTextReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{s.which == Signature::Voltage ? 2000 : 1500});
  EXPECT_EQ(result, expectedResult);
  EXPECT_TRUE(rig.PortReusable());
}

template <class Case>
std::string Name(const ::testing::TestParamInfo<std::tuple<Case, Mode>>& info) {
  return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(AllGroups, ChipCommandTest,
                         ::testing::Combine(::testing::ValuesIn(kCommands), ::testing::ValuesIn(kModes)),
                         Name<CommandCase>);
INSTANTIATE_TEST_SUITE_P(AllGroups, SignatureTest,
                         ::testing::Combine(::testing::ValuesIn(kSignatures), ::testing::ValuesIn(kModes)),
                         Name<SignatureCase>);

TEST(ChipCommand, LocksReachTheChip) {
  Rig rig(SimChip::C52_5V);
  EXPECT_EQ(RunChipCommand(*rig.state, rig.view, ChipCommand::LockAll), OpResult::Success);
  const sim::LockBits locks = rig.sim.WithModel([](sim::DeviceModel& m) { return m.Locks(); });
  EXPECT_TRUE(locks.lock1 && locks.lock2 && locks.lock3);
}

}  // namespace
}  // namespace zelwik::testing
