#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
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
    if (std::string why; !simulator_->Open(why)) throw std::runtime_error("pty simulator: " + why);
    simulator_->Start();
  }
  ~SimHarness() { simulator_->Close(); }

  const std::string& Path() const { return simulator_->SlavePath(); }
  template <class Fn>
  auto WithModel(Fn fn) {
    return simulator_->WithModel(fn);
  }
  std::vector<sim::Frame> Frames() {
    return WithModel([](auto& m) { return m.FrameLog(); });
  }
  void ClearFrames() {
    WithModel([](auto& m) { m.ClearFrameLog(); });
  }
  // Pulls the programmer out: the pty goes away and a client's port fails.
  void Hangup() { simulator_->Close(); }

 private:
  std::unique_ptr<sim::DeviceModel> model_;
  std::unique_ptr<sim::PtySimulator> simulator_;
};

// "FF000000 13000000 ..." : frames as text, so a failed comparison shows a readable diff.
inline std::string FramesText(const std::vector<sim::Frame>& frames) {
  std::string text;
  char buffer[10];
  for (const sim::Frame& f : frames) {
    std::snprintf(buffer, sizeof buffer, " %02X%02X%02X%02X", f[0], f[1], f[2], f[3]);
    text += buffer;
  }
  return text.empty() ? text : text.substr(1);
}

// zelwik-sim (ZELWIK_SIM_PATH) in the background: "echo $$; exec" hands it the shell's pid, and
// the port it serves comes next. For the targets that name it.
#ifdef ZELWIK_SIM_PATH
struct SimProcess {
  explicit SimProcess(const std::string& args)
      : out(popen(("echo $$; exec " ZELWIK_SIM_PATH " " + args + " 2>/dev/null").c_str(), "r")) {
    char device[256];
    if (out && std::fscanf(out, "%d %255s", &pid, device) == 2) path = device;
  }
  ~SimProcess() {
    if (out) Stop(SIGKILL);
  }
  SimProcess(const SimProcess&) = delete;

  // Sends the signal (none: 0) and returns the exit status once it has ended.
  int Stop(int signal) {
    if (signal && pid > 0) kill(pid, signal);
    const int status = pclose(std::exchange(out, nullptr));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::FILE* out;
  int pid = 0;
  std::string path;
};
#endif

}  // namespace zelwik::testing
