#pragma once

#include <string>
#include <vector>

#include "link/port_list.h"

namespace zelwik::ui {

// A port the Interfejs menu lists below COM1 ... COM5.
struct PortMenuEntry {
  std::string caption;  // UTF-8, '&' doubled: "ttyUSB0 (FT232R USB UART)", "COM7 (USB Serial Port)"
  std::string label;    // the port label once chosen: "ttyUSB0", "COM7"
  std::string device;   // what the link opens
};

// The ports present that none of COM1 ... COM5 already names, in the list's order.
std::vector<PortMenuEntry> ExtraPortEntries(const std::vector<PortInfo>& ports);

}  // namespace zelwik::ui
