// The link to the programmer and chip detection, against the simulated programmer on a pty.
#include "link/link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <numeric>
#include <thread>

#include "link/chips.h"
#include "link/commands.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

using sim::SimChip;
using testing::FramesText;
using testing::SimHarness;
using Clock = std::chrono::steady_clock;

// The bounds on these only tell "at once" from "waited out a limit" on a loaded machine.
long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool Faulted(Link& link, std::uint8_t command, std::uint8_t a1 = 0, std::uint8_t a2 = 0) {
  try {
    link.Transact(command, a1, a2);
    return false;
  } catch (const LinkFault&) {
    return true;
  }
}

TEST(Probe, AnswerIsPassedOnAndSilenceGivesZeroAfterThePolls) {
  for (const int reply : {int{kProbeAnswer}, 0xAA, 0}) {
    SimHarness sim(SimChip::C51_12V);
    sim.WithModel([&](sim::DeviceModel& m) {
      auto& f = m.MutableFaults();
      f.neverAnswer = reply == 0;
      f.probeReply = reply;
    });
    Link link;
    ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
    const auto start = Clock::now();
    EXPECT_EQ(link.Transact(CMD_PROBE), reply);
    if (reply == 0) {
      EXPECT_TRUE(MsSince(start) >= 45 && MsSince(start) < 1500);
    }  // the polls, not the bound
    EXPECT_EQ(FramesText(sim.Frames()), "FF000000");
  }
}

// Two bytes for one frame put every later reply one frame late, until the stray byte is taken or
// the port is closed.
TEST(Frames, SurplusReplyIsFoundOrDiscardedWithThePort) {
  for (bool reopen : {false, true}) {
    SimHarness sim(SimChip::C51_12V);
    sim.WithModel([](sim::DeviceModel& m) {
      m.MutableFaults().doubleReplyAtFrame = 2;
      std::iota(m.Flash().begin(), m.Flash().begin() + 3, 0xA0);
    });
    Link link;
    ASSERT_TRUE(link.OpenLink(sim.Path()));
    EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
    EXPECT_EQ(link.Transact(CMD_READ, 0, 0), 0xA0);  // both bytes come in one write
    if (reopen) link.CloseLink();
    EXPECT_TRUE(reopen ? link.OpenLink(sim.Path())
                       : link.Transact(CMD_READ, 0, 1) == 0xA0 && link.StrayReply(1000));
    EXPECT_EQ(link.Transact(CMD_READ, 0, 2), 0xA2);
  }
}

TEST(Port, RefusedOpensSayWhyAClosedPortIsFreeAPulledOneFailsAtOnce) {
  Link link, second;
  EXPECT_FALSE(link.OpenLink("/dev/zelwik-no-such-port"));
  EXPECT_TRUE(Faulted(link, CMD_STOP));
  testing::TempDir dir;
  testing::WriteFile(dir / "file", "keep");
  EXPECT_FALSE(link.OpenLink(dir / "file"));
  EXPECT_EQ(testing::ReadFile(dir / "file"), "keep");
  SimHarness sim(SimChip::C1051);
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_FALSE(second.OpenLink(sim.Path()));  // in use
  link.CloseLink();
  link.CloseLink();
  ASSERT_TRUE(second.OpenLink(sim.Path())) << second.LastError();
  EXPECT_EQ(second.Transact(CMD_PROBE), kProbeAnswer);
  second.SetReplyTimeout(5000);
  sim.Hangup();
  const auto start = Clock::now();
  Faulted(second, CMD_PROBE);  // 0 or a fault, but at once
  EXPECT_TRUE(Faulted(second, CMD_READ));
  EXPECT_LT(MsSince(start), 1000);
}

// 200 and 250 ms wait in one blocking read() that the port's watchdog ends, 60 ms on poll().
TEST(ReplyBound, SilenceMidStreamThrowsWithinTheBoundThenRefusesAtOnce) {
  for (const int bound : {200, 250, 60}) {
    SimHarness sim(SimChip::C51_12V);
    sim.WithModel([](sim::DeviceModel& m) { m.MutableFaults().stopAfterFrames = 2; });
    Link link;
    link.SetReplyTimeout(bound);
    ASSERT_TRUE(link.OpenLink(sim.Path()));
    EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
    EXPECT_EQ(link.Transact(CMD_STOP), 0x00);
    auto start = Clock::now();
    EXPECT_TRUE(Faulted(link, CMD_START));
    EXPECT_TRUE(MsSince(start) >= bound - 10 && MsSince(start) < bound + 1300) << bound;
    if (bound != 200) continue;
    // Waiting out the bound for every byte would make a 32 KiB read take hours.
    start = Clock::now();
    int refused = 0;
    for (int a = 0; a < 32768; ++a) refused += Faulted(link, CMD_READ, a >> 8, a);
    EXPECT_EQ(refused, 32768);
    EXPECT_LT(MsSince(start), 20000);
    EXPECT_EQ(sim.Frames().size(), 3u);
  }
}

// The hook runs once a frame is out, and a hook that throws leaves its reply unread: the replies
// would be a frame late from then on, so the link refuses until closed.
TEST(ReplyWaitHook, RunsForEveryFrameButTheProbeAndAFailureFaultsTheLink) {
  SimHarness sim(SimChip::C51_12V);
  Link link;
  int runs = 0;
  link.SetReplyWaitHook([&] {
    if (++runs == 3) throw std::runtime_error("view gone");
  });
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(link.Transact(CMD_STOP), 0x00);
  EXPECT_EQ(link.Transact(CMD_START), 0x00);
  EXPECT_EQ(runs, 2);
  EXPECT_THROW(link.Transact(CMD_STOP), std::runtime_error);
  EXPECT_TRUE(Faulted(link, CMD_STOP));
  EXPECT_EQ(runs, 3);
}

// Reply bounds wait in one blocking read() that the port's watchdog ends when the bound runs out:
// pulling the port out during the wait must end it at once, as a port failure. A pty whose other
// end closes reads EIO; a hung-up line (an unplugged adapter) reads 0.
TEST(ReplyBound, PortPulledOutDuringTheWaitFailsAtOnce) {
  for (const auto& [bound, hangUpLine] : {std::pair{5000, false}, {4950, false}, {5000, true}}) {
    SimHarness sim(SimChip::C51_12V);
    sim.WithModel([](sim::DeviceModel& m) { m.MutableFaults().stopAfterFrames = 1; });
    Link link;
    link.SetReplyTimeout(bound);
    ASSERT_TRUE(link.OpenLink(sim.Path()));
    EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
    std::thread pull([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const int line = hangUpLine ? open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
      // Needs CAP_SYS_ADMIN; without it the pty is pulled out instead.
      if (line < 0 || ioctl(line, TIOCVHANGUP) != 0) sim.Hangup();
      if (line >= 0) close(line);
    });
    const auto start = Clock::now();
    std::string what;
    try {
      link.Transact(CMD_STOP);
    } catch (const LinkFault& fault) {
      what = fault.what();
    }
    pull.join();
    EXPECT_EQ(what, "serial port failed") << bound << hangUpLine;
    EXPECT_LT(MsSince(start), 1500) << bound << hangUpLine;
  }
}

TEST(DeviceForPort, ComNamesMapToSerialDevicesOrTheirOverride) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "/dev/ttyS0"}, {"com3", "/dev/ttyS2"}, {"COM5", "/dev/ttyS4"},
      {"COM6", "COM6"},       {"COM12", "COM12"},     {"/dev/ttyUSB0", "/dev/ttyUSB0"}};
  for (const auto& [name, device] : cases) EXPECT_EQ(DeviceForPort(name), device) << name;
  setenv("ZELWIK_COM2", "", 1);
  EXPECT_EQ(DeviceForPort("COM2"), "/dev/ttyS1");
  setenv("ZELWIK_COM2", "/dev/zelwik-usb", 1);
  Link link;
  EXPECT_FALSE(link.OpenLink("COM2"));
  EXPECT_EQ(link.LastDevice(), "/dev/zelwik-usb");
  unsetenv("ZELWIK_COM2");
}

TEST(Detect, EveryChipInEightFrames) {
  const std::pair<SimChip, int> chips[] = {
      {SimChip::C51_12V, 1}, {SimChip::C51_5V, 2}, {SimChip::C52_12V, 3}, {SimChip::C55_12V, 4},
      {SimChip::C1051, 5},   {SimChip::C2051, 6},  {SimChip::C4051, 7},   {SimChip::C52_5V, 8},
      {SimChip::C55_5V, 9},  {SimChip::Empty, 0}};
  for (const auto& [chip, code] : chips) {
    SimHarness sim(chip);
    Link link;
    ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
    EXPECT_EQ(ToInt(DetectChip(link)), code);
    EXPECT_EQ(FramesText(sim.Frames()),
              "13000000 11000000 17000000 13000000 11000000 0B000000 0D000000 13000000");
  }
}

}  // namespace
}  // namespace zelwik
