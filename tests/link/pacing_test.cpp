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

#include "link/commands.h"
#include "link/link.h"
#include "support/sim_harness.h"

namespace zelwik {
namespace {

using testing::SimHarness;
using Clock = std::chrono::steady_clock;

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
    SimHarness sim(sim::SimChip::C51_12V, {}, baud);
    sim.WithModel([](sim::DeviceModel& m) { m.Flash()[7] = 0x3C; });
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
    SimHarness sim(sim::SimChip::C51_12V, {}, baud);
    const int fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t;
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    EXPECT_FALSE(Readable(fd, 20)) << "bytes waiting before any frame";
    const std::uint8_t frames[8] = {CMD_PROBE, 0, 0, 0, CMD_PROBE, 0, 0, 0};
    const auto start = Clock::now();
    ASSERT_EQ(write(fd, frames, sizeof frames), 8);
    std::uint8_t replies[8];
    std::size_t have = 0;
    Clock::duration at[2]{};  // when the first and the second byte were in
    while (have < 2) {
      ASSERT_TRUE(Readable(fd, 2000)) << "replies missing";
      const ssize_t n = read(fd, replies + have, sizeof replies - have);
      ASSERT_GT(n, 0);
      for (std::size_t i = have; i < 2 && i < have + n; ++i) at[i] = Clock::now() - start;
      have += static_cast<std::size_t>(n);
    }
    EXPECT_FALSE(Readable(fd, 20)) << "bytes after the probes' answers";
    close(fd);
    EXPECT_EQ(have, 2u);
    EXPECT_TRUE(replies[0] == kProbeAnswer && replies[1] == kProbeAnswer);
    EXPECT_GE(at[0], WireTime(baud)) << session;
    EXPECT_GE(at[1], 2 * WireTime(baud)) << session;
    EXPECT_EQ(testing::FramesText(sim.Frames()), "FF000000 FF000000");
  }
}

}  // namespace
}  // namespace zelwik
