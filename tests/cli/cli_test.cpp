// zelwik-cli: the terminal character column, usage errors in process, and the program against
// the zelwik-sim executable on a pseudo-terminal.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <filesystem>

#include "cli/cp1250.h"
#include "cli_run.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace zelwik::cli {
namespace {

namespace fs = std::filesystem;

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
        "--timeout 0 erase", "--timeout 12ms erase", "--timeout 99999999999 erase", "-x erase"}) {
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
  std::string Read(const char* name) { return testing::ReadFile(dir_ / name); }
  void ExpectCli(const std::string& args, int status, const std::string& out) {
    const std::string command = "cd " + dir_.path().string() + " && " ZELWIK_CLI_PATH " " + args;
    const int code = std::system((command + " >out 2>err").c_str());
    EXPECT_EQ(WIFEXITED(code) ? WEXITSTATUS(code) : -1, status) << args << "\n" << Read("err");
    EXPECT_EQ(Read("out"), out) << args;
    if (status == 0) EXPECT_EQ(Read("err"), "") << args;
  }
  testing::TempDir dir_;
};

// What each outcome prints and exits with; a read that fails leaves no file behind. A success
// writes nothing to stderr: no diagnostics, and no progress bar off a terminal.
TEST_F(EndToEnd, ExitStatusesAndFailures) {
  testing::WriteFile(dir_ / "text.hex", ":0700000041071BA5817F0AE7\r\n:00000001FF\r\n");
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
      {"89C51", "--chip OTHER erase", 0, " Układ wymazano...\n Gotowy...\n"},
      {"89C51", "burn", 2, ""},
      {"89C51", "verify missing.hex", 1, " Błąd I/O ...\n Odczytano 0 bajtów.\n"},
      {"empty", "read x.hex", 1, " Brak układu lub sygnatury\n Gotowy...\n"},
      {"89C4051 --stop-after 500", "--timeout 200 read x.hex", 1,  // pulled out mid-read
       " Odczytywanie pamięci...\nBłąd transmisji lub brak programatora\n Gotowy...\n"},
      {"89C1051", "read no-dir/x.hex", 1,
       " Odczytywanie pamięci...\n Odczytywanie zakończono...\n Gotowy...\n Błąd I/O ...\n"},
      // Control bytes and undefined codes in the character column never reach the terminal.
      {"89C51", "list text.hex", 0,
       "0000:41071BA5817F0AFFFFFFFFFFFFFFFFFF A..Ą...˙˙˙˙˙˙˙˙˙\n Odczytano 7 bajtów.\n"},
  };
  for (const auto& c : cases) {
    Simulator sim(c.sim);
    ExpectCli(sim.Port() + " " + c.args, c.status, c.out);
    EXPECT_FALSE(fs::exists(dir_ / "x.hex")) << c.args;
  }
}

}  // namespace
}  // namespace zelwik::cli
