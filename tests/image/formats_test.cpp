// S-record, raw binary and strict Intel HEX: what each reader accepts, where it stops, and files
// exchanged with srec_cat both ways.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <memory>

#include "image/binary_file.h"
#include "image/hex_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;
using Error = LoadResult::Error;
using testing::ReadFile;
using testing::WriteFile;

std::string Text(const Image& image) {
  return {image.MemoryImage.begin(), image.MemoryImage.end()};
}

int Shell(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ReaderCase {
  const char* name;
  std::string text;
  Error error;
  int line;
  std::string stored;  // the bytes from address 0 up that must be there afterwards
};

// Bytes of a refused record stay out: "stored" ends with 0xFF where the refused record would have
// written.
const ReaderCase kSrecCases[] = {
    {"WhatSrecCatWrites", "S00600004844521B\nS1060000020030C7\nS5030001FB\nS9030000FC\n",
     Error::None, 0, "\x02\x00\x30\xFF"},
    {"WideAddressesAndLowerCaseCrLf", "S2070000010a0b0cd6\r\nS30600000000aa4f\r\nS804000000FB\r\n",
     Error::None, 0, "\xAA\x0A\x0B\x0C"},
    {"BlankLinesAndNoFinalLineEnd", "\nS1040001AA50\n\nS70500000000FA", Error::None, 0, "\xFF\xAA"},
    {"BadChecksum", "S1040000AA51\nS1040001BB3E\nS9030000FC\n", Error::BadChecksum, 2, "\xAA\xFF"},
    {"TruncatedLine", "S1040000AA51\nS1060001BBCC\nS9030000FC\n", Error::BadSyntax, 2, "\xAA\xFF"},
    {"OddDigits", "S1040000AA5\n", Error::BadSyntax, 1, "\xFF"},
    {"NotAHexDigit", "S1040000AG51\n", Error::BadSyntax, 1, "\xFF"},
    {"NoRecordMark", "s1040000AA51\n", Error::BadSyntax, 1, "\xFF"},
    {"ReservedS4", "S4030000FC\n", Error::BadSyntax, 1, ""},
    {"CountRecordWithData", "S504000000FB\n", Error::BadSyntax, 1, ""},
    {"DataAboveFFFF", "S1040000AA51\nS205010000AA4F\nS9030000FC\n", Error::AddressTooHigh, 2,
     "\xAA"},
    {"DataRunningPastFFFF", "S105FFFF0102F9\nS9030000FC\n", Error::AddressTooHigh, 1, ""},
    {"CountDisagrees", "S1040000AA51\nS5030002FA\nS9030000FC\n", Error::BadCount, 2, "\xAA"},
    {"RecordAfterTheEnd", "S9030000FC\nS1040000AA51\n", Error::BadSyntax, 2, "\xFF"},
    {"NoEndRecordAsSrecCatWritesFromBinary", "S1040000AA51\nS1040001BB3F\nS5030002FA\n",
     Error::None, 0, "\xAA\xBB"},
    {"Empty", "", Error::None, 0, ""},
};

const ReaderCase kStrictHexCases[] = {
    {"WhatSrecCatWrites", ":020000040000FA\n:03000000020030CB\n:0400000500000000F7\n:00000001FF\n",
     Error::None, 0, "\x02\x00\x30\xFF"},
    {"SegmentBaseAndLowerCaseCrLf", ":020000020010ec\r\n:01000000aa55\r\n:00000001ff\r\n",
     Error::None, 0, std::string(0x100, '\xFF') + "\xAA"},
    {"BadChecksum", ":01000000AA55\n:01000100BB44\n:00000001FF\n", Error::BadChecksum, 2,
     "\xAA\xFF"},
    {"TruncatedLine", ":01000000AA55\n:02000100BB\n:00000001FF\n", Error::BadSyntax, 2, "\xAA\xFF"},
    {"NoStartMark", "01000000AA55\n", Error::BadSyntax, 1, "\xFF"},
    {"TrailingBlank", ":01000000AA55 \n", Error::BadSyntax, 1, "\xFF"},
    {"UnknownType", ":00000006FA\n", Error::BadSyntax, 1, ""},
    {"LinearBaseAboveFFFF", ":020000040001F9\n:01000000AA55\n:00000001FF\n", Error::AddressTooHigh,
     2, "\xFF"},
    {"DataRunningPastFFFF", ":02FFFF000102FD\n:00000001FF\n", Error::AddressTooHigh, 1, ""},
    {"RecordAfterTheEnd", ":00000001FF\n:01000000AA55\n", Error::BadSyntax, 2, "\xFF"},
    {"NoEndRecord", ":01000000AA55\n", Error::NoEndRecord, 2, "\xAA"},
};

class SrecReader : public ::testing::TestWithParam<ReaderCase> {};
class StrictHexReader : public ::testing::TestWithParam<ReaderCase> {};

void ExpectRead(const ReaderCase& c, LoadResult (*read)(Image&, std::string_view)) {
  auto image = std::make_unique<Image>();
  const LoadResult result = read(*image, c.text);
  EXPECT_EQ(result.error, c.error);
  EXPECT_EQ(result.line, c.line);
  EXPECT_EQ(Text(*image).substr(0, c.stored.size()), c.stored);
}

TEST_P(SrecReader, AcceptsOrStopsAtTheFirstBadLine) { ExpectRead(GetParam(), LoadSrecText); }
TEST_P(StrictHexReader, AcceptsOrStopsAtTheFirstBadLine) {
  ExpectRead(GetParam(), LoadStrictHexText);
}
auto Name = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Records, SrecReader, ::testing::ValuesIn(kSrecCases), Name);
INSTANTIATE_TEST_SUITE_P(Records, StrictHexReader, ::testing::ValuesIn(kStrictHexCases), Name);

class ImageFiles : public ::testing::Test {
 protected:
  ImageFiles() {
    for (int a = 0; a < 0x1234; ++a) pattern->MemoryImage[a] = static_cast<std::uint8_t>(a * 13);
    pattern->MemoryImage[0x0800] = kEmptyByte;  // an 0xFF inside, which the files must carry
    FindImageEnd(*pattern);
  }
  testing::TempDir dir;
  std::unique_ptr<Image> pattern = std::make_unique<Image>();
};

// A refused or unreadable file leaves the image as it was; an accepted one replaces it whole.
TEST_F(ImageFiles, LoadedWholeOrNotAtAll) {
  auto image = std::make_unique<Image>(*pattern);
  WriteFile(dir / "big.bin", std::string(kImageSize + 1, '\x11'));
  WriteFile(dir / "full.bin", std::string(kImageSize, '\x22'));
  WriteFile(dir / "bad.s19", "S1040000AA51\nS1040001BB00\nS9030000FC\n");
  WriteFile(dir / "short.bin", "\x33");
  EXPECT_EQ(LoadBinaryFile(*image, dir / "big.bin").error, Error::TooLarge);
  EXPECT_EQ(LoadSrecFile(*image, dir / "bad.s19").line, 2);
  EXPECT_EQ(LoadStrictHexFile(*image, dir / "missing.hex").error, Error::Unreadable);
  EXPECT_TRUE(image->MemoryImage == pattern->MemoryImage);
  EXPECT_EQ(LoadBinaryFile(*image, "/dev/zero").error, Error::TooLarge);  // ends, refused

  ASSERT_TRUE(LoadBinaryFile(*image, dir / "full.bin").Ok());
  EXPECT_EQ(image->ImageEnd, kImageSize - 1);
  ASSERT_TRUE(LoadBinaryFile(*image, dir / "short.bin").Ok());
  EXPECT_EQ(Text(*image), "\x33" + std::string(kImageSize - 1, '\xFF'));
  EXPECT_EQ(image->ImageEnd, 0);
}

TEST_F(ImageFiles, OursAndSrecCatsReadEachOther) {
  if (Shell("command -v srec_cat") != 0) GTEST_SKIP() << "srecord is not installed";
  const std::string ours = Text(*pattern);
  ASSERT_EQ(SaveSrecFile(*pattern, dir / "ours.s19"), 0x1240);
  ASSERT_TRUE(SaveBinaryFile(*pattern, 0x2000, dir / "ours.bin"));
  EXPECT_EQ(ReadFile(dir / "ours.bin"), ours.substr(0, 0x2000));
  auto srecCat = [&](const std::string& args) {
    EXPECT_EQ(Shell("cd '" + dir.path().string() + "' && srec_cat " + args), 0) << args;
  };
  // srec_cat reads ours: the same image as binary, filled with 0xFF the way ours is.
  srecCat("ours.s19 -fill 0xFF 0 0x10000 -o theirs.bin -binary");
  EXPECT_TRUE(ReadFile(dir / "theirs.bin") == ours);
  srecCat("ours.bin -binary -o from-bin.hex -intel");
  srecCat("ours.bin -binary -o from-bin.s19");
  // We read srec_cat's: S-records of every address width with counts and each kind of end record,
  // and its Intel HEX through the strict reader.
  srecCat("ours.s19 -o s19.s19");
  srecCat("ours.s19 -o s28.s19 -address-length=3");
  srecCat("ours.s19 -o s37.s19 -address-length=4");
  srecCat("ours.s19 -o theirs.hex -intel");
  for (const char* name :
       {"s19.s19", "s28.s19", "s37.s19", "theirs.hex", "from-bin.hex", "from-bin.s19"}) {
    auto image = std::make_unique<Image>();
    const bool hex = fs::path(name).extension() == ".hex";
    const LoadResult result =
        hex ? LoadStrictHexFile(*image, dir / name) : LoadSrecFile(*image, dir / name);
    ASSERT_TRUE(result.Ok()) << name << " line " << result.line;
    EXPECT_TRUE(Text(*image) == (std::string(name).starts_with("from-bin")
                                     ? ours.substr(0, 0x2000) + std::string(0xE000, '\xFF')
                                     : ours))
        << name;
  }
}

TEST(StrictHexInterop, FilesOfOtherToolsPassAndMatchTheForgivingLoad) {
  const fs::path data = ZELWIK_HEX_TESTDATA;
  for (const auto& entry : fs::directory_iterator(data)) {
    if (entry.path().extension() != ".hex") continue;
    auto image = std::make_unique<Image>();
    const LoadResult result = LoadStrictHexFile(*image, entry.path());
    ASSERT_TRUE(result.Ok()) << entry.path() << " line " << result.line;
    EXPECT_TRUE(Text(*image) == ReadFile(fs::path(entry.path()).replace_extension(".bin")));
  }
}

}  // namespace
}  // namespace zelwik
