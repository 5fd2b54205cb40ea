// zelwik-cli ports and --port auto over a made-up sysfs whose nodes lead to simulated programmers.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"

namespace zelwik::cli {
namespace {

using testing::FramesText;

struct CliRun {
  int status;
  std::string out, err;
};

CliRun Cli(const std::vector<std::string>& args, const PortListRoots& roots = {}) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, nullptr, roots);
  return {status, out.str(), err.str()};
}

// A UART, a programmer on an FTDI adapter, a silent adapter, another device, a held adapter.
class Ports : public ::testing::Test {
 protected:
  Ports() {
    ports_.Tty("ttyS0", "serial8250/ttyS0", "serial8250", 4);
    ports_.Usb("usb1/1-0", "0403:6001", "FTDI", "FT232R USB UART");
    const char* drivers[] = {"ftdi_sio", "pl2303", "ch341", "cp210x"};
    for (int i = 0; i < 4; ++i) {
      const std::string n = std::to_string(i);
      ports_.Tty("ttyUSB" + n, "usb1/1-" + n + "/ttyUSB" + n, drivers[i], -1, sims_[i].Path());
    }
    ports_.Holder(77, "ttyUSB3");
    sims_[1].WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
    sims_[2].WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply = 0x0D; });
  }
  std::string Dev(const std::string& name) { return ports_.Root("dev/" + name); }
  std::string Frames(int i) { return FramesText(sims_[i].Frames()); }

  testing::SimHarness sims_[4]{
      testing::SimHarness(sim::SimChip::C2051), testing::SimHarness(sim::SimChip::C2051),
      testing::SimHarness(sim::SimChip::C2051), testing::SimHarness(sim::SimChip::C2051)};
  testing::FakePorts ports_;
};

TEST_F(Ports, OneLineADeviceAndTheProbeOnlyToTheFreeOnes) {
  CliRun run = Cli({"ports"}, ports_.Roots());
  const std::string tail = " zelwik\n";
  EXPECT_EQ(run.out.substr(0, run.out.find('\n', run.out.find("ttyUSB0")) + 1),
            Dev("ttyS0") + "  driver serial8250  window: ZELWIK_COM2=" + Dev("ttyS0") + tail +
                Dev("ttyUSB0") + "  USB 0403:6001 FTDI FT232R USB UART  driver ftdi_sio  " +
                "window: ZELWIK_COM2=" + Dev("ttyUSB0") + tail);
  EXPECT_NE(run.out.find("cp210x  in use  window"), std::string::npos) << run.out;
  EXPECT_EQ(Frames(0), "");  // listing sends nothing

  run = Cli({"ports", "--probe"}, ports_.Roots());
  EXPECT_EQ(run.status, 0);
  for (const char* state :
       {"serial8250  cannot open: not a serial device", "ftdi_sio  programmer", "pl2303  no answer",
        "ch341  answered 0D: not a programmer", "cp210x  in use"})
    EXPECT_NE(run.out.find(state), std::string::npos) << state << "\n" << run.out;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Frames(i), "FF000000");
  EXPECT_EQ(Frames(3), "");
}

TEST_F(Ports, AutoUsesTheOneProgrammerAndOtherwiseSaysWhatItFound) {
  CliRun run = Cli({"--port", "auto", "signature-maker"}, ports_.Roots());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, " Sygnatura producenta=1EH\n Gotowy...\n");
  EXPECT_EQ(Frames(0).substr(0, 17), "FF000000 FF000000");

  // Two programmers, then none: nothing beyond the probes is sent anywhere.
  sims_[2].WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply.reset(); });
  for (const char* found : {"2 programmers answered", "no programmer answered"}) {
    sims_[0].ClearFrames();
    run = Cli({"--port=AUTO", "erase"}, ports_.Roots());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(found), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(Dev("ttyUSB3") + " in use"), std::string::npos) << run.err;
    EXPECT_EQ(Frames(0), "FF000000");
    for (int i : {0, 2})
      sims_[i].WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
  }
  EXPECT_EQ(Cli({"--version"}).out, "zelwik-cli " ZELWIK_TEST_VERSION "\n");
  EXPECT_EQ(Cli({"--probe", "erase"}).status, 2);
}

}  // namespace
}  // namespace zelwik::cli
