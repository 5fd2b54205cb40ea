// zelwik-sim: a simulated programmer on a pseudo-terminal, for demos and manual tests.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "image/hex_file.h"
#include "image/memory_image.h"
#include "sim/device_model.h"
#include "sim/pty_simulator.h"
#include "zelwik_version.h"

namespace {

using zelwik::sim::DeviceModel;
using zelwik::sim::Faults;
using zelwik::sim::Frame;
using zelwik::sim::PtySimulator;
using zelwik::sim::SimChip;

constexpr std::size_t kFrameLogLimit = 1 << 20;

void PrintUsage(std::FILE* out) {
  std::string chips;
  for (const std::string& name : zelwik::sim::SimChipNames()) chips += " " + name;
  std::fprintf(out,
               "Usage: zelwik-sim --chip NAME [options]\n"
               "Serves a simulated programmer on a pseudo-terminal and prints the device path\n"
               "to open as the only line on standard output; runs until SIGINT or SIGTERM.\n"
               "\n"
               "  --chip NAME          chip in the socket:%s\n"
               "  --flash FILE         Intel HEX file loaded into the chip's flash\n"
               "  --log FILE           write every frame and its reply as a text line\n"
               "  --baud N             pace replies as a wire at N baud would (0: no pacing)\n"
               "  --latency MS         hold each reply back MS milliseconds, as a USB adapter's\n"
               "                       latency timer does\n"
               "  --never-answer       send no reply at all, not even to the probe\n"
               "  --probe-reply HEX    answer the presence probe with this byte instead of 55\n"
               "  --stop-after N       answer the first N frames, then nothing\n"
               "  --double-reply N     send two reply bytes for frame N (1 = first frame)\n"
               "  --wrong-byte ADDR    reads and write read-backs of hex address ADDR are wrong\n"
               "  --swap-every MS      take the chip out, and MS later put a new erased one in,\n"
               "                       and so on (SIGUSR1 takes it out, SIGUSR2 puts one in)\n"
               "  --help               show this text\n"
               "  --version            show the program's version\n",
               chips.c_str());
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "zelwik-sim: %s\n", message.c_str());
  std::exit(2);
}

long ParseNumber(const std::string& option, const std::string& text, int base, long min, long max) {
  errno = 0;
  char* end = nullptr;
  std::string digits = text;
  if (base == 16 && digits.size() > 2 && digits[0] == '0' &&
      (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  long value = std::strtol(digits.c_str(), &end, base);
  if (digits.empty() || *end != '\0' || errno != 0 || value < min || value > max) {
    Fail("bad value for " + option + ": " + text);
  }
  return value;
}

std::string HexFrame(const Frame& f) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02X%02X%02X%02X", f[0], f[1], f[2], f[3]);
  return buffer;
}

}  // namespace

namespace {

int Serve(int argc, char** argv) {
  std::optional<SimChip> chip;
  std::string flashPath, logPath;
  long baud = 0;
  long swapMs = 0;
  long latencyMs = 0;
  Faults faults;

  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(option + " needs a value");
      return argv[++i];
    };
    if (option == "--help" || option == "-h") {
      PrintUsage(stdout);
      return 0;
    } else if (option == "--version") {
      std::printf("zelwik-sim %s\n", ZELWIK_VERSION);
      return 0;
    } else if (option == "--chip") {
      const std::string name = value();
      chip = zelwik::sim::ParseSimChip(name);
      if (!chip) Fail("unknown chip: " + name);
    } else if (option == "--flash") {
      flashPath = value();
    } else if (option == "--log") {
      logPath = value();
    } else if (option == "--baud") {
      baud = ParseNumber(option, value(), 10, 0, 4000000);
    } else if (option == "--latency") {
      latencyMs = ParseNumber(option, value(), 10, 0, 1000);
    } else if (option == "--never-answer") {
      faults.neverAnswer = true;
    } else if (option == "--probe-reply") {
      faults.probeReply = static_cast<std::uint8_t>(ParseNumber(option, value(), 16, 0, 0xFF));
    } else if (option == "--stop-after") {
      faults.stopAfterFrames = ParseNumber(option, value(), 10, 0, 2147483647L);
    } else if (option == "--double-reply") {
      faults.doubleReplyAtFrame = ParseNumber(option, value(), 10, 1, 2147483647L);
    } else if (option == "--swap-every") {
      swapMs = ParseNumber(option, value(), 10, 1, 86400000L);
    } else if (option == "--wrong-byte") {
      faults.wrongByteAtAddress = static_cast<int>(ParseNumber(option, value(), 16, 0, 0xFFFF));
    } else {
      PrintUsage(stderr);
      Fail("unknown option: " + option);
    }
  }
  if (!chip) {
    PrintUsage(stderr);
    Fail("--chip is required");
  }

  DeviceModel model(*chip, faults);
  if (!flashPath.empty()) {
    std::ifstream in(flashPath, std::ios::binary);
    if (!in) Fail("cannot read " + flashPath + ": " + std::strerror(errno));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto image = std::make_unique<zelwik::Image>();
    zelwik::LoadHexText(*image, text);
    auto& flash = model.Flash();
    if (flash.empty()) Fail("an empty socket has no flash to load");
    for (std::size_t a = 0; a < flash.size(); ++a) flash[a] = image->MemoryImage[a];
    for (std::size_t a = flash.size(); a < image->MemoryImage.size(); ++a) {
      if (image->MemoryImage[a] != zelwik::kEmptyByte) {
        std::fprintf(stderr,
                     "zelwik-sim: bytes from %04zX on do not fit the %s and were left out\n", a,
                     zelwik::sim::SimChipName(*chip).c_str());
        break;
      }
    }
  }

  std::FILE* log = nullptr;
  if (!logPath.empty()) {
    log = std::fopen(logPath.c_str(), "w");
    if (!log) Fail("cannot write " + logPath + ": " + std::strerror(errno));
    setvbuf(log, nullptr, _IOLBF, 0);
  }

  // The reader of our stdout may go away after the first line (run.sh reads it from a fifo).
  signal(SIGPIPE, SIG_IGN);
  // Block the stop signals in every thread; the main thread takes them with sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGUSR1);
  sigaddset(&stopSignals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  PtySimulator simulator(model, static_cast<int>(baud));
  simulator.SetReplyLatency(static_cast<int>(latencyMs));
  std::string reason;
  if (!simulator.Open(reason)) Fail(reason);
  // The observer runs on the serving thread, the only one that touches the model here.
  simulator.SetFrameObserver(
      [log, &model](const Frame& frame, const std::vector<std::uint8_t>& reply) {
        // Nobody reads this process's frame log; a long session must not grow it without end.
        if (model.FrameLog().size() >= kFrameLogLimit) model.ClearFrameLog();
        if (!log) return;
        std::string line = HexFrame(frame) + " ->";
        char byte[4];
        for (std::uint8_t b : reply) {
          std::snprintf(byte, sizeof byte, " %02X", b);
          line += byte;
        }
        if (reply.empty()) line += " (no reply)";
        line += '\n';
        std::fputs(line.c_str(), log);
      });
  simulator.Start();
  std::printf("%s\n", simulator.SlavePath().c_str());
  std::fflush(stdout);

  // The chip is taken out and put back on a signal or on the swap timer; anything else stops.
  const timespec swapWait{static_cast<time_t>(swapMs / 1000), (swapMs % 1000) * 1000000L};
  for (;;) {
    const int signalNumber = swapMs > 0 ? sigtimedwait(&stopSignals, nullptr, &swapWait)
                                        : sigwaitinfo(&stopSignals, nullptr);
    if (signalNumber < 0 && errno == EINTR) continue;
    const bool out =
        signalNumber == SIGUSR1 || (signalNumber < 0 && simulator.WithModel([](DeviceModel& m) {
          return m.Chip() != zelwik::sim::SimChip::Empty;
        }));
    if (signalNumber >= 0 && signalNumber != SIGUSR1 && signalNumber != SIGUSR2) break;
    simulator.WithModel([out](DeviceModel& m) { out ? m.RemoveChip() : m.InsertChip(); });
  }
  simulator.Close();
  if (log) std::fclose(log);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Serve(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelwik-sim: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "zelwik-sim: unexpected failure\n");
  }
  return 1;
}
