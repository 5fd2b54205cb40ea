#pragma once

#include <string>

namespace zelwik {

struct ChipInfo;

// Everything an operation may show or wait for. The window, the command line and the tests each
// supply their own, so the operations never know which one they are talking to.
class View {
 public:
  virtual ~View() = default;
  // A status-line text, UTF-8.
  virtual void SetStatus(const std::string& text) = 0;
  virtual void ClearLog() = 0;
  // One listing line: ASCII address and hex digits, then the raw image bytes of the character
  // column (Windows-1250 when shown).
  virtual void AddLogLine(const std::string& line) = 0;
  virtual void SetGaugeMax(int max) = 0;
  virtual void SetGaugeProgress(int position) = 0;
  // A blocking pause at the end of an operation.
  virtual void Pause(int milliseconds) = 0;
  // The mean time of one frame and its reply over the operation's first exchanges; at most once
  // an operation, and not at all for one of only a few exchanges.
  virtual void LinkPace(double msPerExchange) { (void)msPerExchange; }
  // Program asks it once the chip is detected and the image fits it, just before the erase: the
  // last moment to change the image for this chip (a serial number). False leaves the chip as it
  // is and ends the operation as cancelled.
  virtual bool BeforeErase(const ChipInfo& chip) {
    (void)chip;
    return true;
  }
};

// Shows nothing and never waits.
class NullView : public View {
 public:
  void SetStatus(const std::string&) override {}
  void ClearLog() override {}
  void AddLogLine(const std::string&) override {}
  void SetGaugeMax(int) override {}
  void SetGaugeProgress(int) override {}
  void Pause(int) override {}
};

}  // namespace zelwik
