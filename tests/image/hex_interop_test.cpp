// HEX files written by other tools, and our files read by other tools.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "image/hex_file.h"
#include "support/recording_view.h"
#include "temp_dir.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RecordingView;
using testing::TempDir;

const fs::path kTestData = ZELWIK_HEX_TESTDATA;

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The 64 KiB image srec_cat makes of an Intel HEX file, 0xFF where it has no data.
std::string SrecImage(const std::string& hex, const TempDir& dir) {
  const std::string bin = dir / "srec.bin";
  fs::remove(bin);
  EXPECT_EQ(Shell("srec_cat " + Quote(hex) + " -intel -fill 0xFF 0 0x10000 -o " + Quote(bin) + " -binary"), 0);
  return ReadFile(bin);
}

std::string ImageBytes(const Image& image) {
  return std::string(image.MemoryImage.begin(), image.MemoryImage.end());
}

// Offset of the first difference, for readable failures.
::testing::AssertionResult SameImage(const std::string& got, const std::string& want) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size();
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) {
      return ::testing::AssertionFailure() << "first difference at 0x" << std::hex << i << ": "
                                           << int(std::uint8_t(got[i])) << " vs " << int(std::uint8_t(want[i]));
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(HexInterop, FilesOfOtherToolsLoadAsTheyDid) {
  ASSERT_TRUE(fs::is_directory(kTestData)) << kTestData;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(kTestData)) {
    if (entry.path().extension() != ".hex") continue;
    ++files;
    fs::path base = entry.path();
    SCOPED_TRACE(base.filename().string());
    const std::string want = ReadFile(base.replace_extension(".bin"));
    const std::string json = ReadFile(base.replace_extension(".json"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(json, m, std::regex("\"image_end\"\\s*:\\s*(-?\\d+)")));
    const int end = std::stoi(m[1]);

    Image image;
    RecordingView view;
    ASSERT_TRUE(LoadHexFile(image, entry.path(), view));
    EXPECT_TRUE(SameImage(ImageBytes(image), want));
    EXPECT_EQ(image.ImageEnd, end);
    EXPECT_EQ(view.LastStatus(), " Odczytano " + std::to_string(end + 1) + " bajtów.");
    EXPECT_EQ(view.log.size(), static_cast<std::size_t>(end / 16 + 1));
  }
  EXPECT_GE(files, 6);
}

class HexWithTools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("srec_cat") || !HaveTool("srec_info")) GTEST_SKIP() << "srecord is not installed";
  }
  TempDir dir;
  RecordingView view;
};

TEST_F(HexWithTools, SavedFilesAreReadBackBySrecord) {
  Image full;
  for (int a = 0; a < kImageSize; ++a) full.MemoryImage[a] = static_cast<std::uint8_t>(a * 7 + (a >> 8));
  full.MemoryImage[0xFFFF] = 0x00;
  Image gaps;
  gaps.MemoryImage[0] = 0x02;
  gaps.MemoryImage[0x0100] = 0x00;
  gaps.MemoryImage[0x4321] = 0x99;
  Image blink;
  ASSERT_TRUE(LoadHexFile(blink, kTestData / "sdcc_blink.hex", view));

  // An empty image (only the end record) is left out: srecord refuses files without data.
  for (Image* image : {&full, &gaps, &blink}) {
    const std::string path = dir / "saved.hex";
    ASSERT_TRUE(SaveHexFile(*image, path, view));
    EXPECT_EQ(Shell("srec_info " + Quote(path) + " -intel"), 0);
    EXPECT_TRUE(SameImage(SrecImage(path, dir), ImageBytes(*image)));
  }
}

TEST_F(HexWithTools, ProgramBuiltBySdccLoadsLikeSrecordReadsIt) {
  if (!HaveTool("sdcc")) GTEST_SKIP() << "sdcc is not installed";
  fs::copy_file(kTestData / "blink.c", dir / "blink.c");
  ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && sdcc -mmcs51 blink.c"), 0);
  const std::string ihx = dir / "blink.ihx";
  ASSERT_TRUE(fs::exists(ihx));

  Image image;
  ASSERT_TRUE(LoadHexFile(image, ihx, view));
  EXPECT_GT(image.ImageEnd, 0);
  EXPECT_TRUE(SameImage(ImageBytes(image), SrecImage(ihx, dir)));
}

}  // namespace
}  // namespace zelwik
