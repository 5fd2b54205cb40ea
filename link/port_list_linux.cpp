// The Linux side of the port list: sysfs says which ttys have hardware behind them, /dev holds
// the nodes and their by-id names, /proc and the lock folder who holds them.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "link/port_list.h"

namespace zelwik {

namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

fs::path Canonical(const fs::path& path) {
  std::error_code ec;
  fs::path result = fs::canonical(path, ec);
  return ec ? path : result;
}

// serial_core reports a port type; 0 (PORT_UNKNOWN) is a node with no UART behind it, as most of
// the ttyS nodes of a PC are.
bool HasNoUart(const fs::path& ttyDir) {
  std::error_code ec;
  if (!fs::exists(ttyDir / "type", ec)) return false;
  const std::string type = ReadLine(ttyDir / "type");
  return type.empty() || std::strtol(type.c_str(), nullptr, 10) == 0;
}

// The USB device above the tty's interface carries the ids and the adapter's own strings.
void ReadUsb(const fs::path& ttyDir, const fs::path& sysRoot, PortInfo& port) {
  std::error_code ec;
  const std::string root = Canonical(sysRoot).string();
  for (fs::path p = Canonical(ttyDir / "device"); p.string().size() > root.size();
       p = p.parent_path()) {
    if (p.string().compare(0, root.size(), root) != 0) break;
    if (!fs::exists(p / "idVendor", ec)) continue;
    port.usbId = ReadLine(p / "idVendor") + ":" + ReadLine(p / "idProduct");
    const std::string maker = ReadLine(p / "manufacturer");
    const std::string product = ReadLine(p / "product");
    port.usbName = maker.empty() || product.empty() ? maker + product : maker + " " + product;
    port.product = product;
    return;
  }
}

std::string Driver(const fs::path& ttyDir) {
  std::error_code ec;
  const fs::path link = fs::read_symlink(ttyDir / "device" / "driver", ec);
  return ec ? std::string() : link.filename().string();
}

// ftdi_sio tells it on the usb-serial port, which is what the tty's device is.
int LatencyTimer(const fs::path& ttyDir) {
  const std::string text = ReadLine(ttyDir / "device" / "latency_timer");
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 4)
    return -1;
  return std::atoi(text.c_str());
}

// Every path some process here has open. Processes of other users cannot be looked into.
std::set<std::string> OpenFiles(const fs::path& procRoot) {
  std::set<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator pid(procRoot, ec), end; !ec && pid != end; pid.increment(ec)) {
    const std::string name = pid->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fdEc;
    for (fs::directory_iterator fd(pid->path() / "fd", fdEc), fdEnd; !fdEc && fd != fdEnd;
         fd.increment(fdEc)) {
      std::error_code linkEc;
      const fs::path target = fs::read_symlink(fd->path(), linkEc);
      if (!linkEc) files.insert(target.string());
    }
  }
  return files;
}

// A UUCP lock file (LCK..ttyUSB0) of a process that still runs: the pid in ASCII, or as a binary
// int from older programs.
bool LockedByLiveProcess(const PortListRoots& roots, const std::string& name) {
  std::ifstream in(fs::path(roots.lock) / ("LCK.." + name), std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  long pid = 0;
  std::istringstream text(data);
  if (!(text >> pid) && data.size() == sizeof(int)) {
    int binary = 0;
    std::memcpy(&binary, data.data(), sizeof binary);
    pid = binary;
  }
  std::error_code ec;
  return pid > 0 && fs::exists(fs::path(roots.proc) / std::to_string(pid), ec);
}

// ttyS2 before ttyS10: the name's stem, then its number.
bool NaturalLess(const PortInfo& a, const PortInfo& b) {
  auto split = [](const std::string& s) {
    std::size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
    const std::string number = s.substr(digits);
    return std::make_pair(s.substr(0, digits), number.empty() ? -1L : std::atol(number.c_str()));
  };
  return split(a.device) < split(b.device);
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const PortListRoots& roots) {
  std::vector<PortInfo> ports;
  const fs::path classTty = fs::path(roots.sys) / "class" / "tty";
  const fs::path dev = roots.dev;

  std::vector<std::pair<fs::path, fs::path>> byId;  // canonical target, link
  std::error_code ec;
  for (fs::directory_iterator it(dev / "serial" / "by-id", ec), end; !ec && it != end;
       it.increment(ec)) {
    byId.emplace_back(Canonical(it->path()), it->path());
  }
  std::sort(byId.begin(), byId.end());
  const std::set<std::string> openFiles = OpenFiles(roots.proc);

  for (fs::directory_iterator it(classTty, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path ttyDir = it->path();
    const std::string name = ttyDir.filename().string();
    std::error_code e;
    // Virtual terminals, ptys and the console have no device behind them.
    if (!fs::exists(ttyDir / "device", e) || HasNoUart(ttyDir)) continue;
    const fs::path node = dev / name;
    if (!fs::exists(node, e)) continue;
    PortInfo port;
    port.device = node.string();
    const fs::path canonicalNode = Canonical(node);
    for (const auto& [target, link] : byId) {
      if (target == canonicalNode) {
        port.byId = link.string();
        break;
      }
    }
    ReadUsb(ttyDir, roots.sys, port);
    port.driver = Driver(ttyDir);
    port.latencyTimerMs = LatencyTimer(ttyDir);
    port.inUse = openFiles.count(port.device) > 0 || openFiles.count(canonicalNode.string()) > 0 ||
                 LockedByLiveProcess(roots, name);
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), NaturalLess);
  return ports;
}

std::string ShortPortName(const std::string& device) {
  return fs::path(device).filename().string();
}

bool SamePort(const std::string& a, const std::string& b) {
  return a == b || Canonical(a) == Canonical(b);
}

std::string LatencyTimerAdvice(const std::string& device) {
  // The sysfs name of the adapter in use, when it is one that has the timer.
  std::string name = Canonical(device).filename().string();
  if (name.rfind("ttyUSB", 0) != 0 || name.find_first_of("/'\"\\ ") != std::string::npos)
    name = "ttyUSB0";
  return "zelwik-cli: a USB serial adapter holds each reply back for its latency timer, 16 ms by "
         "default; 1 ms makes it fast.\n"
         "zelwik-cli: now:    echo 1 | sudo tee /sys/bus/usb-serial/devices/" +
         name +
         "/latency_timer\n"
         "zelwik-cli: always: put this line in /etc/udev/rules.d/99-usb-serial-latency.rules\n"
         "zelwik-cli:   ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
         "ATTR{latency_timer}=\"1\"\n";
}

}  // namespace zelwik
