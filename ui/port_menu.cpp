#include "ui/port_menu.h"

#include "link/link.h"

namespace zelwik::ui {
namespace {

constexpr int kComPorts = 5;

bool NamedByComItem(const std::string& device) {
  for (int n = 1; n <= kComPorts; ++n)
    if (SamePort(DeviceForPort("COM" + std::to_string(n)), device)) return true;
  return false;
}

}  // namespace

std::string PlainText(const std::string& raw, bool caption, std::size_t maxBytes) {
  std::string out;
  for (std::size_t i = 0; i < raw.size() && out.size() < maxBytes;) {
    const auto c = static_cast<unsigned char>(raw[i]);
    std::size_t length = c < 0x80             ? 1
                         : (c & 0xE0) == 0xC0 ? 2
                         : (c & 0xF0) == 0xE0 ? 3
                         : (c & 0xF8) == 0xF0 ? 4
                                              : 0;
    bool valid = length > 0 && i + length <= raw.size() && !(length == 2 && c < 0xC2);
    for (std::size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(raw[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      out += '?';
      ++i;
    } else if (length == 1 && (c < 0x20 || c == 0x7F)) {
      out += '?';
      ++i;
    } else {
      if (c == '&' && caption) out += '&';
      out.append(raw, i, length);
      i += length;
    }
  }
  return out;
}

std::string PortLabel(const std::string& port) {
  for (int n = 1; n <= kComPorts; ++n)
    if (port == "COM" + std::to_string(n)) return "Com" + std::to_string(n);
  const std::string name = ShortPortName(port);
  return PlainText(name.empty() ? port : name, false);
}

std::vector<PortMenuEntry> ExtraPortEntries(const std::vector<PortInfo>& ports) {
  std::vector<PortMenuEntry> entries;
  for (const PortInfo& port : ports) {
    if (port.device.empty() || NamedByComItem(port.device)) continue;
    PortMenuEntry entry;
    const std::string name = ShortPortName(port.device);
    const std::string& shown = name.empty() ? port.device : name;
    entry.label = PlainText(shown, false);
    entry.caption = PlainText(shown, true);
    if (!port.product.empty()) entry.caption += " (" + PlainText(port.product, true) + ")";
    entry.device = port.device;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace zelwik::ui
