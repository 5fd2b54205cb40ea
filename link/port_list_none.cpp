// Systems without a port list of their own list nothing; `--port` still takes any device.
#include "link/port_list.h"

namespace zelwik {

std::vector<PortInfo> ListSerialPorts(const PortListRoots&) { return {}; }

}  // namespace zelwik
