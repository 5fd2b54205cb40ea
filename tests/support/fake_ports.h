#pragma once

#include <filesystem>
#include <string>

#include "link/port_list.h"
#include "support/temp_dir.h"

namespace zelwik::testing {

// A made-up sysfs, /dev, /proc and lock folder in a temp folder, for the port list.
class FakePorts {
 public:
  FakePorts() {
    for (const char* d : {"sys/class/tty", "sys/bus/drivers", "dev/serial/by-id", "proc", "lock"})
      std::filesystem::create_directories(dir_ / d);
  }
  const PortListRoots& Roots() const { return roots_; }
  std::string Root(const std::string& name) const { return dir_ / name; }

  // A tty whose device sits at sys/devices/DEVICE. The node is an empty file, or a link to
  // nodeTarget (a pty, so that it can be opened).
  void Tty(const std::string& name, const std::string& device, const std::string& driver,
           const std::string& nodeTarget = "") {
    namespace fs = std::filesystem;
    const fs::path deviceDir = dir_.path() / "sys/devices" / device;
    fs::create_directories(deviceDir);
    fs::create_directories(dir_.path() / "sys/bus/drivers" / driver);
    fs::create_directory_symlink(dir_.path() / "sys/bus/drivers" / driver, deviceDir / "driver");
    fs::create_directories(dir_ / ("sys/class/tty/" + name));
    fs::create_directory_symlink(deviceDir, dir_ / ("sys/class/tty/" + name + "/device"));
    if (nodeTarget.empty())
      WriteFile(dir_ / ("dev/" + name), "");
    else
      fs::create_symlink(nodeTarget, dir_ / ("dev/" + name));
  }
  // A serial_core port of the given type (0: no UART behind the node).
  void Uart(const std::string& name, int type) {
    Tty(name, "platform/serial8250/" + name, "serial8250");
    WriteFile(dir_ / ("sys/class/tty/" + name + "/type"), std::to_string(type) + "\n");
  }
  // The USB device at sys/devices/DEVICE: ids and, when not empty, its strings.
  void Usb(const std::string& device, const std::string& vendor, const std::string& product,
           const std::string& maker = "", const std::string& productName = "") {
    const std::string d = "sys/devices/" + device + "/";
    std::filesystem::create_directories(dir_ / d);
    WriteFile(dir_ / (d + "idVendor"), vendor + "\n");
    WriteFile(dir_ / (d + "idProduct"), product + "\n");
    if (!maker.empty()) WriteFile(dir_ / (d + "manufacturer"), maker + "\n");
    if (!productName.empty()) WriteFile(dir_ / (d + "product"), productName + "\n");
  }
  // Process pid holds the node open.
  void Holder(int pid, const std::string& name) {
    const std::string fd = "proc/" + std::to_string(pid) + "/fd";
    std::filesystem::create_directories(dir_ / fd);
    std::filesystem::create_symlink(dir_ / ("dev/" + name), dir_ / (fd + "/3"));
  }

 private:
  TempDir dir_;
  PortListRoots roots_{dir_ / "sys", dir_ / "dev", dir_ / "proc", dir_ / "lock"};
};

}  // namespace zelwik::testing
