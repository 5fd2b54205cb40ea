// The link to the programmer, chip detection and finding its port: against the simulated
// programmer on a pty, and the Linux device walk over a made-up sysfs and /dev.
#include "link/link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <numeric>
#include <thread>
#include <vector>

#include "link/chips.h"
#include "link/commands.h"
#include "link/port_list.h"
#include "support/fake_ports.h"
#include "support/line_settings.h"
#include "support/race.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

using sim::SimChip;
using enum SimChip;
using namespace testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The bounds on these only tell "at once" from "waited out a limit" on a loaded machine.
long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Two bytes for one frame put every later reply one frame late, until the stray byte is taken.
// (That closing the port discards it, Probe checks.)
TEST(Frames, SurplusReplyKeepsLaterRepliesLateUntilTaken) {
  SimHarness sim(C51_12V);
  sim.WithModel([](sim::DeviceModel& m) {
    m.MutableFaults().doubleReplyAtFrame = 2;
    std::iota(m.Flash().begin(), m.Flash().begin() + 3, 0xA0);
  });
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  EXPECT_EQ(link.Transact(CMD_READ, 0, 0), 0xA0);  // both bytes come in one write
  EXPECT_EQ(link.Transact(CMD_READ, 0, 1), 0xA0);
  EXPECT_TRUE(link.StrayReply(1000));
  EXPECT_EQ(link.Transact(CMD_READ, 0, 2), 0xA2);
}

// A silent programmer after STOP: the next frame must fail within the bound and no later.
void ExpectBoundHolds(const std::string& path, Link& link, int bound) {
  const auto start = Clock::now();
  EXPECT_THROW(link.Transact(CMD_START), LinkFault) << path;
  EXPECT_TRUE(MsSince(start) >= bound - 10 && MsSince(start) < bound + 1300)
      << bound << ": " << MsSince(start);
}

// The bound belongs to the wait, not to a thread or a signal: it holds for two ports opened on a
// thread that has gone (whose id the next thread may reuse) and waiting on two threads at once,
// whatever the process does with the real-time signals.
TEST(ReplyBound, HoldsOnAnyThreadAndWhateverTheSignalsDo) {
  constexpr int kBound = 150;
  struct sigaction saved[64];
  const int first = SIGRTMIN, last = SIGRTMAX;
  for (const auto handler : {SIG_DFL, SIG_IGN, +[](int) {}}) {
    for (int s = first; s <= last; ++s) {
      struct sigaction action {};
      action.sa_handler = handler;
      action.sa_flags = SA_RESTART;
      sigaction(s, &action, &saved[s - first]);
    }
    SimHarness one(C51_12V, {.stopAfterFrames = 2}), two(C51_12V, {.stopAfterFrames = 2});
    Link a, b;
    std::thread([&] {
      for (auto [sim, link] : {std::pair{&one, &a}, {&two, &b}}) {
        link->SetReplyTimeout(kBound);
        ASSERT_TRUE(link->OpenLink(sim->Path()));
        EXPECT_EQ(link->Probe(), kProbeAnswer);
        EXPECT_EQ(link->Transact(CMD_STOP), 0x00);
      }
    }).join();
    std::thread ta([&] { ExpectBoundHolds(one.Path(), a, kBound); });
    ExpectBoundHolds(two.Path(), b, kBound);
    ta.join();
    for (int s = first; s <= last; ++s) sigaction(s, &saved[s - first], nullptr);
  }
}

// An open port must not disturb the rest of the program: no call of the thread is interrupted,
// and a child forked meanwhile that closes its copy of the link (as one that returns through its
// destructors does) leaves the parent's description, lock, exclusivity and line as they were.
TEST(Port, LeavesTheThreadsCallsAndAForkedChildAlone) {
  SimHarness sim(C51_12V);
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path()));
  int interrupted = 0;
  for (int i = 0; i < 20; ++i) {
    if (poll(nullptr, 0, 10) < 0 && errno == EINTR) ++interrupted;
    const timespec pause{0, 5000000};
    if (nanosleep(&pause, nullptr) != 0 && errno == EINTR) ++interrupted;
  }
  EXPECT_EQ(interrupted, 0);

  const int fd = [&] {
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      if (fs::read_symlink(entry.path(), error) == sim.Path())
        return std::stoi(entry.path().filename());
    }
    return -1;
  }();
  ASSERT_GE(fd, 0);
  const int flags = fcntl(fd, F_GETFL);
  termios before{};
  ASSERT_EQ(tcgetattr(fd, &before), 0);
  const pid_t child = fork();
  if (child == 0) {
    link.CloseLink();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(fcntl(fd, F_GETFL), flags);
  termios after{};
  ASSERT_EQ(tcgetattr(fd, &after), 0);
  EXPECT_TRUE(SameLine(after, before));
  Link second;
  EXPECT_FALSE(second.OpenLink(sim.Path()));  // still locked
  EXPECT_EQ(link.Transact(CMD_STOP), 0x00);
}

// A second Ctrl+C's restore on one thread while the operation's own thread closes the port: once
// Close has returned the line is as it was found, and the restore never reaches the descriptor's
// number when the next open takes it over.
TEST(Port, RestoreRacingCloseIsOverWhenCloseReturns) {
  SimHarness ours(C51_12V), next(C51_12V);
  termios found = LineSettings(ours.Path());
  cfsetspeed(&found, B9600);
  LineSettings(ours.Path(), &found);
  termios nextFound = LineSettings(next.Path());
  cfsetspeed(&nextFound, B4800);
  LineSettings(next.Path(), &nextFound);
  int lost = 0, hitNext = 0;
  for (int i = 0; i < 100; ++i) {
    const auto port = MakePlatformSerialPort();
    std::string reason;
    int error = 0;
    ASSERT_TRUE(port->Open(ours.Path(), reason, error)) << reason;
    std::thread handler = Race([&] { port->RestoreLineNow(); }, [&] { port->Close(); });
    const int reopened = open(next.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (const termios line = LineSettings(ours.Path()); cfgetospeed(&line) != B9600) ++lost;
    handler.join();
    if (const termios line = LineSettings(next.Path()); cfgetospeed(&line) != B4800) {
      ++hitNext;
      LineSettings(next.Path(), &nextFound);
    }
    close(reopened);
  }
  EXPECT_EQ(lost, 0) << "times the line was not yet put back when Close returned";
  EXPECT_EQ(hitNext, 0) << "times the restore reached the next port's descriptor";
}

// An adapter that stops taking bytes: the write that finds the line full gives up at the stall
// bound, and the next frame waits only until the far end reads again.
TEST(Port, AFullLineTakesTheFrameOnceTheFarEndReads) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const auto port = MakePlatformSerialPort();
  std::string reason;
  int error = 0;
  ASSERT_TRUE(port->Open(ptsname(master), reason, error)) << reason;
  const std::vector<std::uint8_t> block(4096, 'x');
  while (port->Write(block.data(), block.size())) {
  }
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the frame meets a full line
    std::string seen;
    char buffer[4096];
    pollfd p{master, POLLIN, 0};
    while (seen.find("FRAM") == std::string::npos && poll(&p, 1, 5000) > 0) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      seen.append(buffer, static_cast<std::size_t>(n));
      seen.erase(0, seen.size() > 4 ? seen.size() - 4 : 0);
    }
  });
  const std::uint8_t frame[] = {'F', 'R', 'A', 'M'};
  EXPECT_TRUE(port->Write(frame, sizeof frame));
  reader.join();
  port->Close();
  EXPECT_FALSE(port->Write(frame, sizeof frame));
  close(master);
}

// Pulling the port out during a reply's wait must end it at once, as a port failure, not at the
// bound. A pty whose other
// end closes reads EIO; a hung-up line (an unplugged adapter) reads 0.
TEST(ReplyBound, PortPulledOutDuringTheWaitFailsAtOnce) {
  for (const auto& [bound, hangUpLine] : {std::pair{5000, false}, {4950, false}, {5000, true}}) {
    SimHarness sim(C51_12V, {.stopAfterFrames = 1});
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
  FakePorts system;
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

// One frame, the probe, whatever answers; silence is told after the polls, not the reply bound,
// and apart from a device that answers 0x00.
// Nothing is left in the device's input although it sent two bytes. (That closing puts its line
// back as it was found, Port.RestoreRacingClose checks.)
TEST(Probe, SendsOnlyTheProbeAndLeavesNothingBehind) {
  for (const int answer : {int{kProbeAnswer}, 0xAA, 0x00, -1}) {
    SimHarness sim(
        C2051,
        {.neverAnswer = answer < 0, .probeReply = std::max(answer, 0), .doubleReplyAtFrame = 1});
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
    Link next;
    ASSERT_TRUE(next.OpenLink(sim.Path())) << next.LastError();
    EXPECT_FALSE(next.StrayReply(100)) << answer;
  }
}

// A port held by another program, seen by the list or refused at the open, gets nothing; a path
// that is not there, or a file that is not a serial device (left as it was), cannot be opened.
// (A closed port opening again ends every operation's test.)
TEST(Probe, PortsInUseOrNotSerialGetNothing) {
  SimHarness sim(C2051);
  Link holder;
  ASSERT_TRUE(holder.OpenLink(sim.Path()));
  TempDir dir;
  WriteFile(dir / "file", "keep");
  std::vector<PortInfo> ports(4);
  ports[0].device = ports[1].device = sim.Path();
  ports[1].inUse = true;
  ports[2].device = "/dev/zelwik-no-such-port";
  ports[3].device = dir / "file";
  ProbePorts(ports);
  EXPECT_TRUE(ports[0].probe == ProbeResult::InUse && ports[1].probe == ProbeResult::InUse);
  EXPECT_TRUE(ports[2].probe == ProbeResult::CannotOpen && ports[2].openErrno == ENOENT);
  EXPECT_TRUE(ports[3].probe == ProbeResult::CannotOpen && ports[3].openErrno == ENOTTY);
  EXPECT_EQ(ReadFile(dir / "file"), "keep");
  EXPECT_EQ(FramesText(sim.Frames()), "");
  holder.CloseLink();
  EXPECT_THROW(holder.Transact(CMD_STOP), LinkFault);
}

}  // namespace
}  // namespace zelwik
