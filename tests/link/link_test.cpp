// The link to the programmer, chip detection and finding its port: against the simulated
// programmer on a pty, and the Linux device walk over a made-up sysfs and /dev.
#include "link/link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

#include "link/chips.h"
#include "link/commands.h"
#include "link/port_list.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

using sim::SimChip;
using enum SimChip;
using testing::FramesText;
using testing::SimHarness;
using testing::WriteFile;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool Faulted(Link& link, std::uint8_t command) {
  try {
    link.Transact(command);
    return false;
  } catch (const LinkFault&) {
    return true;
  }
}

// The bounds on these only tell "at once" from "waited out a limit" on a loaded machine.
long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Two bytes for one frame put every later reply one frame late, until the stray byte is taken or
// the port is closed.
TEST(Frames, SurplusReplyIsFoundOrDiscardedWithThePort) {
  for (bool reopen : {false, true}) {
    SimHarness sim(C51_12V);
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

TEST(Port, RefusedOpensLeaveFilesAloneAndAClosedPortIsFree) {
  Link link, second;
  EXPECT_FALSE(link.OpenLink("/dev/zelwik-no-such-port"));
  EXPECT_THROW(link.Transact(CMD_STOP), LinkFault);
  testing::TempDir dir;
  WriteFile(dir / "file", "keep");
  EXPECT_FALSE(link.OpenLink(dir / "file"));
  EXPECT_EQ(testing::ReadFile(dir / "file"), "keep");
  SimHarness sim(C1051);
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_FALSE(second.OpenLink(sim.Path()));  // in use
  link.CloseLink();
  link.CloseLink();
  ASSERT_TRUE(second.OpenLink(sim.Path())) << second.LastError();
  EXPECT_EQ(second.Transact(CMD_PROBE), kProbeAnswer);
}

// 200 and 250 ms wait in one blocking read() that the port's watchdog ends, 60 ms on poll().
TEST(ReplyBound, SilenceMidStreamThrowsWithinTheBound) {
  for (const int bound : {200, 250, 60}) {
    SimHarness sim(C51_12V);
    sim.WithModel([](sim::DeviceModel& m) { m.MutableFaults().stopAfterFrames = 2; });
    Link link;
    link.SetReplyTimeout(bound);
    ASSERT_TRUE(link.OpenLink(sim.Path()));
    EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
    EXPECT_EQ(link.Transact(CMD_STOP), 0x00);
    const auto start = Clock::now();
    EXPECT_TRUE(Faulted(link, CMD_START));
    EXPECT_TRUE(MsSince(start) >= bound - 10 && MsSince(start) < bound + 1300) << bound;
  }
}

// The bound of a blocking reply wait ticks in the thread that opened the port, with a signal, all
// the time the port is open: the thread's other system calls must not fail of it (here stdio
// writing into a pipe that a slow reader keeps full), a read from another thread and one from a
// thread that blocks signals are bounded all the same.
TEST(ReplyBound, HoldsInEveryThreadAndLeavesTheThreadsOtherCallsAlone) {
  SimHarness sim(C51_12V);
  sim.WithModel([](sim::DeviceModel& m) { m.MutableFaults().stopAfterFrames = 3; });
  Link link;
  link.SetReplyTimeout(150);
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(link.Transact(CMD_STOP), 0x00);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  constexpr std::size_t kBytes = 1 << 20;
  std::size_t received = 0;
  std::thread reader([&] {
    std::vector<char> chunk(64 * 1024);
    for (ssize_t n; (n = read(ends[0], chunk.data(), chunk.size())) > 0;) {
      received += static_cast<std::size_t>(n);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  });
  FILE* out = fdopen(ends[1], "w");
  ASSERT_NE(out, nullptr);
  const std::vector<char> data(kBytes, 'z');
  EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), out), kBytes);
  EXPECT_EQ(std::fflush(out), 0);
  EXPECT_FALSE(std::ferror(out));
  std::fclose(out);
  reader.join();
  close(ends[0]);
  EXPECT_EQ(received, kBytes);

  std::thread other([&] {
    EXPECT_EQ(link.Transact(CMD_START), 0x00);
    const auto start = Clock::now();
    EXPECT_TRUE(Faulted(link, CMD_STOP));
    EXPECT_LT(MsSince(start), 1300);
  });
  other.join();

  SimHarness silent(C51_12V);
  silent.WithModel([](sim::DeviceModel& m) { m.MutableFaults().stopAfterFrames = 1; });
  std::thread masked([&] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    Link own;
    own.SetReplyTimeout(150);
    ASSERT_TRUE(own.OpenLink(silent.Path()));
    EXPECT_EQ(own.Transact(CMD_PROBE), kProbeAnswer);
    const auto start = Clock::now();
    EXPECT_TRUE(Faulted(own, CMD_STOP));
    EXPECT_LT(MsSince(start), 1300);
  });
  masked.join();
}

// The hook runs once a frame is out, and a hook that throws leaves its reply unread: the replies
// would be a frame late from then on, so the link refuses until closed.
TEST(ReplyWaitHook, RunsForEveryFrameButTheProbeAndAFailureFaultsTheLink) {
  SimHarness sim(C51_12V);
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
    SimHarness sim(C51_12V);
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
  const std::pair<SimChip, int> chips[] = {{C51_12V, 1}, {C51_5V, 2}, {C52_12V, 3}, {C55_12V, 4},
                                           {C1051, 5},   {C2051, 6},  {C4051, 7},   {C52_5V, 8},
                                           {C55_5V, 9},  {Empty, 0}};
  for (const auto& [chip, code] : chips) {
    SimHarness sim(chip);
    Link link;
    ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
    EXPECT_EQ(ToInt(DetectChip(link)), code);
    EXPECT_EQ(FramesText(sim.Frames()),
              "13000000 11000000 17000000 13000000 11000000 0B000000 0D000000 13000000");
  }
}

// 16550As on ttyS0 and ttyS10, no UART behind ttyS1, an FTDI adapter with a by-id name, a board
// held by a process, a tty without hardware; ttyS10 is locked by a live process, ttyS0 by a
// dead one.
TEST(PortList, RealUartsAndAdaptersWithTheirNamesIdsDriversAndHolders) {
  testing::FakePorts system;
  system.Tty("ttyS0", "serial8250/ttyS0", "serial8250", 4);
  system.Tty("ttyS1", "serial8250/ttyS1", "serial8250", 0);
  system.Tty("ttyS10", "serial8250/ttyS10", "serial8250", 4);
  system.Usb("usb1/1-1", "0403:6001", "FTDI", "FT232R USB UART");
  system.Tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
  system.Usb("usb1/1-2", "2341:0043");
  system.Tty("ttyACM0", "usb1/1-2/1-2:1.0", "cdc_acm");
  system.Holder(4242, "ttyACM0");
  fs::create_directories(system.Root("sys/class/tty/tty0"));
  WriteFile(system.Root("dev/tty0"), "");
  fs::create_symlink("../../ttyUSB0", system.Root("dev/serial/by-id/usb-FTDI_A5-if00-port0"));
  fs::create_directories(system.Root("proc/4243"));
  WriteFile(system.Root("lock/LCK..ttyS10"), "      4243\n");
  WriteFile(system.Root("lock/LCK..ttyS0"), "     99999\n");

  std::vector<std::string> found;
  for (const PortInfo& p : ListSerialPorts(system.Roots()))
    found.push_back(fs::path(p.device).filename().string() + "|" +
                    fs::path(p.byId).filename().string() + "|" + p.usbId + "|" + p.usbName + "|" +
                    p.driver + "|" + (p.inUse ? "in use" : "free"));
  EXPECT_EQ(found,
            (std::vector<std::string>{
                "ttyACM0||2341:0043||cdc_acm|in use",
                "ttyS0||||serial8250|free",
                "ttyS10||||serial8250|in use",
                "ttyUSB0|usb-FTDI_A5-if00-port0|0403:6001|FTDI FT232R USB UART|ftdi_sio|free",
            }));
  const std::string nowhere = system.Root("nowhere");
  EXPECT_TRUE(ListSerialPorts({nowhere, nowhere, nowhere, nowhere}).empty());
}

termios LineSettings(const std::string& path, const termios* set = nullptr) {
  termios t{};
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_EQ(set ? tcsetattr(fd, TCSANOW, set) : tcgetattr(fd, &t), 0);
  close(fd);
  return t;
}

// One frame, the probe, whatever answers; silence is told after the polls, not the reply bound.
// The device is left as it was found: its settings, and nothing in its input although it sent two
// bytes.
TEST(Probe, SendsOnlyTheProbeAndLeavesTheDeviceAsFound) {
  for (const int answer : {int{kProbeAnswer}, 0xAA, -1}) {
    testing::SimHarness sim(C2051);
    sim.WithModel([&](sim::DeviceModel& m) {
      auto& f = m.MutableFaults();
      f.neverAnswer = answer < 0;
      f.probeReply = std::max(answer, 0);
      f.doubleReplyAtFrame = 1;
    });
    termios before = LineSettings(sim.Path());
    cfsetspeed(&before, B9600);
    before.c_lflag |= ICANON;
    LineSettings(sim.Path(), &before);
    std::vector<PortInfo> ports(1);
    ports[0].device = sim.Path();
    const auto start = Clock::now();
    ProbePorts(ports);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(ports[0].probe, answer == kProbeAnswer ? ProbeResult::Programmer
                              : answer < 0           ? ProbeResult::NoAnswer
                                                     : ProbeResult::OtherReply);
    EXPECT_EQ(ports[0].reply, std::max(answer, 0));
    EXPECT_EQ(FramesText(sim.Frames()), "FF000000");
    const termios after = LineSettings(sim.Path());
    EXPECT_TRUE(cfgetospeed(&after) == B9600 && after.c_lflag == before.c_lflag);
    Link next;
    ASSERT_TRUE(next.OpenLink(sim.Path())) << next.LastError();
    EXPECT_FALSE(next.StrayReply(100)) << answer;
  }
}

// A port held by another program, seen by the list or refused at the open, gets nothing.
TEST(Probe, PortsInUseGetNothing) {
  testing::SimHarness sim(C2051);
  Link holder;
  ASSERT_TRUE(holder.OpenLink(sim.Path()));
  std::vector<PortInfo> ports(3);
  ports[0].device = ports[1].device = sim.Path();
  ports[1].inUse = true;
  ports[2].device = "/dev/zelwik-no-such-port";
  ProbePorts(ports);
  EXPECT_TRUE(ports[0].probe == ProbeResult::InUse && ports[1].probe == ProbeResult::InUse);
  EXPECT_TRUE(ports[2].probe == ProbeResult::CannotOpen && ports[2].openErrno == ENOENT);
  EXPECT_EQ(FramesText(sim.Frames()), "");
}

}  // namespace
}  // namespace zelwik
