// The Win32 serial port against zelwik-sim on the COM port that ZELWIK_TEST_PORT names (run.sh
// maps one to the simulator's pseudo-terminal): the line is left as it was found, since a port
// that is probed may be another device's.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>

#include "cli/command_line.h"
#include "link/commands.h"
#include "link/link.h"
#include "support/race.h"

namespace zelwik {
namespace {

HANDLE OpenPort(const std::string& port, DCB& d) {
  d = {};
  d.DCBlength = sizeof d;
  return CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// What a program that opens the port next sees. Wine keeps the timeouts per handle, so on wine
// only the line settings carry over from one opening to the next.
std::string Settings(const std::string& port) {
  DCB d;
  HANDLE h = OpenPort(port, d);
  if (h == INVALID_HANDLE_VALUE) return "cannot open";
  COMMTIMEOUTS t{};
  const bool got = GetCommState(h, &d) && GetCommTimeouts(h, &t);
  CloseHandle(h);
  if (!got) return "cannot read the settings";
  std::ostringstream s;
  s << d.BaudRate << " baud, " << int(d.ByteSize) << " bits, parity " << int(d.Parity) << ", stop "
    << int(d.StopBits) << ", dtr " << d.fDtrControl << ", rts " << d.fRtsControl << ", cts "
    << d.fOutxCtsFlow << ", dsr " << d.fOutxDsrFlow << ", xon/xoff " << d.fOutX << d.fInX
    << ", chars " << int(d.XonChar) << ' ' << int(d.XoffChar) << ' ' << int(d.EofChar) << ' '
    << int(d.EvtChar) << "; timeouts " << t.ReadIntervalTimeout << ' '
    << t.ReadTotalTimeoutMultiplier << ' ' << t.ReadTotalTimeoutConstant << ' '
    << t.WriteTotalTimeoutMultiplier << ' ' << t.WriteTotalTimeoutConstant;
  return s.str();
}

// Settings no programmer uses, as another device on the port might have them.
bool SetForeignSettings(const std::string& port) {
  DCB d;
  HANDLE h = OpenPort(port, d);
  if (h == INVALID_HANDLE_VALUE) return false;
  GetCommState(h, &d);
  d.BaudRate = CBR_9600;
  d.StopBits = TWOSTOPBITS;
  d.fOutxCtsFlow = TRUE;
  d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  d.fOutX = d.fInX = TRUE;
  d.EofChar = 0x1A;
  COMMTIMEOUTS t{10, 20, 30, 40, 50};
  const bool set = SetCommState(h, &d) && SetCommTimeouts(h, &t);
  CloseHandle(h);
  return set;
}

// The port under test, set up with settings no programmer uses.
class Win32Port : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* env = std::getenv("ZELWIK_TEST_PORT");
    if (!env || !*env) GTEST_SKIP() << "ZELWIK_TEST_PORT names no port with zelwik-sim on it";
    port = env;
    ASSERT_TRUE(SetForeignSettings(port));
    before = Settings(port);
    // Otherwise the test could not tell a line put back from one never changed.
    ASSERT_EQ(before.rfind("9600 baud", 0), 0u) << before;
  }
  std::string port, before;
};

TEST_F(Win32Port, LeavesTheLineAsItFoundItAfterAProbeAndAnOperation) {
  Link link;
  ASSERT_TRUE(link.OpenLink(port)) << link.LastError();
  EXPECT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  link.CloseLink();
  EXPECT_EQ(Settings(port), before) << "after a probe";

  std::ostringstream out, err;
  EXPECT_EQ(cli::RunCommandLine({"--port", port, "signature-device"}, out, err, nullptr),
            cli::kExitSuccess)
      << out.str() << err.str();
  EXPECT_EQ(Settings(port), before) << "after an operation";
}

// A second Ctrl+C's restore racing the operation's Close on another thread: over when Close
// returns, the line put back once, never on a closed handle.
TEST_F(Win32Port, RestoreRacingCloseIsOverWhenCloseReturns) {
  std::string reason;
  int error = 0;
  int early = 0;
  for (int round = 0; round < 40; ++round) {
    const auto serial = MakePlatformSerialPort();
    ASSERT_TRUE(serial->Open(DeviceForPort(port), reason, error)) << reason;
    std::thread handler =
        testing::Race([&] { serial->RestoreLineNow(); }, [&] { serial->Close(); });
    if (Settings(port) != before) ++early;
    handler.join();
  }
  EXPECT_EQ(early, 0) << "times Close returned before the line was put back";
  EXPECT_EQ(Settings(port), before);
}

}  // namespace
}  // namespace zelwik
