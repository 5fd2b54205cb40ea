// Measurement helpers for bench/run.sh. Each prints one number of milliseconds on stdout.
//   zelwik_bench reference DEVICE [BYTES]  the least a client can do: per address one 4-byte
//                                          write and one 1-byte read, nothing else
//   zelwik_bench absent DEVICE             start of a read to its link failure text
//   zelwik_bench hexload FILE              HEX load of FILE into the image (the whole process is
//                                          what run.sh times; the number printed is the load)
//   zelwik_bench hexsave BINARY OUT        a 64 KiB binary into the image, saved as HEX to OUT
//   zelwik_bench breakdown [EXCHANGES]     where a wire-paced exchange spends its time beyond the
//                                          wire: the link against an in-process paced simulator
//   zelwik_bench waits DEVICE [EXCHANGES] [ROUNDS]  one exchange per way of waiting for the
//                                          reply, low percentiles, which a busy machine moves least
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "link/chips.h"
#include "link/commands.h"
#include "ops/hex_files.h"
#include "ops/operations.h"
#include "sim/device_model.h"
#include "sim/pty_simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "zelwik_bench: %s\n", message.c_str());
  return 1;
}

// Blocking reads and writes on a raw line: no poll, no FIONREAD, no time limit.
int Reference(const char* device, long bytes) {
  const auto start = Clock::now();
  const int fd = open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Fail(std::string(device) + ": " + std::strerror(errno));
  termios t;
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
  }
  std::uint8_t frame[4] = {zelwik::CMD_PROBE, 0, 0, 0};
  std::uint8_t reply = 0;
  if (write(fd, frame, 4) != 4 || read(fd, &reply, 1) != 1 || reply != 0x55) {
    close(fd);
    return Fail("no programmer on " + std::string(device));
  }
  for (long a = 0; a < bytes; ++a) {
    frame[0] = 0x01;
    frame[1] = static_cast<std::uint8_t>(a >> 8);
    frame[2] = static_cast<std::uint8_t>(a);
    if (write(fd, frame, 4) != 4 || read(fd, &reply, 1) != 1) {
      close(fd);
      return Fail("link failed at address " + std::to_string(a));
    }
  }
  close(fd);
  std::printf("%.3f\n", MsSince(start));
  return 0;
}

// Notes when the link failure text appears.
class FailureClock : public zelwik::NullView {
 public:
  explicit FailureClock(Clock::time_point start) : start_(start) {}
  void SetStatus(const std::string& text) override {
    if (text == zelwik::kTextLinkFailure && ms < 0) ms = MsSince(start_);
  }
  double ms = -1;

 private:
  Clock::time_point start_;
};

int Absent(const char* device) {
  auto state = std::make_unique<zelwik::State>();
  state->PortName = device;
  state->ChipType = zelwik::ToInt(zelwik::ChipCode::Other);
  const auto start = Clock::now();
  FailureClock view(start);
  zelwik::ReadChip(*state, view);
  if (view.ms < 0)
    return Fail("the read did not fail: is something answering on " + std::string(device) + "?");
  std::printf("%.3f\n", view.ms);
  return 0;
}

int HexLoad(const char* path) {
  auto image = std::make_unique<zelwik::Image>();
  zelwik::NullView view;
  const auto start = Clock::now();
  if (!zelwik::LoadHexFileShown(*image, path, view))
    return Fail(std::string("cannot load ") + path);
  std::printf("%.3f\n", MsSince(start));
  return 0;
}

int HexSave(const char* binary, const char* out) {
  const auto start = Clock::now();
  auto image = std::make_unique<zelwik::Image>();
  std::ifstream in(binary, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(image->MemoryImage.data()), zelwik::kImageSize)) {
    return Fail(std::string("cannot read 64 KiB from ") + binary);
  }
  zelwik::NullView view;
  if (!zelwik::SaveHexFileShown(*image, out, view)) return Fail(std::string("cannot save ") + out);
  std::printf("%.3f\n", MsSince(start));
  return 0;
}

long long Ns(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

void PrintSpread(const char* what, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  double sum = 0;
  for (double v : us) sum += v;
  std::printf("  %-47s min %6.1f, median %6.1f, mean %6.1f, 90%% %6.1f us\n", what, us.front(),
              us[us.size() / 2], sum / static_cast<double>(us.size()), us[us.size() * 9 / 10]);
}

// The simulator notes when each frame reached it; the client when it wrote the frame and when the
// reply was back. The simulator's wait is the wire time less the pty's fastest transit each way;
// what else an exchange takes is pty and scheduling latency, or the link's own cost.
int Breakdown(long exchanges) {
  constexpr int kBaud = 115200;
  constexpr double kWireUs = 5.0 * 11 * 1e6 / kBaud;
  zelwik::sim::DeviceModel model(zelwik::sim::SimChip::C55_12V);
  zelwik::sim::PtySimulator simulator(model, kBaud);
  std::string reason;
  if (!simulator.Open(reason)) return Fail(reason);
  const double inUs = static_cast<double>(simulator.InTransitNs()) / 1000;
  const double outUs = static_cast<double>(simulator.OutTransitNs()) / 1000;
  const double waitUs = kWireUs - inUs - outUs;
  std::atomic<long long> seenNs{0};
  simulator.SetFrameObserver([&](const zelwik::sim::Frame&, const std::vector<std::uint8_t>&) {
    seenNs = Ns(Clock::now());
  });
  simulator.Start();
  zelwik::Link link;
  if (!link.OpenLink(simulator.SlavePath())) return Fail(link.LastError());
  if (link.Transact(zelwik::CMD_PROBE) != 0x55) return Fail("the simulator did not answer");
  std::vector<double> toSimulator, afterWait, total;
  for (long a = 0; a < exchanges; ++a) {
    const auto start = Clock::now();
    link.Transact(zelwik::CMD_READ, static_cast<std::uint8_t>(a >> 8),
                  static_cast<std::uint8_t>(a));
    const auto end = Clock::now();
    const double sent = static_cast<double>(seenNs.load() - Ns(start)) / 1000;
    const double all = std::chrono::duration<double, std::micro>(end - start).count();
    toSimulator.push_back(sent);
    afterWait.push_back(all - sent - waitUs);
    total.push_back(all);
  }
  link.CloseLink();
  simulator.Close();
  std::printf("one wire-paced exchange (wire time %.1f us), %ld exchanges:\n", kWireUs, exchanges);
  std::printf(
      "  reply brought forward for the pty's transit: in %.1f us, out %.1f us;"
      " simulator's wait %.1f us\n",
      inUs, outUs, waitUs);
  PrintSpread("whole exchange", total);
  PrintSpread("frame written -> frame seen by the simulator", toSimulator);
  PrintSpread("simulator's wait over -> reply read by the link", afterWait);
  const auto beforeWire = [&](double us) { return us < kWireUs; };
  const long early = static_cast<long>(std::count_if(total.begin(), total.end(), beforeWire));
  std::printf("  replies read before the wire time was over: %ld of %ld\n", early, exchanges);
  return 0;
}

// The ways a client can wait for a reply on DEVICE, each in a loop of its own; per exchange, the
// 10th percentile and the median of every round, and the medians of those over the rounds.
int Waits(const char* device, long exchanges, int rounds) {
  struct Way {
    const char* name;
    int vmin, vtime;    // of the line
    bool poll;          // poll() before a read() on a non-blocking description
    int linkTimeoutMs;  // > 0: zelwik::Link with this reply bound instead of the above
    std::vector<double> p10, p50, mean;
  };
  std::vector<Way> ways = {
      {"blocking read(), VMIN 1 (reference client)", 1, 0, false, 0, {}, {}, {}},
      {"blocking read(), VMIN 0 VTIME 20", 0, 20, false, 0, {}, {}, {}},
      {"poll() + read()", 0, 0, true, 0, {}, {}, {}},
      {"Link::Transact, 2000 ms bound", 0, 0, false, 2000, {}, {}, {}},
  };
  std::vector<double> us(static_cast<std::size_t>(exchanges));
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < ways.size(); ++k) {
      Way& way = ways[(k + static_cast<std::size_t>(round)) % ways.size()];
      std::uint8_t frame[4] = {zelwik::CMD_PROBE, 0, 0, 0};
      if (way.linkTimeoutMs > 0) {
        zelwik::Link link;
        link.SetReplyTimeout(way.linkTimeoutMs);
        if (!link.OpenLink(device) || link.Transact(zelwik::CMD_PROBE) != 0x55)
          return Fail("no programmer on " + std::string(device));
        for (long a = 0; a < exchanges; ++a) {
          const auto start = Clock::now();
          link.Transact(zelwik::CMD_READ, static_cast<std::uint8_t>(a >> 8),
                        static_cast<std::uint8_t>(a));
          us[static_cast<std::size_t>(a)] = MsSince(start) * 1000;
        }
      } else {
        const int fd = open(device, O_RDWR | O_NOCTTY | O_CLOEXEC | (way.poll ? O_NONBLOCK : 0));
        if (fd < 0) return Fail(std::string(device) + ": " + std::strerror(errno));
        termios t;
        if (tcgetattr(fd, &t) == 0) {
          cfmakeraw(&t);
          t.c_cc[VMIN] = static_cast<cc_t>(way.vmin);
          t.c_cc[VTIME] = static_cast<cc_t>(way.vtime);
          tcsetattr(fd, TCSANOW, &t);
        }
        std::uint8_t reply = 0;
        const auto exchange = [&] {
          if (write(fd, frame, 4) != 4) return false;
          if (way.poll) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) != 1) return false;
          }
          return read(fd, &reply, 1) == 1;
        };
        if (!exchange() || reply != 0x55) return Fail("no programmer on " + std::string(device));
        for (long a = 0; a < exchanges; ++a) {
          frame[0] = zelwik::CMD_READ;
          frame[1] = static_cast<std::uint8_t>(a >> 8);
          frame[2] = static_cast<std::uint8_t>(a);
          const auto start = Clock::now();
          if (!exchange()) return Fail("link failed at address " + std::to_string(a));
          us[static_cast<std::size_t>(a)] = MsSince(start) * 1000;
        }
        close(fd);
      }
      std::vector<double> sorted = us;
      std::sort(sorted.begin(), sorted.end());
      way.p10.push_back(sorted[sorted.size() / 10]);
      way.p50.push_back(sorted[sorted.size() / 2]);
      way.mean.push_back(std::accumulate(sorted.begin(), sorted.end(), 0.0) /
                         static_cast<double>(sorted.size()));
    }
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double base10 = median(ways[0].p10), base50 = median(ways[0].p50);
  const double baseMean = median(ways[0].mean);
  std::printf("%ld exchanges a way, %d rounds; per exchange, medians over the rounds:\n", exchanges,
              rounds);
  for (const Way& way : ways) {
    const double p10 = median(way.p10), p50 = median(way.p50), mean = median(way.mean);
    std::printf("  %-44s 10%% %6.2f us (%5.3f), median %6.2f us (%5.3f), mean %6.2f us (%5.3f)\n",
                way.name, p10, p10 / base10, p50, p50 / base50, mean, mean / baseMean);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "reference" && (argc == 3 || argc == 4)) {
    const long bytes = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0x8000;
    if (bytes <= 0 || bytes > 0x10000) return Fail("BYTES must be 1 to 65536");
    return Reference(argv[2], bytes);
  }
  if (mode == "absent" && argc == 3) return Absent(argv[2]);
  if (mode == "hexload" && argc == 3) return HexLoad(argv[2]);
  if (mode == "hexsave" && argc == 4) return HexSave(argv[2], argv[3]);
  if (mode == "breakdown" && argc <= 3) {
    const long exchanges = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 4096;
    if (exchanges <= 0 || exchanges > 1000000) return Fail("EXCHANGES must be 1 to 1000000");
    return Breakdown(exchanges);
  }
  if (mode == "waits" && argc >= 3 && argc <= 5) {
    const long exchanges = argc >= 4 ? std::strtol(argv[3], nullptr, 10) : 8192;
    const long rounds = argc == 5 ? std::strtol(argv[4], nullptr, 10) : 5;
    if (exchanges < 10 || exchanges > 0x10000) return Fail("EXCHANGES must be 10 to 65536");
    if (rounds < 1 || rounds > 1000) return Fail("ROUNDS must be 1 to 1000");
    return Waits(argv[2], exchanges, static_cast<int>(rounds));
  }
  std::fprintf(stderr,
               "usage: zelwik_bench reference DEVICE [BYTES] | absent DEVICE | hexload FILE |"
               " hexsave BINARY OUT | breakdown [EXCHANGES] | waits DEVICE [EXCHANGES] [ROUNDS]\n");
  return 2;
}
