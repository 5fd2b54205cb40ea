// Production runs: several programmers at once, chip after chip, the CSV log and the serial
// numbers, against simulated programmers whose frames are checked; the SHA-256, the serial
// encodings and the table of operations the packaging reads.
#include "cli/production.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/prompt.h"
#include "job/job_file.h"
#include "link/commands.h"
#include "ops/command_table.h"
#include "production/job_run.h"
#include "production/production_files.h"
#include "production/run_log.h"
#include "production/serial_numbers.h"
#include "support/cli_process.h"
#include "support/fake_ports.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik::cli {
namespace {

using sim::SimChip;
using testing::Cli;
using testing::CliRun;
using testing::FramesText;
using testing::Lines;
using testing::ReadFile;
using testing::SimHarness;
using testing::TempDir;
using testing::WriteFile;
using namespace std::chrono_literals;
using namespace zelwik::production;

// 256 bytes of data from address 0, none of them at 7F0.
constexpr const char* kFirmware =
    ":10000000000102030405060708090A0B0C0D0E0F78\n"
    ":10001000101112131415161718191A1B1C1D1E1F68\n"
    ":00000001FF\n";

// The log's rows as Python's csv module reads them, every one whole (a crash must leave nothing
// else), each as the columns its header names, joined by blanks.
std::vector<std::string> Summary(const std::string& path, const std::vector<std::string>& names) {
  WriteFile(path + ".py",
            "import csv, sys\n"
            "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
            "for row in rows:\n"
            "    assert len(row) == 12, row\n"
            "    print(' '.join(row[rows[0].index(name)] for name in sys.argv[2:]))\n");
  std::string command = "python3 " + path + ".py " + path;
  for (const std::string& name : names) command += " " + name;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << text;
  return Lines(text);
}

// A folder of the test's own, kFirmware in it as fw.hex.
class Production : public ::testing::Test {
 protected:
  Production() { WriteFile(fw_, kFirmware); }
  TempDir dir_;
  const std::string fw_ = dir_ / "fw.hex";
};
using ProductionInput = Production;
using JobRun = Production;

struct Refusal {
  std::vector<std::string> args;
  int status;
  std::string why;
};

// Each command line ends with its status and says why.
void ExpectRefused(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.status, c.status) << c.why;
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
  }
}

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
    std::uint64_t tooBig;
  } cases[] = {{"7F0:2:1000", 0x1234, {0x34, 0x12}, 0x10000},
               {"0:3:1:be", 0x010203, {0x01, 0x02, 0x03}, 0x1000000},
               {"10:2:0:5:bcd", 1234, {0x12, 0x34}, 10000},
               {"FFFC:4:0:1:ascii", 42, {'0', '0', '4', '2'}, 10000}};
  for (const auto& c : cases) {
    const auto layout = ParseSerialLayout(c.layout, why);
    ASSERT_TRUE(layout) << c.layout << ": " << why;
    EXPECT_EQ(EncodeSerial(*layout, c.number), c.bytes) << c.layout;
    EXPECT_TRUE(SerialFits(*layout, c.tooBig - 1)) << c.layout;
    EXPECT_FALSE(SerialFits(*layout, c.tooBig)) << c.layout;
  }
  for (const char* bad : {"7F0:2", "7F0:2:70000", "7F0:0:0", "FFFF:2:1", "G0:1:1", "0:1:1:0",
                          "0:1:1:1:xx", "0:2:100:bcd:1", "0:3:1000:ascii", "0:1:-1"})
    EXPECT_FALSE(ParseSerialLayout(bad, why)) << bad;
}

// Fields are quoted only when they must be; a log begun before the job column goes on in its own
// columns, without the job's name.
TEST(RunLog, FieldsAreQuotedOnlyWhenTheyMustBe) {
  LogRecord r;
  r.time = "t";
  r.message = " Błąd: \"x\", y";
  r.file = "a\nb.hex";
  r.job = "płytka, rev. B";
  EXPECT_EQ(CsvLine(r), "t,,,,\"a\nb.hex\",,,,,0,\" Błąd: \"\"x\"\", y\",\"płytka, rev. B\"\n");
  TempDir dir;
  WriteFile(dir / "old.csv", kLogHeaderWithoutJob);
  std::string why;
  RunLog old;
  ASSERT_TRUE(old.Open(dir / "old.csv", why)) << why;
  ASSERT_TRUE(old.Write(r, why)) << why;
  EXPECT_EQ(ReadFile(dir / "old.csv"), std::string(kLogHeaderWithoutJob) +
                                           "t,,,,\"a\nb.hex\",,,,,0,\" Błąd: \"\"x\"\", y\"\n");
}

// A step's row: a read stopped after its last exchange saved nothing, so its row names no file and
// no hash, and it says so; a completed program stays a success whatever came after it.
TEST(RunLog, RowsSayWhatTheStepLeft) {
  auto row = [](const StepOutcome& step) { return CsvLine(StepRow(step), false); };
  StepOutcome read;
  read.command = "read";
  read.fileUse = FileUse::Save;
  read.file = "chip.hex";
  read.message = " Odczytano 2048 bajtów.";
  read.stopped = true;
  EXPECT_EQ(row(read), std::string(",,,read,,,,,cancelled,0,") + kTextCancelled + "\n");
  read.stopped = false;
  read.save = StepOutcome::Save::Written;
  read.chipSha256 = "ab";
  read.chipBytes = 2048;
  EXPECT_EQ(row(read), ",,,read,chip.hex,ab,2048,,ok,0," + read.message + "\n");
  read.save = StepOutcome::Save::Failed;
  EXPECT_EQ(StepRow(read).result, "save-failed");

  StepOutcome program;
  program.fileUse = FileUse::Load;
  program.message = kTextWritten;
  program.stopped = true;
  program.file = "fw.hex";
  program.fileSha256 = "cd";
  EXPECT_EQ(row(program), std::string(",,,,fw.hex,cd,,,ok,0,") + kTextWritten + "\n");

  // A row's time is the local date as the system's clock shows it.
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y-%m-%dT", std::localtime(&now));
  EXPECT_EQ(LocalTimestamp().substr(0, 11), today);
}

// The log keeps whole lines: a line cut short by a full disk is ended, so the next one, from this
// run or the next, starts on its own line.
TEST(RunLog, ShortWriteLeavesNoLineToContinue) {
  TempDir dir;
  const std::string path = dir / "run.csv";
  bool empty = false;
  std::string reason;
  auto log = AppendFile::Open(path, empty, reason);
  ASSERT_TRUE(log) << reason;
  ASSERT_TRUE(log->Append("first,line\n", reason)) << reason;
  // The file may grow by 5 bytes only: the next line goes out in part.
  struct sigaction ignore = {}, saved = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &saved);
  rlimit limit{}, before{};
  getrlimit(RLIMIT_FSIZE, &before);
  limit = before;
  limit.rlim_cur = 11 + 5;
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_FALSE(log->Append("second,line\n", reason));
  setrlimit(RLIMIT_FSIZE, &before);
  sigaction(SIGXFSZ, &saved, nullptr);
  ASSERT_TRUE(log->Append("third,line\n", reason)) << reason;
  log.reset();
  // A torn line another run left: the next run's first line starts on its own too.
  WriteFile(dir / "other.csv", "a,b\ntorn,li");
  auto other = AppendFile::Open(dir / "other.csv", empty, reason);
  ASSERT_TRUE(other) << reason;
  ASSERT_TRUE(other->Append("next,line\n", reason)) << reason;
  other.reset();
  EXPECT_EQ(Lines(ReadFile(path)).back(), "third,line");
  EXPECT_EQ(Lines(ReadFile(dir / "other.csv")).back(), "next,line");
}

// A state file that is a link is followed to its file; one that leads nowhere is refused rather
// than read as "no numbers given yet".
TEST(SerialNumbers, StateFileLinks) {
  TempDir dir;
  std::string why;
  const auto layout = ParseSerialLayout("7F0:2:1", why);
  ASSERT_EQ(symlink((dir / "unmounted/run.serial").c_str(), (dir / "dangling.serial").c_str()), 0);
  SerialCounter dangling;
  EXPECT_FALSE(dangling.Open(dir / "dangling.serial", *layout, why));
  EXPECT_NE(why.find("link"), std::string::npos) << why;

  WriteFile(dir / "real.serial", "57\n");
  ASSERT_EQ(symlink("real.serial", (dir / "link.serial").c_str()), 0);
  SerialCounter linked;
  ASSERT_TRUE(linked.Open(dir / "link.serial", *layout, why)) << why;
  EXPECT_EQ(linked.Take(why), 57u) << why;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.serial"));
  EXPECT_EQ(ReadFile(dir / "real.serial"), "58\n");
  // A number that cannot be recorded is not given.
  std::filesystem::remove(dir / "real.serial");
  std::filesystem::create_directories(dir / "real.serial/in-the-way");
  EXPECT_FALSE(linked.Take(why));
}

// The packaging names every command of the table: the completion offers them, the manual page
// describes them.
TEST(CommandTable, CompletionAndManualPageNameEveryCommand) {
  const std::string completion = ReadFile(ZELWIK_SOURCE_DIR "/packaging/completion/zelwik-cli");
  const std::string manual = ReadFile(ZELWIK_SOURCE_DIR "/packaging/man/zelwik-cli.1");
  std::set<std::string> offered;  // the completion's words, between blanks
  std::istringstream in(completion);
  for (std::string word; in >> word;) offered.insert(word);
  for (const OperationEntry& entry : Operations()) {
    std::string roff;
    for (char c : std::string(entry.name)) roff += c == '-' ? "\\-" : std::string(1, c);
    EXPECT_TRUE(offered.contains(entry.name)) << entry.name;
    EXPECT_NE(manual.find(roff), std::string::npos) << entry.name;
  }
}

// Bad input: a clear error, and nothing at all reaches any programmer.
TEST_F(ProductionInput, RefusedBeforeAnyFrame) {
  SimHarness a(SimChip::C2051), b(SimChip::C2051);
  WriteFile(dir_ / "full.hex", ":0107F000AA5E\n:00000001FF\n");
  WriteFile(dir_ / "corrupt.serial", "12x\n");
  bool busy = false;
  std::string reason;
  const auto held = ExclusiveLock::Take(dir_ / "held.serial.lock", busy, reason);
  ASSERT_TRUE(held) << reason;
  // More ports than Ctrl+C can reach.
  std::vector<std::string> many = {"erase"};
  for (int i = 0; i <= InterruptGuard::kMaxStates; ++i)
    many.insert(many.begin(), {"--port", "/nonexistent/ttyUSB" + std::to_string(i)});
  const std::string log = dir_ / "run.csv", full = dir_ / "full.hex";
  auto serial = [&](const char* layout, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", a.Path(), "--serial", layout});
    return args;
  };
  const std::vector<Refusal> cases = {
      {{"--port", a.Path(), "--port", a.Path(), "erase"}, 2, "given twice"},
      {{"--port", a.Path(), "--port", b.Path(), "read", dir_ / "x.hex"}, 2, "read takes one port"},
      {{"--port", a.Path(), "--repeat", "verify", fw_}, 2, "--repeat goes with"},
      // A command that leaves the chip as it was does not repeat (checked before the port).
      {{"--port", "/nonexistent/tty", "--repeat=auto", "blank-check"}, 2, "--repeat goes with"},
      {serial("7F0:1:256", {"--log", log, "program", fw_}), 2, "not fit"},
      {serial("7FF:2:1", {"--chip", "89C2051", "--log", log, "program", fw_}), 2, "2048 bytes"},
      {serial("7F0:2:1", {"program", fw_}), 2, "--serial-file or --log"},
      {serial("7F0:2:1", {"--serial-file", dir_ / "corrupt.serial", "program", fw_}), 1,
       "not a serial number state file"},
      {serial("7F0:2:1", {"--serial-file", dir_ / "held.serial", "program", fw_}), 1,
       "in use by another run"},
      {serial("7F0:2:1", {"--log", log, "program", full}), 1, "data at 07F0"},
      {{"--port", a.Path(), "--log", dir_ / "no/such/dir.csv", "erase"},
       1,
       "dir.csv: No such file or directory"},
      {{"--port", a.Path(), "--verify", "erase"}, 2, "--verify goes with program"},
      {{"--port", a.Path(), "--log", "/dev/null", "erase"}, 1, "not a regular file"},
      {many, 2, "at most 64 ports"},
  };
  ExpectRefused(cases);
  many.erase(many.begin(), many.begin() + 2);
  EXPECT_EQ(Cli(many).status, 1);  // 64 ports: each tried
  EXPECT_EQ(FramesText(a.Frames()) + FramesText(b.Frames()), "");
  EXPECT_EQ(ReadFile(dir_ / "corrupt.serial"), "12x\n");
  // Told to, the number replaces the file's data.
  EXPECT_EQ(Cli(serial("7F0:2:1", {"--serial-overwrite", "--log", log, "program", full})).status,
            0);
  EXPECT_EQ(SerialIn(a), 1);
  // The numbers run out at a chip: it is left as it was.
  WriteFile(dir_ / "spent.serial", "256\n");
  const CliRun spent =
      Cli(serial("7F0:1:1", {"--serial-file", dir_ / "spent.serial", "program", fw_}));
  EXPECT_NE(spent.err.find("256 does not fit"), std::string::npos) << spent.err;
  const CliRun beyond = Cli(serial("7FF:2:1", {"--log", log, "program", fw_}));  // chip detected
  EXPECT_NE(beyond.err.find("does not fit in the chip's 2048 bytes"), std::string::npos);
  EXPECT_EQ(SerialIn(a), 1);
}

// Waiting for chips on a port whose programmer does not answer, or where a device that is not
// the programmer answers the probe with another byte: the port is given up, its totals say so,
// and the device is sent nothing but the probe.
TEST_F(Production, AutoRepeatGivesUpAPortWithoutAProgrammer) {
  SimHarness other(SimChip::C2051);
  other.WithModel([](sim::DeviceModel& m) { m.MutableFaults().probeReply = 0x00; });
  for (const std::string& port : {std::string("/nonexistent/tty"), other.Path()}) {
    const CliRun run = Cli({"--port", port, "--repeat=auto", "erase"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, PortShortName(port) + ": passed 0, failed 0, stopped\n");
    EXPECT_NE(run.err.find("the programmer does not answer"), std::string::npos) << run.err;
  }
  for (const sim::Frame& frame : other.Frames()) EXPECT_EQ(frame[0], CMD_PROBE);
}

// The progress line: one port's bar ends full; with two, each port's share, and the line is
// taken away at the end.
TEST_F(Production, ProgressLineShowsEachPortsShare) {
  SimHarness a(SimChip::C51_12V), b(SimChip::C51_12V);
  std::ostringstream one;
  ASSERT_EQ(Cli({"--port", a.Path(), "program", fw_}, {}, nullptr, &one).status, 0);
  EXPECT_NE(one.str().find("\r[##############################] 32/32 B"), std::string::npos)
      << one.str();
  std::ostringstream two;
  ASSERT_EQ(Cli({"--port", a.Path(), "--port", b.Path(), "program", fw_}, {}, nullptr, &two).status,
            0);
  for (const std::string& name : {PortShortName(a.Path()), PortShortName(b.Path())})
    EXPECT_NE(two.str().find(name + " 100%"), std::string::npos) << two.str();
  EXPECT_EQ(two.str().substr(two.str().size() - 4), "\r\x1b[K");
}

// The operator at the prompt: the callback answers, told how many times it was asked.
class Operator : public ChipPrompt {
 public:
  using Answer = std::function<std::optional<std::string>(int prompts)>;
  explicit Operator(Answer answer) : answer_(std::move(answer)) {}
  std::optional<std::string> ReadLine() override { return answer_(++prompts_); }

 private:
  Answer answer_;
  int prompts_ = 0;
};

// Chip after chip with --verify and --lock: the third has a bad cell, the fourth round finds the
// socket empty, and a second programmer is unplugged. Every chip gets its own number, the bad
// one's stays used, the empty socket and the unplugged programmer spend none, and the unplugged
// one is asked no more after its first failure.
TEST_F(Production, RepeatChipAfterChip) {
  SimHarness sim(SimChip::C2051), gone(SimChip::C2051);
  const std::string gonePath = gone.Path();
  gone.Hangup();
  std::vector<std::uint16_t> programmed;
  Operator input([&](int prompt) -> std::optional<std::string> {
    if (prompt != 4) programmed.push_back(SerialIn(sim));
    if (prompt == 5) return "q";
    sim.WithModel([prompt](sim::DeviceModel& m) {
      m.RemoveChip();
      if (prompt != 3) m.InsertChip();
      m.MutableFaults().wrongByteAtAddress.reset();
      if (prompt == 2) m.MutableFaults().wrongByteAtAddress = 0x10;
    });
    return "";
  });
  const CliRun run =
      Cli({"--port", sim.Path(), "--port", gonePath, "--timeout", "300", "--repeat", "--verify",
           "--lock", "2", "--serial", "7F0:2:1:1:le", "--log", dir_ / "run.csv", "program", fw_},
          {}, &input);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(PortShortName(sim.Path()) + ": passed 3, failed 2\n"), std::string::npos)
      << run.out;
  const std::vector<std::string> err = Lines(run.err);
  EXPECT_EQ(std::count(err.begin(), err.end(), kTextNextChip), 5) << run.err;
  EXPECT_EQ(programmed, (std::vector<std::uint16_t>{1, 2, 0xFFFF, 4}));
  EXPECT_TRUE(sim.WithModel([](sim::DeviceModel& m) { return m.Locks().lock2; }));
  auto rows = Summary(dir_ / "run.csv", {"serial", "command", "result"});
  EXPECT_EQ(std::erase(rows, " program link-failure"), 1u);
  EXPECT_EQ(rows, (std::vector<std::string>{"serial command result", "1 program ok", "1 verify ok",
                                            "1 lock2 ok", "2 program ok", "2 verify ok",
                                            "2 lock2 ok", "3 program mismatch", " program no-chip",
                                            "4 program ok", "4 verify ok", "4 lock2 ok"}));
}

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
// chips go into the other two sockets; Ctrl+C ends it with the totals.
TEST_F(Production, EndToEndAutoRepeatEndsOnCtrlC) {
  testing::SimProcess sims[3]{testing::SimProcess("--chip 89C2051"),
                              testing::SimProcess("--chip 89C2051 --stop-after 1500"),
                              testing::SimProcess("--chip 89C2051")};
  testing::CliProcess cli(dir_.path(), "--port " + sims[0].path + " --port " + sims[1].path +
                                           " --port " + sims[2].path +
                                           " --repeat=auto --serial 7F0:2:1000:1:le "
                                           "--log run.csv program fw.hex");
  const std::string log = dir_ / "run.csv";
  ASSERT_TRUE(WaitFor([&] { return LineCount(log) == 4; })) << ReadFile(log);
  for (int round = 0; round < 2; ++round) {
    for (int i : {0, 2}) kill(sims[i].pid, SIGUSR1);
    std::this_thread::sleep_for(600ms);  // seen empty
    for (int i : {0, 2}) kill(sims[i].pid, SIGUSR2);
    ASSERT_TRUE(WaitFor([&] { return LineCount(log) == 6u + 2 * round; })) << ReadFile(log);
  }
  kill(cli.pid, SIGINT);
  EXPECT_EQ(cli.Wait(), 130);
  const std::vector<std::string> out = Lines(ReadFile(dir_ / "out"));
  ASSERT_GE(out.size(), 3u);
  const std::set<std::string> totals(out.end() - 3, out.end());
  EXPECT_EQ(totals,
            (std::set<std::string>{PortShortName(sims[0].path) + ": passed 3, failed 0",
                                   PortShortName(sims[1].path) + ": passed 0, failed 1, stopped",
                                   PortShortName(sims[2].path) + ": passed 3, failed 0"}));
}

// A run killed with SIGKILL again and again, restarted each time, while chip after chip is
// programmed as fast as Enter comes: no serial number reaches two chips, every logged one reached
// its programmer, and the log stays whole CSV.
TEST_F(Production, KilledRunsNeverGiveANumberTwice) {
  testing::SimProcess sims[2]{testing::SimProcess("--chip 89C2051 --log " + (dir_ / "frames0")),
                              testing::SimProcess("--chip 89C2051 --log " + (dir_ / "frames1"))};
  for (int run = 0; run < 4; ++run) {
    testing::CliProcess cli(
        dir_.path(),
        "--port " + sims[0].path + " --port " + sims[1].path +
            " --timeout 1000 --repeat --serial 7F0:2:1:1:le --log run.csv program fw.hex",
        std::string(4096, '\n'));
    // Killed at a different point of a chip each time, once the run has logged one.
    const std::size_t logged = LineCount(dir_ / "run.csv");
    EXPECT_TRUE(WaitFor([&] { return LineCount(dir_ / "run.csv") > logged; }, 60s));
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + 230 * run));
    kill(cli.pid, SIGKILL);
    EXPECT_EQ(cli.Wait(), -SIGKILL);
  }
  std::map<std::string, std::string> received;  // number: the port whose chip got it
  int highest = 0;
  for (int i = 0; i < 2; ++i) {
    sims[i].Stop(SIGTERM);
    for (const std::string& number :
         SerialsReceived(ReadFile(dir_ / ("frames" + std::to_string(i))))) {
      EXPECT_TRUE(received.emplace(number, sims[i].path).second) << number << " reached two chips";
      highest = std::max(highest, std::stoi(number));
    }
  }
  const auto rows = Summary(dir_ / "run.csv", {"serial", "port"});
  ASSERT_GT(rows.size(), 4u);
  std::set<std::string> logged;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::string number = rows[r].substr(0, rows[r].find(' '));
    EXPECT_TRUE(logged.insert(number).second) << number << " logged twice";
    EXPECT_EQ(number + " " + received[number], rows[r]);
  }
  EXPECT_GT(std::stoi(ReadFile(dir_ / "run.serial")), highest);
}

// Standard output gone (`| tee` ended by the same Ctrl+C) and then the terminal closed: the chip
// in hand is finished and logged, and the hang-up ends the run as SIGTERM would, with 129.
TEST_F(Production, HangUpAndALostReaderFinishTheChip) {
  testing::SimProcess sim("--chip 89C2051 --latency 1 --log " + (dir_ / "frames"));
  testing::CliProcess cli(
      dir_.path(),
      "--port " + sim.path + " --repeat=auto --serial 200:2:1 --log run.csv program fw.hex", {},
      true);
  // Mid-chip: the writes have begun.
  ASSERT_TRUE(WaitFor([&] { return LineCount(dir_ / "frames") > 300; }, 10s))
      << ReadFile(dir_ / "err");
  kill(cli.pid, SIGHUP);
  EXPECT_EQ(cli.Wait(), 129);
  EXPECT_EQ(Summary(dir_ / "run.csv", {"result"}), (std::vector<std::string>{"result", "ok"}));
  EXPECT_EQ(Lines(ReadFile(dir_ / "frames")).back().substr(0, 2), "13");  // the closing STOP
}

// Ctrl+C while the prompt waits for Enter ends the run with its totals, and nothing is left
// reading the input afterwards: a line typed later is still there for whoever reads next.
TEST_F(Production, CtrlCAtThePrompt) {
  SimHarness sim(SimChip::C2051);
  // With nobody to ask, one chip.
  EXPECT_EQ(Cli({"--port", sim.Path(), "--repeat", "erase"}).status, 0);
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const auto terminal = DescriptorPrompt(input[0]);
  std::atomic<bool> waiting = false;
  Operator prompt([&](int) {
    waiting = true;
    return terminal->ReadLine();
  });
  std::thread operatorAway([&] {
    if (WaitFor([&] { return waiting.load(); })) InterruptGuard::Interrupt(130);
  });
  const CliRun run = Cli({"--port", sim.Path(), "--repeat", "program", fw_}, {}, &prompt);
  operatorAway.join();
  EXPECT_EQ(run.status, 130);
  EXPECT_EQ(Lines(run.out).back(), PortShortName(sim.Path()) + ": passed 1, failed 0");
  ASSERT_EQ(write(input[1], "later\n", 6), 6);
  std::this_thread::yield();
  fcntl(input[0], F_SETFL, O_NONBLOCK);
  char line[16] = {};
  EXPECT_EQ(read(input[0], line, sizeof line), 6) << "the input was read after the run";
  close(input[0]);
  close(input[1]);
}

// A job made from a command line runs as that command line does: the same frames and the same
// log rows, apart from the times, the port and the job's name. Making it sends nothing. Run as a
// window's worker runs it, a stop asked on the State spends no number and leaves a cancelled row.
TEST_F(JobRun, SameFramesAndRowsAsTheCommandLineAStopSpendsNoNumber) {
  SimHarness plain(SimChip::C2051), jobbed(SimChip::C2051);
  auto with = [&](const std::string& log, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", plain.Path(), "--chip", "89C2051", "--verify", "--lock",
                               "2", "--serial", "7F0:2:100", "--log", dir_ / log});
    return args;
  };
  const std::string job = dir_ / "board.zjob";
  CliRun run = Cli(with("job.csv", {"--save-job", job, "program", fw_}));
  ASSERT_EQ(run.status, 0) << run.err;

  run = Cli(with("plain.csv", {"program", fw_}));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string plainFrames = FramesText(plain.Frames());
  plain.ClearFrames();
  // --port wins over the job's own port, which is the other programmer.
  run = Cli({"--job", job, "--port", jobbed.Path()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FramesText(jobbed.Frames()), plainFrames);  // the serial number's bytes among them

  const std::vector<std::string> same = {"chip",  "command", "file",   "sha256",
                                         "bytes", "serial",  "result", "message"};
  EXPECT_EQ(Summary(dir_ / "job.csv", same), Summary(dir_ / "plain.csv", same));
  EXPECT_EQ(Summary(dir_ / "plain.csv", {"job"}), (std::vector<std::string>{"job", "", "", ""}));
  EXPECT_EQ(Summary(dir_ / "job.csv", {"job"}),
            (std::vector<std::string>{"job", "board", "board", "board"}));
  // Without --port, the job's port.
  run = Cli({"--job", job});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(plain.Frames().empty());

  // The window's way: the job opened from its file, its own view and State, no console.
  std::string why;
  const std::optional<Job> file = ReadJob(job, why);
  ASSERT_TRUE(file) << why;
  production::JobRun opened;
  ASSERT_TRUE(OpenJobRun(*file, job, opened, why)) << why;
  auto state = std::make_unique<State>();
  state->PortName = plain.Path();
  state->cancel.Request();
  NullView view;
  ChipContext context;
  context.port = plain.Path();
  EXPECT_FALSE(RunJobChip(opened.job, *state, view, context).passed);
  EXPECT_EQ(ReadFile(dir_ / "job.serial"), "102\n");
  EXPECT_EQ(Summary(dir_ / "job.csv", {"command", "serial", "result", "job"}).back(),
            "program  cancelled board");
}

// A job that cannot run as it was made, or a command line that would change it: a clear message
// naming the job file, nothing sent, and the log and the serial numbers untouched.
TEST_F(JobRun, RefusedBeforeAnyFrameAndAnyWrite) {
  SimHarness sim(SimChip::C2051);
  WriteFile(dir_ / "old.csv", kLogHeaderWithoutJob);
  WriteFile(dir_ / "held.serial", "7\n");
  const std::string job = dir_ / "good.zjob";
  ASSERT_EQ(Cli({"--chip", "89C2051", "--serial", "7F0:2:1", "--log", dir_ / "run.csv",
                 "--save-job", job, "program", fw_})
                .status,
            0);
  auto variant = [&](const std::string& name, const std::string& from, const std::string& to) {
    WriteFile(dir_ / name, testing::Replace(ReadFile(job), from, to));
    return dir_ / name;
  };
  WriteFile(dir_ / "changed.hex", std::string(kFirmware).replace(1, 2, "01"));
  const std::string changed = variant("changed.zjob", "'fw.hex'", "'changed.hex'");
  const std::string held = variant("held.zjob", "'run.serial'", "'held.serial'");
  const std::string old = variant("old.zjob", "'run.csv'", "'old.csv'");
  const std::string port = sim.Path();
  std::vector<Refusal> cases = {
      {{"--job", job, "--chip", "89C51"}, 2, "--chip does not go with --job"},
      {{"--job", job, fw_}, 2, "unexpected argument"},
      {{"--job", job, "--port", port, "--port", port}, 2, "given twice"},
      {{"--job", changed, "--port", port},
       1,
       changed + ": image changed.hex: the file has changed since the job was made: expected "},
      {{"--job", held, "--port", port}, 1, held + ": serial numbers: "},
      {{"--job", old, "--port", port},
       1,
       old + ": cannot write the log " + dir_ / "old.csv: a log without the job column"},
      {{"--job", dir_ / "none.zjob"}, 1, dir_ / "none.zjob: cannot be read"},
      {{"--chip", "89C2051", "--save-job", dir_ / "r.zjob", "read", dir_ / "r.hex"}, 2, "not read"},
      {{"--save-job", dir_ / "a.zjob", "erase"}, 2, "needs --chip"},
      {{"--chip", "89C2051", "--save-job", dir_ / "fw2.hex", "erase"}, 2, ".zjob"},
  };
  for (const std::string option :
       {"--serial=7F0:2:5", "--serial-file=x", "--serial-overwrite", "--format=bin", "--strict",
        "--verify", "--lock=1", "--log=x.csv", "--repeat"})
    cases.push_back(
        {{"--job", job, option}, 2, option.substr(0, option.find('=')) + " does not go"});
  bool busy = false;
  std::string reason;
  const auto lock = ExclusiveLock::Take(dir_ / "held.serial.lock", busy, reason);
  ASSERT_TRUE(lock) << reason;
  ExpectRefused(cases);
  EXPECT_TRUE(sim.Frames().empty());
  EXPECT_EQ(ReadFile(dir_ / "old.csv"), kLogHeaderWithoutJob);
  EXPECT_EQ(ReadFile(dir_ / "held.serial"), "7\n");
  for (const char* made : {"run.csv", "run.serial", "r.zjob", "a.zjob", "fw2.hex"})
    EXPECT_FALSE(std::filesystem::exists(dir_ / made)) << made;
}

}  // namespace
}  // namespace zelwik::cli
