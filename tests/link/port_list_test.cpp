// Finding the programmer's port: the Linux device walk over a made-up sysfs and /dev, and the
// presence probe against the simulated programmer on a pty.
#include "link/port_list.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "link/commands.h"
#include "link/link.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;
using sim::SimChip;
using testing::FramesText;
using testing::WriteFile;

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

// One frame, the probe, whatever answers. The device is left as it was found for the next
// program: its settings, and nothing in its input although it sent two bytes.
TEST(Probe, SendsOnlyTheProbeAndLeavesTheDeviceAsFound) {
  for (const int answer : {int{kProbeAnswer}, 0xAA, -1}) {
    testing::SimHarness sim(SimChip::C2051);
    sim.WithModel([&](sim::DeviceModel& m) {
      m.MutableFaults().neverAnswer = answer < 0;
      if (answer >= 0) m.MutableFaults().probeReply = answer;
      m.MutableFaults().doubleReplyAtFrame = 1;
    });
    termios before = LineSettings(sim.Path());
    cfsetspeed(&before, B9600);
    before.c_lflag |= ICANON;
    LineSettings(sim.Path(), &before);
    std::vector<PortInfo> ports(1);
    ports[0].device = sim.Path();
    ProbePorts(ports);
    EXPECT_EQ(ports[0].probe, answer == kProbeAnswer ? ProbeResult::Programmer
                              : answer < 0           ? ProbeResult::NoAnswer
                                                     : ProbeResult::OtherReply);
    EXPECT_EQ(ports[0].reply, std::max(answer, 0));
    EXPECT_EQ(FramesText(sim.Frames()), "FF000000");
    const termios after = LineSettings(sim.Path());
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    Link next;
    ASSERT_TRUE(next.OpenLink(sim.Path())) << next.LastError();
    EXPECT_FALSE(next.StrayReply(100)) << answer;
  }
}

// A port held by another program, seen by the list or refused at the open, gets nothing.
TEST(Probe, PortsInUseGetNothing) {
  testing::SimHarness sim(SimChip::C2051);
  Link holder;
  ASSERT_TRUE(holder.OpenLink(sim.Path()));
  std::vector<PortInfo> ports(3);
  ports[0].device = ports[1].device = sim.Path();
  ports[1].inUse = true;
  ports[2].device = "/dev/zelwik-no-such-port";
  ProbePorts(ports);
  EXPECT_EQ(ports[0].probe, ProbeResult::InUse);
  EXPECT_EQ(ports[1].probe, ProbeResult::InUse);
  EXPECT_EQ(ports[2].probe, ProbeResult::CannotOpen);
  EXPECT_EQ(ports[2].openErrno, ENOENT);
  EXPECT_EQ(FramesText(sim.Frames()), "");
}

}  // namespace
}  // namespace zelwik
