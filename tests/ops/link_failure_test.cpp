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
    {"SignatureMaker", [](State& s, View& v) { return ShowSignature(s, v, Signature::Maker); },
     false},
};

class NoProgrammer : public ::testing::TestWithParam<Operation> {};

// A port that will not open, no answer or a wrong one to the probe, or silence in the middle of
// detection (every operation detects first in automatic mode): nothing more is sent, and only a
// read, which clears the image and the log before detection, changes them.
TEST_P(NoProgrammer, EndsWithTheFailureText) {
  const Operation& op = GetParam();
  const struct {
    sim::Faults faults;
    const char* sent;
  } ways[] = {
      {{}, ""},  // no port
      {With([](sim::Faults& f) { f.neverAnswer = true; }), "FF"},
      {With([](sim::Faults& f) { f.probeReply = 0x00; }), "FF"},
      {With([](sim::Faults& f) { f.probeReply = 0xAA; }), "FF"},
      {With([](sim::Faults& f) { f.stopAfterFrames = 4; }), "FF 13 11 17 13"},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.sent);
    Rig rig(SimChip::C2051, 0, way.faults);
    if (!*way.sent) rig.state->PortName = "/nonexistent/zelwik-tty";
    rig.state->image.MemoryImage[0x200] = 0x12;
    FindImageEnd(rig.state->image);
    rig.view.AddLogLine("kept");
    EXPECT_EQ(op.run(*rig.state, rig.view), OpResult::LinkFailure);
    EXPECT_EQ(rig.SentText(), Sent(way.sent));
    EXPECT_EQ(rig.view.statuses, (op.transfer ? std::vector<std::string>{"", kFailed, kReady}
                                              : std::vector<std::string>{kFailed, kReady}));
    EXPECT_EQ(rig.view.pauses, std::vector<int>{1500});
    const bool cleared = std::string(op.name) == "Read" && std::string(way.sent).size() > 2;
    EXPECT_EQ(rig.state->image.ImageEnd, cleared ? -1 : 0x200);
    EXPECT_EQ(rig.state->image.MemoryImage[0x200], cleared ? 0xFF : 0x12);
    EXPECT_EQ(rig.view.log.empty(), cleared);
    EXPECT_EQ(rig.view.progressCalls, 0);
    EXPECT_TRUE(*way.sent ? rig.PortReusable() : !rig.state->link.IsOpen());
  }
}
INSTANTIATE_TEST_SUITE_P(Every, NoProgrammer, ::testing::ValuesIn(kOperations), CaseName);

TEST(PulledOut, LockBit3KeepsItsMessage) {
  Rig rig(SimChip::C51_12V, 1,
          With([](sim::Faults& f) { f.stopAfterFrames = 3; }));  // the lock goes unanswered
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
  Rig rig(SimChip::C51_12V, 1,
          With([](sim::Faults& f) { f.doubleReplyAtFrame = 10; }));  // a data frame
  rig.FillFlash([](int a) { return a < 64 ? a : 0xFF; });
  EXPECT_EQ(ReadChip(*rig.state, rig.view), OpResult::LinkFailure);
  EXPECT_EQ(rig.view.statuses,
            (std::vector<std::string>{"", " Odczytywanie pamięci...", kFailed, kReady}));
  EXPECT_TRUE(rig.view.log.empty());
  EXPECT_TRUE(rig.PortReusable());
}

}  // namespace
}  // namespace zelwik::testing
