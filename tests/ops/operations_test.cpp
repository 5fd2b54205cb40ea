// Every operation against the simulated programmer: the frames it sends, the texts and pauses it
// shows, and what lands in the chip or the image; with no programmer, and one gone silent.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "link/commands.h"
#include "link/pace.h"
#include "ops/chip_memory.h"
#include "ops/file_formats.h"
#include "ops/hex_files.h"
#include "ops_test_support.h"
#include "support/temp_dir.h"

namespace zelwik::testing {
namespace {

using sim::SimChip;
using enum SimChip;
using Op = std::function<OpResult(State&, View&)>;
const std::string kNoChip = " Brak układu lub sygnatury", kLocked = " Układ zablokowano...";

Op Cmd(ChipCommand c) {
  return [c](State& s, View& v) { return RunChipCommand(s, v, c); };
}
Op Sig(Signature w) {
  return [w](State& s, View& v) { return ShowSignature(s, v, w); };
}
const Op kErase = Cmd(ChipCommand::Erase), kLock1 = Cmd(ChipCommand::Lock1),
         kLock3 = Cmd(ChipCommand::Lock3), kLockAll = Cmd(ChipCommand::LockAll),
         kDevice = Sig(Signature::Device), kMaker = Sig(Signature::Maker),
         kVoltage = Sig(Signature::Voltage);

struct CommandCase {
  const char *name, *sent;
  Op op;
  SimChip socket;
  int chipType;  // 0: detected
  std::string text;
  int pause;
  OpResult result = OpResult::Success;
};

const CommandCase kCommandCases[] = {
    {"Erase12V", "FF D 13 11 02 13", kErase, C51_12V, 0, " Układ wymazano...", 2000},
    {"EraseEmptySocket", "FF D 13 11 13", kErase, Empty, 0, kNoChip, 2000, OpResult::NoChip},
    {"Lock1FiveVolt", "FF D 13 11 08 13", kLock1, C52_5V, 0, " Układ zablakowano...", 2000},
    {"Lock3TwentyPinHasNone", "FF D 13 11 13", kLock3, C2051, 0, " Układ nie posiada tej blokady !",
     2000, OpResult::NotSupported},
    {"LockAllOtherChip", "FF 13 11 05 06 07 13", kLockAll, C51_12V, 10, kLocked, 2000},
    {"LockAll5V", "FF D 13 11 08 09 0A 13", kLockAll, C52_5V, 0, kLocked, 2000},
    {"LockAll20Pin", "FF 13 11 14 13 11 15 13", kLockAll, C1051, 5, kLocked, 2000},
    {"Device12V", "FF D 13 11 0B 13", kDevice, C51_12V, 0, " Sygnatura układu=51H", 1500},
    {"Device20Pin", "FF D 13 11 17 13", kDevice, C2051, 0, " Sygnatura układu=21H", 1500},
    // A chosen chip is never checked: the 20-pin command goes to the 40-pin chip, which answers FF.
    {"DeviceChosen2051On89C51", "FF 13 11 17 13", kDevice, C51_12V, 6, " Sygnatura układu=FFH",
     1500},
    {"DeviceEmptySocket", "FF D 13", kDevice, Empty, 0, kNoChip, 1500, OpResult::NoChip},
    {"Maker12V", "FF 13 11 0C 13", kMaker, C51_12V, 1, " Sygnatura producenta=1EH", 1500},
    {"Maker20Pin", "FF D 13 11 13 11 16 13", kMaker, C2051, 0, " Sygnatura producenta=1EH", 1500},
    {"Voltage5V", "FF D 13 11 0D 13", kVoltage, C52_5V, 0, " Sygnatura napięcia=05H", 2000},
    {"Voltage20PinHasNone", "FF 13 11 13", kVoltage, C2051, 6, " Układ nie posiada tej sygnatury",
     2000, OpResult::NotSupported},
};

class ChipCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ChipCommandTest, FramesTextAndPause) {
  const CommandCase& c = GetParam();
  Rig rig(c.socket, c.chipType);
  EXPECT_EQ(c.op(*rig.state, rig.view), c.result);
  EXPECT_EQ(rig.SentText(), Sent(c.sent));
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{c.text, kReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{c.pause});
  EXPECT_EQ(rig.state->ChipType, c.chipType);  // a detected chip is not remembered
  EXPECT_TRUE(rig.PortReusable());
}
INSTANTIATE_TEST_SUITE_P(Groups, ChipCommandTest, ::testing::ValuesIn(kCommandCases), CaseName);

// --- programming, reading, verifying -------------------------------------------------------------

enum Kind { kProgram, kRead, kVerify };
const Op kRun[] = {ProgramChip, ReadChip, VerifyChip};
const char* const kBusy[] = {" Zapisywanie pamięci...", " Odczytywanie pamięci...",
                             " Weryfikowanie pamięci..."};
const char* const kDone[] = {" Zpisywanie zakończono...", " Odczytywanie zakończono...",
                             " Weryfikowanie zakończono..."};

// Frames for bytes [0, count): 0E/0F go through the 20-pin counter, the others carry the address.
std::string Data(std::uint8_t code, int count, bool program) {
  std::vector<sim::Frame> frames;
  for (int a = 0; a < count; ++a) {
    const std::uint8_t v = program ? Pattern(a) : 0;
    if (code == 0x0E || code == 0x0F)
      frames.insert(frames.end(), {{code, 0, 0, v}, {0x12, 0, 0, 0}});
    else
      frames.push_back({code, static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a), v});
  }
  return frames.empty() ? "" : std::string(" ").append(FramesText(frames));
}

struct TransferCase {
  const char *name, *head;  // head: the frames before the data
  Kind kind;
  SimChip socket;
  int chipType;
  std::uint8_t code;  // per byte
  int count;          // bytes written, read or compared
  int bad = -1;       // the chip gives a wrong byte here
};

const TransferCase kTransferCases[] = {
    {"ProgramDetected89C52FiveVolt", "FF D 13 11 04 13 11", kProgram, C52_5V, 0, 0x03, 301},
    {"ProgramChosen1051Full", "FF 13 11 10 13 11", kProgram, C1051, 5, 0x0E, 0x400},
    {"ProgramOtherChipAs12V", "FF 13 11 02 13 11", kProgram, C51_12V, 10, 0x00, 0x1000},
    {"ProgramEmptyImageStillErases", "FF 13 11 10 13 11", kProgram, C2051, 6, 0x0E, 0},
    {"ProgramFirstByteDiffers", "FF D 13 11 02 13 11", kProgram, C51_12V, 0, 0x00, 301, 0},
    {"ProgramDiffersMidway20Pin", "FF D 13 11 10 13 11", kProgram, C2051, 0, 0x0E, 0x700, 0x1A3},
    {"ReadDetected89C52FiveVolt", "FF D 13 11", kRead, C52_5V, 0, 0x01, 0x2000},
    {"ReadOtherChip32K", "FF 13 11", kRead, C55_12V, 10, 0x01, 0x8000},
    {"ReadDetected2051", "FF D 13 11", kRead, C2051, 0, 0x0F, 0x800},
    {"VerifyDetected89C51FiveVolt", "FF D 13 11", kVerify, C51_5V, 0, 0x01, 201},
    {"VerifyChosen4051", "FF 13 11", kVerify, C4051, 7, 0x0F, 201},
    {"VerifyEmptyImage", "FF 13 11", kVerify, C52_12V, 3, 0x01, 0},
    // NEXT_ADDRESS follows the failing read too.
    {"VerifyDiffersMidway20Pin", "FF 13 11", kVerify, C1051, 5, 0x0F, 0x400, 0x12},
};

class TransferTest : public ::testing::TestWithParam<TransferCase> {};

TEST_P(TransferTest, FramesTextsAndContent) {
  const TransferCase& c = GetParam();
  Rig rig(c.socket, c.chipType, {.wrongByteAtAddress = c.bad});
  // Program must erase the 00s, read must blank an old image above the chip's 40 bytes, verify
  // must not look above the image's end.
  const int filled = c.kind == kRead ? 40 : c.count;
  rig.FillFlash([&](int a) {
    return c.kind != kProgram && a < filled ? Pattern(a) : c.kind == kRead ? 0xFF : 0;
  });
  if (c.kind == kRead)
    rig.state->image.MemoryImage.fill(0x00);
  else
    FillImage(rig.state->image, c.count - 1);
  rig.view.AddLogLine("old listing");

  const OpResult result = kRun[c.kind](*rig.state, rig.view);
  const int sentBytes = c.bad < 0 ? c.count : c.bad + 1;
  EXPECT_EQ(rig.SentText(),
            Sent(c.head) + Data(c.code, sentBytes, c.kind == kProgram) + " 13000000");
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  const auto Hex = [](int v) { return ByteToHexText(static_cast<std::uint8_t>(v)); };
  const std::string end = c.bad < 0
                              ? kDone[c.kind]
                              : " Błąd: " + Hex(c.bad >> 8) + Hex(c.bad) + " jest " +
                                    Hex(Pattern(c.bad) ^ 0xFF) + " ma byc " + Hex(Pattern(c.bad));
  EXPECT_EQ(result, c.bad < 0 ? OpResult::Success : OpResult::Mismatch);
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", kBusy[c.kind], end, kReady}));
  if (c.bad >= 0) return;
  EXPECT_EQ(rig.view.gaugeMax, c.count - 1);
  EXPECT_EQ(rig.view.progressCalls, c.count + 1);  // one per byte, then the reset
  const auto flash = rig.Flash();
  const Image& image = rig.state->image;
  for (int a = 0; c.kind == kProgram && a < static_cast<int>(flash.size()); ++a)
    ASSERT_EQ(flash[a], a < c.count ? Pattern(a) : 0xFF) << "address " << a;  // erased above
  for (int a = 0; c.kind == kRead && a < kImageSize; ++a)
    ASSERT_EQ(image.MemoryImage[a], a < 40 ? Pattern(a) : 0xFF) << a;
  if (c.kind == kRead) {
    EXPECT_EQ(image.ImageEnd, 39);
    EXPECT_EQ(rig.view.log, (std::vector<std::string>{ListLine(image, 0), ListLine(image, 16),
                                                      ListLine(image, 32)}));
  }
}
INSTANTIATE_TEST_SUITE_P(Chips, TransferTest, ::testing::ValuesIn(kTransferCases), CaseName);

// Ended before the first data frame: an image at the chip's capacity is refused before the erase
// and left alone; a read from an empty socket has cleared the image and the log first, but only
// a finished read sets ImageEnd.
TEST(Transfer, RefusedBeforeTheData) {
  const struct {
    SimChip socket;
    int chipType, size;
    const char* sent;
  } cases[] = {{C1051, 5, 0x400, "FF"},
               {C2051, 0, 0x800, "FF D"},
               {C51_12V, 10, 0x8000, "FF"},
               {Empty, 0, 500, "FF D"}};
  for (const auto& c : cases) {
    const bool read = c.socket == Empty;
    Rig rig(c.socket, c.chipType);
    FillImage(rig.state->image, c.size);
    rig.view.AddLogLine("old");
    EXPECT_EQ((read ? ReadChip : ProgramChip)(*rig.state, rig.view),
              read ? OpResult::NoChip : OpResult::TooLarge);
    EXPECT_EQ(rig.SentText(), Sent(c.sent)) << c.size;
    EXPECT_EQ(rig.view.statuses,
              (std::vector<std::string>{"", read ? kNoChip : " Za mało pamięci", kReady}));
    EXPECT_EQ(rig.state->image.MemoryImage[0], read ? 0xFF : Pattern(0));
    EXPECT_EQ(rig.state->image.ImageEnd, c.size);
    EXPECT_EQ(rig.view.log.empty(), read);
  }
}

// A stop asked for while a transfer runs takes effect before the next exchange: the closing STOP
// follows the last byte's frames, " Przerwano." stands with no pause, the gauge goes back to 0,
// a read keeps what arrived without listing it, and a program never ends as a success.
TEST(Transfer, CancelStopsBeforeTheNextExchangeAndClosesTheTraffic) {
  struct CancellingView : RecordingView {
    CancelToken* token = nullptr;
    int lastProgress = -1;
    void SetGaugeProgress(int position) override {
      lastProgress = position;
      if (position == 99) token->Request();
    }
  };
  const struct {
    SimChip socket;
    bool program;
    const char* tail;  // the frames of the byte the stop came at, and the closing STOP
  } cases[] = {{C51_12V, false, "01006300 13000000"}, {C2051, true, "0E0000BA 12000000 13000000"}};
  for (const auto& c : cases) {
    Rig rig(c.socket);
    rig.FillFlash([](int a) { return std::uint8_t(a < 300 ? a * 3 : 0xFF); });
    if (c.program) FillImage(rig.state->image, 500);
    CancellingView view;
    view.token = &rig.state->cancel;
    const OpResult result = c.program ? ProgramChip(*rig.state, view) : ReadChip(*rig.state, view);
    EXPECT_EQ(result, OpResult::Cancelled);
    EXPECT_TRUE(rig.SentText().ends_with(c.tail)) << rig.SentText();
    EXPECT_EQ(view.LastStatus(), " Przerwano.");
    EXPECT_TRUE(view.pauses.empty());
    EXPECT_EQ(view.lastProgress, 0);
    EXPECT_TRUE(view.log.empty());
    if (!c.program) {
      EXPECT_EQ(rig.state->image.MemoryImage[99], std::uint8_t(99 * 3));
      EXPECT_EQ(rig.state->image.MemoryImage[100], 0xFF);
      EXPECT_EQ(rig.state->image.ImageEnd, 99);
    }
    EXPECT_TRUE(rig.PortReusable());
  }
}

// --- HEX files as the user sees them (a load's listing: RouterTest) ------------------------------

TEST(HexFilesShown, TextsAndPauses) {
  TempDir dir;
  Image image;
  RecordingView view;
  view.AddLogLine("old");
  EXPECT_FALSE(LoadHexFileShown(image, dir / "missing.hex", view));
  FillImage(image, 47);
  EXPECT_TRUE(SaveHexFileShown(image, dir / "c.hex", view));
  // No pause: a failed save leaves its pause to the caller.
  EXPECT_FALSE(SaveHexFileShown(image, dir / "no/such/c.hex", view));
  EXPECT_EQ(view.events,
            (std::vector<std::string>{"log: old", "clear", "status:  Błąd I/O ...", "pause: 1500",
                                      "status:  Odczytano 0 bajtów.",
                                      "status:  Zapisano 48 bajtów.", "status:  Błąd I/O ..."}));
}

// S-record and binary files through the same texts; a refusal names its line and says why, each
// its own way, in the window's words and the command line's.
TEST(HexFilesShown, OtherFormatsAndEveryRefusal) {
  TempDir dir;
  Image image, back;
  FillImage(image, 47);
  RecordingView view;
  for (const char* name : {"c.s19", "c.bin"}) {
    EXPECT_TRUE(SaveFileShown(image, dir / name, view) && LoadFileShown(back, dir / name, view));
    EXPECT_EQ(back.MemoryImage, image.MemoryImage) << name;
  }
  EXPECT_EQ(ReadFile(dir / "c.s19").size(), 12 + 3 * 44 + 12u);  // 48 bytes: 3 records, no more
  WriteFile(dir / "bad.s19", "S1030000FF\r\n");
  EXPECT_FALSE(LoadFileShown(back, dir / "bad.s19", view) ||
               LoadFileShown(back, dir / "no.bin", view) ||
               SaveFileShown(image, dir / "no/c.s19", view));
  EXPECT_EQ(view.statuses,
            (std::vector<std::string>{" Zapisano 48 bajtów.", " Odczytano 48 bajtów.",
                                      " Zapisano 48 bajtów.", " Odczytano 48 bajtów.",
                                      " Plik odrzucony, wiersz 1: błędna suma kontrolna",
                                      " Błąd I/O ...", " Błąd I/O ..."}));
  EXPECT_EQ(view.pauses, (std::vector<int>{1500, 1500}));
  using Error = LoadResult::Error;
  std::set<std::string> said;
  for (Error e : {Error::Unreadable, Error::TooLarge, Error::BadSyntax, Error::BadChecksum,
                  Error::AddressTooHigh, Error::BadCount, Error::NoEndRecord}) {
    const bool lined = e != Error::Unreadable && e != Error::TooLarge;
    const std::string polish = RefusalText({e, 7}),
                      english = RefusalReason({e, 7}, FileFormat::Srec);
    EXPECT_TRUE(polish.starts_with(lined ? "wiersz 7: " : "") &&
                english.starts_with(lined ? "line 7: " : ""));
    EXPECT_TRUE(said.insert(polish).second && said.insert(english).second && !said.count(""))
        << polish << english;
  }
}

// --- the blank check: a read that keeps the image and gives a verdict ---------------------------

struct BlankCase {
  const char* name;
  SimChip socket;
  int chipType, programmed, count;  // `count` bytes 0x12 from `programmed` in the chip
  std::string verdict;
  sim::Faults faults = {};
};

const BlankCase kBlankCases[] = {
    {"Erased2051Detected", C2051, 0, 0, 0, " Układ jest czysty."},
    {"LastByteOf4051", C4051, 7, 0xFFF, 1, " Układ nie jest czysty: 0FFF jest 12 (1 bajtów)"},
    {"FiveBytesOf89C51", C51_12V, 0, 0x1A3, 5, " Układ nie jest czysty: 01A3 jest 12 (5 bajtów)"},
    // Half-way through the data, before the one programmed byte: never a blank verdict.
    {"SilentHalfWay2051", C2051, 0, 0x7FF, 1, kFailed, {.stopAfterFrames = 2000}},
};

class BlankCheckTest : public ::testing::TestWithParam<BlankCase> {};

TEST_P(BlankCheckTest, ReadsLikeAReadAndKeepsTheImage) {
  const BlankCase& c = GetParam();
  Rig rig(c.socket, c.chipType, c.faults), reader(c.socket, c.chipType, c.faults);
  for (Rig* r : {&rig, &reader})
    r->FillFlash(
        [&](int a) { return a >= c.programmed && a < c.programmed + c.count ? 0x12 : 0xFF; });
  rig.state->image.MemoryImage[5] = 0x55;
  FindImageEnd(rig.state->image);
  EXPECT_EQ(BlankCheck(*rig.state, rig.view), c.faults.stopAfterFrames ? OpResult::LinkFailure
                                              : c.count                ? OpResult::Mismatch
                                                                       : OpResult::Success);
  ReadChip(*reader.state, reader.view);
  EXPECT_EQ(rig.SentText(), reader.SentText());
  EXPECT_EQ(rig.view.statuses,
            (std::vector<std::string>{"", " Sprawdzanie czystości...", c.verdict, kReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_TRUE(rig.view.log.empty());
  EXPECT_EQ(rig.state->image.ImageEnd, 5);
}
INSTANTIATE_TEST_SUITE_P(Chips, BlankCheckTest, ::testing::ValuesIn(kBlankCases), CaseName);

// --- no programmer (silence at any later frame is swept in tests/reliability) -------------------

struct Operation {
  const char* name;
  Op run;
  bool transfer;  // blanks the status line first
};

// Program and verify share the read's frame (their silences are swept in tests/reliability).
const Operation kOperations[] = {
    {"Read", ReadChip, true}, {"Erase", kErase, false}, {"SignatureMaker", kMaker, false}};

class NoProgrammer : public ::testing::TestWithParam<Operation> {};

// A port that will not open (or was pulled out), no answer or a wrong one to the probe, or silence
// in the middle of detection: nothing more is sent, and only a read, which clears the image and
// the log before detection, changes them.
TEST_P(NoProgrammer, EndsWithTheFailureText) {
  const Operation& op = GetParam();
  const std::pair<sim::Faults, const char*> ways[] = {{{}, ""},
                                                      {{.neverAnswer = true}, "FF"},
                                                      {{.probeReply = 0x00}, "FF"},
                                                      {{.probeReply = 0xAA}, "FF"},
                                                      {{.stopAfterFrames = 4}, "FF 13 11 17 13"}};
  for (const auto& [faults, sent] : ways) {
    SCOPED_TRACE(sent);
    Rig rig(C2051, 0, faults);
    if (!*sent) rig.sim.Hangup();
    rig.state->image.MemoryImage[0x200] = 0x12;
    rig.state->image.ImageEnd = 0;  // as before the first load: only a cleared image is measured
    rig.view.AddLogLine("kept");
    EXPECT_EQ(op.run(*rig.state, rig.view), OpResult::LinkFailure);
    EXPECT_EQ(rig.SentText(), Sent(sent));
    EXPECT_EQ(rig.view.statuses, (op.transfer ? std::vector<std::string>{"", kFailed, kReady}
                                              : std::vector<std::string>{kFailed, kReady}));
    EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
    const bool cleared = std::string(op.name) == "Read" && std::string(sent).size() > 2;
    EXPECT_EQ(rig.state->image.ImageEnd, cleared ? -1 : 0);
    EXPECT_EQ(rig.state->image.MemoryImage[0x200], cleared ? 0xFF : 0x12);
    EXPECT_EQ(rig.view.log.empty(), cleared);
    EXPECT_EQ(rig.view.progressCalls, 0);
    EXPECT_TRUE(*sent ? rig.PortReusable() : !rig.state->link.IsOpen());
  }
}
INSTANTIATE_TEST_SUITE_P(Every, NoProgrammer, ::testing::ValuesIn(kOperations), CaseName);

TEST(NoProgrammer, LockBit3UnansweredKeepsItsMessageWithoutPause) {
  Rig rig(C51_12V, 1, {.stopAfterFrames = 3});
  EXPECT_EQ(kLock3(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.SentText(), Sent("FF 13 11 07"));
  EXPECT_EQ(rig.view.statuses, std::vector<std::string>{kFailed});
  EXPECT_TRUE(rig.view.pauses.empty());
  EXPECT_TRUE(rig.PortReusable());
}

// The pace is told once, after the first exchanges, and one long exchange among them (an erase)
// does not make a fast link look slow; a link slow throughout does.
TEST(PaceMeter, TheMedianOfTheFirstExchangesOnce) {
  using namespace std::chrono_literals;
  auto run = [](std::chrono::microseconds usual, std::chrono::microseconds third) {
    PaceMeter meter;
    PaceMeter::Clock::time_point t{};
    std::vector<double> told;
    for (int i = 0; i < 40; ++i) {
      t += i == 3 ? third : usual;
      if (const auto ms = meter.Exchange(t)) told.push_back(*ms);
    }
    return told;
  };
  EXPECT_EQ(run(500us, 80ms), std::vector<double>{0.5});
  EXPECT_EQ(run(10ms, 10ms), std::vector<double>{10.0});
}

}  // namespace
}  // namespace zelwik::testing
