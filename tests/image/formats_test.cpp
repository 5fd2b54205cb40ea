// S-record, raw binary and strict Intel HEX: where each reader stops, and files exchanged with
// srec_cat both ways.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "image/binary_file.h"
#include "image/hex_file.h"
#include "image/srec.h"
#include "image/strict_hex.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

using Error = LoadResult::Error;
using testing::ReadFile;
using testing::WriteFile;
using Reader = LoadResult (*)(Image&, std::string_view);

std::string Text(const Image& image) {
  return {image.MemoryImage.begin(), image.MemoryImage.end()};
}

struct ReaderCase {
  const char* name;
  Reader read;
  std::string text;
  Error error;
  int line;
  std::string stored;  // from address 0; an 0xFF where a refused record would have written
};

const Reader kSrec = LoadSrecText, kHex = LoadStrictHexText;
const ReaderCase kReaderCases[] = {
    {"SrecWideAddressesLowerCaseCrLf", kSrec,
     "S2070000010a0b0cd6\r\nS30600000000aa4f\r\nS804000000FB\r\n", Error::None, 0,
     "\xAA\x0A\x0B\x0C"},
    {"SrecBadChecksum", kSrec, "S1040000AA51\nS1040001BB3E\n", Error::BadChecksum, 2, "\xAA\xFF"},
    {"SrecTruncatedLine", kSrec, "S1040000AA51\nS1060001BBCC\n", Error::BadSyntax, 2, "\xAA\xFF"},
    {"SrecDataAboveFFFF", kSrec, "S105FFFF0102F9\n", Error::AddressTooHigh, 1, ""},
    {"SrecCountDisagrees", kSrec, "S1040000AA51\nS5030002FA\n", Error::BadCount, 2, "\xAA"},
    {"HexBadChecksum", kHex, ":01000000AA55\n:01000100BB44\n:00000001FF\n", Error::BadChecksum, 2,
     "\xAA\xFF"},
    {"HexLinearBaseAboveFFFF", kHex, ":020000040001F9\n:01000000AA55\n", Error::AddressTooHigh, 2,
     "\xFF"},
    {"HexNoEndRecord", kHex, ":01000000AA55\n", Error::NoEndRecord, 2, "\xAA"},
};

class Readers : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(Readers, AcceptOrStopAtTheFirstBadLine) {
  const ReaderCase& c = GetParam();
  auto image = std::make_unique<Image>();
  const LoadResult result = c.read(*image, c.text);
  EXPECT_EQ(result.error, c.error);
  EXPECT_EQ(result.line, c.line);
  EXPECT_EQ(Text(*image).substr(0, c.stored.size()), c.stored);
}
INSTANTIATE_TEST_SUITE_P(Records, Readers, ::testing::ValuesIn(kReaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageFiles, OursAndSrecCatsReadEachOther) {
  if (std::system("command -v srec_cat >/dev/null") != 0) GTEST_SKIP() << "no srecord";
  testing::TempDir dir;
  auto pattern = std::make_unique<Image>();
  for (int a = 0; a < 0x1234; ++a) pattern->MemoryImage[a] = static_cast<std::uint8_t>(a * 13);
  pattern->MemoryImage[0x0800] = kEmptyByte;  // an 0xFF inside, which every file must carry
  const std::string ours = Text(*pattern), ours8K = ours.substr(0, 0x2000);
  ASSERT_EQ(SaveSrecFile(*pattern, dir / "ours.s19"), 0x1240);
  ASSERT_TRUE(SaveBinaryFile(*pattern, 0x2000, dir / "ours.bin"));
  EXPECT_EQ(ReadFile(dir / "ours.bin"), ours8K);
  for (const char* args : {"ours.s19 -fill 0xFF 0 0x10000 -o theirs.bin -binary",
                           "ours.s19 -o s28.s19 -address-length=3",
                           "ours.s19 -o s37.s19 -address-length=4", "ours.s19 -o theirs.hex -intel",
                           "ours.bin -binary -o bin.s19", "ours.bin -binary -o bin.hex -intel"})
    ASSERT_EQ(std::system(("cd " + dir.path().string() + " && srec_cat " + args).c_str()), 0);
  EXPECT_TRUE(ReadFile(dir / "theirs.bin") == ours);
  const std::string bin = ours8K + std::string(kImageSize - 0x2000, '\xFF');
  const struct {
    const char* name;
    LoadResult (*load)(Image&, const std::string&);
    std::string want;
  } theirs[] = {{"s28.s19", LoadSrecFile, ours},
                {"s37.s19", LoadSrecFile, ours},
                {"bin.s19", LoadSrecFile, bin},
                {"theirs.hex", LoadStrictHexFile, ours},
                {"bin.hex", LoadStrictHexFile, bin}};
  for (const auto& t : theirs) {
    auto image = std::make_unique<Image>();
    const LoadResult result = t.load(*image, dir / t.name);
    EXPECT_TRUE(result.Ok()) << t.name << " line " << result.line;
    EXPECT_TRUE(Text(*image) == t.want) << t.name;
  }
}

}  // namespace
}  // namespace zelwik
