// Systems without a port list of their own list nothing; `--port` still takes any device.
#include "link/port_list.h"

namespace zelwik {

std::vector<PortInfo> ListSerialPorts(const PortListRoots&) { return {}; }

std::string ShortPortName(const std::string& device) {
  const std::size_t slash = device.find_last_of('/');
  return slash == std::string::npos ? device : device.substr(slash + 1);
}

bool SamePort(const std::string& a, const std::string& b) { return a == b; }

std::string LatencyTimerAdvice(const std::string&) {
  return "zelwik-cli: a USB serial adapter may hold each reply back for its latency timer; set it "
         "to 1 ms.\n";
}

}  // namespace zelwik
