// What the window remembers, without a window: the INI file zelwik.exe keeps, the check of every
// value read back, and the captions and title made from file names.
#include "ui/settings.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "zelwik_version.h"

namespace zelwik::ui {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The whole of what is remembered, to compare at once.
auto Fields(const Remembered& r) { return std::tie(r.port, r.chip, r.folder, r.recent); }

TEST(Settings, SurviveARestartOfTheFileStore) {
  TempDir dir;
  const auto restart = [&](const Remembered& r) {
    FileSettingsStore store(dir / "zelwik.ini");
    WriteRemembered(store, r);
    return ReadRemembered(FileSettingsStore(dir / "zelwik.ini"));
  };
  Remembered r;
  r.port = "/dev/ttyUSB3";
  r.chip = 6;
  r.folder = "/home/ela/moja płytka";
  for (int i = 1; i <= 8; ++i) AddRecentFile(r.recent, "/f/" + std::to_string(i) + ".hex");
  AddRecentFile(r.recent, "/f/5.hex");
  ASSERT_EQ(r.recent, (std::vector<std::string>{"/f/5.hex", "/f/8.hex", "/f/7.hex", "/f/6.hex",
                                                "/f/4.hex", "/f/3.hex"}));
  EXPECT_EQ(Fields(restart(r)), Fields(r));
  // Fewer files later: the old entries beyond them are gone from the file too.
  r.recent.resize(1);
  EXPECT_EQ(Fields(restart(r)), Fields(r));
}

// Garbage, values no valid setting has, a chip only detection yields, a file that is a folder:
// each value falls back to its default, the rest is kept.
TEST(Settings, CorruptValuesAreDefaults) {
  TempDir dir;
  WriteFile(dir / "bad.ini", std::string("\xff\xfe\0garbage\n", 12) +
                                 "=x\nchip=89C9999\r\nport=COM9\nrecent1=/a.hex\nrecent2=/a.hex\n"
                                 "recent3=\nrecent4=/b\nrecent5=/c\x01\nrecent6=/" +
                                 std::string(4096, 'x') + "\nfolder=/" + std::string(4095, 'x') +
                                 "\nrecent7=/seventh\n");
  const Remembered r = ReadRemembered(FileSettingsStore(dir / "bad.ini"));
  // 4096 bytes are the longest value taken.
  EXPECT_EQ(Fields(r),
            Fields(Remembered{"COM9", 0, "/" + std::string(4095, 'x'), {"/a.hex", "/b"}}));

  WriteFile(dir / "5v.ini", "chip=89C51-5V\nport=COM1\n");
  EXPECT_EQ(ReadRemembered(FileSettingsStore(dir / "5v.ini")).chip, 0);
  WriteFile(dir / "other.ini", "chip=other\n");
  EXPECT_EQ(ReadRemembered(FileSettingsStore(dir / "other.ini")).chip, 10);

  std::filesystem::create_directory(dir / "folder.ini");
  FileSettingsStore unreadable(dir / "folder.ini");
  EXPECT_EQ(ReadRemembered(unreadable).port, "COM2");
  WriteRemembered(unreadable, r);  // cannot be written: forgotten, no harm done
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.ini"));

  FileSettingsStore reset(dir / "bad.ini");
  reset.Clear();
  EXPECT_EQ(ReadFile(dir / "bad.ini"), "[zelwik]\r\n");
}

TEST(Settings, CaptionsAndTitle) {
  EXPECT_EQ(RecentFileCaption(0, "/home/a&b/x.hex"), "&1 /home/a&&b/x.hex");
  // A long path keeps its end from a folder on, never cut inside a letter.
  const std::string deep = "/" + std::string(40, 'a') + "/żółw/" + std::string(30, 'b') + ".hex";
  EXPECT_EQ(RecentFileCaption(5, deep), "&6 \u2026/żółw/" + std::string(30, 'b') + ".hex");
  const std::string cut = "/aaaż" + std::string(59, 'c');  // the last 60 bytes begin inside ż
  EXPECT_EQ(RecentFileCaption(1, cut), "&2 \u2026" + std::string(59, 'c'));
  const std::string sixty = "/" + std::string(59, 'd');  // as long as a caption shows whole
  EXPECT_EQ(RecentFileCaption(2, sixty), "&3 " + sixty);
  EXPECT_EQ(WindowTitle(std::nullopt), "Zelwik ver " ZELWIK_VERSION);
  EXPECT_EQ(WindowTitle("/fw/blink\n.hex"), "Zelwik ver " ZELWIK_VERSION " - blink?.hex");
  EXPECT_EQ(FolderOf("/blink.hex"), "/");
  EXPECT_EQ(FolderOf("blink.hex"), "");
}

}  // namespace
}  // namespace zelwik::ui
