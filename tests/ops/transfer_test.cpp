// Programming, reading and verifying against the simulated programmer: frames, texts, image.
#include <gtest/gtest.h>

#include "ops_test_support.h"

namespace zelwik::testing {
namespace {

using sim::SimChip;

// Content without 0xFF, so ImageEnd is exactly the last address filled.
std::uint8_t Pattern(int a) { return static_cast<std::uint8_t>((a * 7 + 3) % 255); }

void FillImage(Image& image, int end) {
  ClearImage(image);
  for (int a = 0; a <= end; ++a) image.MemoryImage[a] = Pattern(a);
  FindImageEnd(image);
}

std::uint8_t Hi(int a) { return static_cast<std::uint8_t>(a >> 8); }
std::uint8_t Lo(int a) { return static_cast<std::uint8_t>(a & 0xFF); }

void AddReads(Frames& frames, bool sequential, int count) {
  for (int a = 0; a < count; ++a) {
    if (sequential) frames.Add(F(0x0F)).Add(F(0x12));
    else frames.Add(F(0x01, Hi(a), Lo(a)));
  }
}

std::string Mismatch(int a, std::uint8_t found, std::uint8_t expected) {
  return " Błąd: " + ByteToHexText(Hi(a)) + ByteToHexText(Lo(a)) + " jest " + ByteToHexText(found) +
         " ma byc " + ByteToHexText(expected);
}

// --- programming ---------------------------------------------------------------------------------

struct ProgramCase {
  const char* name;
  SimChip socket;
  int chipType;
  std::uint8_t erase, write;  // write 0x0E: sequential
  int end;
};

class ProgramTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramTest, ErasesWritesEveryByteAndLandsInTheChip) {
  const ProgramCase& c = GetParam();
  Rig rig(c.socket, c.chipType);
  rig.FillFlash([](int) -> std::uint8_t { return 0x00; });  // the erase must clear this
  FillImage(rig.state->image, c.end);

  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::Success);

  Frames expected;
  expected.Add(kProbe);
  if (c.chipType == 0) expected.Add(DetectionFrames());
  expected.Add({kStop, kStart, F(c.erase), kStop, kStart});
  for (int a = 0; a <= c.end; ++a) {
    if (c.write == 0x0E) expected.Add(F(0x0E, 0, 0, Pattern(a))).Add(F(0x12));
    else expected.Add(F(c.write, Hi(a), Lo(a), Pattern(a)));
  }
  expected.Add(kStop);
  EXPECT_EQ(rig.SentText(), expected.Text());
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Zapisywanie pamięci...",
                                                         " Zpisywanie zakończono...", " Gotowy..."}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_EQ(rig.view.gaugeMax, c.end);
  EXPECT_EQ(rig.view.gaugeProgress, 0);
  EXPECT_EQ(rig.view.progressCalls, c.end + 2);  // one per byte, then the reset
  const auto flash = rig.Flash();
  for (int a = 0; a <= c.end; ++a) ASSERT_EQ(flash[a], Pattern(a)) << "address " << a;
  if (c.end + 1 < static_cast<int>(flash.size())) {
    EXPECT_EQ(flash[c.end + 1], 0xFF);
  }
  EXPECT_EQ(rig.state->ChipType, c.chipType);
  EXPECT_TRUE(rig.PortReusable());
}

const ProgramCase kProgramCases[] = {
    {"Auto89C51", SimChip::C51_12V, 0, 0x02, 0x00, 300},
    {"Auto89C52FiveVolt", SimChip::C52_5V, 0, 0x04, 0x03, 300},
    {"Auto89C55FiveVoltWholeChip", SimChip::C55_5V, 0, 0x04, 0x03, 0x4FFF},
    {"Auto2051", SimChip::C2051, 0, 0x10, 0x0E, 300},
    {"Chosen89C51CapacityMinusOne", SimChip::C51_12V, 1, 0x02, 0x00, 0x0FFF},
    {"Chosen4051CapacityMinusOne", SimChip::C4051, 7, 0x10, 0x0E, 0x0FFF},
    {"Chosen1051CapacityMinusOne", SimChip::C1051, 5, 0x10, 0x0E, 0x03FF},
    {"Chosen2051CapacityMinusOne", SimChip::C2051, 6, 0x10, 0x0E, 0x07FF},
    {"OtherChipTwelveVoltCommands", SimChip::C51_12V, 10, 0x02, 0x00, 0x0FFF},
    {"OneByte", SimChip::C52_12V, 3, 0x02, 0x00, 0},
};
INSTANTIATE_TEST_SUITE_P(Chips, ProgramTest, ::testing::ValuesIn(kProgramCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Program, ImageAtCapacityIsRefusedBeforeTheErase) {
  struct Case {
    SimChip socket;
    int chipType;
    int end;
  } const cases[] = {{SimChip::C51_12V, 1, 0x1000}, {SimChip::C4051, 7, 0x1000},
                     {SimChip::C1051, 5, 0x400},    {SimChip::C2051, 0, 0x800},
                     {SimChip::C51_12V, 10, 0x8000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.end);
    Rig rig(c.socket, c.chipType);
    rig.FillFlash([](int) -> std::uint8_t { return 0x5A; });
    FillImage(rig.state->image, c.end);
    EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::TooLarge);
    Frames expected;
    expected.Add(kProbe);
    if (c.chipType == 0) expected.Add(DetectionFrames());
    EXPECT_EQ(rig.SentText(), expected.Text());
    EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Za mało pamięci", " Gotowy..."}));
    EXPECT_EQ(rig.Flash()[0], 0x5A);
  }
}

TEST(Program, AllEmptyImageStillErases) {
  Rig rig(SimChip::C2051, 6);
  rig.FillFlash([](int) -> std::uint8_t { return 0x00; });
  FindImageEnd(rig.state->image);
  ASSERT_EQ(rig.state->image.ImageEnd, -1);
  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::Success);
  EXPECT_EQ(rig.SentText(), Frames().Add({kProbe, kStop, kStart, F(0x10), kStop, kStart, kStop}).Text());
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Zapisywanie pamięci...",
                                                         " Zpisywanie zakończono...", " Gotowy..."}));
  EXPECT_EQ(rig.view.gaugeMax, -1);
  EXPECT_EQ(rig.Flash()[0], 0xFF);
}

TEST(Program, DifferenceAtTheFirstByteStopsAtOnce) {
  Rig rig(SimChip::C51_12V, 1, WrongByteAt(0));
  FillImage(rig.state->image, 100);
  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::Mismatch);
  const std::uint8_t d = Pattern(0);
  EXPECT_EQ(rig.SentText(),
            Frames().Add({kProbe, kStop, kStart, F(0x02), kStop, kStart, F(0x00, 0, 0, d), kStop}).Text());
  EXPECT_EQ(rig.view.statuses,
            (std::vector<std::string>{"", " Zapisywanie pamięci...",
                                      Mismatch(0, static_cast<std::uint8_t>(d ^ 0xFF), d), " Gotowy..."}));
  EXPECT_EQ(rig.view.progressCalls, 1);  // only the reset at the end
}

TEST(Program, DifferenceInTheMiddleOfA20PinChip) {
  const int bad = 0x1A3;
  Rig rig(SimChip::C2051, 0, WrongByteAt(bad));
  FillImage(rig.state->image, 0x700);
  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::Mismatch);
  Frames expected;
  expected.Add(kProbe).Add(DetectionFrames()).Add({kStop, kStart, F(0x10), kStop, kStart});
  for (int a = 0; a <= bad; ++a) expected.Add(F(0x0E, 0, 0, Pattern(a))).Add(F(0x12));
  expected.Add(kStop);
  EXPECT_EQ(rig.SentText(), expected.Text());
  const std::uint8_t d = Pattern(bad);
  EXPECT_EQ(rig.view.statuses[2], Mismatch(bad, static_cast<std::uint8_t>(d ^ 0xFF), d));
  EXPECT_EQ(rig.view.statuses.size(), 4u);
  EXPECT_EQ(rig.view.progressCalls, bad + 1);  // 0 .. bad-1, then the reset
}

TEST(Program, NoChipInAutomaticMode) {
  Rig rig(SimChip::Empty);
  FillImage(rig.state->image, 10);
  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::NoChip);
  EXPECT_EQ(rig.SentText(), Frames().Add(kProbe).Add(DetectionFrames()).Text());
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", kTextNoChip, kTextReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_EQ(rig.view.progressCalls, 1);  // the reset of the normal tail
}

// --- reading -------------------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  SimChip socket;
  int chipType;
  int size;
  bool sequential;
};

class ReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadTest, ReadsTheChipsSizeAndBlanksTheRest) {
  const ReadCase& c = GetParam();
  Rig rig(c.socket, c.chipType);
  rig.FillFlash([](int a) -> std::uint8_t { return a < 40 ? Pattern(a) : 0xFF; });
  // A bigger image from before must not survive above the chip's size.
  for (auto& b : rig.state->image.MemoryImage) b = 0x00;
  rig.view.AddLogLine("old listing");

  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::Success);

  Frames expected;
  expected.Add(kProbe);
  if (c.chipType == 0) expected.Add(DetectionFrames());
  expected.Add(kStop).Add(kStart);
  AddReads(expected, c.sequential, c.size);
  expected.Add(kStop);
  EXPECT_EQ(rig.SentText(), expected.Text());

  const Image& image = rig.state->image;
  for (int a = 0; a < kImageSize; ++a)
    ASSERT_EQ(image.MemoryImage[a], a < 40 ? Pattern(a) : 0xFF) << "address " << a;
  EXPECT_EQ(image.ImageEnd, 39);
  ASSERT_EQ(rig.view.log.size(), 3u);  // 0000, 0010, 0020
  EXPECT_EQ(rig.view.log[0], ListLine(image, 0));
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Odczytywanie pamięci...",
                                                         " Odczytywanie zakończono...", " Gotowy..."}));
  EXPECT_EQ(rig.view.gaugeMax, c.size - 1);
  EXPECT_EQ(rig.view.progressCalls, c.size + 1);
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_TRUE(rig.PortReusable());
}

const ReadCase kReadCases[] = {
    {"Chosen89C51", SimChip::C51_12V, 1, 0x1000, false},
    {"Auto89C52FiveVolt", SimChip::C52_5V, 0, 0x2000, false},
    {"Auto89C55", SimChip::C55_12V, 0, 0x5000, false},
    {"OtherChipReads32K", SimChip::C55_12V, 10, 0x8000, false},
    {"Chosen1051", SimChip::C1051, 5, 0x400, true},
    {"Auto2051", SimChip::C2051, 0, 0x800, true},
    {"Chosen4051", SimChip::C4051, 7, 0x1000, true},
};
INSTANTIATE_TEST_SUITE_P(Chips, ReadTest, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Read, ErasedChipGivesAnEmptyImage) {
  Rig rig(SimChip::C1051, 5);
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::Success);
  EXPECT_EQ(rig.state->image.ImageEnd, -1);
  EXPECT_TRUE(rig.view.log.empty());
}

TEST(Read, NoChipClearsImageAndLogButKeepsImageEnd) {
  Rig rig(SimChip::Empty);
  FillImage(rig.state->image, 500);
  rig.view.AddLogLine("old");
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::NoChip);
  EXPECT_EQ(rig.state->image.MemoryImage[0], 0xFF);
  EXPECT_EQ(rig.state->image.ImageEnd, 500);
  EXPECT_TRUE(rig.view.log.empty());
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", kTextNoChip, kTextReady}));
}

// --- verifying -----------------------------------------------------------------------------------

TEST(Verify, EqualChipInEveryGroup) {
  struct Case {
    SimChip socket;
    int chipType;
    bool sequential;
  } const cases[] = {{SimChip::C51_12V, 0, false}, {SimChip::C51_5V, 0, false},
                     {SimChip::C52_12V, 10, false}, {SimChip::C2051, 0, true},
                     {SimChip::C4051, 7, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.socket));
    Rig rig(c.socket, c.chipType);
    rig.FillFlash([](int a) -> std::uint8_t { return a <= 200 ? Pattern(a) : 0x00; });
    FillImage(rig.state->image, 200);  // the chip differs above ImageEnd: never read
    EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::Success);
    Frames expected;
    expected.Add(kProbe);
    if (c.chipType == 0) expected.Add(DetectionFrames());
    expected.Add(kStop).Add(kStart);
    AddReads(expected, c.sequential, 201);
    expected.Add(kStop);
    EXPECT_EQ(rig.SentText(), expected.Text());
    EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Weryfikowanie pamięci...",
                                                           " Weryfikowanie zakończono...", " Gotowy..."}));
    EXPECT_EQ(rig.view.gaugeMax, 200);
    EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  }
}

TEST(Verify, FirstDifferenceEndsTheComparison) {
  {  // first byte, addressed
    Rig rig(SimChip::C51_12V, 1);
    FillImage(rig.state->image, 50);
    EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::Mismatch);
    EXPECT_EQ(rig.SentText(), Frames().Add({kProbe, kStop, kStart, F(0x01), kStop}).Text());
    EXPECT_EQ(rig.view.statuses[2], Mismatch(0, 0xFF, Pattern(0)));
    EXPECT_EQ(rig.view.progressCalls, 1);
  }
  {  // middle, 20-pin: NEXT_ADDRESS follows the failing read too
    Rig rig(SimChip::C1051, 5);
    rig.FillFlash([](int a) -> std::uint8_t { return a == 0x12 ? 0x00 : Pattern(a); });
    FillImage(rig.state->image, 0x3FF);
    EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::Mismatch);
    Frames expected;
    expected.Add({kProbe, kStop, kStart});
    AddReads(expected, true, 0x13);
    expected.Add(kStop);
    EXPECT_EQ(rig.SentText(), expected.Text());
    EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Weryfikowanie pamięci...",
                                                           Mismatch(0x12, 0x00, Pattern(0x12)), " Gotowy..."}));
  }
}

TEST(Verify, EmptyImageSendsNoDataFrame) {
  Rig rig(SimChip::C52_12V, 3);
  FindImageEnd(rig.state->image);
  EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::Success);
  EXPECT_EQ(rig.SentText(), Frames().Add({kProbe, kStop, kStart, kStop}).Text());
}

TEST(Verify, ImageLongerThanTheChipIsComparedToItsEnd) {
  Rig rig(SimChip::C51_12V, 1);
  rig.FillFlash(Pattern);
  ClearImage(rig.state->image);
  for (int a = 0; a < 0x1000; ++a) rig.state->image.MemoryImage[a] = Pattern(a);
  rig.state->image.MemoryImage[0x1FFF] = 0xFF;
  rig.state->image.MemoryImage[0x1FFE] = 0x00;
  FindImageEnd(rig.state->image);
  EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::Mismatch);
  // Above the chip the bus reads FF, equal to the image's gap, up to the 00 at 1FFE.
  Frames expected;
  expected.Add({kProbe, kStop, kStart});
  AddReads(expected, false, 0x1FFF);
  expected.Add(kStop);
  EXPECT_EQ(rig.SentText(), expected.Text());
  EXPECT_EQ(rig.view.statuses[2], Mismatch(0x1FFE, 0xFF, 0x00));
}

}  // namespace
}  // namespace zelwik::testing
