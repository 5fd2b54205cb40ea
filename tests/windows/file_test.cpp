// The Windows file layer: wide-character names and the replace that keeps the old file; the
// command line on the Win32 port. The operations run end to end under wine in run.sh, their
// frames compared with the Linux build's.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "image/file_io.h"
#include "ops/hex_files.h"
#include "ops/texts.h"
#include "support/recording_view.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;

fs::path Native(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }
std::string Utf8(const fs::path& path) {
  const std::u8string name = path.u8string();
  return {name.begin(), name.end()};
}

// A fresh folder with a Polish name under the temporary folder, removed at the end. The names in
// it are read back through the wide-character API, not the code under test.
class PolishFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / Native("Użytkownik-" + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(fs::create_directory(folder_));
    dir_ = Utf8(folder_) + "\\";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Read(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, text)) << path;
    return text;
  }
  fs::path folder_;
  std::string dir_;
};

TEST_F(PolishFolder, HexFileSavesAndLoadsUnderAPolishName) {
  Image image;
  ClearImage(image);
  for (int i = 0; i < 40; ++i) image.MemoryImage[i] = static_cast<std::uint8_t>(i * 7);
  const std::string path = dir_ + "płytka źródłowa.hex";
  testing::RecordingView view;
  ASSERT_TRUE(SaveHexFileShown(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Zapisano 48 bajtów.");
  EXPECT_EQ(Names(), std::vector<std::string>{"płytka źródłowa.hex"});

  Image loaded;
  ASSERT_TRUE(LoadHexFileShown(loaded, path, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 40 bajtów.");
  EXPECT_TRUE(loaded.MemoryImage == image.MemoryImage);
}

// A replace overwrites; each failure leaves what was there. No temporary file is left.
TEST_F(PolishFolder, ReplaceAndItsFailures) {
  const std::string kept = dir_ + "zajęty.hex";
  ASSERT_TRUE(ReplaceWholeFile(kept, "first, and longer than the second"));
  ASSERT_TRUE(ReplaceWholeFile(kept, "old"));
  EXPECT_EQ(Read(kept), "old");
  {
    // Another program holds the file without letting it be deleted or renamed over.
    HANDLE holder = CreateFileW(Native(kept).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReplaceWholeFile(kept, "new"));
    CloseHandle(holder);
  }
  EXPECT_EQ(Read(kept), "old");

  const std::string folder = dir_ + "katalog.hex";
  ASSERT_TRUE(fs::create_directory(Native(folder)));
  EXPECT_FALSE(ReplaceWholeFile(folder, "new"));
  EXPECT_TRUE(fs::is_directory(Native(folder)));

  EXPECT_FALSE(ReplaceWholeFile(dir_ + "brak\\plik.hex", "new"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"katalog.hex", "zajęty.hex"}));
  std::string text;
  EXPECT_FALSE(ReadWholeFile(dir_ + "brak.hex", text) || ReadWholeFile(dir_, text));
}

TEST(CommandLine, PortsThatCannotOpenAreLinkFailuresNamingWhy) {
  for (const auto& [port, why] : {std::pair{"COM199", "cannot open COM199: no such port"},
                                  std::pair{ZELWIK_DEMO_HEX, "not a serial device"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCommandLine({"--port", port, "erase"}, out, err, nullptr), cli::kExitFailure);
    EXPECT_NE(out.str().find(kTextLinkFailure), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(why), std::string::npos) << err.str();
  }
  testing::RecordingView view;
  Image image;
  EXPECT_TRUE(LoadHexFileShown(image, ZELWIK_DEMO_HEX, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 150 bajtów.");
}

}  // namespace
}  // namespace zelwik
