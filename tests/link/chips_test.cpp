#include "link/chips.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_port.h"
#include "link/commands.h"
#include "link/link.h"
#include "support/sim_harness.h"

namespace zelwik {
namespace {

using testing::FramesText;
using testing::ScriptedPort;
using testing::SimHarness;

constexpr const char* kDetectFrames =
    "13000000 11000000 17000000 13000000 11000000 0B000000 0D000000 13000000";

TEST(ChipTable, MenuTextsSizesAndGroups) {
  struct Row {
    int code;
    const char* caption;
    const char* label;
    ChipGroup group;
    int size;
  };
  const Row rows[] = {
      {0, "Automatycznie", "Automatycznie", ChipGroup::None, 0},
      {1, "  89C51 ", "89C51", ChipGroup::Pin40_12V, 4096},
      {2, nullptr, nullptr, ChipGroup::Pin40_5V, 4096},
      {3, "  89C52 ", "89C52", ChipGroup::Pin40_12V, 8192},
      {4, "  89C55", "89C55", ChipGroup::Pin40_12V, 20480},
      {5, "  89C1051", "89C1051", ChipGroup::Pin20, 1024},
      {6, "  89C2051", "89C2051", ChipGroup::Pin20, 2048},
      {7, "  89C4051", "89C4051", ChipGroup::Pin20, 4096},
      {8, nullptr, nullptr, ChipGroup::Pin40_5V, 8192},
      {9, nullptr, nullptr, ChipGroup::Pin40_5V, 20480},
      {10, "  Inny układ", "Inny układ", ChipGroup::Pin40_12V, 32768},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    const ChipInfo* chip = FindChip(row.code);
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(chip->code, row.code);
    ASSERT_NE(chip->name, nullptr);
    EXPECT_EQ(chip->menuCaption == nullptr, row.caption == nullptr);
    if (row.caption) {
      EXPECT_STREQ(chip->menuCaption, row.caption);
    }
    EXPECT_EQ(chip->label == nullptr, row.label == nullptr);
    if (row.label) {
      EXPECT_STREQ(chip->label, row.label);
    }
    EXPECT_EQ(chip->group, row.group);
    EXPECT_EQ(chip->memorySize, row.size);
  }
  EXPECT_EQ(FindChip(-1), nullptr);
  EXPECT_EQ(FindChip(11), nullptr);
  EXPECT_EQ(FindChip(255), nullptr);
  EXPECT_EQ(CommandsOf(ChipGroup::None), nullptr);
}

// The group commands drive each simulated chip: erase, write, read back, lock. This ties the
// command table to the chips' behaviour rather than restating the codes.
TEST(ChipTable, GroupCommandsProgramEveryChip) {
  const std::pair<int, sim::SimChip> chips[] = {
      {1, sim::SimChip::C51_12V}, {2, sim::SimChip::C51_5V},  {3, sim::SimChip::C52_12V},
      {4, sim::SimChip::C55_12V}, {5, sim::SimChip::C1051},   {6, sim::SimChip::C2051},
      {7, sim::SimChip::C4051},   {8, sim::SimChip::C52_5V},  {9, sim::SimChip::C55_5V}};
  for (const auto& [code, simChip] : chips) {
    SCOPED_TRACE(code);
    const ChipInfo* chip = FindChip(code);
    const GroupCommands* c = CommandsOf(chip->group);
    sim::DeviceModel model(simChip);
    model.Flash()[2] = 0x00;
    auto send = [&](int command, int address = 0, int data = 0) {
      auto reply = model.HandleFrame({static_cast<std::uint8_t>(command),
                                      static_cast<std::uint8_t>(address >> 8),
                                      static_cast<std::uint8_t>(address),
                                      static_cast<std::uint8_t>(data)});
      return reply.empty() ? -1 : reply[0];
    };
    send(CMD_STOP);
    send(CMD_START);
    send(c->erase);
    send(CMD_STOP);
    send(CMD_START);
    const int last = chip->memorySize - 1;
    for (int a = 0; a <= 2; ++a) {
      const int address = a == 2 ? last : a;
      if (c->sequential) {
        while (model.Address20() < address) send(CMD_NEXT_ADDRESS);
      }
      EXPECT_EQ(send(c->write, address, 0x3C + a), 0x3C + a);
      if (c->sequential) send(CMD_NEXT_ADDRESS);
    }
    EXPECT_EQ(model.Flash()[0], 0x3C);
    EXPECT_EQ(model.Flash()[1], 0x3D);
    EXPECT_EQ(model.Flash()[2], 0xFF);  // the erase reached it
    EXPECT_EQ(model.Flash()[static_cast<std::size_t>(last)], 0x3E);
    send(CMD_STOP);
    send(CMD_START);
    EXPECT_EQ(send(c->read, 0), 0x3C);
    send(c->lock1);
    send(c->lock2);
    if (c->lock3 != kNoCommand) send(c->lock3);
    EXPECT_TRUE(model.Locks().lock1 && model.Locks().lock2);
    EXPECT_EQ(model.Locks().lock3, c->lock3 != kNoCommand);
  }
}

struct DetectCase {
  sim::SimChip chip;
  int code;
};

class DetectEveryChip : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectEveryChip, EightFramesAndTheChipsCode) {
  SimHarness sim(GetParam().chip);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
  sim.ClearFrames();
  EXPECT_EQ(DetectChip(link), GetParam().code);
  EXPECT_EQ(FramesText(sim.Frames()), kDetectFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, DetectEveryChip,
    ::testing::Values(DetectCase{sim::SimChip::C51_12V, 1}, DetectCase{sim::SimChip::C51_5V, 2},
                      DetectCase{sim::SimChip::C52_12V, 3}, DetectCase{sim::SimChip::C55_12V, 4},
                      DetectCase{sim::SimChip::C1051, 5}, DetectCase{sim::SimChip::C2051, 6},
                      DetectCase{sim::SimChip::C4051, 7}, DetectCase{sim::SimChip::C52_5V, 8},
                      DetectCase{sim::SimChip::C55_5V, 9}, DetectCase{sim::SimChip::Empty, 0}));

// Detection on a scripted programmer; frames receives the number of frames sent.
std::uint8_t DetectWith(std::map<std::uint8_t, std::uint8_t> replies, std::size_t* frames = nullptr) {
  auto owned = std::make_unique<ScriptedPort>();
  ScriptedPort* port = owned.get();
  port->replies = std::move(replies);
  Link link(std::move(owned));
  EXPECT_TRUE(link.OpenLink("fake"));
  const std::uint8_t code = DetectChip(link);
  if (frames) *frames = port->written.size();
  return code;
}

TEST(Detect, FortyPinMatchWinsOverTwentyPin) {
  std::size_t frames = 0;
  EXPECT_EQ(DetectWith({{0x17, 0x21}, {0x0B, 0x51}, {0x0D, 0xFF}}, &frames), 1);
  EXPECT_EQ(frames, 8u);
}

TEST(Detect, UnknownPairKeepsTheTwentyPinResult) {
  EXPECT_EQ(DetectWith({{0x0B, 0x51}, {0x0D, 0x00}}), 0);
  EXPECT_EQ(DetectWith({{0x17, 0x41}, {0x0B, 0x51}, {0x0D, 0x00}}), 7);
  // Voltage bytes other than the two known ones, and swapped bytes, match nothing.
  EXPECT_EQ(DetectWith({{0x0B, 0x52}, {0x0D, 0x12}}), 0);
  EXPECT_EQ(DetectWith({{0x0B, 0xFF}, {0x0D, 0x51}}), 0);
  EXPECT_EQ(DetectWith({{0x17, 0x51}}), 0);
}

TEST(Detect, SilentProgrammerIsALinkFault) {
  sim::Faults faults;
  faults.stopAfterFrames = 3;  // the probe, 0x13, 0x11: the first signature goes unanswered
  SimHarness sim(sim::SimChip::C51_12V, faults);
  Link link;
  link.SetReplyTimeout(200);
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  ASSERT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_THROW(DetectChip(link), LinkFault);
}

}  // namespace
}  // namespace zelwik
