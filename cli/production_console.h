#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/console_view.h"
#include "ops/view.h"

namespace zelwik::cli {

struct ProductionIo;

// Standard output, standard error and the progress line, shared by the ports' threads: every
// line is written whole under one lock, with the progress line taken away before and drawn again
// after it. A stream that fails (its reader gone) only stops showing: the log is the record.
class SharedConsole {
 public:
  SharedConsole(ProductionIo& io, std::size_t ports);

  void Line(bool error, const std::string& text);
  void Name(std::size_t slot, const std::string& name) { slots_[slot].name = name; }
  void Start(std::size_t slot, int total);
  void Update(std::size_t slot, int done);
  void Stop(std::size_t slot);

 private:
  struct Slot {
    std::string name;
    int done = 0, total = 0;
    bool active = false;
  };

  void Erase();
  void Draw(bool now);

  ProductionIo& io_;
  std::mutex mutex_;
  std::vector<Slot> slots_;
  ProgressBar single_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_;
};

// One port's view: its lines prefixed with its name when there are several ports, and its share
// of the progress line.
class PortView : public View {
 public:
  PortView(SharedConsole& console, std::size_t slot, std::string prefix, const std::string& device);

  void OperationStarts() { slowLink_.OperationStarts(); }

  void SetStatus(const std::string& text) override;
  void ClearLog() override {}
  void AddLogLine(const std::string&) override {}
  void SetGaugeMax(int max) override;
  void SetGaugeProgress(int position) override;
  void Pause(int) override {}
  void LinkPace(double msPerExchange) override;

  void Error(const std::string& text) { console_.Line(true, "zelwik-cli: " + prefix_ + text); }

 private:
  void Warned();

  SharedConsole& console_;
  std::size_t slot_;
  std::string prefix_;
  std::ostringstream warnings_;
  SlowLinkWarning slowLink_;
};

}  // namespace zelwik::cli
