// Finding the programmer's port: the Linux device walk over a made-up sysfs and /dev, and the
// presence probe against the simulated programmer on a pty.
#include "link/port_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "link/commands.h"
#include "link/link.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;
using sim::SimChip;
using testing::FramesText;
using testing::SimHarness;
using testing::WriteFile;

// A machine with a 16550A on ttyS0 and ttyS10, a ttyS1 node with no UART, an FTDI adapter on
// ttyUSB0 (with its by-id name), a CDC-ACM board on ttyACM0 held by a process, and tty0.
struct FakeSystem : testing::FakePorts {
  FakeSystem() {
    Uart("ttyS0", 4);
    Uart("ttyS1", 0);
    Uart("ttyS10", 4);
    Usb("pci0000:00/usb1/1-1", "0403", "6001", "FTDI", "FT232R USB UART");
    Tty("ttyUSB0", "pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    Usb("pci0000:00/usb1/1-2", "2341", "0043");
    Tty("ttyACM0", "pci0000:00/usb1/1-2/1-2:1.0", "cdc_acm");
    Holder(4242, "ttyACM0");
    fs::create_directories(Root("sys/class/tty/tty0"));  // virtual: no device
    WriteFile(Root("dev/tty0"), "");
    fs::create_directory_symlink("../../ttyUSB0", Root("dev/serial/by-id/usb-FTDI_A5-if00-port0"));
    fs::create_directories(Root("proc/4243"));
    WriteFile(Root("lock/LCK..ttyS10"), "      4243\n");
    WriteFile(Root("lock/LCK..ttyS0"), "     99999\n");  // its process is gone
  }
};

std::string Describe(const PortInfo& p) {
  return fs::path(p.device).filename().string() + "|" + fs::path(p.byId).filename().string() + "|" +
         p.usbId + "|" + p.usbName + "|" + p.driver + "|" + (p.inUse ? "in use" : "free");
}

TEST(PortList, RealUartsAndAdaptersWithTheirNamesIdsDriversAndHolders) {
  FakeSystem system;
  std::vector<std::string> found;
  for (const PortInfo& p : ListSerialPorts(system.Roots())) found.push_back(Describe(p));
  EXPECT_EQ(found,
            (std::vector<std::string>{
                "ttyACM0||2341:0043||cdc_acm|in use",
                "ttyS0||||serial8250|free",
                "ttyS10||||serial8250|in use",
                "ttyUSB0|usb-FTDI_A5-if00-port0|0403:6001|FTDI FT232R USB UART|ftdi_sio|free",
            }));
  // A machine without serial devices, or without sysfs at all, lists nothing.
  const std::string nowhere = system.Root("nowhere");
  EXPECT_TRUE(ListSerialPorts({nowhere, nowhere, nowhere, nowhere}).empty());
}

struct ProbeCase {
  const char* name;
  int probeReply;  // -1: silent
  ProbeResult expected;
};

class Probe : public ::testing::TestWithParam<ProbeCase> {};

// One frame, the probe, whatever answers; a device that sends more than one byte leaves nothing
// behind for the next program.
TEST_P(Probe, SendsOnlyTheProbeAndLeavesNothingInThePort) {
  const ProbeCase& c = GetParam();
  SimHarness sim(SimChip::C2051);
  sim.WithModel([&](sim::DeviceModel& m) {
    m.MutableFaults().neverAnswer = c.probeReply < 0;
    if (c.probeReply >= 0) m.MutableFaults().probeReply = c.probeReply;
    m.MutableFaults().doubleReplyAtFrame = 1;
  });
  std::vector<PortInfo> ports(1);
  ports[0].device = sim.Path();
  ProbePorts(ports);
  EXPECT_EQ(ports[0].probe, c.expected);
  if (c.expected == ProbeResult::OtherReply) {
    EXPECT_EQ(ports[0].reply, c.probeReply);
  }
  EXPECT_EQ(FramesText(sim.Frames()), "FF000000");
  Link next;
  ASSERT_TRUE(next.OpenLink(sim.Path())) << next.LastError();
  EXPECT_FALSE(next.StrayReply(100));
}

INSTANTIATE_TEST_SUITE_P(Replies, Probe,
                         ::testing::Values(ProbeCase{"Answered", kProbeAnswer,
                                                     ProbeResult::Programmer},
                                           ProbeCase{"OtherByte", 0xAA, ProbeResult::OtherReply},
                                           ProbeCase{"Silent", -1, ProbeResult::NoAnswer}),
                         [](const auto& info) { return std::string(info.param.name); });

// A port held by another program, found by the list or refused at the open, is never sent to.
TEST(Probe, PortsInUseGetNothing) {
  SimHarness sim(SimChip::C2051);
  Link holder;
  ASSERT_TRUE(holder.OpenLink(sim.Path()));
  std::vector<PortInfo> ports(3);
  ports[0].device = sim.Path();
  ports[1].device = sim.Path();
  ports[1].inUse = true;
  ports[2].device = "/dev/zelwik-no-such-port";
  ProbePorts(ports);
  EXPECT_EQ(ports[0].probe, ProbeResult::InUse);
  EXPECT_TRUE(ports[0].inUse);
  EXPECT_EQ(ports[1].probe, ProbeResult::InUse);
  EXPECT_EQ(ports[2].probe, ProbeResult::CannotOpen);
  EXPECT_NE(ports[2].openError, "");
  EXPECT_EQ(FramesText(sim.Frames()), "");
}

}  // namespace
}  // namespace zelwik
