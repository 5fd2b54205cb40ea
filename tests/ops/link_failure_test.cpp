// No programmer, a port that will not open, and a programmer pulled out or answering out of step.
#include <gtest/gtest.h>

#include <functional>

#include "ops_test_support.h"

namespace zelwik::testing {
namespace {

using sim::SimChip;

struct Operation {
  const char* name;
  std::function<OpResult(State&, View&)> run;
  bool transfer;  // blanks the status line first
};

const Operation kOperations[] = {
    {"Program", ProgramChip, true},
    {"Read", ReadChip, true},
    {"Verify", VerifyChip, true},
    {"Erase", [](State& s, View& v) { return RunChipCommand(s, v, ChipCommand::Erase); }, false},
    {"SignatureMaker", [](State& s, View& v) { return ShowSignature(s, v, Signature::Maker); }, false},
};

std::vector<std::string> ErrorTexts(const Operation& op) {
  if (op.transfer) return {"", kFailed, kReady};
  return {kFailed, kReady};
}

class NoProgrammer : public ::testing::TestWithParam<Operation> {};

TEST_P(NoProgrammer, SilentOrWrongProbeSendsNothingElse) {
  const Operation& op = GetParam();
  for (const sim::Faults& faults : {With([](sim::Faults& f) { f.neverAnswer = true; }),
                                    With([](sim::Faults& f) { f.probeReply = 0x00; }),
                                    With([](sim::Faults& f) { f.probeReply = 0xAA; })}) {
    Rig rig(SimChip::C51_12V, 0, faults);
    rig.state->image.MemoryImage[5] = 0x12;
    FindImageEnd(rig.state->image);
    rig.view.AddLogLine("kept");
    EXPECT_EQ(op.run(*rig.state, rig.view), OpResult::LinkFailure);
    EXPECT_EQ(rig.SentText(), Sent("FF"));
    EXPECT_EQ(rig.view.statuses, ErrorTexts(op));
    EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
    // The error tail touches nothing else: image, log and gauge stay.
    EXPECT_EQ(rig.state->image.ImageEnd, 5);
    EXPECT_EQ(rig.state->image.MemoryImage[5], 0x12);
    EXPECT_EQ(rig.view.log, std::vector<std::string>{"kept"});
    EXPECT_EQ(rig.view.progressCalls, 0);
    EXPECT_TRUE(rig.PortReusable());
  }
}

TEST_P(NoProgrammer, PortThatCannotBeOpened) {
  auto state = std::make_unique<State>();
  state->PortName = "/nonexistent/zelwik-tty";
  RecordingView view;
  EXPECT_EQ(GetParam().run(*state, view), OpResult::LinkFailure);
  EXPECT_EQ(view.statuses, ErrorTexts(GetParam()));
  EXPECT_EQ(view.pauses, std::vector<int>{1500});
  EXPECT_FALSE(state->link.IsOpen());
  EXPECT_EQ(state->link.LastDevice(), "/nonexistent/zelwik-tty");
  EXPECT_FALSE(state->link.LastError().empty());
}

// Every operation detects first in automatic mode.
TEST_P(NoProgrammer, PulledOutDuringDetection) {
  const Operation& op = GetParam();
  Rig rig(SimChip::C2051, 0, With([](sim::Faults& f) { f.stopAfterFrames = 4; }));
  rig.state->image.MemoryImage[0x200] = 0x01;
  FindImageEnd(rig.state->image);
  EXPECT_EQ(op.run(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.SentText(), Sent("FF 13 11 17 13"));  // nothing after the unanswered STOP
  EXPECT_EQ(rig.view.statuses, ErrorTexts(op));
  // A read has cleared the image by then: it must be left consistently empty.
  const bool read = std::string(op.name) == "Read";
  EXPECT_EQ(rig.state->image.ImageEnd, read ? -1 : 0x200);
  EXPECT_EQ(rig.state->image.MemoryImage[0x200], read ? 0xFF : 0x01);
  EXPECT_TRUE(rig.PortReusable());
}
INSTANTIATE_TEST_SUITE_P(Every, NoProgrammer, ::testing::ValuesIn(kOperations), CaseName);

TEST(PulledOut, LockBit3KeepsItsMessage) {
  Rig rig(SimChip::C51_12V, 1, With([](sim::Faults& f) { f.stopAfterFrames = 3; }));  // the lock goes unanswered
  EXPECT_EQ(RunChipCommand(*rig.state, rig.view, ChipCommand::Lock3), OpResult::LinkFailure);
  EXPECT_EQ(rig.SentText(), Sent("FF 13 11 07"));
  EXPECT_EQ(rig.view.statuses, std::vector<std::string>{kFailed});
  EXPECT_TRUE(rig.view.pauses.empty());
  EXPECT_TRUE(rig.PortReusable());
}

TEST(PulledOut, ThePortVanishing) {
  Rig rig(SimChip::C51_12V, 1);
  rig.sim.Hangup();
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", kFailed, kReady}));
  EXPECT_FALSE(rig.state->link.IsOpen());
}

// A programmer that answers one frame twice puts every later reply one frame late. The byte left
// over after the closing STOP gives it away: no success is claimed over shifted data.
TEST(RepliesOutOfStep, ReadEndsAsALinkFailure) {
  Rig rig(SimChip::C51_12V, 1, With([](sim::Faults& f) { f.doubleReplyAtFrame = 10; }));  // a data frame
  rig.FillFlash([](int a) { return a < 64 ? a : 0xFF; });
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.view.statuses, (std::vector<std::string>{"", " Odczytywanie pamięci...", kFailed, kReady}));
  EXPECT_TRUE(rig.view.log.empty());
  EXPECT_TRUE(rig.PortReusable());
}

}  // namespace
}  // namespace zelwik::testing
