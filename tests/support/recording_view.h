#pragma once

#include <string>
#include <vector>

#include "ops/view.h"

namespace zelwik::testing {

// Records everything an operation shows, in order, and never sleeps. events: "status: X",
// "clear", "log: X", "max: N", "pause: MS".
class RecordingView : public View {
 public:
  std::vector<std::string> statuses, log, events;
  std::vector<int> pauses;
  int gaugeMax = 0, progressCalls = 0;

  void SetStatus(const std::string& text) override {
    statuses.push_back(text);
    events.push_back("status: " + text);
  }
  void ClearLog() override {
    log.clear();
    events.push_back("clear");
  }
  void AddLogLine(const std::string& line) override {
    log.push_back(line);
    events.push_back("log: " + line);
  }
  void SetGaugeMax(int max) override {
    gaugeMax = max;
    events.push_back("max: " + std::to_string(max));
  }
  void SetGaugeProgress(int) override { ++progressCalls; }
  void Pause(int ms) override {
    pauses.push_back(ms);
    events.push_back("pause: " + std::to_string(ms));
  }
  std::string LastStatus() const { return statuses.empty() ? "" : statuses.back(); }
};

}  // namespace zelwik::testing
