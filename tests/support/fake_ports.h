#pragma once

#include <filesystem>
#include <string>

#include "link/port_list.h"
#include "support/temp_dir.h"

namespace zelwik::testing {

// A made-up sysfs, /dev, /proc and lock folder for the port list.
class FakePorts {
 public:
  FakePorts() {
    for (const char* d : {"sys/class/tty", "dev/serial/by-id", "proc", "lock"}) Dir(d);
  }
  const PortListRoots& Roots() const { return roots_; }
  std::string Root(const std::string& name) const { return dir_ / name; }

  // A tty on sys/devices/DEVICE bound to DRIVER, with a serial_core port type when type >= 0. Its
  // node is an empty file, or a link to node (a pty, so that it opens).
  void Tty(const std::string& name, const std::string& device, const std::string& driver,
           int type = -1, const std::string& node = "") {
    const std::string tty = Dir("sys/class/tty/" + name), dev = Dir("sys/devices/" + device);
    std::filesystem::create_directory_symlink(Dir("sys/bus/" + driver), dev + "/driver");
    std::filesystem::create_directory_symlink(dev, tty + "/device");
    if (type >= 0) WriteFile(tty + "/type", std::to_string(type) + "\n");
    node.empty() ? WriteFile(Root("dev/" + name), "")
                 : std::filesystem::create_symlink(node, Root("dev/" + name));
  }
  void Usb(const std::string& device, const std::string& id, const std::string& maker = "",
           const std::string& product = "") {
    const std::string d = Dir("sys/devices/" + device) + "/";
    WriteFile(d + "idVendor", id.substr(0, 4) + "\n");
    WriteFile(d + "idProduct", id.substr(5) + "\n");
    if (!maker.empty()) WriteFile(d + "manufacturer", maker + "\n");
    if (!product.empty()) WriteFile(d + "product", product + "\n");
  }
  // The adapter's latency timer, where ftdi_sio shows it: on the tty's device.
  void LatencyTimer(const std::string& device, const std::string& text) {
    WriteFile(Dir("sys/devices/" + device) + "/latency_timer", text);
  }
  // Process pid has the node open.
  void Holder(int pid, const std::string& name) {
    std::filesystem::create_symlink(Root("dev/" + name),
                                    Dir("proc/" + std::to_string(pid) + "/fd") + "/3");
  }

 private:
  std::string Dir(const std::string& name) const {
    std::filesystem::create_directories(Root(name));
    return Root(name);
  }
  TempDir dir_;
  PortListRoots roots_{dir_ / "sys", dir_ / "dev", dir_ / "proc", dir_ / "lock"};
};

}  // namespace zelwik::testing
