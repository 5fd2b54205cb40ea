#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/cancel.h"
#include "ops/view.h"

namespace zelwik::ui {

// The window's elements an operation writes to, as the window's thread sets them. Painting is the
// toolkit's business: a value set twice before the next paint shows only its last state.
class Screen {
 public:
  virtual ~Screen() = default;
  virtual void ShowStatus(const std::string& utf8) = 0;
  virtual void ClearLog() = 0;
  // One listing line as View::AddLogLine has it.
  virtual void AddLogLine(const std::string& line) = 0;
  virtual void ShowGauge(int max, int position) = 0;
};

// Runs one operation at a time on a worker thread of its own, so that the window's thread only
// ever waits for its own events. What the operation shows is queued and put on the Screen by the
// window's thread in Drain(): status texts, log clears and listing lines whole and in order, the
// gauge as its latest value. Pauses run on the worker and end early on Cancel().
class OperationRunner {
 public:
  using Job = std::function<void(View& view)>;
  // On the window's thread, once the job has ended and all it showed is on the screen; `failure`
  // holds what an exception that escaped the job said.
  using Done = std::function<void(const std::optional<std::string>& failure)>;
  // The window's thread is to call Drain() at its next turn; called from the worker, and from a
  // Drain() that leaves work for the next turn.
  using WakeFn = std::function<void()>;
  // Replaces the wait of a pause (tests and measurements); runs on the worker.
  using PauseHook = std::function<void(int milliseconds)>;
  // The window's thread is to call Drain() once this much time has passed, a later request
  // replacing an earlier one (a single-shot timer of the window's); called on the window's thread.
  using DrainLaterFn = std::function<void(std::chrono::milliseconds after)>;

  // A gauge that only moves is drawn at most about once a display frame.
  static constexpr std::chrono::milliseconds kFrame{16};
  // One Drain() puts at most about this much work on the screen, then leaves the rest to the next
  // turn of the window's event loop: a 4,096-line listing must not keep it from the desktop.
  static constexpr std::chrono::milliseconds kDrainSlice{8};

  // Without `drainLater` every position wakes the window's thread (a drain is then pending at most
  // once).
  OperationRunner(Screen& screen, CancelToken& cancel, WakeFn wake, PauseHook pause = {},
                  DrainLaterFn drainLater = {});
  // Cancels a running job and waits for it, without touching the screen again.
  ~OperationRunner();
  OperationRunner(const OperationRunner&) = delete;
  OperationRunner& operator=(const OperationRunner&) = delete;

  // The members below belong to the window's thread.

  // Hands the job to the worker, the cancel request cleared first; false while one runs.
  bool Start(Job job, Done done);
  // From Start() until the Done of its job has been called.
  bool Busy() const { return busy_; }
  // Asks the running job to stop after the exchange in flight and ends its pause; nothing when
  // idle.
  void Cancel();
  // Puts what the job showed since the last call on the screen, or the first slice of it (then it
  // wakes the window's thread again); at the job's end, calls Done.
  void Drain();
  // Blocks until the running job has ended, draining meanwhile: for start-up, before the window
  // shows.
  void Wait();

 private:
  class WorkerView;
  enum class UpdateKind : std::uint8_t { Status, ClearLog, LogLine };
  struct Update {
    UpdateKind kind;
    std::string text;
  };
  using Clock = std::chrono::steady_clock;

  void WorkerLoop();
  // Worker side: queue a change, then wake the window's thread if it is due.
  void Post(UpdateKind kind, const std::string& text);
  void PostGauge(std::optional<int> max, std::optional<int> position);
  void Pause(int milliseconds);
  // With mutex_ held: whether the caller is to call wake_ (after letting go of the mutex).
  bool WakeDue();
  void Wake();

  Screen& screen_;
  CancelToken& cancel_;
  WakeFn wake_;
  PauseHook pauseHook_;
  DrainLaterFn drainLater_;
  std::unique_ptr<WorkerView> view_;

  // Window's thread only: the job's state and what was taken from the queue but not yet shown.
  bool busy_ = false;
  Done done_;
  std::vector<Update> taken_;
  std::size_t takenShown_ = 0;
  std::optional<std::pair<int, int>> takenGauge_;
  std::uint64_t takenUpTo_ = 0;
  bool takenFinished_ = false;
  std::optional<std::string> takenFailure_;
  std::optional<Clock::time_point> frameEnds_;  // the Drain asked of drainLater_, for Wait()

  std::mutex mutex_;
  std::condition_variable workerCv_;  // a job, a drain, a cancel or the end
  std::condition_variable windowCv_;  // a wake, for Wait()
  Job job_;
  bool stopping_ = false;
  std::vector<Update> updates_;
  int gaugeMax_ = 0, gaugePosition_ = 0;
  bool gaugeChanged_ = false;
  bool wakePending_ = false;
  // A Drain is due by the frame's end (a timer, or the next slice): a position waits for it.
  bool frameOpen_ = false;
  std::uint64_t posted_ = 0, shown_ = 0;  // changes queued, and put on the screen
  bool finished_ = false;
  std::optional<std::string> failure_;

  std::thread worker_;  // last: starts once everything above exists
};

}  // namespace zelwik::ui
