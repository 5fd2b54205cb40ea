// zelwik-cli with binary and S-record files, --strict and blank-check, run in process against a
// simulated programmer so that the frames it received can be checked.
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
using zelwik::testing::WriteFile;

struct CliRun {
  int status;
  std::string out, err;
};

CliRun Cli(SimHarness& sim, std::vector<std::string> args) {
  args.insert(args.begin(), {"--port", sim.Path(), "--timeout", "500"});
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, nullptr);
  return {status, out.str(), err.str()};
}

std::vector<std::uint8_t> Flash(SimHarness& sim) {
  return sim.WithModel([](sim::DeviceModel& m) { return m.Flash(); });
}

// A chip whose first 100 bytes hold data with 0xFF among them, erased above.
void FillChip(SimHarness& sim) {
  sim.WithModel([](sim::DeviceModel& m) {
    for (int a = 0; a < 100; ++a) m.Flash()[a] = static_cast<std::uint8_t>(a % 7 ? a * 5 : 0xFF);
    return 0;
  });
}

// A backup holds exactly the chip's memory and restores it onto an erased chip.
TEST(Formats, BinaryBackupRestoresTheChip) {
  for (const SimChip chip : {SimChip::C2051, SimChip::C4051}) {
    TempDir dir;
    SimHarness source(chip), target(chip);
    FillChip(source);
    const std::string backup = dir / "chip.BIN";
    const CliRun read = Cli(source, {"read", backup});
    ASSERT_EQ(read.status, 0) << read.err;
    const auto flash = Flash(source);
    EXPECT_TRUE(ReadFile(backup) == std::string(flash.begin(), flash.end()));
    EXPECT_NE(read.out.find(" Zapisano " + std::to_string(flash.size()) + " bajtów.\n"),
              std::string::npos);
    EXPECT_EQ(Cli(target, {"program", backup}).status, 0);
    EXPECT_EQ(Cli(target, {"verify", backup}).status, 0);
    EXPECT_EQ(Flash(target), flash);
  }
}

// --format wins over the extension; the S-record backup restores the chip too.
TEST(Formats, FormatOptionOverridesTheExtension) {
  TempDir dir;
  SimHarness source(SimChip::C1051), target(SimChip::C1051);
  FillChip(source);
  ASSERT_EQ(Cli(source, {"--format", "srec", "read", dir / "chip.hex"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "chip.hex").substr(0, 14), "S0030000FC\r\nS1");
  EXPECT_EQ(Cli(target, {"--format=SREC", "program", dir / "chip.hex"}).status, 0);
  EXPECT_EQ(Flash(target), Flash(source));
  EXPECT_EQ(Cli(target, {"--format", "s19", "verify", dir / "chip.hex"}).status, 2);
  EXPECT_EQ(Cli(target, {"--strict=yes", "verify", dir / "chip.hex"}).status, 2);
}

// A refused file is named with the line of its first bad record, and nothing reaches the
// programmer, not even the probe.
TEST(Formats, RefusedFilesSendNothing) {
  const struct {
    const char *file, *option;
    std::string content;
    const char* why;
  } cases[] = {
      {"big.bin", "", std::string(65537, '\0'), "big.bin: more than 65536 bytes"},
      {"sum.s19", "", "S1040000AA51\nS1040001BB00\nS9030000FC\n", "sum.s19: line 2: checksum"},
      {"cut.srec", "", "S1040000AA51\nS1040001\n", "cut.srec: line 2: not an S-record"},
      {"sum.hex", "--strict", ":01000000AA55\n:01000100BB00\n:00000001FF\n",
       "sum.hex: line 2: checksum"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / c.file, c.content);
    SimHarness sim(SimChip::C2051);
    for (const char* command : {"program", "verify"}) {
      std::vector<std::string> args = {command, dir / c.file};
      if (*c.option) args.insert(args.begin(), c.option);
      const CliRun run = Cli(sim, args);
      EXPECT_EQ(run.status, 1) << c.file;
      EXPECT_EQ(run.out, "") << c.file;
      EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    }
    EXPECT_TRUE(sim.Frames().empty()) << c.file;
  }
}

// Without --strict the HEX loader stays as forgiving as the window's.
TEST(Formats, HexWithoutStrictLoadsAsBefore) {
  TempDir dir;
  WriteFile(dir / "sum.hex", ":01000000AA55\n:01000100BB00\n:00000001FF\n");
  SimHarness sim(SimChip::C2051);
  EXPECT_EQ(Cli(sim, {"program", dir / "sum.hex"}).status, 0);
  EXPECT_EQ(Flash(sim)[1], 0xBB);
}

TEST(Formats, BlankCheckExitStatus) {
  const struct {
    int programmed;
    long silentAfter;
    int status;
    const char* out;
  } cases[] = {
      {-1, 0, 0, " Sprawdzanie czystości...\n Układ jest czysty.\n Gotowy...\n"},
      {0x7FF, 0, 1,
       " Sprawdzanie czystości...\n Układ nie jest czysty: 07FF jest 00 (1 bajtów)\n"
       " Gotowy...\n"},
      {-1, 2000, 1,
       " Sprawdzanie czystości...\nBłąd transmisji lub brak programatora\n Gotowy...\n"},
  };
  for (const auto& c : cases) {
    sim::Faults faults;
    if (c.silentAfter) faults.stopAfterFrames = c.silentAfter;
    SimHarness sim(SimChip::C2051, faults);
    if (c.programmed >= 0)
      sim.WithModel([&](sim::DeviceModel& m) { return m.Flash()[c.programmed] = 0; });
    const CliRun run = Cli(sim, {"blank-check"});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
  }
}

}  // namespace
}  // namespace zelwik::cli
