#pragma once

#include <windows.h>

namespace zelwik::win {

// Keeps the window answering the window system while an operation holds its thread: paints,
// moves, minimising, pings and sent messages go on; what the user types or clicks is thrown away,
// never replayed.
class MessagePump {
 public:
  // Whether the message is the user's input (keys, clicks, the menu and the close box), which an
  // operation must not see. Moving the window by its caption and minimising it are not.
  static bool IsUserInput(const MSG& msg);

  // Dispatches the queued non-input messages and drops the input ones.
  void Pump();
  // Pump(), unless the last one ran less than kIntervalMs ago.
  void PumpIfDue();
  // Waits milliseconds while pumping.
  void Wait(int milliseconds);

  bool QuitRequested() const { return quit_; }
  int QuitCode() const { return quitCode_; }
  int Dropped() const { return dropped_; }

  static constexpr int kIntervalMs = 20;

 private:
  ULONGLONG lastPump_ = 0;
  bool quit_ = false;
  int quitCode_ = 0;
  int dropped_ = 0;
};

}  // namespace zelwik::win
