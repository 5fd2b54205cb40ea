#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "link/cancel.h"
#include "link/pace.h"
#include "link/serial_port.h"

namespace zelwik {

inline constexpr int kDefaultReplyTimeoutMs = 2000;
inline constexpr int kProbePolls = 50;

// A reply that did not come within the bound, or a port that failed. Thrown by Transact for any
// command but the probe; the common frame of an operation catches it.
class LinkFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "COM1".."COM5" to their devices (ZELWIK_COM1.. or /dev/ttyS0..); anything else is taken as a
// device path.
std::string DeviceForPort(const std::string& portName);

// The link to the programmer: one operation opens it, exchanges frames and closes it.
class Link {
 public:
  Link();
  explicit Link(std::unique_ptr<SerialPort> port);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  bool OpenLink(const std::string& portName);
  // Sends the presence probe: its reply, or nothing when none came within 50 polls 1 ms apart.
  // A port failure throws LinkFault.
  std::optional<std::uint8_t> Probe();
  // Sends one frame and returns its reply; throws LinkFault when no reply comes within the bound
  // or the port fails. After a LinkFault every Transact throws at once until CloseLink. CMD_PROBE
  // goes to Probe() and gives 0 for silence, which a device may also answer: ask Probe() to tell.
  std::uint8_t Transact(std::uint8_t command, std::uint8_t a1 = 0, std::uint8_t a2 = 0,
                        std::uint8_t a3 = 0);
  // Waits up to waitMs for a byte that no frame asked for. One means the programmer answered some
  // frame twice and every reply since came one frame late. Takes the byte it finds.
  bool StrayReply(int waitMs);
  // Harmless when nothing is open.
  void CloseLink();
  bool IsOpen() const;

  void SetReplyTimeout(int milliseconds) { replyTimeoutMs_ = milliseconds; }
  // Once the token is requested every frame but CMD_STOP throws OperationCancelled instead of
  // going out, so an operation stops between two exchanges and can still close its traffic.
  void SetCancelToken(const CancelToken* token) { cancel_ = token; }
  // Told once, after the first PaceMeter::kExchanges exchanges from now, how long one took (the
  // median, in milliseconds): a slow adapter shows itself early. Empty: nothing measured.
  void SetPaceObserver(std::function<void(double msPerExchange)> observer) {
    paceObserver_ = std::move(observer);
    pace_ = {};
  }
  // For a process ending with the link open (a second Ctrl+C): see SerialPort::RestoreLineNow.
  void RestoreLineNow() {
    if (port_) port_->RestoreLineNow();
  }
  // Runs after each frame but the probe is written, before its reply is read: work done there
  // overlaps the frame's and the reply's time on the wire instead of adding to it. Empty: none.
  void SetReplyWaitHook(std::function<void()> hook) { replyWaitHook_ = std::move(hook); }
  int ReplyTimeout() const { return replyTimeoutMs_; }
  // The device and the system's reason of the last failed open ("" after a good one).
  const std::string& LastDevice() const { return lastDevice_; }
  const std::string& LastError() const { return lastError_; }
  int LastErrno() const { return lastErrno_; }

 private:
  std::unique_ptr<SerialPort> port_;
  int replyTimeoutMs_ = kDefaultReplyTimeoutMs;
  std::function<void()> replyWaitHook_;
  const CancelToken* cancel_ = nullptr;
  std::function<void(double)> paceObserver_;
  PaceMeter pace_;
  std::string lastDevice_;
  std::string lastError_;
  int lastErrno_ = 0;
  bool faulted_ = false;  // a reply went missing or the port failed: refuse until closed
};

}  // namespace zelwik
