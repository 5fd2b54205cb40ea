#include "ui/operation_runner.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace zelwik::ui {

// The View an operation gets: every call is queued for the window's thread.
class OperationRunner::WorkerView : public View {
 public:
  explicit WorkerView(OperationRunner& runner) : runner_(runner) {}
  void SetStatus(const std::string& text) override { runner_.Post(UpdateKind::Status, text); }
  void ClearLog() override { runner_.Post(UpdateKind::ClearLog, {}); }
  void AddLogLine(const std::string& line) override { runner_.Post(UpdateKind::LogLine, line); }
  void SetGaugeMax(int max) override { runner_.PostGauge(max, std::nullopt); }
  void SetGaugeProgress(int position) override { runner_.PostGauge(std::nullopt, position); }
  void Pause(int milliseconds) override { runner_.Pause(milliseconds); }

 private:
  OperationRunner& runner_;
};

OperationRunner::OperationRunner(Screen& screen, CancelToken& cancel, WakeFn wake, PauseHook pause,
                                 DrainLaterFn drainLater)
    : screen_(screen),
      cancel_(cancel),
      wake_(std::move(wake)),
      pauseHook_(std::move(pause)),
      drainLater_(std::move(drainLater)),
      view_(std::make_unique<WorkerView>(*this)) {
  worker_ = std::thread(&OperationRunner::WorkerLoop, this);
}

OperationRunner::~OperationRunner() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (busy_) cancel_.Request();
  workerCv_.notify_all();
  worker_.join();
}

bool OperationRunner::Start(Job job, Done done) {
  if (busy_) return false;
  cancel_.Reset();
  busy_ = true;
  done_ = std::move(done);
  {
    const std::lock_guard lock(mutex_);
    job_ = std::move(job);
  }
  workerCv_.notify_all();
  return true;
}

void OperationRunner::Cancel() {
  if (!busy_) return;
  cancel_.Request();
  // Taken and let go, so a worker about to wait sees the request or gets the notification.
  { const std::lock_guard lock(mutex_); }
  workerCv_.notify_all();
}

void OperationRunner::Drain() {
  {
    const std::lock_guard lock(mutex_);
    if (taken_.empty()) {
      taken_.swap(updates_);
    } else {
      taken_.insert(taken_.end(), std::make_move_iterator(updates_.begin()),
                    std::make_move_iterator(updates_.end()));
      updates_.clear();
    }
    if (std::exchange(gaugeChanged_, false)) takenGauge_ = {gaugeMax_, gaugePosition_};
    // The frame stays open while there is a gauge to draw: this Drain's slices draw it and ask for
    // the Drain that ends the frame. One that finds the gauge unchanged closes it.
    frameOpen_ = takenGauge_.has_value() && drainLater_ != nullptr;
    wakePending_ = false;
    takenUpTo_ = posted_;
    if (std::exchange(finished_, false)) {
      takenFinished_ = true;
      takenFailure_ = std::exchange(failure_, std::nullopt);
    }
  }
  const Clock::time_point ends = Clock::now() + kDrainSlice;
  while (takenShown_ < taken_.size()) {
    const Update& update = taken_[takenShown_++];
    switch (update.kind) {
      case UpdateKind::Status:
        screen_.ShowStatus(update.text);
        break;
      case UpdateKind::ClearLog:
        screen_.ClearLog();
        break;
      case UpdateKind::LogLine:
        screen_.AddLogLine(update.text);
        break;
    }
    if (takenShown_ < taken_.size() && Clock::now() >= ends) {
      if (wake_) wake_();
      return;
    }
  }
  taken_.clear();
  takenShown_ = 0;
  frameEnds_.reset();
  if (const auto gauge = std::exchange(takenGauge_, std::nullopt)) {
    screen_.ShowGauge(gauge->first, gauge->second);
    if (drainLater_) {
      frameEnds_ = Clock::now() + kFrame;
      drainLater_(kFrame);
    }
  }
  {
    const std::lock_guard lock(mutex_);
    shown_ = std::max(shown_, takenUpTo_);
  }
  workerCv_.notify_all();
  if (std::exchange(takenFinished_, false) && busy_) {
    busy_ = false;
    const Done done = std::exchange(done_, nullptr);
    if (done) done(std::exchange(takenFailure_, std::nullopt));
  }
}

void OperationRunner::Wait() {
  while (busy_) {
    {
      std::unique_lock lock(mutex_);
      // Before the window's event loop runs, its timer cannot end a frame: this wait does.
      const auto due = [&] { return wakePending_ || finished_ || !taken_.empty(); };
      if (frameEnds_)
        windowCv_.wait_until(lock, *frameEnds_, due);
      else
        windowCv_.wait(lock, due);
    }
    Drain();
  }
}

void OperationRunner::WorkerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workerCv_.wait(lock, [&] { return stopping_ || job_; });
    if (stopping_) return;
    Job job = std::exchange(job_, nullptr);
    lock.unlock();
    std::optional<std::string> failure;
    try {
      job(*view_);
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "?";
    }
    job = nullptr;
    lock.lock();
    finished_ = true;
    failure_ = std::move(failure);
    ++posted_;
    if (WakeDue()) {
      lock.unlock();
      Wake();
      lock.lock();
    }
  }
}

void OperationRunner::Post(UpdateKind kind, const std::string& text) {
  std::unique_lock lock(mutex_);
  updates_.push_back({kind, text});
  ++posted_;
  if (WakeDue()) {
    lock.unlock();
    Wake();
  }
}

void OperationRunner::PostGauge(std::optional<int> max, std::optional<int> position) {
  std::unique_lock lock(mutex_);
  if (max) gaugeMax_ = *max;
  if (position) gaugePosition_ = *position;
  gaugeChanged_ = true;
  ++posted_;
  // A position moves on every byte, far faster than a screen shows. The worker never reads a
  // clock nor waits for it: each Drain that draws the gauge asks the window's own timer for
  // the next Drain a frame later (a trailing edge), and a position posted meanwhile waits for
  // that one. So the last position is drawn within a frame even when the operation then blocks
  // (a silent programmer's 2 s, an erase), and once the gauge stops the frames stop. A new range
  // is rare and changes the whole bar: it wakes at once.
  if ((max || !frameOpen_) && WakeDue()) {
    lock.unlock();
    Wake();
  }
}

void OperationRunner::Pause(int milliseconds) {
  std::unique_lock lock(mutex_);
  const std::uint64_t upTo = posted_;
  if (shown_ < upTo && WakeDue()) {
    lock.unlock();
    Wake();
    lock.lock();
  }
  // The text written before a pause is what the user reads during it: the pause starts once the
  // screen has it.
  const auto ends = [&] { return stopping_ || cancel_.Requested(); };
  workerCv_.wait(lock, [&] { return shown_ >= upTo || ends(); });
  if (pauseHook_) {
    if (ends()) return;
    lock.unlock();
    pauseHook_(milliseconds);
    return;
  }
  workerCv_.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)), ends);
}

bool OperationRunner::WakeDue() {
  if (wakePending_ || stopping_) return false;
  wakePending_ = true;
  return true;
}

void OperationRunner::Wake() {
  windowCv_.notify_all();
  if (wake_) wake_();
}

}  // namespace zelwik::ui
