// Files that cannot be read or written: as an ordinary user (root reads and writes through file
// modes), on a disk that fills up, and through zelwik-cli's read command.
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "image/hex_file.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"
#include "support/temp_dir.h"

namespace zelwik::testing {
namespace {

namespace fs = std::filesystem;
const std::string kOld = ":0100000042BD\r\n:00000001FF\r\n", kIoError = " Błąd I/O ...";

std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool Saves(const std::string& path) {
  auto image = std::make_unique<Image>();
  for (int a = 0; a < 0x4000; ++a) image->MemoryImage[a] = static_cast<std::uint8_t>(a * 7 + 3);
  FindImageEnd(*image);
  RecordingView view;
  const bool saved = SaveHexFile(*image, path, view);
  return saved || view.statuses != std::vector<std::string>{kIoError};
}

// zelwik-cli's exit status and what it printed.
std::pair<int, std::string> Cli(const std::string& args) {
  FILE* pipe = popen((ZELWIK_CLI_PATH " " + args + " 2>/dev/null").c_str(), "r");
  std::string out(1 << 16, '\0');
  out.resize(fread(out.data(), 1, out.size(), pipe));
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The failed steps of check (a bit each), run as user nobody in a child when we are root.
int AsOrdinaryUser(const std::function<int()>& check) {
  if (geteuid() != 0) return check();
  const pid_t pid = fork();
  if (pid == 0) _exit(setgroups(0, nullptr) || setgid(65534) || setuid(65534) ? 128 : check());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// A folder the ordinary user may enter but not write, one file in it nobody else may read.
TEST(FileFaults, OtherUsersFiles) {
  TempDir dir;
  SimHarness sim(sim::SimChip::C1051);
  chmod(sim.Path().c_str(), 0666);
  WriteFile(dir / "secret.hex", kOld);
  WriteFile(dir / "kept.hex", kOld);
  chmod((dir / "secret.hex").c_str(), geteuid() == 0 ? 0600 : 0000);
  chmod(dir.path().c_str(), geteuid() == 0 ? 0755 : 0555);
  EXPECT_EQ(AsOrdinaryUser([&] {
              Image image;
              RecordingView view;
              // Reported, and the image left empty rather than half-loaded.
              const bool loaded = LoadHexFile(image, dir / "secret.hex", view) || image.ImageEnd != -1 ||
                                  view.statuses.front() != kIoError;
              const auto [status, out] = Cli("--port " + sim.Path() + " --chip 89C1051 read " + dir / "kept.hex");
              return loaded | Saves(dir / "new.hex") << 1 | Saves(dir / "kept.hex") << 2 |
                     (status != 1 || out.find(kIoError) == std::string::npos) << 3;
            }),
            0);
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(ReadFile(dir / "kept.hex"), kOld);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"kept.hex", "secret.hex"}));
}

// A 64 KiB tmpfs filled up but for a few bytes (needs the right to mount).
TEST(FileFaults, FullDiskKeepsTheOldFile) {
  TempDir dir;
  if (mount("zelwik-full", dir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  WriteFile(dir / "old.hex", kOld);
  {
    std::ofstream filler(dir / "filler");
    for (int i = 0; i < 70 * 1024 && filler.put('x'); ++i) filler.flush();
  }
  EXPECT_FALSE(Saves(dir / "old.hex"));
  EXPECT_FALSE(Saves(dir / "new.hex"));
  EXPECT_EQ(ReadFile(dir / "old.hex"), kOld);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"filler", "old.hex"}));  // no temporary, no half file
  umount2(dir.path().c_str(), MNT_DETACH);
}

// The chip is read; only the file fails, and says so last.
TEST(FileFaults, CliReadToAnUnwritableTarget) {
  SimHarness sim(sim::SimChip::C1051);
  TempDir dir;
  fs::create_directory(dir / "sub");
  for (const std::string& target : {dir / "no/such/folder/out.hex", dir / "sub", std::string("/proc/zelwik.hex")}) {
    const auto [status, out] = Cli("--port " + sim.Path() + " --chip 89C1051 read " + target);
    EXPECT_EQ(status, 1) << target;
    EXPECT_NE(out.find(" Odczytywanie zakończono..."), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with(kIoError + "\n")) << out;
  }
  EXPECT_EQ(Names(dir), std::vector<std::string>{"sub"});
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

}  // namespace
}  // namespace zelwik::testing
