// zelwik-cli against the zelwik-sim executable on a pseudo-terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "image/hex_file.h"
#include "image/memory_image.h"

extern char** environ;

namespace zelwik::cli {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zelwik-cli-test-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs a program to its end with stdout and stderr captured.
Result RunProgram(const std::vector<std::string>& args, const TempDir& dir) {
  const fs::path outPath = dir / "stdout", errPath = dir / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  Result result;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

// zelwik-sim as a child process; the device path is the first line it prints.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> options) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> args = {ZELWIK_SIM_PATH};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (std::FILE* out = fdopen(fds[0], "r")) {
      char line[256];
      if (std::fgets(line, sizeof line, out)) {
        device_ = line;
        while (!device_.empty() && (device_.back() == '\n' || device_.back() == '\r')) device_.pop_back();
      }
      std::fclose(out);
    } else {
      close(fds[0]);
    }
  }
  ~Simulator() { Stop(); }
  // Ends the simulator; its log is complete afterwards.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  const std::string& Device() const { return device_; }

 private:
  pid_t pid_ = 0;
  std::string device_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Result Cli(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), ZELWIK_CLI_PATH);
  return RunProgram(args, dir);
}

// A HEX file of `size` bytes of a pattern, as another tool would hand it over.
void WriteHex(const fs::path& path, int size, int salt = 0) {
  auto image = std::make_unique<Image>();
  for (int a = 0; a < size; ++a) image->MemoryImage[a] = static_cast<std::uint8_t>((a * 13 + salt) % 251);
  FindImageEnd(*image);
  std::ofstream(path, std::ios::binary) << HexText(*image);
}

TEST(EndToEnd, ProgramReadVerifyRoundTrip) {
  TempDir dir;
  Simulator sim({"--chip", "89C2051"});
  ASSERT_FALSE(sim.Device().empty());
  const fs::path input = dir / "in.hex", output = dir / "out.hex";
  WriteHex(input, 1500);

  Result r = Cli(dir, {"--port", sim.Device(), "program", input});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Odczytano 1500 bajtów.", " Zapisywanie pamięci...",
                                                    " Zpisywanie zakończono...", " Gotowy..."}));
  EXPECT_EQ(r.err, "");  // not a terminal: no progress bar

  r = Cli(dir, {"--port", sim.Device(), "read", output});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Odczytywanie pamięci...", " Odczytywanie zakończono...",
                                                    " Gotowy...", " Zapisano 1504 bajtów."}));
  auto written = std::make_unique<Image>(), read = std::make_unique<Image>();
  LoadHexText(*written, ReadFile(input));
  LoadHexText(*read, ReadFile(output));
  EXPECT_TRUE(written->MemoryImage == read->MemoryImage);

  r = Cli(dir, {"--port", sim.Device(), "--chip", "89c2051", "verify", output});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Odczytano 1500 bajtów.", " Weryfikowanie pamięci...",
                                                    " Weryfikowanie zakończono...", " Gotowy..."}));

  WriteHex(input, 1500, 1);
  r = Cli(dir, {"--port", sim.Device(), "verify", input});
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(Lines(r.out).size(), 4u);
  EXPECT_EQ(Lines(r.out)[2], " Błąd: 0000 jest 00 ma byc 01");
}

TEST(EndToEnd, FailedLoadSendsNothingToTheProgrammer) {
  TempDir dir;
  const fs::path log = dir / "frames.log";
  Simulator sim({"--chip", "89C51", "--log", log.string()});
  ASSERT_FALSE(sim.Device().empty());
  for (const char* command : {"program", "verify"}) {
    const Result r = Cli(dir, {"--port", sim.Device(), command, (dir / "missing.hex").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Błąd I/O ...", " Odczytano 0 bajtów."}));
  }
  sim.Stop();
  EXPECT_EQ(ReadFile(log), "");
}

TEST(EndToEnd, ChosenChipSkipsDetection) {
  TempDir dir;
  const fs::path log = dir / "frames.log";
  Simulator sim({"--chip", "89C51", "--log", log.string()});
  const Result r = Cli(dir, {"--port", sim.Device(), "--chip", "OTHER", "erase"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Układ wymazano...", " Gotowy..."}));
  sim.Stop();
  EXPECT_EQ(ReadFile(log), "FF000000 -> 55\n13000000 -> 00\n11000000 -> 00\n02000000 -> 00\n13000000 -> 00\n");
}

TEST(EndToEnd, ExitStatusOfChipCommandsAndSignatures) {
  TempDir dir;
  Simulator sim({"--chip", "89C1051"});
  struct Case {
    const char* command;
    int status;
    const char* text;
  } const cases[] = {
      {"signature-device", 0, " Sygnatura układu=11H"},
      {"signature-maker", 0, " Sygnatura producenta=1EH"},
      {"signature-voltage", 1, " Układ nie posiada tej sygnatury"},
      {"lock3", 1, " Układ nie posiada tej blokady !"},
      {"lock", 0, " Układ zablokowano..."},
      {"erase", 0, " Układ wymazano..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const Result r = Cli(dir, {"--port", sim.Device(), c.command});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{c.text, " Gotowy..."}));
  }
}

TEST(EndToEnd, ProgrammerFailures) {
  TempDir dir;
  {  // no chip in the socket
    Simulator sim({"--chip", "empty"});
    const Result r = Cli(dir, {"--port", sim.Device(), "read", (dir / "x.hex").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Brak układu lub sygnatury", " Gotowy..."}));
    EXPECT_FALSE(fs::exists(dir / "x.hex"));
  }
  {  // a programmer that never answers
    Simulator sim({"--chip", "89C51", "--never-answer"});
    const Result r = Cli(dir, {"--port", sim.Device(), "erase"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"Błąd transmisji lub brak programatora", " Gotowy..."}));
    EXPECT_EQ(r.err, "");  // the port opened; only the programmer is missing
  }
  {  // pulled out in the middle of a read: bounded by --timeout, no file written
    Simulator sim({"--chip", "89C4051", "--stop-after", "500"});
    const Result r = Cli(dir, {"--port", sim.Device(), "--timeout", "200", "read", (dir / "y.hex").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{" Odczytywanie pamięci...",
                                                      "Błąd transmisji lub brak programatora", " Gotowy..."}));
    EXPECT_FALSE(fs::exists(dir / "y.hex"));
  }
  {  // a file that cannot be saved after a good read
    Simulator sim({"--chip", "89C1051"});
    const Result r = Cli(dir, {"--port", sim.Device(), "read", (dir / "no-such-dir" / "z.hex").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out).back(), " Błąd I/O ...");
  }
}

TEST(EndToEnd, ListPrintsASafeListing) {
  TempDir dir;
  const fs::path file = dir / "text.hex";
  // 41 07 1B A5 81 00 0A: letters, a bell, an escape, Ą, an undefined byte, a zero, a line feed.
  std::ofstream(file, std::ios::binary) << ":0700000041071BA581000A00\r\n:00000001FF\r\n";
  const Result r = Cli(dir, {"list", file.string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"0000:41071BA581000AFFFFFFFFFFFFFFFFFF A..Ą..˙˙˙˙˙˙˙˙˙",
                                                    " Odczytano 7 bajtów."}));
}

TEST(EndToEnd, PermissionDeniedNamesTheDialoutGroup) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  TempDir dir;
  // Root ignores file modes, so run as nobody against a port only root may open.
  const fs::path port = dir / "port", cli = dir / "zelwik-cli";
  std::ofstream(port).put('x');
  fs::permissions(port, fs::perms::owner_read | fs::perms::owner_write);
  fs::copy_file(ZELWIK_CLI_PATH, cli);
  fs::permissions(dir / "", fs::perms::all);
  const Result r = RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                               cli.string(), "--port", port.string(), "erase"},
                              dir);
  EXPECT_EQ(r.status, 1);
  const auto errors = Lines(r.err);
  ASSERT_EQ(errors.size(), 2u) << r.err;
  EXPECT_NE(errors[0].find(port.string()), std::string::npos);
  EXPECT_NE(errors[0].find("Permission denied"), std::string::npos);
  EXPECT_NE(errors[1].find("dialout"), std::string::npos);
}

TEST(EndToEnd, UsageErrorsFromTheShell) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"burn"}, {"--chip", "8051", "erase"}, {"program"}}) {
    const Result r = Cli(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Lines(r.err).size(), 1u);
  }
}

}  // namespace
}  // namespace zelwik::cli
