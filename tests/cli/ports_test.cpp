// zelwik-cli ports and --port auto over a made-up sysfs whose device nodes lead to simulated
// programmers on ptys.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "cli/command_line.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"

namespace zelwik::cli {
namespace {

using sim::SimChip;
using testing::FramesText;
using testing::SimHarness;

struct CliRun {
  int status;
  std::string out, err;
};

CliRun Cli(const std::vector<std::string>& args, const PortListRoots& roots) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, nullptr, roots);
  return {status, out.str(), err.str()};
}

// A UART, and adapters: a programmer, a silent one, some other device, one held elsewhere.
class Ports : public ::testing::Test {
 protected:
  Ports() {
    ports_.Uart("ttyS0", 4);
    ports_.Uart("ttyS1", 0);
    ports_.Usb("usb1/1-1", "0403", "6001", "FTDI", "FT232R USB UART");
    Adapter("ttyUSB0", "usb1/1-1", "ftdi_sio", programmer_.Path());
    Adapter("ttyUSB1", "usb1/1-2", "pl2303", silent_.Path());
    Adapter("ttyUSB2", "usb1/1-3", "ch341", other_.Path());
    Adapter("ttyUSB3", "usb1/1-4", "cp210x", held_.Path());
    ports_.Holder(77, "ttyUSB3");
    silent_.WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
    other_.WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply = 0x0D; });
  }
  void Adapter(const std::string& name, const std::string& usb, const std::string& driver,
               const std::string& pty) {
    ports_.Tty(name, usb + "/" + usb.substr(5) + ":1.0/" + name, driver, pty);
  }
  std::string Dev(const std::string& name) { return ports_.Root("dev/" + name); }

  SimHarness programmer_{SimChip::C2051}, silent_{SimChip::C2051}, other_{SimChip::C2051},
      held_{SimChip::C2051};
  testing::FakePorts ports_;
};

TEST_F(Ports, ListOneLineADeviceAndProbeOnlyTheFreeOnes) {
  const std::string hint = "  window: ZELWIK_COM2=";
  CliRun run = Cli({"ports"}, ports_.Roots());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Dev("ttyS0") + "  driver serial8250" + hint + Dev("ttyS0") + " zelwik\n" +
                         Dev("ttyUSB0") + "  USB 0403:6001 FTDI FT232R USB UART  driver ftdi_sio" +
                         hint + Dev("ttyUSB0") + " zelwik\n" + Dev("ttyUSB1") + "  driver pl2303" +
                         hint + Dev("ttyUSB1") + " zelwik\n" + Dev("ttyUSB2") + "  driver ch341" +
                         hint + Dev("ttyUSB2") + " zelwik\n" + Dev("ttyUSB3") +
                         "  driver cp210x  in use" + hint + Dev("ttyUSB3") + " zelwik\n");
  EXPECT_EQ(FramesText(programmer_.Frames()), "");  // listing sends nothing

  run = Cli({"ports", "--probe"}, ports_.Roots());
  EXPECT_EQ(run.status, 0);
  for (const char* state :
       {"ttyS0  driver serial8250  cannot open: not a serial device",
        "ttyUSB0  USB 0403:6001 FTDI FT232R USB UART  driver ftdi_sio  "
        "programmer",
        "ttyUSB1  driver pl2303  no answer", "ttyUSB2  driver ch341  answered 0D: not a programmer",
        "ttyUSB3  driver cp210x  in use  window"})
    EXPECT_NE(run.out.find(state), std::string::npos) << state << "\n" << run.out;
  for (SimHarness* sim : {&programmer_, &silent_, &other_})
    EXPECT_EQ(FramesText(sim->Frames()), "FF000000");
  EXPECT_EQ(FramesText(held_.Frames()), "");
}

TEST_F(Ports, AutoUsesTheOneProgrammerAndOtherwiseSaysWhatItFound) {
  CliRun run = Cli({"--port", "auto", "signature-maker"}, ports_.Roots());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, " Sygnatura producenta=1EH\n Gotowy...\n");
  EXPECT_EQ(FramesText(silent_.Frames()), "FF000000");
  EXPECT_EQ(FramesText(programmer_.Frames()).substr(0, 17), "FF000000 FF000000");

  // A second programmer, then none: nothing beyond the probes is sent anywhere.
  other_.WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply.reset(); });
  for (bool two : {true, false}) {
    if (!two)
      programmer_.WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
    if (!two) other_.WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
    programmer_.ClearFrames();
    other_.ClearFrames();
    run = Cli({"--port=AUTO", "erase"}, ports_.Roots());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(two ? "2 programmers answered" : "no programmer answered"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(Dev("ttyUSB3") + " in use"), std::string::npos) << run.err;
    EXPECT_EQ(FramesText(programmer_.Frames()), "FF000000");
    EXPECT_EQ(FramesText(other_.Frames()), "FF000000");
  }
  const std::string nowhere = ports_.Root("nowhere");
  run = Cli({"--port", "auto", "erase"}, {nowhere, nowhere, nowhere, nowhere});
  EXPECT_EQ(run.err, "zelwik-cli: --port auto: no serial ports found\n");
}

TEST(CommandLine, VersionAndProbeOnlyWithPorts) {
  EXPECT_EQ(Cli({"--version"}, {}).out, "zelwik-cli " ZELWIK_TEST_VERSION "\n");
  EXPECT_EQ(Cli({"--probe", "erase"}, {}).status, 2);
}

}  // namespace
}  // namespace zelwik::cli
