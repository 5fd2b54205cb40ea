#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelwik {

// The platform's serial port, as little of it as the link needs.
class SerialPort {
 public:
  static constexpr int kTimeout = -1;
  static constexpr int kPortError = -2;

  virtual ~SerialPort() = default;
  // Opens the device exclusively with the programmer's settings. On failure returns false and puts
  // the system's reason in reason (errnoValue gets the errno, 0 when none).
  virtual bool Open(const std::string& device, std::string& reason, int& errnoValue) = 0;
  // Writes all bytes in one call; false when the port failed.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // Number of bytes waiting to be read; kPortError when the port failed.
  virtual int BytesWaiting() = 0;
  // One byte 0..255 as soon as one is there, kTimeout after timeoutMs without one, or kPortError.
  virtual int ReadByte(int timeoutMs) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The probe's pause between two polls, about 1 ms.
  virtual void PollPause();
  // Puts the line back as it was found and lets go of its exclusivity, for a process that is
  // about to end with the port still open. Safe from a signal handler or another thread; the
  // port must not be used afterwards but may be closed: Close waits for a restore that has begun.
  virtual void RestoreLineNow() {}
};

// The termios port, or the Win32 one in a Windows build.
std::unique_ptr<SerialPort> MakePlatformSerialPort();
// The device of COMn when no ZELWIK_COMn names one: /dev/ttyS(n-1), or \\.\COMn on Windows.
std::string PlatformComDevice(int number);

}  // namespace zelwik
