#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "ops/operations.h"
#include "support/recording_view.h"
#include "support/sim_harness.h"

namespace zelwik::testing {

inline const std::string kFailed = "Błąd transmisji lub brak programatora", kReady = " Gotowy...";

// Frames from shorthand: "13" is a frame without arguments, "0E00004A" a whole frame, "D" all
// that automatic detection sends.
inline std::string Sent(const std::string& shorthand) {
  std::istringstream in(shorthand);
  std::string text, t;
  while (in >> t)
    text.append(text.empty() ? "" : " ")
        .append(t == "D"        ? Sent("13 11 17 13 11 0B 0D 13")
                : t.size() == 2 ? t + "000000"
                                : t);
  return text;
}

// Content without 0xFF, so ImageEnd is exactly the last address filled.
inline std::uint8_t Pattern(int a) { return static_cast<std::uint8_t>((a * 7 + 3) % 255); }

inline void FillImage(Image& image, int end) {
  ClearImage(image);
  for (int a = 0; a <= end; ++a) image.MemoryImage[a] = Pattern(a);
  FindImageEnd(image);
}

inline auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// A programmer on a pty and the program's state pointed at it, replies bounded at 200 ms.
struct Rig {
  explicit Rig(sim::SimChip chip, int chipType = 0, sim::Faults faults = {})
      : sim(chip, faults), state(std::make_unique<State>()) {
    state->PortName = sim.Path();
    state->ChipType = chipType;
    state->link.SetReplyTimeout(200);
  }
  std::string SentText() { return FramesText(sim.Frames()); }
  void FillFlash(auto pattern) {
    sim.WithModel([&](sim::DeviceModel& m) {
      for (std::size_t a = 0; a < m.Flash().size(); ++a) m.Flash()[a] = pattern(int(a));
    });
  }
  std::vector<std::uint8_t> Flash() {
    return sim.WithModel([](auto& m) { return m.Flash(); });
  }
  // A second operation could open the port: the first one closed it.
  bool PortReusable() {
    const bool opened = !state->link.IsOpen() && state->link.OpenLink(state->PortName);
    state->link.CloseLink();
    return opened;
  }

  SimHarness sim;
  std::unique_ptr<State> state;
  RecordingView view;
};

}  // namespace zelwik::testing
