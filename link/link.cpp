#include "link/link.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "link/chips.h"
#include "link/commands.h"

namespace zelwik {

namespace {

constexpr int kPortCount = 5;

bool IsComName(const std::string& name, int& number) {
  if (name.size() != 4 || Lower(name.substr(0, 3)) != "com") return false;
  if (name[3] < '1' || name[3] > '0' + kPortCount) return false;
  number = name[3] - '0';
  return true;
}

}  // namespace

std::string DeviceForPort(const std::string& portName) {
  int number = 0;
  if (!IsComName(portName, number)) return portName;
  const std::string variable = "ZELWIK_COM" + std::to_string(number);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return device;
  }
  return PlatformComDevice(number);
}

void SerialPort::PollPause() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

Link::Link() : port_(MakePlatformSerialPort()) {}

Link::Link(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}

Link::~Link() { CloseLink(); }

bool Link::OpenLink(const std::string& portName) {
  CloseLink();
  const std::string device = DeviceForPort(portName);
  std::string reason;
  int errnoValue = 0;
  if (!port_ || !port_->Open(device, reason, errnoValue)) {
    lastDevice_ = device;
    lastError_ = port_ ? reason : "no serial port";
    if (lastError_.empty()) lastError_ = "cannot open";
    lastErrno_ = errnoValue;
    return false;
  }
  lastDevice_.clear();
  lastError_.clear();
  lastErrno_ = 0;
  return true;
}

namespace {

// Sends the frame; a failed write leaves the link refusing until it is closed.
void WriteFrame(SerialPort& port, bool& faulted, const std::uint8_t (&frame)[4]) {
  if (!port.Write(frame, sizeof frame)) {
    faulted = true;
    throw LinkFault("serial port failed");
  }
}

}  // namespace

std::optional<std::uint8_t> Link::Probe() {
  if (!port_ || !port_->IsOpen()) throw LinkFault("serial port not open");
  if (faulted_) throw LinkFault("programmer stopped answering");
  if (cancel_ && cancel_->Requested()) throw OperationCancelled();
  WriteFrame(*port_, faulted_, {CMD_PROBE, 0, 0, 0});
  // The probe polls so that an absent programmer costs about 50 ms. The pauses are counted, not
  // timed: a process held off the processor also lets the programmer's answer get through.
  for (int poll = 0; poll < kProbePolls; ++poll) {
    const int waiting = port_->BytesWaiting();
    if (waiting > 0) {
      const int reply = port_->ReadByte(0);
      if (reply >= 0) return static_cast<std::uint8_t>(reply);
      if (reply == SerialPort::kPortError) {
        faulted_ = true;
        throw LinkFault("serial port failed");
      }
    } else if (waiting == SerialPort::kPortError) {
      faulted_ = true;
      throw LinkFault("serial port failed");
    }
    port_->PollPause();
  }
  return {};
}

std::uint8_t Link::Transact(std::uint8_t command, std::uint8_t a1, std::uint8_t a2,
                            std::uint8_t a3) {
  if (command == CMD_PROBE) return Probe().value_or(0);
  if (!port_ || !port_->IsOpen()) throw LinkFault("serial port not open");
  // Once a reply went missing the programmer is gone; a 32 KiB loop must not wait 2 s per byte.
  if (faulted_) throw LinkFault("programmer stopped answering");
  if (command != CMD_STOP && cancel_ && cancel_->Requested()) throw OperationCancelled();
  if (paceObserver_)
    if (const auto ms = pace_.Exchange(PaceMeter::Clock::now())) paceObserver_(*ms);
  WriteFrame(*port_, faulted_, {command, a1, a2, a3});
  // A negative bound would mean waiting for ever, which is what the bound is there to stop.
  const int reply =
      port_->ReadByte(replyTimeoutMs_ >= 0 ? replyTimeoutMs_ : kDefaultReplyTimeoutMs);
  if (reply >= 0) return static_cast<std::uint8_t>(reply);
  faulted_ = true;
  if (reply == SerialPort::kTimeout) throw LinkFault("no reply from the programmer");
  throw LinkFault("serial port failed");
}

bool Link::StrayReply(int waitMs) {
  if (!port_ || !port_->IsOpen() || faulted_) return false;
  return port_->ReadByte(waitMs) >= 0;
}

void Link::CloseLink() {
  if (port_ && port_->IsOpen()) port_->Close();
  faulted_ = false;
}

bool Link::IsOpen() const { return port_ && port_->IsOpen(); }

}  // namespace zelwik
