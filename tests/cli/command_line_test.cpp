// Usage errors and the paths that never reach a chip, in process.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"

namespace zelwik::cli {
namespace {

struct Outcome {
  int status;
  std::string out, err;
};

Outcome Cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = RunCommandLine(args, out, err, nullptr);
  return {status, out.str(), err.str()};
}

int Lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(CommandLine, UsageErrorsExitTwoWithOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"program"},
      {"read"},
      {"list"},
      {"erase", "extra"},
      {"program", "a.hex", "b.hex"},
      {"--chip", "89C53", "erase"},
      {"--chip"},
      {"--port"},
      {"--port", "", "erase"},
      {"--timeout", "0", "erase"},
      {"--timeout", "-5", "erase"},
      {"--timeout", "12ms", "erase"},
      {"--timeout", "99999999999", "erase"},
      {"--verbose", "erase"},
      {"-x", "erase"},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Outcome run = Cli(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Lines(run.err), 1) << run.err;
  }
}

TEST(CommandLine, HelpGoesToStandardOutput) {
  const Outcome run = Cli({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Usage: zelwik-cli"), std::string::npos);
  EXPECT_EQ(run.err, "");
}

TEST(CommandLine, PortThatCannotBeOpenedIsExplained) {
  const Outcome run = Cli({"--port=/nonexistent/tty", "--chip=89C2051", "erase"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Błąd transmisji lub brak programatora\n Gotowy...\n");
  EXPECT_NE(run.err.find("/nonexistent/tty"), std::string::npos);
  EXPECT_NE(run.err.find("No such file or directory"), std::string::npos);
}

}  // namespace
}  // namespace zelwik::cli
