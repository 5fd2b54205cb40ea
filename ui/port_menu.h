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

// Bytes from outside (USB strings, the registry, file names) as plain UTF-8 text of at most
// maxBytes: control characters and broken UTF-8 become '?'; in a menu caption '&' is doubled so
// that it stays itself.
std::string PlainText(const std::string& raw, bool caption, std::size_t maxBytes = 80);

// The port label for a port name: "Com2" for COM1 ... COM5, else the device's short name.
std::string PortLabel(const std::string& port);

// The ports present that none of COM1 ... COM5 already names, in the list's order.
std::vector<PortMenuEntry> ExtraPortEntries(const std::vector<PortInfo>& ports);

}  // namespace zelwik::ui
