#include "link/link.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "link/commands.h"
#include "support/sim_harness.h"

namespace zelwik {
namespace {

using testing::FramesText;
using testing::SimHarness;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(Probe, AnsweredAtOnceWithoutWaitingOutThePolls) {
  SimHarness sim(sim::SimChip::C51_12V);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
  const auto start = Clock::now();
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_LT(ElapsedMs(start), 40);
  EXPECT_EQ(FramesText(sim.Frames()), "FF000000");
}

TEST(Probe, OtherAnswerIsPassedOnForTheCallerToReject) {
  sim::Faults faults;
  faults.probeReply = 0xAA;
  SimHarness sim(sim::SimChip::C2051, faults);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), 0xAA);
}

TEST(Probe, UnansweredGivesZeroAfterAboutFiftyMilliseconds) {
  sim::Faults faults;
  faults.neverAnswer = true;
  SimHarness sim(sim::SimChip::C51_12V, faults);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  const auto start = Clock::now();
  EXPECT_EQ(link.Transact(CMD_PROBE), 0);
  const long ms = ElapsedMs(start);
  EXPECT_GE(ms, 45);
  EXPECT_LT(ms, 400);  // generous for a loaded machine; the point is "not the 2 s bound"
  // An unanswered probe is no fault: the link stays usable for the caller's tail.
  EXPECT_EQ(FramesText(sim.Frames()), "FF000000");
  link.CloseLink();
}

TEST(Frames, CarryTheFourBytesExactlyAndZeroIsOrdinaryData) {
  SimHarness sim(sim::SimChip::C52_12V);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_STOP), 0x00);
  EXPECT_EQ(link.Transact(CMD_WRITE_12V, 0x12, 0x34, 0x00), 0x00);
  EXPECT_EQ(link.Transact(CMD_READ, 0x12, 0x34), 0x00);
  EXPECT_EQ(link.Transact(CMD_READ, 0x12, 0x35), 0xFF);
  EXPECT_EQ(FramesText(sim.Frames()), "13000000 00123400 01123400 01123500");
}

TEST(Open, MissingDeviceFailsWithReasonAndCloseIsHarmless) {
  Link link;
  EXPECT_FALSE(link.OpenLink("/dev/zelwik-no-such-port"));
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(link.LastDevice(), "/dev/zelwik-no-such-port");
  EXPECT_EQ(link.LastErrno(), ENOENT);
  EXPECT_FALSE(link.LastError().empty());
  EXPECT_THROW(link.Transact(CMD_STOP), LinkFault);
  link.CloseLink();
  link.CloseLink();
}

TEST(Open, CloseWithoutOpenAndTwiceIsHarmless) {
  Link unused;
  unused.CloseLink();
  SimHarness sim(sim::SimChip::C1051);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  link.CloseLink();
  link.CloseLink();
  EXPECT_FALSE(link.IsOpen());
  // The port is reusable after a close: exclusivity and the lock went with it.
  ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_TRUE(link.LastError().empty());
}

TEST(Open, RegularFileIsRefusedAndLeftUntouched) {
  char path[] = "/tmp/zelwik-link-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "keep", 4), 4);
  close(fd);
  Link link;
  EXPECT_FALSE(link.OpenLink(path));
  EXPECT_FALSE(link.LastError().empty());
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "keep");
  unlink(path);
}

TEST(Open, SecondOpenOfAPortInUseIsRefused) {
  SimHarness sim(sim::SimChip::C51_12V);
  Link first, second;
  ASSERT_TRUE(first.OpenLink(sim.Path()));
  EXPECT_FALSE(second.OpenLink(sim.Path()));
  EXPECT_EQ(second.LastDevice(), sim.Path());
  EXPECT_FALSE(second.LastError().empty());
  EXPECT_EQ(first.Transact(CMD_PROBE), kProbeAnswer);
  first.CloseLink();
  EXPECT_TRUE(second.OpenLink(sim.Path())) << second.LastError();
}

TEST(Frames, TwoBytesForOneFrameMakeEveryLaterReplyOneFrameLate) {
  sim::Faults faults;
  faults.doubleReplyAtFrame = 2;
  SimHarness sim(sim::SimChip::C51_12V, faults);
  sim.WithModel([](sim::DeviceModel& m) {
    for (int a = 0; a < 4; ++a) m.Flash()[a] = static_cast<std::uint8_t>(0xA0 + a);
  });
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(link.Transact(CMD_READ, 0, 0), 0xA0);  // sent twice
  EXPECT_EQ(link.Transact(CMD_READ, 0, 1), 0xA0);  // the surplus
  EXPECT_EQ(link.Transact(CMD_READ, 0, 2), 0xA1);
  EXPECT_EQ(link.Transact(CMD_READ, 0, 3), 0xA2);
}

TEST(Frames, SurplusReplyIsDiscardedWithThePort) {
  sim::Faults faults;
  faults.doubleReplyAtFrame = 2;
  SimHarness sim(sim::SimChip::C51_12V, faults);
  sim.WithModel([](sim::DeviceModel& m) {
    m.Flash()[0] = 0xA0;
    m.Flash()[1] = 0xA1;
  });
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(link.Transact(CMD_READ, 0, 0), 0xA0);  // both bytes came in one write
  link.CloseLink();
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_READ, 0, 1), 0xA1);
}

TEST(ReplyBound, SilenceMidStreamThrowsWithinTheLimitThenRefusesAtOnce) {
  sim::Faults faults;
  faults.stopAfterFrames = 2;
  SimHarness sim(sim::SimChip::C51_12V, faults);
  Link link;
  EXPECT_EQ(link.ReplyTimeout(), kDefaultReplyTimeoutMs);
  link.SetReplyTimeout(200);
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(link.Transact(CMD_STOP), 0x00);
  auto start = Clock::now();
  EXPECT_THROW(link.Transact(CMD_START), LinkFault);
  const long ms = ElapsedMs(start);
  EXPECT_GE(ms, 190);
  EXPECT_LT(ms, 1000);

  // A whole 32 KiB read against a silent programmer ends at once after the first fault.
  start = Clock::now();
  int faultsSeen = 0;
  for (int a = 0; a < 32768; ++a) {
    try {
      link.Transact(CMD_READ, static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a));
    } catch (const LinkFault&) {
      ++faultsSeen;
    }
  }
  EXPECT_EQ(faultsSeen, 32768);
  // Seconds at worst on a loaded machine; waiting out the bound per byte would take hours.
  EXPECT_LT(ElapsedMs(start), 20000);
  EXPECT_EQ(sim.Frames().size(), 3u);  // nothing more was sent after the fault
  EXPECT_TRUE(link.IsOpen());
  link.CloseLink();
  EXPECT_FALSE(link.IsOpen());
}

TEST(ReplyBound, PulledProgrammerIsReportedNotWaitedFor) {
  SimHarness sim(sim::SimChip::C51_12V);
  Link link;
  link.SetReplyTimeout(5000);
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  sim.Hangup();
  const auto start = Clock::now();
  EXPECT_THROW(link.Transact(CMD_READ, 0, 0), LinkFault);
  EXPECT_THROW(link.Transact(CMD_READ, 0, 1), LinkFault);
  EXPECT_LT(ElapsedMs(start), 1000);
  link.CloseLink();
  link.CloseLink();
}

TEST(ReplyBound, ProbeOnAPulledProgrammerDoesNotHang) {
  SimHarness sim(sim::SimChip::C51_12V);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  sim.Hangup();
  const auto start = Clock::now();
  try {
    EXPECT_NE(link.Transact(CMD_PROBE), kProbeAnswer);
  } catch (const LinkFault&) {
  }
  EXPECT_LT(ElapsedMs(start), 1000);
  link.CloseLink();
}

class DeviceForPortTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("ZELWIK_COM2"); }
  void TearDown() override { unsetenv("ZELWIK_COM2"); }
};

TEST_F(DeviceForPortTest, ComNamesMapToTheSerialDevices) {
  EXPECT_EQ(DeviceForPort("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DeviceForPort("COM2"), "/dev/ttyS1");
  EXPECT_EQ(DeviceForPort("COM5"), "/dev/ttyS4");
  EXPECT_EQ(DeviceForPort("com3"), "/dev/ttyS2");
}

TEST_F(DeviceForPortTest, EnvironmentOverridesOnlyItsOwnPort) {
  setenv("ZELWIK_COM2", "/dev/ttyUSB0", 1);
  EXPECT_EQ(DeviceForPort("COM2"), "/dev/ttyUSB0");
  EXPECT_EQ(DeviceForPort("COM1"), "/dev/ttyS0");
  setenv("ZELWIK_COM2", "", 1);
  EXPECT_EQ(DeviceForPort("COM2"), "/dev/ttyS1");
}

TEST_F(DeviceForPortTest, AnythingElseIsAPath) {
  EXPECT_EQ(DeviceForPort("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DeviceForPort("COM6"), "COM6");
  EXPECT_EQ(DeviceForPort("COM0"), "COM0");
  EXPECT_EQ(DeviceForPort("COM12"), "COM12");
  EXPECT_EQ(DeviceForPort(""), "");
}

TEST_F(DeviceForPortTest, OpenLinkUsesTheMappedDevice) {
  SimHarness sim(sim::SimChip::C4051);
  setenv("ZELWIK_COM2", sim.Path().c_str(), 1);
  Link link;
  ASSERT_TRUE(link.OpenLink("COM2")) << link.LastError();
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
}

}  // namespace
}  // namespace zelwik
