// No programmer, a port that will not open, and a programmer pulled out in the middle.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "ops_test_support.h"

namespace zelwik::testing {
namespace {

using sim::SimChip;

struct Operation {
  const char* name;
  std::function<OpResult(State&, View&)> run;
  bool transfer;        // blanks the status line first
  bool keepsMessage;    // lock bit 3
};

const Operation kOperations[] = {
    {"Program", ProgramChip, true, false},
    {"Read", ReadChip, true, false},
    {"Verify", VerifyChip, true, false},
    {"Erase", [](State& s, View& v) { return RunChipCommand(s, v, ChipCommand::Erase); }, false, false},
    {"Lock1", [](State& s, View& v) { return RunChipCommand(s, v, ChipCommand::Lock1); }, false, false},
    {"Lock2", [](State& s, View& v) { return RunChipCommand(s, v, ChipCommand::Lock2); }, false, false},
    {"Lock3", [](State& s, View& v) { return RunChipCommand(s, v, ChipCommand::Lock3); }, false, true},
    {"LockAll", [](State& s, View& v) { return RunChipCommand(s, v, ChipCommand::LockAll); }, false, false},
    {"SignatureDevice", [](State& s, View& v) { return ShowSignature(s, v, Signature::Device); }, false, false},
    {"SignatureMaker", [](State& s, View& v) { return ShowSignature(s, v, Signature::Maker); }, false, false},
    {"SignatureVoltage", [](State& s, View& v) { return ShowSignature(s, v, Signature::Voltage); }, false, false},
};

std::vector<std::string> ErrorTexts(const Operation& op, std::vector<std::string> before = {}) {
  std::vector<std::string> texts;
  if (op.transfer) texts.push_back("");
  texts.insert(texts.end(), before.begin(), before.end());
  texts.push_back(kTextLinkFailure);
  if (!op.keepsMessage) texts.push_back(kTextReady);
  return texts;
}

std::vector<int> ErrorPauses(const Operation& op) {
  return op.keepsMessage ? std::vector<int>{} : std::vector<int>{1500};
}

class NoProgrammer : public ::testing::TestWithParam<Operation> {};

TEST_P(NoProgrammer, SilentOrWrongProbeSendsNothingElse) {
  const Operation& op = GetParam();
  for (const sim::Faults faults : {NeverAnswer(), ProbeReply(0x00),
                                   ProbeReply(0xAA)}) {
    Rig rig(SimChip::C51_12V, 0, faults);
    rig.state->image.MemoryImage[5] = 0x12;
    FindImageEnd(rig.state->image);
    rig.view.SetGaugeProgress(7);
    rig.view.AddLogLine("kept");

    EXPECT_EQ(op.run(*rig.state, rig.view), OpResult::LinkFailure);
    EXPECT_EQ(rig.SentText(), kProbe);
    EXPECT_EQ(rig.view.statuses, ErrorTexts(op));
    EXPECT_EQ(rig.view.pauses, ErrorPauses(op));
    // The error tail touches nothing else: image, log and gauge stay.
    EXPECT_EQ(rig.state->image.MemoryImage[5], 0x12);
    EXPECT_EQ(rig.state->image.ImageEnd, 5);
    EXPECT_EQ(rig.view.log, std::vector<std::string>{"kept"});
    EXPECT_EQ(rig.view.progressCalls, 1);
    EXPECT_TRUE(rig.PortReusable());
  }
}

TEST_P(NoProgrammer, PortThatCannotBeOpened) {
  const Operation& op = GetParam();
  auto state = std::make_unique<State>();
  state->PortName = "/nonexistent/zelwik-tty";
  RecordingView view;
  EXPECT_EQ(op.run(*state, view), OpResult::LinkFailure);
  EXPECT_EQ(view.statuses, ErrorTexts(op));
  EXPECT_EQ(view.pauses, ErrorPauses(op));
  EXPECT_FALSE(state->link.IsOpen());
  EXPECT_EQ(state->link.LastDevice(), "/nonexistent/zelwik-tty");
  EXPECT_FALSE(state->link.LastError().empty());
}

// Pulled out during detection: every operation detects first in automatic mode.
TEST_P(NoProgrammer, PulledOutDuringDetection) {
  const Operation& op = GetParam();
  Rig rig(SimChip::C2051, 0, StopAfter(4));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(op.run(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(rig.sim.Frames().size(), 5u);  // probe, STOP, START, 0x17, and the unanswered STOP
  EXPECT_EQ(rig.view.statuses, ErrorTexts(op));
  EXPECT_TRUE(rig.PortReusable());
}

INSTANTIATE_TEST_SUITE_P(Every, NoProgrammer, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

// Pulled out while data flows. The reply bound is 200 ms; the limit only guards against a hang.
constexpr auto kHangGuard = std::chrono::seconds(10);

TEST(PulledOut, MidProgram) {
  // probe, STOP, START, erase, STOP, START, then writes: the 51st write goes unanswered.
  Rig rig(SimChip::C51_12V, 1, StopAfter(6 + 50));
  for (int a = 0; a < 300; ++a) rig.state->image.MemoryImage[a] = static_cast<std::uint8_t>(a);
  FindImageEnd(rig.state->image);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangGuard);
  EXPECT_EQ(rig.sim.Frames().size(), 6u + 51u);  // nothing after the missing reply
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Zapisywanie pamięci...", kTextLinkFailure,
                                                         kTextReady}));
  EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
  EXPECT_EQ(rig.view.gaugeProgress, 49);  // left where it was
  EXPECT_TRUE(rig.PortReusable());
}

TEST(PulledOut, MidReadKeepsWhatArrived) {
  // probe, STOP, START, then 20-pin pairs 0x0F/0x12: 100 bytes and their advances are answered.
  Rig rig(SimChip::C2051, 6, StopAfter(3 + 200));
  rig.FillFlash([](int a) -> std::uint8_t { return static_cast<std::uint8_t>(a & 0x7F); });
  for (auto& b : rig.state->image.MemoryImage) b = 0x00;
  rig.view.AddLogLine("old");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangGuard);

  const Image& image = rig.state->image;
  for (int a = 0; a < 100; ++a) ASSERT_EQ(image.MemoryImage[a], a & 0x7F) << a;
  for (int a = 100; a < kImageSize; ++a) ASSERT_EQ(image.MemoryImage[a], 0xFF) << a;
  EXPECT_EQ(image.ImageEnd, 99);
  EXPECT_TRUE(rig.view.log.empty());  // cleared, and a partial image is not listed
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Odczytywanie pamięci...", kTextLinkFailure,
                                                         kTextReady}));
  EXPECT_EQ(rig.view.gaugeProgress, 99);
  EXPECT_TRUE(rig.PortReusable());
}

TEST(PulledOut, MidReadDuringDetectionLeavesAConsistentEmptyImage) {
  Rig rig(SimChip::C51_12V, 0, StopAfter(3));
  rig.state->image.MemoryImage[0x200] = 0x01;
  FindImageEnd(rig.state->image);
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.state->image.MemoryImage[0x200], 0xFF);
  EXPECT_EQ(rig.state->image.ImageEnd, -1);
}

TEST(PulledOut, MidVerify) {
  Rig rig(SimChip::C52_12V, 0, StopAfter(1 + 8 + 2 + 30));
  rig.FillFlash([](int) -> std::uint8_t { return 0x33; });
  for (int a = 0; a < 100; ++a) rig.state->image.MemoryImage[a] = 0x33;
  FindImageEnd(rig.state->image);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_LT(std::chrono::steady_clock::now() - start, kHangGuard);
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Weryfikowanie pamięci...", kTextLinkFailure,
                                                         kTextReady}));
  EXPECT_EQ(rig.view.gaugeProgress, 29);
  EXPECT_TRUE(rig.PortReusable());
}

TEST(PulledOut, LockBit3KeepsItsMessage) {
  Rig rig(SimChip::C51_12V, 1, StopAfter(3));  // the lock frame goes unanswered
  EXPECT_EQ(RunChipCommand(*rig.state, rig.view, ChipCommand::Lock3), OpResult::LinkFailure);
  EXPECT_EQ(rig.SentText(), Frames().Add({kProbe, kStop, kStart, F(0x07)}).Text());
  EXPECT_EQ(rig.view.statuses, std::vector<std::string>{kTextLinkFailure});
  EXPECT_TRUE(rig.view.pauses.empty());
  EXPECT_TRUE(rig.PortReusable());
}

TEST(PulledOut, ThePortVanishing) {
  Rig rig(SimChip::C51_12V, 1);
  ASSERT_TRUE(rig.state->link.OpenLink(rig.state->PortName));
  rig.state->link.CloseLink();
  rig.sim.Hangup();
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", kTextLinkFailure, kTextReady}));
  EXPECT_FALSE(rig.state->link.IsOpen());
}

// A programmer that answers one frame twice puts every later reply one frame late. The byte left
// over after the closing STOP gives it away: no success is claimed over shifted data.
TEST(RepliesOutOfStep, ReadEndsAsALinkFailure) {
  sim::Faults doubled;
  doubled.doubleReplyAtFrame = 10;  // a data frame of the read
  Rig rig(SimChip::C51_12V, 1, doubled);
  rig.sim.WithModel([](sim::DeviceModel& m) { for (int a = 0; a < 64; ++a) m.Flash()[a] = a; return 0; });
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.view.statuses,
            (std::vector<std::string>{"", " Odczytywanie pamięci...", kTextLinkFailure, kTextReady}));
  EXPECT_TRUE(rig.view.log.empty());
  EXPECT_TRUE(rig.PortReusable());
}

TEST(RepliesOutOfStep, ProgramAndVerifyDoNotClaimSuccess) {
  sim::Faults doubled;
  doubled.doubleReplyAtFrame = 2;  // the opening STOP: every reply after it is a frame late
  for (bool program : {true, false}) {
    Rig rig(SimChip::C51_12V, 1, doubled);
    for (int a = 0; a < 8; ++a) rig.state->image.MemoryImage[a] = 0xFF;
    rig.state->image.MemoryImage[8] = 0x00;
    FindImageEnd(rig.state->image);
    const OpResult result = program ? ProgramChip(*rig.state, rig.view) : VerifyChip(*rig.state, rig.view);
    EXPECT_NE(result, OpResult::Success);
    EXPECT_EQ(std::count(rig.view.statuses.begin(), rig.view.statuses.end(),
                         program ? " Zpisywanie zakończono..." : " Weryfikowanie zakończono..."),
              0);
    EXPECT_TRUE(rig.PortReusable());
  }
}

TEST(RepliesOutOfStep, AHealthyProgrammerLeavesNoStrayByte) {
  Rig rig(SimChip::C2051, 6);
  rig.state->image.MemoryImage[0] = 0x02;
  FindImageEnd(rig.state->image);
  EXPECT_EQ(ProgramChip(*rig.state, rig.view), OpResult::Success);
  EXPECT_EQ(VerifyChip(*rig.state, rig.view), OpResult::Success);
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::Success);
}

}  // namespace
}  // namespace zelwik::testing
