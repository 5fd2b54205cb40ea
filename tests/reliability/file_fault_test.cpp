// Files that cannot be read or written: as an ordinary user (root reads and writes through file
// modes), on a disk that fills up, and through zelwik-cli's read command.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/hex_file.h"
#include "image/memory_image.h"
#include "image/temp_dir.h"
#include "sim/device_model.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"

extern char** environ;

namespace zelwik::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<Image> PatternImage(int size) {
  auto image = std::make_unique<Image>();
  for (int a = 0; a < size; ++a) image->MemoryImage[a] = static_cast<std::uint8_t>(a * 7 + 3);
  FindImageEnd(*image);
  return image;
}

// Runs check as an ordinary user: in a child that drops root when we are root, in this process
// otherwise. Returns the check's verdict.
bool AsOrdinaryUser(const std::function<bool()>& check) {
  if (geteuid() != 0) return check();
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A folder the ordinary user may enter but not write, holding one file nobody else may read.
class OtherUsersFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir.path(), fs::perms(0755));
    WriteFile(secret, ":0100000042BD\r\n:00000001FF\r\n");
    WriteFile(kept, ":0100000011EE\r\n:00000001FF\r\n");
    chmod(secret.c_str(), 0600);
    chmod(kept.c_str(), 0644);
    if (geteuid() != 0) {
      // Without root the folder and file are our own: take the rights away instead.
      chmod(secret.c_str(), 0000);
      chmod(dir.path().c_str(), 0555);
    }
  }
  void TearDown() override { chmod(dir.path().c_str(), 0755); }

  TempDir dir;
  const std::string secret = dir / "secret.hex";
  const std::string kept = dir / "kept.hex";
};

TEST_F(OtherUsersFiles, LoadingAFileWithoutReadPermission) {
  EXPECT_TRUE(AsOrdinaryUser([&] {
    auto image = PatternImage(100);
    RecordingView view;
    const bool loaded = LoadHexFile(*image, secret, view);
    // Reported, and the image is left empty rather than half-loaded.
    return !loaded && image->ImageEnd == -1 && image->MemoryImage[0] == 0xFF &&
           view.statuses.front() == kTextIoError;
  }));
}

TEST_F(OtherUsersFiles, SavingIntoAFolderWithoutWritePermission) {
  const std::string before = ReadFile(kept);
  EXPECT_TRUE(AsOrdinaryUser([&] {
    auto image = PatternImage(300);
    RecordingView a, b;
    return !SaveHexFile(*image, dir / "new.hex", a) && a.statuses == std::vector<std::string>{kTextIoError} &&
           !SaveHexFile(*image, kept, b) && b.statuses == std::vector<std::string>{kTextIoError};
  }));
  EXPECT_EQ(ReadFile(kept), before);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"kept.hex", "secret.hex"}));
}

// A 64 KiB tmpfs, filled up but for a few bytes (needs the right to mount; skipped otherwise).
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (mount("zelwik-full", dir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    mounted_ = true;
    WriteFile(dir / "old.hex", kOld);
    // Fill what is left; the filler stops at the first refused write.
    const int fd = open((dir / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::vector<char> block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
  }
  void TearDown() override {
    if (mounted_) umount2(dir.path().c_str(), MNT_DETACH);
  }

  const std::string kOld = ":0100000042BD\r\n:00000001FF\r\n";
  TempDir dir;
  bool mounted_ = false;
};

TEST_F(FullDisk, SaveFailsAndTheOldFileStays) {
  auto image = PatternImage(0x4000);
  RecordingView view;
  EXPECT_FALSE(SaveHexFile(*image, dir / "old.hex", view));
  EXPECT_EQ(view.statuses, std::vector<std::string>{kTextIoError});
  EXPECT_EQ(ReadFile(dir / "old.hex"), kOld);
  EXPECT_FALSE(SaveHexFile(*image, dir / "new.hex", view));
  // No temporary file and no half-written new one left behind.
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"filler", "old.hex"}));
}

// zelwik-cli read FILE with a programmer that answers, and a FILE that cannot be written.
struct CliRun {
  int status = -1;
  std::string out;
};

CliRun RunCli(const std::vector<std::string>& args, const std::string& outPath) {
  std::vector<std::string> all = {ZELWIK_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  CliRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadFile(outPath);
  return run;
}

TEST(CliRead, UnwritableTargetExitsOneAndLeavesNoFile) {
  SimHarness sim(sim::SimChip::C1051);
  sim.WithModel([](sim::DeviceModel& m) {
    m.Flash()[0] = 0x12;
    return 0;
  });
  TempDir dir;
  TempDir logs;
  fs::create_directory(dir / "sub");
  const std::string stdoutPath = logs / "stdout";
  for (const std::string& target :
       {dir / "no/such/folder/out.hex", dir / "sub", std::string("/proc/zelwik-out.hex")}) {
    SCOPED_TRACE(target);
    const CliRun run = RunCli({"--port", sim.Path(), "--chip", "89C1051", "read", target}, stdoutPath);
    EXPECT_EQ(run.status, 1);
    // The chip was read; only the file failed, and says so last.
    EXPECT_NE(run.out.find(" Odczytywanie zakończono..."), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - std::string(kTextIoError).size() - 1),
              std::string(kTextIoError) + "\n");
  }
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"sub"});
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
  EXPECT_FALSE(fs::exists("/proc/zelwik-out.hex"));
}

TEST(CliRead, TargetInAReadOnlyFolderAsAnOrdinaryUser) {
  SimHarness sim(sim::SimChip::C1051);
  TempDir dir;
  TempDir logs;
  fs::permissions(dir.path(), fs::perms(0755));
  fs::permissions(logs.path(), fs::perms(0777));
  WriteFile(dir / "old.hex", ":00000001FF\r\n");
  // The ordinary user needs the port too.
  chmod(sim.Path().c_str(), 0666);
  if (geteuid() != 0) chmod(dir.path().c_str(), 0555);
  const std::string stdoutPath = logs / "stdout";
  EXPECT_TRUE(AsOrdinaryUser([&] {
    const CliRun run = RunCli({"--port", sim.Path(), "--chip", "89C1051", "read", dir / "old.hex"}, stdoutPath);
    return run.status == 1 && run.out.find(kTextIoError) != std::string::npos;
  }));
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(ReadFile(dir / "old.hex"), ":00000001FF\r\n");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"old.hex"});
}

}  // namespace
}  // namespace zelwik::testing
