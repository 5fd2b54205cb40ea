#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelwik {

// Where the system describes its serial devices. Tests point these at a tree of their own; a
// platform that has no such folders ignores them.
struct PortListRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
  std::string proc = "/proc";
  std::string lock = "/run/lock";
};

enum class ProbeResult {
  NotProbed,
  Programmer,  // answered the probe with 0x55
  OtherReply,  // answered with another byte: some other device
  NoAnswer,    // silent for the probe's 50 polls
  InUse,       // held by another program: nothing was sent
  CannotOpen,  // see openError
};

// A serial device a programmer can hang on.
struct PortInfo {
  std::string device;   // the path to open, "/dev/ttyUSB0"
  std::string byId;     // its stable name under /dev/serial/by-id, "" when it has none
  std::string usbId;    // "0403:6001" for a USB adapter, "" otherwise
  std::string usbName;  // the adapter's manufacturer and product strings
  std::string driver;   // the kernel driver, "ftdi_sio"
  std::string product;  // what the system calls it: the adapter's product, Windows' friendly name
  int latencyTimerMs = -1;  // the adapter's latency timer where the system tells it, else -1
  bool inUse = false;       // another program has it open or locked
  ProbeResult probe = ProbeResult::NotProbed;
  std::uint8_t reply = 0;  // the byte of OtherReply
  std::string openError;   // the reason of CannotOpen
  int openErrno = 0;       // and its errno, 0 when none
};

// The serial devices, in natural order (ttyS2 before ttyS10). Virtual terminals and the ttyS
// nodes with no UART behind them are left out. Platform code: one implementation per system.
std::vector<PortInfo> ListSerialPorts(const PortListRoots& roots = {});

// A device's short name, as the window's port label shows it: "ttyUSB0", "COM7".
std::string ShortPortName(const std::string& device);
// Whether two names open the same port: a by-id link and its node, \\.\COM7 and com7.
bool SamePort(const std::string& a, const std::string& b);

// What makes a USB adapter on this system answer at once instead of after its latency timer:
// lines for the command line's warning, each ending in a newline. device: the port in use.
std::string LatencyTimerAdvice(const std::string& device);

// Sends the presence probe, and nothing else, to every port that is not in use, through the link
// every operation uses; each port is closed (input flushed) before the next one is tried.
void ProbePorts(std::vector<PortInfo>& ports);

}  // namespace zelwik
