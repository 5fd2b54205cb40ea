// Production runs: several programmers at once, chip after chip, the CSV log and the serial
// numbers, against simulated programmers whose frames are checked; the SHA-256, the serial
// encodings and the table of operations the packaging reads.
#include "cli/production.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli/command_line.h"
#include "cli/production_files.h"
#include "cli/run_log.h"
#include "cli/serial_numbers.h"
#include "link/commands.h"
#include "ops/command_table.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace zelwik::cli {
namespace {

using sim::SimChip;
using testing::ReadFile;
using testing::SimHarness;
using testing::TempDir;
using testing::WriteFile;
using namespace std::chrono_literals;

// 256 bytes of data from address 0, none of them at 7F0.
constexpr const char* kFirmware =
    ":10000000000102030405060708090A0B0C0D0E0F78\n"
    ":10001000101112131415161718191A1B1C1D1E1F68\n"
    ":00000001FF\n";

struct CliRun {
  int status;
  std::string out, err;
};

CliRun Cli(const std::vector<std::string>& args, std::istream* input = nullptr,
           std::ostream* progress = nullptr, const PortListRoots& roots = {}) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, progress, roots, input);
  return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The log's records as Python's csv module reads them: a crash must leave nothing else.
std::vector<std::vector<std::string>> CsvRows(const std::string& path) {
  WriteFile(path + ".py",
            "import csv, sys\n"
            "for row in csv.reader(open(sys.argv[1], newline='', encoding='utf-8')):\n"
            "    print('\\x1f'.join(row))\n");
  std::FILE* pipe = popen(("python3 " + path + ".py " + path + " 2>&1").c_str(), "r");
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << text;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Lines(text)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\x1f');) fields.push_back(field);
    if (!line.empty() && line.back() == '\x1f') fields.emplace_back();
    EXPECT_EQ(fields.size(), 11u) << line;
    rows.push_back(fields);
  }
  return rows;
}
enum Column { kTime, kPort, kChip, kCommand, kFile, kSha, kBytes, kSerial, kResult, kMs, kMessage };

std::uint16_t SerialIn(SimHarness& sim) {
  return sim.WithModel([](sim::DeviceModel& m) {
    return static_cast<std::uint16_t>(m.Flash()[0x7F0] | m.Flash()[0x7F1] << 8);
  });
}

TEST(SerialNumbers, EncodingsAndWhatDoesNotFit) {
  std::string why;
  const struct {
    const char* layout;
    std::uint64_t number;
    std::vector<std::uint8_t> bytes;
  } cases[] = {{"7F0:2:1000", 0x1234, {0x34, 0x12}},
               {"0:3:1:1:be", 0x010203, {0x01, 0x02, 0x03}},
               {"10:2:0:5:bcd", 1234, {0x12, 0x34}},
               {"FFFC:4:0:1:ascii", 42, {'0', '0', '4', '2'}}};
  for (const auto& c : cases) {
    const auto layout = ParseSerialLayout(c.layout, why);
    ASSERT_TRUE(layout) << c.layout << ": " << why;
    EXPECT_EQ(EncodeSerial(*layout, c.number), c.bytes) << c.layout;
  }
  const auto le = ParseSerialLayout("0:2:0", why);
  EXPECT_TRUE(SerialFits(*le, 65535));
  EXPECT_FALSE(SerialFits(*le, 65536));
  const auto bcd = ParseSerialLayout("0:1:0:bcd", why);
  EXPECT_TRUE(SerialFits(*bcd, 99));
  EXPECT_FALSE(SerialFits(*bcd, 100));
  for (const char* bad : {"7F0:2", "7F0:2:70000", "7F0:0:1", "FFFF:2:1", "G0:1:1", "0:1:1:0",
                          "0:1:1:1:xx", "0:2:100:bcd:1", "0:3:1000:ascii", "0:1:-1"})
    EXPECT_FALSE(ParseSerialLayout(bad, why)) << bad;
}

TEST(RunLog, FieldsAreQuotedOnlyWhenTheyMustBe) {
  LogRecord r;
  r.time = "t";
  r.message = " Błąd: \"x\", y";
  r.file = "a\nb.hex";
  EXPECT_EQ(CsvLine(r), "t,,,,\"a\nb.hex\",,,,,0,\" Błąd: \"\"x\"\", y\"\n");
}

// The word with a blank or a line end on each side.
bool HasWord(const std::string& text, const std::string& word) {
  for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; ++at) {
    const char after = at + word.size() < text.size() ? text[at + word.size()] : '\n';
    if (at > 0 && std::isspace(static_cast<unsigned char>(text[at - 1])) && std::isspace(after))
      return true;
  }
  return false;
}

// The packaging names every command of the table: the completion offers them, the manual page
// describes them.
TEST(CommandTable, CompletionAndManualPageNameEveryCommand) {
  const std::string completion = ReadFile(ZELWIK_SOURCE_DIR "/packaging/completion/zelwik-cli");
  const std::string manual = ReadFile(ZELWIK_SOURCE_DIR "/packaging/man/zelwik-cli.1");
  ASSERT_FALSE(completion.empty());
  for (const OperationEntry& entry : Operations()) {
    std::string roff;
    for (char c : std::string(entry.name)) roff += c == '-' ? "\\-" : std::string(1, c);
    EXPECT_TRUE(HasWord(completion, entry.name)) << entry.name;
    EXPECT_NE(manual.find(roff), std::string::npos) << entry.name;
  }
}

// Bad input: a clear error, and nothing at all reaches any programmer.
TEST(ProductionInput, RefusedBeforeAnyFrame) {
  TempDir dir;
  SimHarness a(SimChip::C2051), b(SimChip::C2051);
  WriteFile(dir / "fw.hex", kFirmware);
  WriteFile(dir / "full.hex", ":0107F000AA5E\n:00000001FF\n");
  WriteFile(dir / "corrupt.serial", "12x\n");
  const std::string log = dir / "run.csv";
  const std::string fw = dir / "fw.hex";
  const struct {
    std::vector<std::string> args;
    int status;
    const char* why;
  } cases[] = {
      {{"--port", a.Path(), "--port", a.Path(), "erase"}, 2, "given twice"},
      {{"--port", a.Path(), "--port", b.Path(), "read", dir / "x.hex"}, 2, "read takes one port"},
      {{"--port", a.Path(), "--repeat", "verify", fw}, 2, "--repeat goes with"},
      {{"--port", a.Path(), "--repeat=auto", "signature-device"}, 2, "--repeat goes with"},
      {{"--port", a.Path(), "--serial", "7F0:1:256", "--log", log, "program", fw}, 2, "not fit"},
      {{"--port", a.Path(), "--chip", "89C2051", "--serial", "7FF:2:1", "--log", log, "program",
        fw},
       2,
       "2048 bytes"},
      {{"--port", a.Path(), "--serial", "7F0:2:1", "program", fw}, 2, "--serial-file or --log"},
      {{"--port", a.Path(), "--serial", "7F0:2:1", "--serial-file", dir / "corrupt.serial",
        "program", fw},
       1,
       "not a serial number state file"},
      {{"--port", a.Path(), "--serial", "7F0:2:1", "--log", log, "program", dir / "full.hex"},
       1,
       "data at 07F0"},
      {{"--port", a.Path(), "--log", dir / "no/such/dir.csv", "erase"}, 1, "cannot write the log"},
      {{"--port", a.Path(), "--verify", "erase"}, 2, "--verify goes with program"},
  };
  for (const auto& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, c.status) << c.why;
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
  }
  // A state file another run holds.
  bool busy = false;
  std::string reason;
  const auto held = ExclusiveLock::Take(dir / "held.serial.lock", busy, reason);
  ASSERT_TRUE(held) << reason;
  const CliRun run = Cli({"--port", a.Path(), "--serial", "7F0:2:1", "--serial-file",
                          dir / "held.serial", "program", fw});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("in use by another run"), std::string::npos) << run.err;
  EXPECT_TRUE(a.Frames().empty());
  EXPECT_TRUE(b.Frames().empty());
  EXPECT_EQ(ReadFile(dir / "corrupt.serial"), "12x\n");
}

// Three programmers at once, one of them going silent half way: the others finish with their
// own serial numbers, every line is whole and names its port, and the status tells the failure.
TEST(Production, ThreePortsOneSilentHalfWay) {
  TempDir dir;
  WriteFile(dir / "fw.hex", kFirmware);
  sim::Faults silent;
  silent.stopAfterFrames = 2000;  // about half of the 2,034 bytes' frames
  SimHarness sims[3]{SimHarness(SimChip::C2051), SimHarness(SimChip::C2051, silent),
                     SimHarness(SimChip::C2051)};
  const CliRun run = Cli({"--port", sims[0].Path(), "--port", sims[1].Path(), "--port",
                          sims[2].Path(), "--timeout", "300", "--serial", "7F0:2:1000:1:le",
                          "--log", dir / "run.csv", "program", dir / "fw.hex"});
  EXPECT_EQ(run.status, 1);
  std::map<std::string, std::vector<std::string>> byPort;
  for (const std::string& line : Lines(run.out)) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    byPort[line.substr(0, colon)].push_back(line.substr(colon + 2));
  }
  const std::string names[3] = {PortShortName(sims[0].Path()), PortShortName(sims[1].Path()),
                                PortShortName(sims[2].Path())};
  for (int i : {0, 2})
    EXPECT_EQ(byPort[names[i]],
              (std::vector<std::string>{" Zapisywanie pamięci...", " Zpisywanie zakończono...",
                                        " Gotowy...", "passed 1, failed 0"}))
        << run.out;
  EXPECT_EQ(byPort[names[1]], (std::vector<std::string>{" Zapisywanie pamięci...",
                                                        "Błąd transmisji lub brak programatora",
                                                        " Gotowy...", "passed 0, failed 1"}))
      << run.out;
  const std::set<std::uint16_t> stamped = {SerialIn(sims[0]), SerialIn(sims[2])};
  EXPECT_EQ(stamped.size(), 2u);
  const auto rows = CsvRows(dir / "run.csv");
  ASSERT_EQ(rows.size(), 4u);
  std::set<std::string> serials;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    serials.insert(rows[r][kSerial]);
    const bool ok = rows[r][kPort] != sims[1].Path();
    EXPECT_EQ(rows[r][kResult], ok ? "ok" : "link-failure");
    for (int i : {0, 2}) {
      if (ok && rows[r][kPort] == sims[i].Path()) {
        EXPECT_EQ(rows[r][kSerial], std::to_string(SerialIn(sims[i])));
      }
    }
  }
  EXPECT_EQ(serials, (std::set<std::string>{"1000", "1001", "1002"}));
  EXPECT_EQ(ReadFile(dir / "run.serial"), "1003\n");
}

// --port all: every port whose probe is answered, and no more than the probe to the others.
TEST(Production, AllPortsAreTheAnsweringOnes) {
  SimHarness sims[3]{SimHarness(SimChip::C2051), SimHarness(SimChip::C2051),
                     SimHarness(SimChip::C2051)};
  sims[1].WithModel([](sim::DeviceModel& m) { m.MutableFaults().neverAnswer = true; });
  testing::FakePorts ports;
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    ports.Tty("ttyUSB" + n, "usb1/1-" + n + "/ttyUSB" + n, "ftdi_sio", -1, sims[i].Path());
  }
  const CliRun run = Cli({"--port", "all", "erase"}, nullptr, nullptr, ports.Roots());
  EXPECT_EQ(run.status, 0) << run.err;
  std::multiset<std::string> lines;
  for (const std::string& line : Lines(run.out)) lines.insert(line);
  EXPECT_EQ(lines, (std::multiset<std::string>{"ttyUSB0:  Układ wymazano...", "ttyUSB0:  Gotowy...",
                                               "ttyUSB0: passed 1, failed 0",
                                               "ttyUSB2:  Układ wymazano...", "ttyUSB2:  Gotowy...",
                                               "ttyUSB2: passed 1, failed 0"}));
  EXPECT_EQ(testing::FramesText(sims[1].Frames()), "FF000000");
  EXPECT_EQ(Cli({"--port", "all", "read", "x.hex"}, nullptr, nullptr, ports.Roots()).status, 2);
}

// The progress line: one port's bar ends full; with two, each port's share, and the line is
// taken away at the end.
TEST(Production, ProgressLineShowsEachPortsShare) {
  TempDir dir;
  WriteFile(dir / "fw.hex", kFirmware);
  SimHarness a(SimChip::C51_12V), b(SimChip::C51_12V);
  std::ostringstream one;
  ASSERT_EQ(Cli({"--port", a.Path(), "program", dir / "fw.hex"}, nullptr, &one).status, 0);
  EXPECT_NE(one.str().find("\r[##############################] 32/32 B"), std::string::npos)
      << one.str();
  std::ostringstream two;
  ASSERT_EQ(Cli({"--port", a.Path(), "--port", b.Path(), "program", dir / "fw.hex"}, nullptr, &two)
                .status,
            0);
  for (const std::string& name : {PortShortName(a.Path()), PortShortName(b.Path())})
    EXPECT_NE(two.str().find(name + " 100%"), std::string::npos) << two.str();
  EXPECT_EQ(two.str().substr(two.str().size() - 4), "\r\x1b[K");
}

// The operator at the prompt: the callback sees each chip done, then Enter, and q after five.
class Operator : public std::streambuf {
 public:
  explicit Operator(std::function<void(int)> nextChip) : nextChip_(std::move(nextChip)) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    nextChip_(++prompts_);
    line_ = prompts_ < 5 ? "\n" : "q\n";
    setg(line_.data(), line_.data(), line_.data() + line_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::function<void(int)> nextChip_;
  std::string line_;
  int prompts_ = 0;
};

// Five chips one after another with --verify and --lock; the third has a bad cell. Every chip
// gets its own number, the bad one's stays used, and the totals tell four passed and one failed.
TEST(Production, RepeatFiveChipsOneFailing) {
  TempDir dir;
  WriteFile(dir / "fw.hex", kFirmware);
  SimHarness sim(SimChip::C2051);
  std::vector<std::uint16_t> programmed;
  Operator input([&](int prompt) {
    programmed.push_back(SerialIn(sim));
    if (prompt == 5) return;
    sim.WithModel([next = prompt + 1](sim::DeviceModel& m) {
      m.RemoveChip();
      m.InsertChip();
      if (next == 3)
        m.MutableFaults().wrongByteAtAddress = 0x10;
      else
        m.MutableFaults().wrongByteAtAddress.reset();
    });
  });
  std::istream in(&input);
  const CliRun run = Cli({"--port", sim.Path(), "--repeat", "--verify", "--lock", "2", "--serial",
                          "7F0:2:1:1:le", "--log", dir / "run.csv", "program", dir / "fw.hex"},
                         &in);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Lines(run.out).back(), PortShortName(sim.Path()) + ": passed 4, failed 1");
  EXPECT_EQ(Lines(run.err), std::vector<std::string>(5, kTextNextChip));
  EXPECT_EQ(programmed, (std::vector<std::uint16_t>{1, 2, 0xFFFF, 4, 5}));
  EXPECT_TRUE(sim.WithModel([](sim::DeviceModel& m) { return m.Locks().lock2; }));
  std::vector<std::string> summary;
  for (const auto& row : CsvRows(dir / "run.csv"))
    summary.push_back(row[kSerial] + " " + row[kCommand] + " " + row[kResult]);
  EXPECT_EQ(summary,
            (std::vector<std::string>{"serial command result", "1 program ok", "1 verify ok",
                                      "1 lock2 ok", "2 program ok", "2 verify ok", "2 lock2 ok",
                                      "3 program mismatch", "4 program ok", "4 verify ok",
                                      "4 lock2 ok", "5 program ok", "5 verify ok", "5 lock2 ok"}));
}

// zelwik-cli as a process, with the given standard input (none: /dev/null).
struct Process {
  Process(const std::string& dir, const std::string& args, const std::string& input = {}) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid = fork();
    if (pid == 0) {
      dup2(fds[0], STDIN_FILENO);
      close(fds[0]);
      close(fds[1]);
      const std::string command =
          "cd " + dir + " && exec " ZELWIK_CLI_PATH " " + args + " >>out 2>>err";
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[0]);
    // Within the pipe's buffer, so that this never waits.
    if (write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
      ADD_FAILURE() << "input not written";
    close(fds[1]);
  }
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  pid_t pid;
};

std::size_t LineCount(const std::string& path) { return Lines(ReadFile(path)).size(); }

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  for (const auto end = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms))
    if (condition()) return true;
  return false;
}

// Serial numbers per programming session in a simulator's frame log ("0E0000AA -> AA" lines):
// the two bytes written at 7F0 of every session that got that far.
std::vector<std::string> SerialsReceived(const std::string& frames) {
  std::vector<std::string> serials;
  int address = -1;
  int low = 0;
  for (const std::string& line : Lines(frames)) {
    const int command = std::stoi(line.substr(0, 2), nullptr, 16);
    if (command == CMD_ERASE_20) address = -2;  // the next START begins the writes
    if (command == CMD_START && address == -2) address = 0;
    if (command != CMD_WRITE_20 || address < 0) continue;
    const int data = std::stoi(line.substr(6, 2), nullptr, 16);
    if (address == 0x7F0) low = data;
    if (address == 0x7F1) serials.push_back(std::to_string(low | data << 8));
    ++address;
  }
  return serials;
}

// The whole run: three programmers with --repeat=auto, one going silent in its first chip; new
// chips go into the other two sockets; Ctrl+C ends it with the totals, and the log holds exactly
// the serial numbers each simulator received.
TEST(Production, EndToEndAutoRepeatEndsOnCtrlC) {
  TempDir dir;
  WriteFile(dir / "fw.hex", kFirmware);
  testing::SimProcess sims[3]{
      testing::SimProcess("--chip 89C2051 --log " + (dir / "frames0")),
      testing::SimProcess("--chip 89C2051 --stop-after 1500 --log " + (dir / "frames1")),
      testing::SimProcess("--chip 89C2051 --log " + (dir / "frames2"))};
  Process cli(dir.path(), "--port " + sims[0].path + " --port " + sims[1].path + " --port " +
                              sims[2].path +
                              " --repeat=auto --serial 7F0:2:1000:1:le "
                              "--log run.csv program fw.hex");
  const std::string log = dir / "run.csv";
  ASSERT_TRUE(WaitFor([&] { return LineCount(log) == 4; })) << ReadFile(log);
  for (int round = 0; round < 2; ++round) {
    for (int i : {0, 2}) kill(sims[i].pid, SIGUSR1);
    std::this_thread::sleep_for(600ms);  // seen empty
    for (int i : {0, 2}) kill(sims[i].pid, SIGUSR2);
    ASSERT_TRUE(WaitFor([&] { return LineCount(log) == 6u + 2 * round; })) << ReadFile(log);
  }
  kill(cli.pid, SIGINT);
  EXPECT_EQ(cli.Wait(), 130);
  const std::vector<std::string> out = Lines(ReadFile(dir / "out"));
  ASSERT_GE(out.size(), 3u);
  const std::set<std::string> totals(out.end() - 3, out.end());
  EXPECT_EQ(totals,
            (std::set<std::string>{PortShortName(sims[0].path) + ": passed 3, failed 0",
                                   PortShortName(sims[1].path) + ": passed 0, failed 1, stopped",
                                   PortShortName(sims[2].path) + ": passed 3, failed 0"}));
  std::set<std::string> all;
  for (int i = 0; i < 3; ++i) {
    sims[i].Stop(SIGTERM);
    std::vector<std::string> logged;
    for (const auto& row : CsvRows(log)) {
      if (row[kPort] != sims[i].path) continue;
      logged.push_back(row[kSerial]);
      EXPECT_EQ(row[kResult], i == 1 ? "link-failure" : "ok");
      all.insert(row[kSerial]);
    }
    EXPECT_EQ(logged.size(), i == 1 ? 1u : 3u);
    if (i != 1) {
      EXPECT_EQ(SerialsReceived(ReadFile(dir / ("frames" + std::to_string(i)))), logged);
    }
  }
  EXPECT_EQ(all.size(), 7u);
}

// A run killed with SIGKILL again and again, restarted each time, while chip after chip is
// programmed as fast as Enter comes: no serial number is given twice, and the log stays whole CSV.
TEST(Production, KilledRunsNeverGiveANumberTwice) {
  TempDir dir;
  WriteFile(dir / "fw.hex", kFirmware);
  testing::SimProcess sims[2]{testing::SimProcess("--chip 89C2051"),
                              testing::SimProcess("--chip 89C2051")};
  for (int run = 0; run < 4; ++run) {
    Process cli(dir.path(),
                "--port " + sims[0].path + " --port " + sims[1].path +
                    " --timeout 1000 --repeat --serial 7F0:2:1:1:le --log run.csv program fw.hex",
                std::string(4096, '\n'));
    // Killed at a different point of a chip each time, once the run has logged one.
    const std::size_t logged = LineCount(dir / "run.csv");
    EXPECT_TRUE(WaitFor([&] { return LineCount(dir / "run.csv") > logged; }, 60s));
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 230 * run));
    kill(cli.pid, SIGKILL);
    EXPECT_EQ(cli.Wait(), -SIGKILL);
  }
  const auto rows = CsvRows(dir / "run.csv");
  ASSERT_GT(rows.size(), 4u);
  EXPECT_EQ(rows[0][kTime], "time");
  std::set<int> serials;
  int highest = 0;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const int serial = std::stoi(rows[r][kSerial]);
    EXPECT_TRUE(serials.insert(serial).second) << serial << " twice";
    highest = std::max(highest, serial);
  }
  EXPECT_GT(std::stoi(ReadFile(dir / "run.serial")), highest);
}

}  // namespace
}  // namespace zelwik::cli
