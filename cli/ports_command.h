#pragma once

#include <ostream>
#include <string>

#include "link/port_list.h"

namespace zelwik::cli {

// zelwik-cli ports [--probe]: one line a serial device, the device path first.
int RunPortsCommand(bool probe, const PortListRoots& roots, std::ostream& out, std::ostream& err);

bool IsAutoPort(const std::string& port);

// --port auto: the one port whose probe is answered. None or several: false, and err lists
// what was found.
bool FindProgrammerPort(const PortListRoots& roots, std::string& device, std::ostream& err);

}  // namespace zelwik::cli
