// The Windows side of the port list: the registry's SERIALCOMM names the ports the drivers made,
// SetupAPI tells what each one is, the system's device names hold the rest, and opening COMn finds
// the ones none of them knows (wine opens a dosdevices link as COMn and lists it nowhere). Ports
// some list knows are not opened: a device behind one may act on the lines an open raises.
#include <windows.h>
// After windows.h, which they need.
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/text_win32.h"
#include "link/port_list.h"

namespace zelwik {

namespace {

constexpr int kMaxCom = 255;
// The Ports (COM & LPT) device class.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Registry strings need not end in a NUL, and may hold several; the first one, whole.
std::wstring FirstString(const std::vector<wchar_t>& data, DWORD bytes) {
  const std::size_t chars = std::min<std::size_t>(bytes / sizeof(wchar_t), data.size());
  std::wstring text(data.data(), chars);
  const std::size_t nul = text.find(L'\0');
  return nul == std::wstring::npos ? text : text.substr(0, nul);
}

// 7 for "COM7" in any case, 0 for anything else.
int ComNumber(const std::wstring& name) {
  if (name.size() < 4 || name.size() > 6 || _wcsnicmp(name.c_str(), L"COM", 3) != 0) return 0;
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::iswdigit(name[i])) return 0;
    n = n * 10 + (name[i] - L'0');
  }
  return n >= 1 && n <= kMaxCom ? n : 0;
}

std::optional<std::wstring> StringValue(HKEY key, const wchar_t* name) {
  std::vector<wchar_t> data(512);
  DWORD type = 0, bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  return FirstString(data, bytes);
}

// The ports SERIALCOMM names. A missing key, a value of another type or one that names no COMn
// is passed over.
void ReadSerialComm(std::map<int, PortInfo>& ports) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return;
  for (DWORD index = 0; index < 4096; ++index) {
    wchar_t name[256];
    DWORD nameChars = 256;
    std::vector<wchar_t> data(256);
    DWORD type = 0, bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG r = RegEnumValueW(key, index, name, &nameChars, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    if (const int n = ComNumber(FirstString(data, bytes)))
      ports[n].device = "COM" + std::to_string(n);
  }
  RegCloseKey(key);
}

std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  std::vector<wchar_t> data(1024);
  DWORD type = 0, bytes = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, &type,
                                         reinterpret_cast<BYTE*>(data.data()),
                                         static_cast<DWORD>(data.size() * sizeof(wchar_t)), &bytes))
    return {};
  return FirstString(data, bytes);
}

// "USB\VID_0403&PID_6001\..." and "FTDIBUS\VID_0403+PID_6001+..." to "0403:6001".
std::string UsbId(const std::wstring& hardwareId) {
  std::string upper;
  for (wchar_t c : hardwareId) upper += c < 0x80 ? static_cast<char>(std::toupper(c)) : '?';
  const std::size_t vid = upper.find("VID_"), pid = upper.find("PID_");
  if (vid == std::string::npos || pid == std::string::npos) return {};
  std::string id = upper.substr(vid + 4, 4) + ":" + upper.substr(pid + 4, 4);
  for (char& c : id) {
    if (c != ':' && !std::isxdigit(static_cast<unsigned char>(c))) return {};
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return id.size() == 9 ? id : std::string();
}

// What Windows knows of each present port: its friendly name, USB ids, driver service, and the
// latency timer the FTDI driver keeps among the device's parameters.
void ReadSetupApi(std::map<int, PortInfo>& ports) {
  HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const int n = ComNumber(StringValue(key, L"PortName").value_or(L""));
    DWORD latency = 0, type = 0, bytes = sizeof latency;
    const bool hasLatency =
        RegQueryValueExW(key, L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                         &bytes) == ERROR_SUCCESS &&
        type == REG_DWORD && latency <= 255;
    RegCloseKey(key);
    if (!n) continue;
    PortInfo& port = ports[n];
    port.device = "COM" + std::to_string(n);
    if (hasLatency) port.latencyTimerMs = static_cast<int>(latency);
    std::string friendly = Narrow(DeviceProperty(set, info, SPDRP_FRIENDLYNAME));
    // "USB Serial Port (COM7)": the port's name is shown beside it anyway.
    const std::string suffix = " (" + port.device + ")";
    if (friendly.size() > suffix.size() &&
        friendly.compare(friendly.size() - suffix.size(), suffix.size(), suffix) == 0)
      friendly.resize(friendly.size() - suffix.size());
    port.product = friendly;
    port.usbId = UsbId(DeviceProperty(set, info, SPDRP_HARDWAREID));
    port.driver = Narrow(DeviceProperty(set, info, SPDRP_SERVICE));
  }
  SetupDiDestroyDeviceInfoList(set);
}

bool DosDeviceExists(int n) {
  wchar_t target[1024];
  return QueryDosDeviceW((L"COM" + std::to_wstring(n)).c_str(), target, 1024) > 0;
}

enum class Presence { Absent, Free, InUse };

// For a name no list holds, opening is the one test left. Closed again at once.
Presence Open(int n) {
  const std::wstring path = L"\\\\.\\COM" + std::to_wstring(n);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    const bool serial = GetFileType(h) == FILE_TYPE_CHAR;
    CloseHandle(h);
    return serial ? Presence::Free : Presence::Absent;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? Presence::InUse
                                                                          : Presence::Absent;
}

std::string Unprefixed(const std::string& device) {
  return device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const PortListRoots&) {
  std::map<int, PortInfo> fromRegistry, present;
  ReadSerialComm(fromRegistry);
  ReadSetupApi(present);
  std::vector<PortInfo> ports;
  for (int n = 1; n <= kMaxCom; ++n) {
    PortInfo port;
    if (auto it = present.find(n); it != present.end()) {
      port = it->second;
    } else if (fromRegistry.count(n)) {
      // A value left behind for a port that is gone names no device.
      if (!DosDeviceExists(n)) continue;
    } else if (!DosDeviceExists(n)) {
      const Presence presence = Open(n);
      if (presence == Presence::Absent) continue;
      port.inUse = presence == Presence::InUse;
    }
    port.device = "COM" + std::to_string(n);
    ports.push_back(std::move(port));
  }
  return ports;
}

std::string ShortPortName(const std::string& device) { return Unprefixed(device); }

bool SamePort(const std::string& a, const std::string& b) {
  return _stricmp(Unprefixed(a).c_str(), Unprefixed(b).c_str()) == 0;
}

std::string LatencyTimerAdvice(const std::string& device) {
  const std::string port = Unprefixed(device);
  const std::string name = ComNumber(std::wstring(port.begin(), port.end())) ? port : "the port";
  return "zelwik-cli: a USB serial adapter holds each reply back for its latency timer, 16 ms by "
         "default; 1 ms makes it fast.\n"
         "zelwik-cli: Device Manager, Ports (COM & LPT), " +
         name + ", Properties, Port Settings, Advanced, Latency Timer (msec): 1\n";
}

}  // namespace zelwik
