#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/pty_simulator.h"

namespace zelwik::testing {

// A DeviceModel served on a pty by a PtySimulator thread. Path() is the port to open.
class SimHarness {
 public:
  explicit SimHarness(sim::SimChip chip, sim::Faults faults = {}, int baud = 0)
      : model_(std::make_unique<sim::DeviceModel>(chip, faults)),
        simulator_(std::make_unique<sim::PtySimulator>(*model_, baud)) {
    std::string reason;
    if (!simulator_->Open(reason)) throw std::runtime_error("pty simulator: " + reason);
    simulator_->Start();
  }
  ~SimHarness() { simulator_->Close(); }
  SimHarness(const SimHarness&) = delete;
  SimHarness& operator=(const SimHarness&) = delete;

  const std::string& Path() const { return simulator_->SlavePath(); }

  std::vector<sim::Frame> Frames() {
    return simulator_->WithModel([](sim::DeviceModel& m) { return m.FrameLog(); });
  }
  void ClearFrames() {
    simulator_->WithModel([](sim::DeviceModel& m) { m.ClearFrameLog(); });
  }
  template <class Fn>
  auto WithModel(Fn fn) {
    return simulator_->WithModel(fn);
  }
  // Pulls the programmer out: the pty goes away and a client's port fails.
  void Hangup() { simulator_->Close(); }

  sim::PtySimulator& Simulator() { return *simulator_; }

 private:
  std::unique_ptr<sim::DeviceModel> model_;
  std::unique_ptr<sim::PtySimulator> simulator_;
};

// "FF000000 13000000 ..." : frames as text, so a failed comparison shows a readable diff.
inline std::string FramesText(const std::vector<sim::Frame>& frames) {
  std::string text;
  char buffer[9];
  for (const sim::Frame& f : frames) {
    if (!text.empty()) text += ' ';
    std::snprintf(buffer, sizeof buffer, "%02X%02X%02X%02X", f[0], f[1], f[2], f[3]);
    text += buffer;
  }
  return text;
}

}  // namespace zelwik::testing
