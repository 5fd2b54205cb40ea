#include "sim/device_model.h"

#include <gtest/gtest.h>

#include "link/commands.h"

namespace zelwik::sim {
namespace {

// One reply byte, -1 for silence; a second byte shows as +256 * (1 + byte).
int Send(DeviceModel& m, int command, int address = 0, int data = 0) {
  auto reply = m.HandleFrame({static_cast<std::uint8_t>(command),
                              static_cast<std::uint8_t>(address >> 8),
                              static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(data)});
  if (reply.empty()) return -1;
  if (reply.size() == 2) return reply[0] + 256 * (1 + reply[1]);
  return reply[0];
}

TEST(Model, FlashOnlyClearsBitsUntilErased) {
  DeviceModel m(SimChip::C51_12V);
  EXPECT_EQ(Send(m, CMD_WRITE_12V, 0x0123, 0xF0), 0xF0);
  EXPECT_EQ(Send(m, CMD_WRITE_12V, 0x0123, 0x0F), 0x00);
  EXPECT_EQ(Send(m, CMD_READ, 0x0123), 0x00);
  Send(m, CMD_LOCK1_12V);
  Send(m, CMD_LOCK3_12V);
  EXPECT_TRUE(m.Locks().lock1);
  EXPECT_FALSE(m.Locks().lock2);
  EXPECT_TRUE(m.Locks().lock3);
  Send(m, CMD_ERASE_12V);
  EXPECT_EQ(Send(m, CMD_READ, 0x0123), 0xFF);
  EXPECT_FALSE(m.Locks().lock1 || m.Locks().lock3);
}

TEST(Model, AddressesBeyondTheChipReadEmptyAndAreNotWritten) {
  DeviceModel m(SimChip::C51_5V);
  ASSERT_EQ(m.Flash().size(), 4096u);
  EXPECT_EQ(Send(m, CMD_WRITE_5V, 0x1000, 0x00), 0xFF);
  EXPECT_EQ(Send(m, CMD_WRITE_5V, 0xFFFF, 0x00), 0xFF);
  EXPECT_EQ(Send(m, CMD_READ, 0x1000), 0xFF);
  EXPECT_EQ(m.Flash().size(), 4096u);
  EXPECT_EQ(Send(m, CMD_WRITE_5V, 0x0FFF, 0x12), 0x12);
}

TEST(Model, WrongVoltageCommandsLeaveTheChipAlone) {
  DeviceModel m(SimChip::C52_5V);
  EXPECT_EQ(Send(m, CMD_WRITE_12V, 0x10, 0x00), 0xFF);
  Send(m, CMD_LOCK1_12V);
  EXPECT_FALSE(m.Locks().lock1);
  EXPECT_EQ(Send(m, CMD_WRITE_5V, 0x10, 0x00), 0x00);
  Send(m, CMD_ERASE_12V);
  EXPECT_EQ(Send(m, CMD_READ, 0x10), 0x00);
  Send(m, CMD_ERASE_5V);
  EXPECT_EQ(Send(m, CMD_READ, 0x10), 0xFF);
}

TEST(Model, TwentyPinCounterIsResetByStartAndAdvancedByNextAddress) {
  DeviceModel m(SimChip::C2051);
  Send(m, CMD_START);
  // The address bytes of a frame mean nothing to a 20-pin chip.
  EXPECT_EQ(Send(m, CMD_WRITE_20, 0x0700, 0x11), 0x11);
  Send(m, CMD_NEXT_ADDRESS);
  EXPECT_EQ(Send(m, CMD_WRITE_20, 0, 0x22), 0x22);
  Send(m, CMD_NEXT_ADDRESS);
  EXPECT_EQ(Send(m, CMD_READ_20), 0xFF);
  EXPECT_EQ(m.Address20(), 2);
  Send(m, CMD_STOP);
  EXPECT_EQ(m.Address20(), 2);
  Send(m, CMD_START);
  EXPECT_EQ(Send(m, CMD_READ_20), 0x11);
  Send(m, CMD_NEXT_ADDRESS);
  EXPECT_EQ(Send(m, CMD_READ_20), 0x22);
  EXPECT_EQ(m.Flash()[0x0700 % m.Flash().size()], 0xFF);
  // Past the end of the chip the counter reads the empty bus and writes nothing.
  for (int i = 0; i < 2100; ++i) Send(m, CMD_NEXT_ADDRESS);
  EXPECT_EQ(Send(m, CMD_WRITE_20, 0, 0x00), 0xFF);
  EXPECT_EQ(m.Flash().size(), 2048u);
}

TEST(Model, SignaturesPerFamilyAndTheOtherFamilyReadsTheEmptyBus) {
  DeviceModel c55(SimChip::C55_5V);
  EXPECT_EQ(Send(c55, CMD_SIG_DEVICE), 0x55);
  EXPECT_EQ(Send(c55, CMD_SIG_VOLTAGE), 0x05);
  EXPECT_EQ(Send(c55, CMD_SIG_MAKER), DeviceModel::kMakerSignature);
  EXPECT_EQ(Send(c55, CMD_SIG_DEVICE_20), 0xFF);
  EXPECT_EQ(Send(c55, CMD_SIG_MAKER_20), 0xFF);
  EXPECT_EQ(Send(c55, CMD_READ_20), 0xFF);

  DeviceModel c1051(SimChip::C1051);
  EXPECT_EQ(Send(c1051, CMD_SIG_DEVICE_20), 0x11);
  EXPECT_EQ(Send(c1051, CMD_SIG_MAKER_20), DeviceModel::kMakerSignature);
  EXPECT_EQ(Send(c1051, CMD_SIG_DEVICE), 0xFF);
  EXPECT_EQ(Send(c1051, CMD_SIG_VOLTAGE), 0xFF);
  c1051.Flash()[0] = 0x00;
  EXPECT_EQ(Send(c1051, CMD_READ, 0), 0xFF);
  EXPECT_EQ(Send(c1051, CMD_WRITE_12V, 0, 0x00), 0xFF);
  EXPECT_EQ(Send(c1051, CMD_ERASE_12V), 0xFF);
  EXPECT_EQ(c1051.Flash()[0], 0x00);

  DeviceModel empty(SimChip::Empty);
  EXPECT_EQ(Send(empty, CMD_PROBE), kProbeAnswer);  // the programmer is there, the chip is not
  for (int command : {CMD_SIG_DEVICE, CMD_SIG_MAKER, CMD_SIG_VOLTAGE, CMD_SIG_DEVICE_20,
                      CMD_SIG_MAKER_20, CMD_READ, CMD_READ_20}) {
    EXPECT_EQ(Send(empty, command), 0xFF) << command;
  }
  EXPECT_TRUE(empty.Flash().empty());
}

TEST(Model, FaultsAndTheFrameLog) {
  Faults faults;
  faults.stopAfterFrames = 3;
  faults.doubleReplyAtFrame = 2;
  faults.wrongByteAtAddress = 0x0010;
  faults.probeReply = 0x00;
  DeviceModel m(SimChip::C52_12V, faults);
  EXPECT_EQ(Send(m, CMD_PROBE), 0x00);
  EXPECT_EQ(Send(m, CMD_READ, 0x0010), 0x00 + 256 * (1 + 0x00));  // wrong byte, twice
  EXPECT_EQ(Send(m, CMD_WRITE_12V, 0x0010, 0xA5), 0x5A);          // programmed, read back wrong
  EXPECT_EQ(Send(m, CMD_READ, 0x0011), -1);
  EXPECT_EQ(m.Flash()[0x10], 0xA5);
  EXPECT_EQ(m.FrameLog().size(), 4u);
  m.ClearFrameLog();
  EXPECT_EQ(Send(m, CMD_READ, 0x0011), -1);  // the count survives clearing the log
  EXPECT_EQ(m.FramesReceived(), 5);
  EXPECT_EQ(m.FrameLog().size(), 1u);

  Faults silent;
  silent.neverAnswer = true;
  DeviceModel quiet(SimChip::C2051, silent);
  EXPECT_EQ(Send(quiet, CMD_PROBE), -1);
  EXPECT_EQ(Send(quiet, CMD_SIG_DEVICE_20), -1);
  EXPECT_EQ(quiet.FrameLog().size(), 2u);
}

TEST(Model, ChipNames) {
  EXPECT_EQ(ParseSimChip("89c51"), SimChip::C51_12V);
  EXPECT_EQ(ParseSimChip("89C51-12V"), SimChip::C51_12V);
  EXPECT_EQ(ParseSimChip("89c55-5v"), SimChip::C55_5V);
  EXPECT_EQ(ParseSimChip("EMPTY"), SimChip::Empty);
  EXPECT_EQ(ParseSimChip("89C2051"), SimChip::C2051);
  EXPECT_EQ(ParseSimChip("89C53"), std::nullopt);
  EXPECT_EQ(ParseSimChip(""), std::nullopt);
  EXPECT_EQ(ParseSimChip("-12v"), std::nullopt);
  for (const std::string& name : SimChipNames()) {
    auto chip = ParseSimChip(name);
    ASSERT_TRUE(chip) << name;
    EXPECT_EQ(SimChipName(*chip), name);
  }
  EXPECT_EQ(SimChipNames().size(), 10u);
}

}  // namespace
}  // namespace zelwik::sim
