#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ops/operations.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"

namespace zelwik::testing {

// One frame as FramesText shows it.
inline std::string F(std::uint8_t command, std::uint8_t a1 = 0, std::uint8_t a2 = 0,
                     std::uint8_t a3 = 0) {
  return FramesText({sim::Frame{command, a1, a2, a3}});
}

// Frames in order; Add accepts single frames and whole series.
class Frames {
 public:
  Frames& Add(const std::string& frame) {
    frames_.push_back(frame);
    return *this;
  }
  Frames& Add(const std::vector<std::string>& frames) {
    frames_.insert(frames_.end(), frames.begin(), frames.end());
    return *this;
  }
  std::string Text() const {
    std::string text;
    for (const std::string& f : frames_) text += (text.empty() ? "" : " ") + f;
    return text;
  }
  std::size_t Size() const { return frames_.size(); }

 private:
  std::vector<std::string> frames_;
};

inline const std::string kProbe = F(0xFF), kStop = F(0x13), kStart = F(0x11);

// What detection sends, whatever it finds.
inline std::vector<std::string> DetectionFrames() {
  return {kStop, kStart, F(0x17), kStop, kStart, F(0x0B), F(0x0D), kStop};
}

// Faults one at a time (designated initialisers would warn about the members left out).
inline sim::Faults NeverAnswer() {
  sim::Faults f;
  f.neverAnswer = true;
  return f;
}
inline sim::Faults ProbeReply(std::uint8_t reply) {
  sim::Faults f;
  f.probeReply = reply;
  return f;
}
inline sim::Faults StopAfter(long frames) {
  sim::Faults f;
  f.stopAfterFrames = frames;
  return f;
}
inline sim::Faults WrongByteAt(int address) {
  sim::Faults f;
  f.wrongByteAtAddress = address;
  return f;
}

// A programmer on a pty and the program's state pointed at it. Replies are bounded at 200 ms so
// a missing one ends a test quickly.
struct Rig {
  explicit Rig(sim::SimChip chip, int chipType = 0, sim::Faults faults = {})
      : sim(chip, faults), state(std::make_unique<State>()) {
    state->PortName = sim.Path();
    state->ChipType = chipType;
    state->link.SetReplyTimeout(200);
  }
  std::string SentText() { return FramesText(sim.Frames()); }
  void FillFlash(std::uint8_t (*pattern)(int)) {
    sim.WithModel([&](sim::DeviceModel& m) {
      for (std::size_t a = 0; a < m.Flash().size(); ++a) m.Flash()[a] = pattern(static_cast<int>(a));
      return 0;
    });
  }
  std::vector<std::uint8_t> Flash() {
    return sim.WithModel([](sim::DeviceModel& m) { return m.Flash(); });
  }
  // A second operation could open the port: the first one closed it.
  bool PortReusable() {
    if (state->link.IsOpen()) return false;
    const bool opened = state->link.OpenLink(state->PortName);
    state->link.CloseLink();
    return opened;
  }

  SimHarness sim;
  std::unique_ptr<State> state;
  RecordingView view;
};

}  // namespace zelwik::testing
