// Files that cannot be read or written: as an ordinary user (root reads and writes through file
// modes) and on a disk that fills up.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "ops/hex_files.h"
#include "support/recording_view.h"
#include "support/temp_dir.h"

namespace zelwik::testing {
namespace {

namespace fs = std::filesystem;
const std::string kOld = ":0100000042BD\r\n:00000001FF\r\n", kIoError = " Błąd I/O ...";

long Files(const TempDir& dir) { return std::distance(fs::directory_iterator(dir.path()), {}); }

std::unique_ptr<Image> Filled() {
  auto image = std::make_unique<Image>();
  for (int a = 0; a < 0x4000; ++a) image->MemoryImage[a] = static_cast<std::uint8_t>(a * 7 + 3);
  FindImageEnd(*image);
  return image;
}

// Whether saving did anything but fail with the I/O text.
bool Saves(const std::string& path) {
  auto image = Filled();
  RecordingView view;
  const bool saved = SaveHexFileShown(*image, path, view);
  return saved || view.statuses != std::vector<std::string>{kIoError};
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
  WriteFile(dir / "secret.hex", kOld);
  WriteFile(dir / "kept.hex", kOld);
  chmod((dir / "secret.hex").c_str(), geteuid() == 0 ? 0600 : 0000);
  chmod(dir.path().c_str(), geteuid() == 0 ? 0755 : 0555);
  EXPECT_EQ(AsOrdinaryUser([&] {
              auto image = Filled();
              RecordingView view;
              // Reported, and the image left empty rather than half-loaded.
              const bool loaded = LoadHexFileShown(*image, dir / "secret.hex", view) ||
                                  image->ImageEnd != -1 || image->MemoryImage[0] != 0xFF ||
                                  view.statuses.empty() || view.statuses.front() != kIoError;
              return loaded | Saves(dir / "new.hex") << 1 | Saves(dir / "kept.hex") << 2;
            }),
            0);
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(ReadFile(dir / "kept.hex"), kOld);
  EXPECT_EQ(Files(dir), 2);  // no new file
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
  EXPECT_EQ(Files(dir), 2);  // no temporary, no half-written file
  umount2(dir.path().c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace zelwik::testing
