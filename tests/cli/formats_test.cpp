// zelwik-cli with binary and S-record files and --strict, run in process against a simulated
// programmer so that the frames it received can be checked.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik::cli {
namespace {

using sim::SimChip;
using zelwik::testing::ReadFile;
using zelwik::testing::SimHarness;
using zelwik::testing::TempDir;

struct CliRun {
  int status;
  std::string out, err;
};

// An empty option is left out.
CliRun Cli(SimHarness& sim, const std::string& option, const char* command,
           const std::string& file) {
  std::vector<std::string> args = {"--port", sim.Path(), "--timeout", "500", command, file};
  if (!option.empty()) args.insert(args.begin(), option);
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, nullptr);
  return {status, out.str(), err.str()};
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
  } cases[] = {{SimChip::C2051, "", "chip.BIN"},
               {SimChip::C4051, "", "chip.bin"},
               {SimChip::C1051, "--format=SREC", "chip.hex"}};
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
      {"cut.srec", "", "S1040000AA51\nS1040001\n", "cut.srec: line 2: not an S-record"},
      {"sum.hex", "--strict", ":01000000AA55\n:01000100BB00\n:00000001FF\n", "line 2: checksum"}};
  for (const auto& c : cases) {
    TempDir dir;
    zelwik::testing::WriteFile(dir / c.file, c.content);
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
  SimHarness sim(SimChip::Empty);
  EXPECT_EQ(Cli(sim, "--format=s19", "list", "x").status, 2);
}

}  // namespace
}  // namespace zelwik::cli
