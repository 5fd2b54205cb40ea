#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_model.h"

namespace zelwik::sim {

// Serves a DeviceModel on a pseudo-terminal. The slave's path is what a client opens as its
// serial port. Runs on a thread of its own (Start) or in the caller's (Run).
class PtySimulator {
 public:
  // baud > 0: each reply waits the time frame and reply take on a wire (11 bits a character).
  explicit PtySimulator(DeviceModel& model, int baud = 0);
  ~PtySimulator();
  PtySimulator(const PtySimulator&) = delete;
  PtySimulator& operator=(const PtySimulator&) = delete;

  // Creates the pseudo-terminal; false with a reason on failure. Paced, it also times the pty's
  // own transit each way, so that transit counts as part of the wire rather than on top of it.
  bool Open(std::string& reason);
  const std::string& SlavePath() const { return slavePath_; }

  void Start();  // serve on a background thread
  void Stop();   // stop the thread (also done by the destructor)
  void Run();    // serve in this thread until Stop() is called from elsewhere or a signal
  // Stops serving and closes both ends: a client then sees its port fail (EIO, hang-up).
  void Close();

  // Called on the serving thread with every frame and its reply bytes (set before Start).
  using FrameObserver =
      std::function<void(const Frame& frame, const std::vector<std::uint8_t>& reply)>;
  void SetFrameObserver(FrameObserver observer) { observer_ = std::move(observer); }
  // Each reply held back until ms after its frame arrived, as a USB adapter's latency timer holds
  // a lone byte (set before Start; 0: none).
  void SetReplyLatency(int ms) { latencyNs_ = ms * 1000000LL; }

  // What a paced reply is brought forward by for the pty's transit, each way (0 when unpaced):
  // half the fastest transit timed at Open.
  long long InTransitNs() const { return inTransitNs_; }
  long long OutTransitNs() const { return outTransitNs_; }

  // Runs fn while the serving thread cannot touch the model (tests that inspect or change it).
  template <typename Fn>
  auto WithModel(Fn fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    return fn(model_);
  }

 private:
  void Serve();
  void Reply(const Frame& frame, long long deadlineNs);
  bool WriteAll(const std::uint8_t* data, std::size_t size);
  bool CalibrateTransit(std::string& reason);
  DeviceModel& model_;
  int baud_;
  long long inTransitNs_ = 0;
  long long outTransitNs_ = 0;
  long long latencyNs_ = 0;
  int master_ = -1;
  int slaveKeep_ = -1;
  std::string slavePath_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  FrameObserver observer_;
};

}  // namespace zelwik::sim
