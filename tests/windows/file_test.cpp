// The Windows file layer: wide-character names and the replace that keeps the old file.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/file_io.h"
#include "ops/hex_files.h"
#include "ops/texts.h"
#include "support/recording_view.h"

namespace zelwik {
namespace {

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

// A fresh folder with a Polish name under the temporary folder, emptied at the end.
class PolishFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    char narrow[4 * MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, temp, -1, narrow, sizeof narrow, nullptr, nullptr);
    dir_ = std::string(narrow) + "Użytkownik-" + std::to_string(GetCurrentProcessId()) + "\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(dir_).c_str(), nullptr));
  }
  void TearDown() override {
    for (const std::string& name : Names()) {
      const std::wstring path = Wide(dir_ + name);
      if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
    }
    RemoveDirectoryW(Wide(dir_).c_str());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(Wide(dir_ + "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      char name[4 * MAX_PATH];
      WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, sizeof name, nullptr, nullptr);
      if (std::string(name) != "." && std::string(name) != "..") names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Read(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, text)) << path;
    return text;
  }
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

TEST_F(PolishFolder, ReplaceOverwritesAndLeavesNothingBehind) {
  const std::string path = dir_ + "ż.hex";
  ASSERT_TRUE(ReplaceWholeFile(path, "first, and longer than the second"));
  ASSERT_TRUE(ReplaceWholeFile(path, "second"));
  EXPECT_EQ(Read(path), "second");
  EXPECT_EQ(Names(), std::vector<std::string>{"ż.hex"});
}

// Each failure leaves what was there and no temporary file.
TEST_F(PolishFolder, FailedReplaceKeepsTheOldFile) {
  const std::string kept = dir_ + "zajęty.hex";
  ASSERT_TRUE(ReplaceWholeFile(kept, "old"));
  {
    // Another program holds the file without letting it be deleted or renamed over.
    HANDLE holder = CreateFileW(Wide(kept).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReplaceWholeFile(kept, "new"));
    CloseHandle(holder);
  }
  EXPECT_EQ(Read(kept), "old");

  const std::string folder = dir_ + "katalog.hex";
  ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
  EXPECT_FALSE(ReplaceWholeFile(folder, "new"));
  EXPECT_EQ(GetFileAttributesW(Wide(folder).c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  EXPECT_FALSE(ReplaceWholeFile(dir_ + "brak\\plik.hex", "new"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"katalog.hex", "zajęty.hex"}));
}

TEST_F(PolishFolder, ReadFailuresAreReported) {
  std::string text;
  EXPECT_FALSE(ReadWholeFile(dir_ + "brak.hex", text));
  EXPECT_FALSE(ReadWholeFile(dir_, text));
  testing::RecordingView view;
  Image image;
  EXPECT_FALSE(LoadHexFileShown(image, dir_ + "brak.hex", view));
  EXPECT_EQ(view.statuses.front(), kTextIoError);
}

}  // namespace
}  // namespace zelwik
