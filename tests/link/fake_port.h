#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/serial_port.h"

namespace zelwik::testing {

// A programmer scripted by command code, for replies no simulated chip would give.
class ScriptedPort : public SerialPort {
 public:
  std::map<std::uint8_t, std::uint8_t> replies;  // command -> reply; missing: 0x00
  std::vector<std::array<std::uint8_t, 4>> written;

  bool Open(const std::string&, std::string&, int&) override { return open_ = true; }
  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (size != 4) return false;
    written.push_back({data[0], data[1], data[2], data[3]});
    auto it = replies.find(data[0]);
    pending_.push_back(it == replies.end() ? 0x00 : it->second);
    return true;
  }
  int BytesWaiting() override { return static_cast<int>(pending_.size()); }
  int ReadByte(int) override {
    if (pending_.empty()) return kTimeout;
    int b = pending_.front();
    pending_.pop_front();
    return b;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }

 private:
  bool open_ = false;
  std::deque<std::uint8_t> pending_;
};

}  // namespace zelwik::testing
