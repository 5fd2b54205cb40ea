#include "cli/ports_command.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "cli/command_line.h"
#include "link/link.h"

namespace zelwik::cli {
namespace {

constexpr int kComPorts = 5;

std::string ProbeText(const PortInfo& port) {
  switch (port.probe) {
    case ProbeResult::NotProbed:
      break;
    case ProbeResult::Programmer:
      return "programmer";
    case ProbeResult::NoAnswer:
      return "no answer";
    case ProbeResult::InUse:
      return "in use";
    case ProbeResult::CannotOpen:
      return "cannot open: " + port.openError;
    case ProbeResult::OtherReply: {
      char text[48];
      std::snprintf(text, sizeof text, "answered 0x%02X (not the programmer)", port.reply);
      return text;
    }
  }
  return port.inUse ? "in use" : "";
}

// The window's Interfejs menu has COM1 to COM5 and, below them, every other port by its name.
std::string WindowHint(const std::string& device) {
  for (int n = 1; n <= kComPorts; ++n) {
    const std::string com = "COM" + std::to_string(n);
    if (SamePort(DeviceForPort(com), device)) return "window: " + com;
  }
  return "window: Interfejs, " + ShortPortName(device);
}

std::string Line(const PortInfo& port) {
  std::string line = port.device;
  auto add = [&line](const std::string& field) {
    if (!field.empty()) line += "  " + field;
  };
  add(port.byId);
  if (!port.usbId.empty())
    add("USB " + port.usbId + (port.usbName.empty() ? "" : " " + port.usbName));
  if (!port.driver.empty()) add("driver " + port.driver);
  if (port.latencyTimerMs >= 0) add("latency timer " + std::to_string(port.latencyTimerMs) + " ms");
  add(ProbeText(port));
  add(WindowHint(port.device));
  return line;
}

// A new user's ports are all refused until they are in the group that owns them.
void SuggestDialout(const std::vector<PortInfo>& ports, std::ostream& err) {
  if (std::any_of(ports.begin(), ports.end(),
                  [](const PortInfo& p) { return p.openErrno == EACCES; }))
    err << "zelwik-cli: add your user to the 'dialout' group (sudo usermod -aG dialout $USER) "
           "and log in again\n";
}

}  // namespace

bool IsAutoPort(const std::string& port) {
  return port.size() == 4 && std::equal(port.begin(), port.end(), "auto", [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

int RunPortsCommand(bool probe, const PortListRoots& roots, std::ostream& out, std::ostream& err) {
  std::vector<PortInfo> ports = ListSerialPorts(roots);
  if (ports.empty()) {
    err << "zelwik-cli: no serial ports found\n";
    return kExitSuccess;
  }
  if (probe) ProbePorts(ports);
  for (const PortInfo& port : ports) out << Line(port) << '\n';
  SuggestDialout(ports, err);
  return kExitSuccess;
}

bool FindProgrammerPort(const PortListRoots& roots, std::string& device, std::ostream& err) {
  std::vector<PortInfo> ports = ListSerialPorts(roots);
  ProbePorts(ports);
  std::vector<std::string> answering;
  std::string found;
  for (const PortInfo& port : ports) {
    if (port.probe == ProbeResult::Programmer) answering.push_back(port.device);
    found += (found.empty() ? "" : ", ") + port.device + " " + ProbeText(port);
  }
  if (answering.size() == 1) {
    device = answering.front();
    return true;
  }
  err << "zelwik-cli: --port auto: ";
  if (ports.empty()) {
    err << "no serial ports found\n";
  } else if (answering.empty()) {
    err << "no programmer answered (" << found << ")\n";
  } else {
    err << answering.size() << " programmers answered (" << found << "); choose one with --port\n";
  }
  SuggestDialout(ports, err);
  return false;
}

}  // namespace zelwik::cli
