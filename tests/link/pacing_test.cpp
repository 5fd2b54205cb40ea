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
#include <cstdint>
#include <string>

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

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  if (fd >= 0 && tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

// True if a byte turns up within ms milliseconds.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

class Pacing : public ::testing::TestWithParam<int> {};

TEST_P(Pacing, EveryReplyWaitsForItsFrameAndItselfOnTheWire) {
  const int baud = GetParam();
  SimHarness sim(sim::SimChip::C51_12V, {}, baud);
  sim.WithModel([](sim::DeviceModel& m) { m.Flash()[7] = 0x3C; });
  Link link;
  ASSERT_TRUE(link.OpenLink(sim.Path())) << link.LastError();
  ASSERT_EQ(link.Transact(CMD_PROBE), kProbeAnswer);
  const int exchanges = baud >= 100000 ? 1000 : 20;
  Clock::duration shortest = Clock::duration::max();
  for (int i = 0; i < exchanges; ++i) {
    const auto start = Clock::now();
    const std::uint8_t reply = link.Transact(CMD_READ, 0, 7, 0);
    shortest = std::min(shortest, Clock::now() - start);
    ASSERT_EQ(reply, 0x3C);
  }
  EXPECT_GE(shortest, WireTime(baud));
}

// At a megabaud the wire time is not much longer than the pty's own transit.
INSTANTIATE_TEST_SUITE_P(Baud, Pacing, ::testing::Values(115200, 9600, 1000000),
                         [](const auto& info) { return "At" + std::to_string(info.param); });

// A raw client writes two probes at once. Frames that reach the simulator in one piece still
// follow each other on the wire: the second reply is due one whole exchange after the first. The
// pty's transit is timed with bytes of its own before the port is handed out; none of them may
// reach the client or the device. Several sessions, since a leak would be a matter of timing.
TEST(Pacing, FramesArrivingTogetherAreAnsweredOneWireTimeApartAndNothingElse) {
  for (int session = 0; session < 6; ++session) {
    SCOPED_TRACE(session);
    const int baud = session % 2 ? 9600 : 115200;
    SimHarness sim(sim::SimChip::C51_12V, {}, baud);
    const int fd = OpenRaw(sim.Path());
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd, 20)) << "bytes waiting before any frame";
    const std::uint8_t frames[8] = {CMD_PROBE, 0, 0, 0, CMD_PROBE, 0, 0, 0};
    const auto start = Clock::now();
    ASSERT_EQ(write(fd, frames, sizeof frames), 8);
    std::uint8_t replies[8];
    std::size_t have = 0;
    Clock::duration first{}, second{};
    while (have < 2) {
      ASSERT_TRUE(Readable(fd, 2000)) << "replies missing";
      const ssize_t n = read(fd, replies + have, sizeof replies - have);
      ASSERT_GT(n, 0);
      const auto now = Clock::now() - start;
      if (have == 0) first = now;
      have += static_cast<std::size_t>(n);
      if (have >= 2) second = now;
    }
    EXPECT_EQ(have, 2u);
    EXPECT_FALSE(Readable(fd, 20)) << "bytes after the probes' answers";
    close(fd);
    EXPECT_EQ(replies[0], kProbeAnswer);
    EXPECT_EQ(replies[1], kProbeAnswer);
    EXPECT_GE(first, WireTime(baud));
    EXPECT_GE(second, 2 * WireTime(baud));
    EXPECT_EQ(testing::FramesText(sim.Frames()), "FF000000 FF000000");
  }
}

}  // namespace
}  // namespace zelwik
