// The simulated programmer the other tests trust: its chip model, its pacing, and zelwik-sim as a
// process. The 20-pin address counter is pinned by the operations' tests, which read back what
// they wrote.
//
// The paced simulator stands for a real wire: however it is tuned for speed, no reply may come
// before its frame and the reply itself could have crossed the line, measured at the client from
// the frame's write. The simulator counts the pty's own transit as part of the wire, so this is
// what would catch a transit timed too long. Lower bounds only, so a busy machine cannot make
// these fail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/chips.h"
#include "link/commands.h"
#include "link/link.h"
#include "sim/device_model.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik::sim {
namespace {

using testing::SimHarness;
using Clock = std::chrono::steady_clock;

constexpr int kAny = -1;

// Sends {command, address, data} frames and expects each reply.
void Replay(DeviceModel& m, std::initializer_list<std::array<int, 4>> steps) {
  for (const auto& [command, address, data, reply] : steps) {
    const auto r = m.HandleFrame({std::uint8_t(command), std::uint8_t(address >> 8),
                                  std::uint8_t(address), std::uint8_t(data)});
    EXPECT_TRUE(reply == kAny || (r.size() == 1 && r[0] == reply)) << command << " at " << address;
  }
}

TEST(Model, FlashOnlyClearsBitsUntilErasedWithTheRightVoltageWithinTheChip) {
  DeviceModel m(SimChip::C51_5V);  // 4 KiB
  Replay(m, {{CMD_WRITE_5V, 0x0123, 0xF0, 0xF0},
             {CMD_WRITE_5V, 0x0123, 0x0F, 0x00},
             {CMD_WRITE_12V, 0x10, 0, 0xFF},
             {CMD_WRITE_5V, 0x1000, 0, 0xFF},
             {CMD_WRITE_5V, 0xFFFF, 0, 0xFF},
             {CMD_WRITE_5V, 0x0FFF, 0x12, 0x12},
             {CMD_LOCK1_12V, 0, 0, kAny},
             {CMD_ERASE_12V, 0, 0, kAny},
             {CMD_READ, 0x0123, 0, 0x00},
             {CMD_LOCK1_5V, 0, 0, kAny},
             {CMD_LOCK3_5V, 0, 0, kAny}});
  EXPECT_TRUE(m.Locks().lock1 && !m.Locks().lock2 && m.Locks().lock3);
  Replay(m, {{CMD_ERASE_5V, 0, 0, kAny}, {CMD_READ, 0x0123, 0, 0xFF}});
  EXPECT_FALSE(m.Locks().lock1 || m.Locks().lock3);
}

using testing::SimProcess;

TEST(SimProcess, ServesTheFlashFileWithItsFaultsLogsAndStopsCleanly) {
  testing::TempDir dir;
  SimProcess sim("--chip 89c2051 --flash " ZELWIK_DEMO_HEX " --probe-reply AA --log " +
                 dir / "log");
  ASSERT_EQ(sim.path.rfind("/dev/", 0), 0u) << sim.path;
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.path)) << link.LastError();
  EXPECT_EQ(link.Transact(CMD_PROBE), 0xAA);
  EXPECT_EQ(DetectChip(link), ChipCode::C89C2051);
  // The demo program starts with a long jump, 02 00 06.
  for (int expected : {0x02, 0x00, 0x06}) {
    EXPECT_EQ(link.Transact(CMD_READ_20), expected);
    link.Transact(CMD_NEXT_ADDRESS);
  }
  link.CloseLink();
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_EQ(testing::ReadFile(dir / "log")
                .rfind("FF000000 -> AA\n13000000 -> 00\n11000000 -> 00\n17000000 -> 21\n", 0),
            0u);
}

TEST(SimProcess, RejectsBadArgumentsWithoutServing) {
  for (const char* args :
       {"", "--chip 89C99", "--chip 89C51 --probe-reply 1FF",
        "--chip 89C51 --flash /nonexistent/zelwik.hex", "--chip 89C51 --bogus"}) {
    SimProcess sim(args);
    EXPECT_EQ(sim.path, "") << args;
    EXPECT_EQ(sim.Stop(sim.path.empty() ? 0 : SIGKILL), 2) << args;
  }
}

// Five characters of 11 bits (start, 8 data, parity, stop): four out, one back.
Clock::duration WireTime(int baud) {
  return std::chrono::nanoseconds(5LL * 11 * 1000000000LL / baud);
}

// True if a byte turns up within ms milliseconds.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

// At a megabaud the wire time is not much longer than the pty's own transit.
TEST(Pacing, EveryReplyWaitsForItsFrameAndItselfOnTheWire) {
  for (const int baud : {115200, 9600, 1000000}) {
    SimHarness sim(SimChip::C51_12V, {}, baud);
    sim.WithModel([](DeviceModel& m) { m.Flash()[7] = 0x3C; });
    Link link;
    ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
    ASSERT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
    Clock::duration shortest = Clock::duration::max();
    for (int i = 0; i < (baud >= 100000 ? 1000 : 20); ++i) {
      const auto start = Clock::now();
      ASSERT_EQ(link.Transact(CMD_READ, 0, 7, 0), 0x3C);
      shortest = std::min(shortest, Clock::now() - start);
    }
    EXPECT_GE(shortest, WireTime(baud)) << baud;
  }
}

// A raw client writes two probes at once. Frames that reach the simulator in one piece still
// follow each other on the wire: the second reply is due one whole exchange after the first. The
// pty's transit is timed with bytes of its own before the port is handed out; none of them may
// reach the client or the device. Several sessions, since a leak would be a matter of timing.
TEST(Pacing, FramesArrivingTogetherAreAnsweredOneWireTimeApartAndNothingElse) {
  for (int session = 0; session < 6; ++session) {
    const int baud = session % 2 ? 9600 : 115200;
    SimHarness sim(SimChip::C51_12V, {}, baud);
    const int fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t;
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    EXPECT_FALSE(Readable(fd, 20)) << "bytes waiting before any frame";
    const std::uint8_t frames[8] = {CMD_PROBE, 0, 0, 0, CMD_PROBE, 0, 0, 0};
    const auto start = Clock::now();
    ASSERT_EQ(write(fd, frames, sizeof frames), 8);
    std::uint8_t replies[2];
    for (int i = 0; i < 2; ++i) {  // a byte at a time, so that each is timed
      ASSERT_TRUE(Readable(fd, 2000)) << "replies missing";
      ASSERT_EQ(read(fd, replies + i, 1), 1);
      EXPECT_GE(Clock::now() - start, (i + 1) * WireTime(baud)) << session;
    }
    EXPECT_FALSE(Readable(fd, 20)) << "bytes after the probes' answers";
    close(fd);
    EXPECT_TRUE(replies[0] == kProbeAnswer && replies[1] == kProbeAnswer);
    EXPECT_EQ(testing::FramesText(sim.Frames()), "FF000000 FF000000");
  }
}

}  // namespace
}  // namespace zelwik::sim
