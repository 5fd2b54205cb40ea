// zelwik-cli: the terminal character column and usage errors; the program against the zelwik-sim
// executable on a pseudo-terminal; image files and ports in process against simulated
// programmers, so that the frames they received can be checked.
#include <gtest/gtest.h>
#include <iconv.h>
#include <termios.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "cli/command_line.h"
#include "cli/cp1250.h"
#include "image/hex_file.h"
#include "support/cli_process.h"
#include "support/fake_ports.h"
#include "support/line_settings.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik::cli {
namespace {

namespace fs = std::filesystem;
using sim::SimChip;
using testing::Cli;
using testing::CliRun;
using testing::FramesText;
using testing::LineSettings;
using testing::ReadFile;
using testing::SameLine;
using testing::SimHarness;
using testing::TempDir;
using testing::WriteFile;

TEST(Cp1250, HighHalfMatchesTheSystemConverter) {
  iconv_t cd = iconv_open("UTF-8", "CP1250");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP1250 in iconv";
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in[1] = {static_cast<char>(b)}, out[8] = {}, *inPtr = in, *outPtr = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    const bool defined = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != std::size_t(-1);
    const bool cell = defined && b != 0xAD;  // the soft hyphen takes no cell of its own
    EXPECT_EQ(TerminalChar(std::uint8_t(b)), cell ? std::string(out, outPtr) : ".") << b;
  }
  iconv_close(cd);
}

TEST(CommandLine, UsageErrorsExitTwoWithOneLine) {
  for (const char* line :
       {"", "frobnicate", "program", "erase extra", "--chip 89C53 erase", "--port", "--port  erase",
        "--timeout 0 erase", "--timeout 12ms erase", "--timeout 99999999999 erase", "-x erase",
        "--format=s19 list x", "--probe erase"}) {
    std::vector<std::string> args;  // split at each blank: "--port  erase" has an empty port
    for (std::string_view rest = line; !rest.empty();) {
      const std::size_t blank = std::min(rest.find(' '), rest.size());
      args.emplace_back(rest.substr(0, blank));
      rest.remove_prefix(std::min(blank + 1, rest.size()));
    }
    const CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << line;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // one line
  }
  const CliRun run = Cli({"--port=/nonexistent/tty", "erase"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Błąd transmisji lub brak programatora\n Gotowy...\n");
  EXPECT_NE(run.err.find("/nonexistent/tty: No such file"), std::string::npos) << run.err;
}

// zelwik-sim serving the chip (and options) given, and the option that points zelwik-cli at it.
struct Simulator : testing::SimProcess {
  explicit Simulator(const std::string& chip) : SimProcess("--chip " + chip) {}
  std::string Port() const { return " --port " + path; }
};

// The programs run in a directory of their own.
class EndToEnd : public ::testing::Test {
 protected:
  std::string Read(const char* name) { return ReadFile(dir_ / name); }
  TempDir dir_;
};

// What each outcome prints and exits with; a read that fails leaves no file behind. A success
// writes nothing to stderr: no diagnostics, and no progress bar off a terminal.
TEST_F(EndToEnd, ExitStatusesAndFailures) {
  WriteFile(dir_ / "text.hex", ":0700000041071BA5817F0AE7\r\n:00000001FF\r\n");
  WriteFile(dir_ / "big.hex", ":0108000041B6\n:00000001FF\n");
  const struct {
    const char *sim, *args;
    int status;
    const char* out;
  } cases[] = {
      {"89C2051", "program text.hex", 0,
       " Odczytano 7 bajtów.\n Zapisywanie pamięci...\n Zpisywanie zakończono...\n Gotowy...\n"},
      {"89C2051", "verify text.hex", 1,
       " Odczytano 7 bajtów.\n Weryfikowanie pamięci...\n Błąd: 0000 jest FF ma byc 41\n"
       " Gotowy...\n"},
      {"89C1051", "read y.hex", 0,
       " Odczytywanie pamięci...\n Odczytywanie zakończono...\n Gotowy...\n Zapisano 0 bajtów.\n"},
      {"89C1051", "lock3", 1, " Układ nie posiada tej blokady !\n Gotowy...\n"},
      {"89C2051", "program big.hex", 1, " Odczytano 2049 bajtów.\n Za mało pamięci\n Gotowy...\n"},
      {"89C2051", "blank-check", 0, " Sprawdzanie czystości...\n Układ jest czysty.\n Gotowy...\n"},
      {"89C51", "--chip OTHER erase", 0, " Układ wymazano...\n Gotowy...\n"},
      {"89C51", "verify missing.hex", 1, " Błąd I/O ...\n Odczytano 0 bajtów.\n"},
      {"empty", "read x.hex", 1, " Brak układu lub sygnatury\n Gotowy...\n"},
      {"89C4051 --stop-after 500", "--timeout 200 read x.hex", 1,  // pulled out mid-read
       " Odczytywanie pamięci...\nBłąd transmisji lub brak programatora\n Gotowy...\n"},
      {"89C1051", "read no-dir/x.hex", 1,
       " Odczytywanie pamięci...\n Odczytywanie zakończono...\n Gotowy...\n Błąd I/O ...\n"},
      // Control bytes and undefined codes in the character column never reach the terminal.
      {"89C51", "list text.hex", 0,
       "0000:41071BA5817F0AFFFFFFFFFFFFFFFFFF A..Ą...˙˙˙˙˙˙˙˙˙\n Odczytano 7 bajtów.\n"
       " Suma CRC-32 (0000-0006): A715233F\n"},
  };
  for (const auto& c : cases) {
    Simulator sim(c.sim);
    EXPECT_EQ(testing::CliProcess(dir_.path(), sim.Port() + " " + c.args).Wait(), c.status)
        << c.args << Read("err");
    EXPECT_EQ(Read("out"), c.out) << c.args;
    EXPECT_TRUE(c.status != 0 || Read("err").empty()) << Read("err");
    EXPECT_FALSE(fs::exists(dir_ / "x.hex")) << c.args;
  }
}

// Ctrl+C (or SIGTERM) stops a read between two exchanges: the closing STOP goes out, the read
// saves nothing and an existing file stays as it was, the line is handed back as it was before
// the program started, and the status tells which signal. A second Ctrl+C while a silent
// programmer's reply is awaited ends at once, the line handed back all the same.
TEST_F(EndToEnd, InterruptStopsBetweenExchangesAndLeavesTheLineAndFilesAlone) {
  for (const int signal : {SIGINT, SIGTERM}) {
    Simulator sim("89C55 --baud 115200 --log " + (dir_ / "frames"));
    termios before = LineSettings(sim.path);
    cfsetspeed(&before, B9600);
    before.c_lflag |= ICANON | ECHO;
    LineSettings(sim.path, &before);
    WriteFile(dir_ / "keep.hex", "keep");
    testing::CliProcess cli(dir_.path(), sim.Port() + " read keep.hex");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    kill(cli.pid, signal);
    EXPECT_EQ(cli.Wait(std::chrono::seconds(5)), 128 + signal);
    EXPECT_EQ(Read("out"), " Odczytywanie pamięci...\n Przerwano.\n");
    EXPECT_EQ(Read("keep.hex"), "keep");
    EXPECT_TRUE(SameLine(LineSettings(sim.path), before));
    sim.Stop(SIGTERM);
    const std::vector<std::string> lines = testing::Lines(Read("frames"));
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines.back(), "13000000 -> 00");
    EXPECT_EQ(lines[lines.size() - 2].substr(0, 2), "01") << "a read frame before the STOP";
  }
  // The same for every port of a run.
  for (const char* command : {" read x.hex", " blank-check"}) {
    Simulator silent[2]{Simulator("89C51 --stop-after 200"), Simulator("89C51 --stop-after 300")};
    const termios before[2] = {LineSettings(silent[0].path), LineSettings(silent[1].path)};
    const bool both = command[1] == 'b';
    testing::CliProcess cli(dir_.path(), silent[0].Port() + (both ? silent[1].Port() : "") +
                                             " --timeout 20000" + command);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(cli.pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto second = std::chrono::steady_clock::now();
    kill(cli.pid, SIGINT);
    EXPECT_EQ(cli.Wait(std::chrono::seconds(5)), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - second, std::chrono::seconds(2));
    for (int i = 0; i <= int{both}; ++i)
      EXPECT_TRUE(SameLine(LineSettings(silent[i].path), before[i])) << command << i;
  }
  EXPECT_FALSE(fs::exists(dir_ / "x.hex"));
}

// An empty option is left out.
CliRun Cli(SimHarness& sim, const std::string& option, const char* command,
           const std::string& file) {
  std::vector<std::string> args = {"--port", sim.Path(), "--timeout", "500", command, file};
  if (!option.empty()) args.insert(args.begin(), option);
  return Cli(args);
}

// Data with 0xFF among it in the first `programmed` bytes, erased above.
std::vector<std::uint8_t> Flash(SimHarness& sim, int programmed = 0) {
  return sim.WithModel([&](sim::DeviceModel& m) {
    for (int a = 0; a < programmed; ++a) m.Flash()[a] = std::uint8_t(a % 7 ? a * 5 : 0xFF);
    return m.Flash();
  });
}

// A backup holds exactly the chip's memory and restores it onto an erased chip; --format wins
// over the extension.
TEST(Formats, BackupsRestoreTheChip) {
  const struct {
    SimChip chip;
    const char *option, *file;
  } cases[] = {{SimChip::C2051, "", "chip.BIN"}, {SimChip::C1051, "--format=SREC", "chip.hex"}};
  for (const auto& c : cases) {
    TempDir dir;
    SimHarness source(c.chip), target(c.chip);
    const auto flash = Flash(source, 100);
    ASSERT_EQ(Cli(source, c.option, "read", dir / c.file).status, 0) << c.file;
    const std::string saved = ReadFile(dir / c.file);
    EXPECT_TRUE(*c.option ? saved.starts_with("S0030000FC\r\nS1")
                          : saved == std::string(flash.begin(), flash.end()))
        << c.file;
    EXPECT_EQ(Cli(target, c.option, "program", dir / c.file).status, 0) << c.file;
    EXPECT_EQ(Cli(target, c.option, "verify", dir / c.file).status, 0) << c.file;
    EXPECT_EQ(Flash(target), flash);
  }
}

// A refused file is named with the line of its first bad record, and nothing reaches the
// programmer, not even the probe. Without --strict, HEX stays as forgiving as in the window.
TEST(Formats, RefusedFilesSendNothing) {
  const struct {
    const char *file, *option;
    std::string content;
    const char* why;
  } cases[] = {
      {"big.bin", "", std::string(65537, '\0'), "big.bin: more than 65536 bytes"},
      {"sum.s19", "", "S1040000AA51\nS1040001BB00\n", "sum.s19: line 2: checksum"},
      {"sum.hex", "--strict", ":01000000AA55\n:01000100BB00\n:00000001FF\n", "line 2: checksum"}};
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / c.file, c.content);
    SimHarness sim(SimChip::C2051);
    for (const char* command : {"program", "verify"}) {
      const CliRun run = Cli(sim, c.option, command, dir / c.file);
      EXPECT_EQ(run.status, 1) << c.file;
      EXPECT_EQ(run.out, "") << c.file;
      EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    }
    EXPECT_TRUE(sim.Frames().empty()) << c.file;
    EXPECT_EQ(Cli(sim, "", "program", dir / c.file).status, *c.option ? 0 : 1);
  }
}

// An adapter that holds every reply back 10 ms: one warning, with an estimate of the whole
// operation within a fifth of what it took, and the fix. (At full speed none: the outcomes above
// leave nothing on stderr.)
TEST_F(EndToEnd, ASlowLinkIsWarnedOfOnceWithItsCostAndItsFix) {
  auto image = std::make_unique<Image>();
  for (int a = 0; a < 300; ++a) image->MemoryImage[a] = static_cast<std::uint8_t>(a * 7 % 255);
  FindImageEnd(*image);
  WriteFile(dir_ / "slow.hex", HexText(*image));
  Simulator sim("89C52 --latency 10");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(testing::CliProcess(dir_.path(), sim.Port() + " program slow.hex").Wait(), 0)
      << Read("err");
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string err = Read("err");
  const std::size_t about = err.find("this operation will take about ");
  ASSERT_NE(about, std::string::npos) << err;
  EXPECT_EQ(err.find("slow link"), err.rfind("slow link"));
  const double estimate = std::atof(err.c_str() + about + 31);
  EXPECT_NEAR(estimate, took, took / 5) << err;
  EXPECT_NE(err.find("echo 1 | sudo tee /sys/bus/usb-serial/devices/"), std::string::npos);
  EXPECT_NE(err.find("ATTR{latency_timer}=\"1\""), std::string::npos);
}

// On a terminal a bar shows the bytes done, their pace and the time so far, and goes at the end.
TEST(ProgressBar, BytesPaceAndTimeThenGone) {
  SimHarness sim(SimChip::C2051);
  testing::TempDir dir;
  std::ostringstream bar;
  ASSERT_EQ(Cli({"--port", sim.Path(), "read", dir / "x.hex"}, {}, nullptr, &bar).status, 0);
  const std::string text = bar.str();
  EXPECT_NE(text.find("\r[" + std::string(30, '#') + "] 2048/2048 B  "), std::string::npos) << text;
  EXPECT_NE(text.find(" B/s  0:00 elapsed"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("\r\x1b[K")) << text;
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
    ports_.LatencyTimer("usb1/1-0/ttyUSB0", "16\n");
    ports_.LatencyTimer("usb1/1-1/ttyUSB1", "junk\n");
    sims_[1].WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
    sims_[2].WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply = 0x00; });
  }
  std::string Dev(const std::string& name) { return ports_.Root("dev/" + name); }
  std::string Frames(int i) { return FramesText(sims_[i].Frames()); }

  SimHarness sims_[4]{SimHarness(SimChip::C2051), SimHarness(SimChip::C2051),
                      SimHarness(SimChip::C2051), SimHarness(SimChip::C2051)};
  testing::FakePorts ports_;
};

TEST_F(Ports, OneLineADeviceAndTheProbeOnlyToTheFreeOnes) {
  setenv("ZELWIK_COM3", Dev("ttyUSB1").c_str(), 1);
  CliRun run = Cli({"ports"}, ports_.Roots());
  unsetenv("ZELWIK_COM3");
  EXPECT_EQ(run.out.substr(0, run.out.find('\n', run.out.find("ttyUSB1")) + 1),
            Dev("ttyS0") + "  driver serial8250  window: Interfejs, ttyS0\n" + Dev("ttyUSB0") +
                "  USB 0403:6001 FTDI FT232R USB UART  driver ftdi_sio  latency timer 16 ms  " +
                "window: Interfejs, ttyUSB0\n" + Dev("ttyUSB1") +
                "  driver pl2303  window: COM3\n");
  EXPECT_EQ(run.err, "");  // no advice to join a group that no port refused
  EXPECT_NE(run.out.find("cp210x  in use  window"), std::string::npos) << run.out;

  run = Cli({"ports", "--probe"}, ports_.Roots());
  EXPECT_EQ(run.status, 0);
  for (const char* state :
       {"serial8250  cannot open: not a serial device", "ftdi_sio  latency timer 16 ms  programmer",
        "pl2303  no answer", "ch341  answered 0x00 (not the programmer)", "cp210x  in use"})
    EXPECT_NE(run.out.find(state), std::string::npos) << state << "\n" << run.out;
}

TEST_F(Ports, AutoUsesTheOneProgrammerAndOtherwiseSaysWhatItFound) {
  CliRun run = Cli({"--port", "auto", "signature-maker"}, ports_.Roots());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, " Sygnatura producenta=1EH\n Gotowy...\n");
  EXPECT_EQ(Frames(0).substr(0, 17), "FF000000 FF000000");

  // --port all: every port whose probe is answered, and no more than the probe to the others.
  sims_[2].WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply.reset(); });
  for (int i : {0, 1, 2}) sims_[i].ClearFrames();
  run = Cli({"--port", "all", "erase"}, ports_.Roots());
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = testing::Lines(run.out);
  EXPECT_EQ(
      std::multiset<std::string>(lines.begin(), lines.end()),
      (std::multiset<std::string>{"ttyUSB0:  Układ wymazano...", "ttyUSB0:  Gotowy...",
                                  "ttyUSB0: passed 1, failed 0", "ttyUSB2:  Układ wymazano...",
                                  "ttyUSB2:  Gotowy...", "ttyUSB2: passed 1, failed 0"}));
  EXPECT_EQ(Frames(1), "FF000000");
  EXPECT_EQ(Cli({"--port", "all", "read", "x.hex"}, ports_.Roots()).status, 2);

  // Two programmers, then none: nothing beyond the probes is sent anywhere.
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
  // A command's help that goes on to a second line goes on under its first.
  const std::string help = Cli({"--help"}).out;
  EXPECT_NE(help.find("for the\n" + std::string(22, ' ') + "programmer\n"), std::string::npos);
  // The commands that take a file say so, and only they.
  EXPECT_NE(help.find("\n  program FILE "), std::string::npos) << help;
  EXPECT_NE(help.find("\n  erase "), std::string::npos) << help;
}

}  // namespace
}  // namespace zelwik::cli
