// zelwik-cli: the terminal character column, usage errors in process, and the program against
// the zelwik-sim executable on a pseudo-terminal.
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/command_line.h"
#include "cli/cp1250.h"
#include "image/hex_file.h"
#include "support/sim_process.h"

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
  const std::vector<std::vector<std::string>> cases = {{},
                                                       {"frobnicate"},
                                                       {"program"},
                                                       {"erase", "extra"},
                                                       {"--chip", "89C53", "erase"},
                                                       {"--port"},
                                                       {"--port", "", "erase"},
                                                       {"--timeout", "0", "erase"},
                                                       {"--timeout", "12ms", "erase"},
                                                       {"--timeout", "99999999999", "erase"},
                                                       {"-x", "erase"}};
  for (const auto& args : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCommandLine(args, out, err, nullptr), 2) << args.size();
    EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << err.str();  // one line
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine({"--port=/nonexistent/tty", "erase"}, out, err, nullptr), 1);
  EXPECT_EQ(out.str(), "Błąd transmisji lub brak programatora\n Gotowy...\n");
  EXPECT_NE(err.str().find("/nonexistent/tty: No such file"), std::string::npos) << err.str();
}

// zelwik-sim serving the chip (and options) given, and the option that points zelwik-cli at it.
struct Simulator : testing::SimProcess {
  explicit Simulator(const std::string& chip) : SimProcess("--chip " + chip) {}
  std::string Port() const { return " --port " + path; }
};

// The programs run in a directory of their own.
class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() { fs::create_directories(dir_); }
  ~EndToEnd() override { fs::remove_all(dir_); }
  std::string Read(const char* name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // A success writes nothing to stderr: no diagnostics, and no progress bar off a terminal.
  void ExpectCli(const std::string& args, int status, const std::string& out) {
    const std::string command = "cd " + dir_.string() + " && " ZELWIK_CLI_PATH " " + args;
    const int code = std::system((command + " >out 2>err").c_str());
    EXPECT_EQ(WIFEXITED(code) ? WEXITSTATUS(code) : -1, status) << args << "\n" << Read("err");
    EXPECT_EQ(Read("out"), out) << args;
    if (status == 0) {
      EXPECT_EQ(Read("err"), "") << args;
    }
  }
  void WriteHex(const char* name, int size, int salt) {
    auto image = std::make_unique<Image>();
    for (int a = 0; a < size; ++a) image->MemoryImage[a] = std::uint8_t((a * 13 + salt) % 251);
    FindImageEnd(*image);
    std::ofstream(dir_ / name, std::ios::binary) << HexText(*image);
  }
  fs::path dir_ = fs::temp_directory_path() / ("zelwik-cli-test-" + std::to_string(getpid()));
};

TEST_F(EndToEnd, ProgramReadVerifyRoundTrip) {
  Simulator sim("89C2051");
  WriteHex("in.hex", 1500, 0);
  WriteHex("other.hex", 1500, 1);
  ExpectCli(sim.Port() + " program in.hex", 0,
            " Odczytano 1500 bajtów.\n Zapisywanie pamięci...\n"
            " Zpisywanie zakończono...\n Gotowy...\n");
  ExpectCli(sim.Port() + " read out.hex", 0,
            " Odczytywanie pamięci...\n Odczytywanie zakończono...\n"
            " Gotowy...\n Zapisano 1504 bajtów.\n");
  // The read-back file verifies; one that differs does not.
  ExpectCli(sim.Port() + " --chip 89c2051 verify out.hex", 0,
            " Odczytano 1500 bajtów.\n"
            " Weryfikowanie pamięci...\n Weryfikowanie zakończono...\n Gotowy...\n");
  ExpectCli(sim.Port() + " verify other.hex", 1,
            " Odczytano 1500 bajtów.\n"
            " Weryfikowanie pamięci...\n Błąd: 0000 jest 00 ma byc 01\n Gotowy...\n");
}

// What each outcome prints and exits with; a read that fails leaves no file behind.
TEST_F(EndToEnd, ExitStatusesAndFailures) {
  std::ofstream(dir_ / "text.hex") << ":0700000041071BA5817F0AE7\r\n:00000001FF\r\n";
  const struct {
    const char *sim, *args;
    int status;
    const char* out;
  } cases[] = {
      {"89C1051", "signature-maker", 0, " Sygnatura producenta=1EH\n Gotowy...\n"},
      {"89C1051", "lock3", 1, " Układ nie posiada tej blokady !\n Gotowy...\n"},
      {"89C51", "--chip OTHER erase", 0, " Układ wymazano...\n Gotowy...\n"},
      {"89C51", "burn", 2, ""},
      {"89C51", "verify missing.hex", 1, " Błąd I/O ...\n Odczytano 0 bajtów.\n"},
      {"empty", "read x.hex", 1, " Brak układu lub sygnatury\n Gotowy...\n"},
      {"89C51 --never-answer", "erase", 1, "Błąd transmisji lub brak programatora\n Gotowy...\n"},
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
