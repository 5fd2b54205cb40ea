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
    for (const char* d : {"sys/class/tty", "dev/serial/by-id", "proc", "lock"})
      std::filesystem::create_directories(dir_ / d);
  }
  const PortListRoots& Roots() const { return roots_; }
  std::string Root(const std::string& name) const { return dir_ / name; }

  // A tty on sys/devices/DEVICE bound to DRIVER, with a serial_core port type when type >= 0. Its
  // node is an empty file, or a link to node (a pty, so that it opens).
  void Tty(const std::string& name, const std::string& device, const std::string& driver,
           int type = -1, const std::string& node = "") {
    namespace fs = std::filesystem;
    const fs::path deviceDir = dir_.path() / "sys/devices" / device;
    const std::string tty = Root("sys/class/tty/" + name);
    fs::create_directories(deviceDir);
    fs::create_directories(Root("sys/bus/" + driver));
    fs::create_directory_symlink(Root("sys/bus/" + driver), deviceDir / "driver");
    fs::create_directories(tty);
    fs::create_directory_symlink(deviceDir, tty + "/device");
    if (type >= 0) WriteFile(tty + "/type", std::to_string(type) + "\n");
    node.empty() ? WriteFile(Root("dev/" + name), "")
                 : fs::create_symlink(node, Root("dev/" + name));
  }
  void Usb(const std::string& device, const std::string& id, const std::string& maker = "",
           const std::string& product = "") {
    const std::string d = "sys/devices/" + device + "/";
    std::filesystem::create_directories(Root(d));
    WriteFile(Root(d + "idVendor"), id.substr(0, 4) + "\n");
    WriteFile(Root(d + "idProduct"), id.substr(5) + "\n");
    if (!maker.empty()) WriteFile(Root(d + "manufacturer"), maker + "\n");
    if (!product.empty()) WriteFile(Root(d + "product"), product + "\n");
  }
  // Process pid has the node open.
  void Holder(int pid, const std::string& name) {
    const std::string fd = Root("proc/" + std::to_string(pid) + "/fd");
    std::filesystem::create_directories(fd);
    std::filesystem::create_symlink(Root("dev/" + name), fd + "/3");
  }

 private:
  TempDir dir_;
  PortListRoots roots_{dir_ / "sys", dir_ / "dev", dir_ / "proc", dir_ / "lock"};
};

}  // namespace zelwik::testing
