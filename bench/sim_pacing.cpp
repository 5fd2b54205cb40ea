// The paced simulator stands for a real wire, which the speed rows measure against: however it is
// tuned, no reply may come before its frame and the reply itself could have crossed the line,
// measured at the client from the frame's write. The simulator counts the pty's own transit as
// part of the wire, so this is what would catch a transit timed too long. Lower bounds only, so a
// busy machine cannot make them fail. Prints each check; exits 1 when one fails.
//   sim_pacing
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "link/chips.h"
#include "link/commands.h"
#include "link/link.h"
#include "sim/device_model.h"
#include "sim/pty_simulator.h"

namespace {

using namespace zelwik;
using Clock = std::chrono::steady_clock;

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  failures += !ok;
}

// Five characters of 11 bits (start, 8 data, parity, stop): four out, one back.
Clock::duration WireTime(int baud) {
  return std::chrono::nanoseconds(5LL * 11 * 1000000000LL / baud);
}

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// True if a byte turns up within ms milliseconds.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

struct Served {
  sim::DeviceModel model;
  sim::PtySimulator simulator;
  explicit Served(int baud) : model(sim::SimChip::C51_12V), simulator(model, baud) {
    std::string why;
    if (!simulator.Open(why)) throw std::runtime_error("pty simulator: " + why);
    simulator.Start();
  }
  ~Served() { simulator.Close(); }
};

// At a megabaud the wire time is not much longer than the pty's own transit.
void EveryReplyWaitsForItsFrameAndItselfOnTheWire() {
  for (const int baud : {115200, 9600, 1000000}) {
    Served sim(baud);
    sim.simulator.WithModel([](sim::DeviceModel& m) { return m.Flash()[7] = 0x3C; });
    Link link;
    if (!link.OpenLink(sim.simulator.SlavePath()) || link.Transact(CMD_PROBE) != kProbeAnswer) {
      Check(false, "no programmer at " + std::to_string(baud));
      continue;
    }
    Clock::duration shortest = Clock::duration::max();
    bool right = true;
    for (int i = 0; i < (baud >= 100000 ? 1000 : 20); ++i) {
      const auto start = Clock::now();
      right &= link.Transact(CMD_READ, 0, 7, 0) == 0x3C;
      shortest = std::min(shortest, Clock::now() - start);
    }
    Check(right && shortest >= WireTime(baud), std::to_string(baud) + " baud: shortest exchange " +
                                                   std::to_string(Us(shortest)) + " us, wire " +
                                                   std::to_string(Us(WireTime(baud))) + " us");
  }
}

// A raw client writes two probes at once. Frames that reach the simulator in one piece still
// follow each other on the wire: the second reply is due one whole exchange after the first. The
// pty's transit is timed with bytes of its own before the port is handed out; none of them may
// reach the client or the device. Several sessions, since a leak would be a matter of timing.
void FramesArrivingTogetherAreAnsweredOneWireTimeApartAndNothingElse() {
  for (int session = 0; session < 6; ++session) {
    const int baud = session % 2 ? 9600 : 115200;
    Served sim(baud);
    const int fd = open(sim.simulator.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
      Check(false, "cannot open the pty");
      continue;
    }
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    bool ok = !Readable(fd, 20);
    const std::uint8_t frames[8] = {CMD_PROBE, 0, 0, 0, CMD_PROBE, 0, 0, 0};
    const auto start = Clock::now();
    ok &= write(fd, frames, sizeof frames) == 8;
    std::uint8_t replies[2] = {};
    for (int i = 0; i < 2 && ok; ++i) {  // a byte at a time, so that each is timed
      ok &= Readable(fd, 2000) && read(fd, replies + i, 1) == 1;
      ok &= Clock::now() - start >= (i + 1) * WireTime(baud);
    }
    ok &= !Readable(fd, 20);
    close(fd);
    ok &= replies[0] == kProbeAnswer && replies[1] == kProbeAnswer;
    ok &= sim.simulator.WithModel([](sim::DeviceModel& m) { return m.FrameLog().size(); }) == 2;
    Check(ok, "session " + std::to_string(session) + ", " + std::to_string(baud) +
                  " baud: two probes written together answered one wire time apart");
  }
}

}  // namespace

int main() {
  EveryReplyWaitsForItsFrameAndItselfOnTheWire();
  FramesArrivingTogetherAreAnsweredOneWireTimeApartAndNothingElse();
  return failures ? 1 : 0;
}
