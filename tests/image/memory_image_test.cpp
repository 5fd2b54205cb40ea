#include <gtest/gtest.h>

#include "image/memory_image.h"
#include "support/recording_view.h"

namespace zelwik {
namespace {

using testing::RecordingView;

TEST(HexDigits, UpperAndLowerCaseAreDigitsEverythingElseIsZero) {
  EXPECT_EQ(HexPairToByte('7', 'F'), 0x7F);
  EXPECT_EQ(HexPairToByte('a', 'b'), 0xAB);
  EXPECT_EQ(HexPairToByte('1', 'f'), 0x1F);
  EXPECT_EQ(HexPairToByte('F', 'x'), 0xF0);
  EXPECT_EQ(HexPairToByte('g', '5'), 0x05);
  EXPECT_EQ(HexPairToByte('\r', '\n'), 0x00);
  EXPECT_EQ(HexPairToByte(static_cast<char>(0xC6), static_cast<char>(0xB9)), 0x00);
  // Neighbours of the digit ranges.
  EXPECT_EQ(HexPairToByte('/', ':'), 0x00);
  EXPECT_EQ(HexPairToByte('@', 'G'), 0x00);
  EXPECT_EQ(HexPairToByte('`', 'g'), 0x00);
}

TEST(HexDigits, EveryByteRoundTripsThroughItsText) {
  for (int v = 0; v < 256; ++v) {
    const std::string text = ByteToHexText(static_cast<std::uint8_t>(v));
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(HexPairToByte(text[0], text[1]), v);
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos) << text;
  }
  EXPECT_EQ(ByteToHexText(0x05), "05");
  EXPECT_EQ(ByteToHexText(0xAB), "AB");
  char out[3] = {'x', 'y', 'z'};
  ByteToHexChars(0x3C, out);
  EXPECT_EQ(std::string(out, 3), "3Cz");  // no terminator written
}

TEST(ImageEndScan, FindsHighestNonEmptyByte) {
  Image image;
  EXPECT_EQ(image.ImageEnd, 0);  // before any scan, although empty
  FindImageEnd(image);
  EXPECT_EQ(image.ImageEnd, -1);
  image.MemoryImage[0] = 0x00;
  FindImageEnd(image);
  EXPECT_EQ(image.ImageEnd, 0);
  image.MemoryImage[0x1234] = 0x12;
  image.MemoryImage[0x1235] = 0xFF;
  FindImageEnd(image);
  EXPECT_EQ(image.ImageEnd, 0x1234);
  image.MemoryImage[0xFFFF] = 0xFE;
  FindImageEnd(image);
  EXPECT_EQ(image.ImageEnd, 0xFFFF);
  ClearImage(image);
  EXPECT_EQ(image.ImageEnd, 0xFFFF);  // clearing leaves the end alone
  FindImageEnd(image);
  EXPECT_EQ(image.ImageEnd, -1);
}

TEST(Listing, OneLinePerSixteenBytesUpToImageEnd) {
  Image image;
  RecordingView view;
  FindImageEnd(image);
  ListImage(image, view);
  EXPECT_TRUE(view.log.empty());

  image.MemoryImage[0] = 0x41;
  FindImageEnd(image);
  ListImage(image, view);
  ASSERT_EQ(view.log.size(), 1u);
  EXPECT_EQ(view.log[0], "0000:41" + std::string(30, 'F') + " A" + std::string(15, '\xFF'));

  view.log.clear();
  image.MemoryImage[0xFFFF] = 0xFF;
  image.MemoryImage[0xFFFE] = 0x00;
  image.MemoryImage[0xFFF0] = 0x7E;
  FindImageEnd(image);
  ListImage(image, view);
  ASSERT_EQ(view.log.size(), 4096u);
  EXPECT_EQ(view.log.back().substr(0, 5), "FFF0:");
  EXPECT_EQ(view.log[1].substr(0, 5), "0010:");
  EXPECT_EQ(view.log[0x100].substr(0, 5), "1000:");
}

TEST(Listing, ZeroBytesShowDigitsButNoCharacterOthersPassRaw) {
  Image image;
  const std::uint8_t bytes[16] = {0x00, 0x01, 0x0D, 0x0A, 0x00, 'z', 0xB9, 0x7F,
                                  0x00, 0x00, 0x20, 0xFF, 0x80, 0x09, 0x00, 0x30};
  std::copy(std::begin(bytes), std::end(bytes), image.MemoryImage.begin() + 0x20);
  EXPECT_EQ(ListLine(image, 0x20),
            "0020:00010D0A007AB97F000020FF80090030 "
            "\x01\x0D\x0Az\xB9\x7F \xFF\x80\x09"
            "0");
}

}  // namespace
}  // namespace zelwik
