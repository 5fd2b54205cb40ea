#include <gtest/gtest.h>

#include <random>
#include <string>

#include "image/hex_file.h"
#include "support/recording_view.h"
#include "temp_dir.h"

namespace zelwik {
namespace {

using testing::RecordingView;
using testing::TempDir;
using testing::WriteFile;

const std::string kExample = ":03000000020030CB\r\n:00000001FF\r\n";

Image Loaded(std::string_view text) {
  Image image;
  LoadHexText(image, text);
  FindImageEnd(image);
  return image;
}

// Expects exactly `bytes` at `address` and 0xFF everywhere else.
::testing::AssertionResult Holds(const Image& image, int address, std::vector<std::uint8_t> bytes) {
  for (int a = 0; a < kImageSize; ++a) {
    int i = a - address;
    std::uint8_t want = i >= 0 && i < static_cast<int>(bytes.size()) ? bytes[i] : kEmptyByte;
    if (image.MemoryImage[a] != want) {
      return ::testing::AssertionFailure() << "address " << a << " holds " << int(image.MemoryImage[a])
                                           << ", want " << int(want);
    }
  }
  return ::testing::AssertionSuccess();
}

bool IsEmpty(const Image& image) { return Holds(image, 0, {}); }

TEST(HexRecords, WorkedExample) {
  Image image = Loaded(kExample);
  EXPECT_TRUE(Holds(image, 0, {0x02, 0x00, 0x30}));
  EXPECT_EQ(image.ImageEnd, 2);
}

TEST(HexRecords, LaterRecordsWinAndOrderDoesNotMatter) {
  Image image = Loaded(
      ":0110000011DE\r\n"
      ":020000002233A9\r\n"
      ":0100010044BA\r\n"
      ":00000001FF\r\n");
  EXPECT_EQ(image.MemoryImage[0x1000], 0x11);
  EXPECT_EQ(image.MemoryImage[0], 0x22);
  EXPECT_EQ(image.MemoryImage[1], 0x44);
  EXPECT_EQ(image.ImageEnd, 0x1000);
}

TEST(HexRecords, LowerCaseDigitsAndJunkCharacters) {
  EXPECT_TRUE(Holds(Loaded(":02000000ab1fxx\r\n"), 0, {0xAB, 0x1F}));
  // A non-digit counts as 0 in any field: count "0x" is 0, address "0g10" is 0x0010.
  EXPECT_TRUE(Holds(Loaded(":030g1000x5G7a-xx\r\n"), 0x10, {0x05, 0x07, 0xA0}));
  EXPECT_TRUE(IsEmpty(Loaded(":0x000000AABBCC\r\n")));
}

TEST(HexRecords, EmptyInputsLoadNothing) {
  EXPECT_TRUE(IsEmpty(Loaded("")));
  EXPECT_TRUE(IsEmpty(Loaded(":00000001FF\r\n")));
  EXPECT_TRUE(IsEmpty(Loaded("\r\n\r\n\n")));
  EXPECT_TRUE(IsEmpty(Loaded(":")));
  EXPECT_EQ(Loaded("").ImageEnd, -1);
}

TEST(HexRecords, LineEndsOfAnyKind) {
  const std::vector<std::uint8_t> want = {0x02, 0x00, 0x30};
  EXPECT_TRUE(Holds(Loaded(":03000000020030CB\n:00000001FF\n"), 0, want));
  EXPECT_TRUE(Holds(Loaded(":03000000020030CB:00000001FF"), 0, want));
  EXPECT_TRUE(Holds(Loaded(":03000000020030CB\r:00000001FF\r"), 0, want));
  EXPECT_TRUE(Holds(Loaded("\r\n\n:03000000020030CB\r\n\r\n\n\n:00000001FF\r\n\r\n"), 0, want));
  // Blank lines between records must not shift the reader out of step.
  Image image = Loaded(":0100000011EE\n\n:0100010022DC\r\n\r\n:0100020033CA\n:00000001FF\n");
  EXPECT_TRUE(Holds(image, 0, {0x11, 0x22, 0x33}));
}

TEST(HexRecords, EndRecordFillerTakesTheNextFourCharacters) {
  const std::string end = ":00000001FF\r\n";
  // Up to four characters after the end record are swallowed with it.
  EXPECT_TRUE(IsEmpty(Loaded(end + "\r\n")));
  EXPECT_TRUE(IsEmpty(Loaded(end + "\r\n\r\n")));
  EXPECT_TRUE(IsEmpty(Loaded(end + "1234")));
  EXPECT_TRUE(IsEmpty(Loaded(end + "\r\n:0")));
  // A record right behind it loses its first four characters and stores nothing.
  EXPECT_TRUE(IsEmpty(Loaded(end + ":0100000042BD\r\n")));
  // Past those four, the next record is read normally.
  EXPECT_TRUE(Holds(Loaded(end + "ABCD:0100000042BD\r\n"), 0, {0x42}));
  EXPECT_TRUE(Holds(Loaded(end + "\r\nXX:0100000042BD\r\n"), 0, {0x42}));
  EXPECT_TRUE(Holds(Loaded(end + "\r\n\r\n:0100000042BD\r\n"), 0, {0x42}));
  // A file without any line ends: the end record's filler reaches into the next record.
  EXPECT_TRUE(Holds(Loaded(":00000001FFABCDEF:0100000042BD"), 0, {0x42}));
}

TEST(HexRecords, OnlyTheSecondTypeDigitMarksAnEndRecord) {
  for (const char* type : {"01", "11", "F1", "a1", "x1"}) {
    std::string end = std::string(":000000") + type + "FF\r\n";
    EXPECT_TRUE(IsEmpty(Loaded(end + "ABCD")));
    EXPECT_TRUE(Holds(Loaded(end + "ABCD:0100000042BD\r\n"), 0, {0x42})) << type;
  }
  // "10" is an ordinary data record.
  EXPECT_TRUE(Holds(Loaded(":0100001042AD\r\n"), 0, {0x42}));
}

TEST(HexRecords, AddressRecordsStoreNothing) {
  for (const char* type : {"02", "03", "04", "05"}) {
    std::string text = std::string(":020000001122CB\r\n:020000") + type + "0000FA\r\n:00000001FF\r\n";
    EXPECT_TRUE(Holds(Loaded(text), 0, {0x11, 0x22})) << type;
    // And they keep the reader in step for what follows.
    text = std::string(":040000") + type + "C0FFEE00xx\n:0100010042BC\n";
    EXPECT_TRUE(Holds(Loaded(text), 1, {0x42})) << type;
  }
  // The first line srec_cat writes.
  EXPECT_TRUE(IsEmpty(Loaded(":020000040000FA\r\n:00000001FF\r\n")));
}

TEST(HexRecords, BytesPastTheTopOfMemoryAreDropped) {
  Image image = Loaded(":04FFFE00AABBCCDDxx\r\n");
  EXPECT_EQ(image.MemoryImage[0xFFFE], 0xAA);
  EXPECT_EQ(image.MemoryImage[0xFFFF], 0xBB);
  EXPECT_EQ(image.MemoryImage[0], 0xFF);  // no wrap-around
  EXPECT_EQ(image.MemoryImage[1], 0xFF);

  // The largest record at the highest address.
  std::string big = ":FFFFFF00";
  for (int i = 0; i < 255; ++i) big += "5A";
  big += "00\r\n";
  image = Loaded(big);
  EXPECT_TRUE(Holds(image, 0xFFFF, {0x5A}));
}

TEST(HexRecords, RecordCutShortStoresOnlyWholeBytes) {
  EXPECT_TRUE(Holds(Loaded(":03000000AABBC"), 0, {0xAA, 0xBB}));
  EXPECT_TRUE(Holds(Loaded(":03000000AABB"), 0, {0xAA, 0xBB}));
  EXPECT_TRUE(IsEmpty(Loaded(":0300000")));
  EXPECT_TRUE(IsEmpty(Loaded(":03000000A")));
  Image image = Loaded(":0100000011EE\r\n:02001000AA");
  EXPECT_EQ(image.MemoryImage[0], 0x11);
  EXPECT_EQ(image.MemoryImage[0x10], 0xAA);
  EXPECT_EQ(image.MemoryImage[0x11], 0xFF);
}

// A reader of fixed-width fields only: every field a fixed number of characters, two of them for
// the line end. Shares LoadHexText's treatment of address records, bytes past 0xFFFF and
// short records, so only the line-end handling differs from LoadHexText.
void FixedLayoutLoad(Image& image, std::string_view text) {
  std::size_t pos = 0;
  auto get = [&] { return pos < text.size() ? text[pos++] : (++pos, '\0'); };
  while (pos < text.size()) {
    get();
    char a = get(), b = get();
    unsigned count = HexPairToByte(a, b);
    a = get(), b = get();
    unsigned address = HexPairToByte(a, b) * 256u;
    a = get(), b = get();
    address += HexPairToByte(a, b);
    a = get(), b = get();
    unsigned type = HexPairToByte(a, b);
    if (b == '1') pos += 4;
    for (unsigned i = 0; i < count; ++i) {
      bool whole = pos + 2 <= text.size();
      a = get(), b = get();
      if (whole && (type < 2 || type > 5) && address + i < 0x10000) {
        image.MemoryImage[address + i] = HexPairToByte(a, b);
      }
    }
    pos += 4;
  }
}

std::string Record(std::mt19937& rng, const std::string& type, unsigned count) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string line(1, ':');
  line += ByteToHexText(static_cast<std::uint8_t>(count));
  line += ByteToHexText(static_cast<std::uint8_t>(byte(rng))) + ByteToHexText(static_cast<std::uint8_t>(byte(rng)));
  line += type;
  for (unsigned i = 0; i < count; ++i) line += ByteToHexText(static_cast<std::uint8_t>(byte(rng)));
  return line + "00\r\n";
}

TEST(HexRecords, CrLfFilesLoadExactlyAsTheFixedLayoutReadsThem) {
  std::mt19937 rng(20240611);
  const std::string types[] = {"00", "00", "00", "04", "02", "01", "11", "F1"};
  const char junk[] = "\r\n:0F1a ";
  std::uniform_int_distribution<int> pick(0, 7), count(0, 40), lines(0, 12), cut(0, 20);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int n = lines(rng); n > 0; --n) {
      const std::string& type = types[pick(rng)];
      text += Record(rng, type, type[1] == '1' ? count(rng) % 3 : count(rng));
      if (type[1] == '1') {
        for (int k = 0; k < 4; ++k) text += junk[pick(rng)];
      }
    }
    if (cut(rng) == 0 && !text.empty()) text.resize(text.size() - 1 - rng() % std::min<std::size_t>(text.size(), 10));
    Image got, want;
    LoadHexText(got, text);
    FixedLayoutLoad(want, text);
    ASSERT_TRUE(got.MemoryImage == want.MemoryImage) << "round " << round << "\n" << text;
  }
}

TEST(HexRecords, LineEndStyleDoesNotChangeTheImage) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> count(0, 32);
  for (int round = 0; round < 200; ++round) {
    std::string crlf;
    for (int n = 0; n < 10; ++n) crlf += Record(rng, rng() % 5 ? "00" : "04", count(rng));
    crlf += ":00000001FF\r\n";
    std::string lf, none, blank;
    for (char c : crlf) {
      if (c == '\r') continue;
      lf += c;
      if (c != '\n') none += c;
      blank += c;
      if (c == '\n') blank += "\r\n";
    }
    Image want;
    FixedLayoutLoad(want, crlf);
    for (const std::string* text : {&lf, &none, &blank}) {
      Image got;
      LoadHexText(got, *text);
      ASSERT_TRUE(got.MemoryImage == want.MemoryImage) << *text;
    }
  }
}

class HexLoadFile : public ::testing::Test {
 protected:
  TempDir dir;
  RecordingView view;
  Image image;
};

TEST_F(HexLoadFile, ReportsAndListsTheWorkedExample) {
  const std::string path = dir / "example.hex";
  WriteFile(path, kExample);
  ASSERT_EQ(kExample.size(), 32u);
  EXPECT_TRUE(LoadHexFile(image, path, view));
  EXPECT_EQ(image.ImageEnd, 2);
  ASSERT_EQ(view.log.size(), 1u);
  EXPECT_EQ(view.log[0].substr(0, 43), "0000:020030" + std::string(26, 'F') + " \x02" "0\xFF\xFF\xFF");
  EXPECT_EQ(view.events.front(), "clear");
  EXPECT_EQ(view.events.back(), "status:  Odczytano 3 bajtów.");
  EXPECT_EQ(view.statuses.size(), 1u);
  EXPECT_TRUE(view.pauses.empty());
}

TEST_F(HexLoadFile, CountIsTheExtentNotTheNumberOfDataBytes) {
  const std::string path = dir / "a.hex";
  WriteFile(path, ":10080000000102030405060708090A0B0C0D0E0F70\r\n:00000001FF\r\n");
  EXPECT_TRUE(LoadHexFile(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 2064 bajtów.");
  EXPECT_EQ(view.log.size(), 129u);

  // Trailing 0xFF bytes are no content.
  WriteFile(path, ":04002000AABBFFFFxx\r\n");
  EXPECT_TRUE(LoadHexFile(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 34 bajtów.");
  EXPECT_EQ(view.log.size(), 3u);  // cleared before the second listing

  WriteFile(path, "");
  EXPECT_TRUE(LoadHexFile(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 0 bajtów.");
  EXPECT_TRUE(view.log.empty());
  EXPECT_EQ(image.ImageEnd, -1);
}

TEST_F(HexLoadFile, ASecondLoadKeepsNothingOfTheFirst) {
  WriteFile(dir / "a.hex", ":0400000011223344xx\r\n");
  WriteFile(dir / "b.hex", ":0100100055xx\r\n");
  ASSERT_TRUE(LoadHexFile(image, dir / "a.hex", view));
  ASSERT_TRUE(LoadHexFile(image, dir / "b.hex", view));
  EXPECT_TRUE(Holds(image, 0x10, {0x55}));
  EXPECT_EQ(view.LastStatus(), " Odczytano 17 bajtów.");
}

TEST_F(HexLoadFile, UnreadableFilesReportIoErrorThenAnEmptyImage) {
  WriteFile(dir / "a.hex", kExample);
  const std::string sub = dir / "sub.hex";
  std::filesystem::create_directory(sub);
  for (const std::string& path : {dir / "missing.hex", sub, std::string("/proc/no/such"), std::string("")}) {
    ASSERT_TRUE(LoadHexFile(image, dir / "a.hex", view));
    view = RecordingView();
    EXPECT_FALSE(LoadHexFile(image, path, view)) << path;
    EXPECT_TRUE(IsEmpty(image)) << path;
    EXPECT_EQ(image.ImageEnd, -1);
    EXPECT_EQ(view.events, (std::vector<std::string>{"clear", "status:  Błąd I/O ...", "pause: 1500",
                                                     "status:  Odczytano 0 bajtów."}))
        << path;
  }
}

TEST_F(HexLoadFile, DevicesReadLikeFiles) {
  EXPECT_TRUE(LoadHexFile(image, "/dev/null", view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 0 bajtów.");
  // An endless source must not hang the load.
  view = RecordingView();
  EXPECT_FALSE(LoadHexFile(image, "/dev/zero", view));
  EXPECT_EQ(view.statuses.front(), " Błąd I/O ...");
}

}  // namespace
}  // namespace zelwik
