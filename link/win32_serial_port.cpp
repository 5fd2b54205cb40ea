// The Win32 side of the serial port. Every platform call of the link lives here.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <atomic>
#include <cctype>
#include <cerrno>

#include "image/text_win32.h"
#include "link/line_claim.h"
#include "link/serial_port.h"

namespace zelwik {

namespace {

constexpr DWORD kWriteStallMs = 2000;
// How long a restore may take before the line is left as it is: the process is ending, and must
// whatever the driver does.
constexpr DWORD kRestoreWaitMs = 600;
constexpr const char* kInUse = "port in use by another program";

// The synchronous call the thread has in flight, if any, ends as failed.
void CancelThreadIo(DWORD threadId) {
  if (HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, threadId)) {
    CancelSynchronousIo(thread);
    CloseHandle(thread);
  }
}

// "COM10" and up open only through the device namespace; the short names work there too.
std::string DevicePath(const std::string& device) {
  if (device.size() > 3 && std::toupper(static_cast<unsigned char>(device[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(device[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(device[2])) == 'M' &&
      device.find_first_not_of("0123456789", 3) == std::string::npos) {
    return "\\\\.\\" + device;
  }
  return device;
}

// Settings of the programmer's line, made from the ones found. Failures are carried on from: a
// port that cannot be configured shows up at the presence probe. No SetupComm: drivers take the
// sizes as a least and their own queues hold far more than an exchange. No comm event mask:
// nothing here waits for comm events.
void Configure(HANDLE h, const DCB& found) {
  DCB dcb = found;
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = MARKPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  SetCommState(h, &dcb);
}

// Share mode 0 is the driver's to enforce and not every one does (wine's serial layer lets a
// second open through): a mutex named after the port also keeps two programs of ours apart.
HANDLE ClaimPort(const std::string& path) {
  std::string name = "Global\\zelwik-port-";
  for (char c : path) {
    name += c == '\\' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  HANDLE claim = CreateMutexA(nullptr, FALSE, name.c_str());
  if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(claim);
    return INVALID_HANDLE_VALUE;
  }
  return claim;  // nullptr: no claim could be made, the share mode alone decides
}

class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override { Close(); }

  bool Open(const std::string& device, std::string& reason, int& errnoValue) override {
    Close();
    reason.clear();
    errnoValue = 0;
    const std::string path = DevicePath(device);
    HANDLE claim = ClaimPort(path);
    if (claim == INVALID_HANDLE_VALUE) {
      errnoValue = EBUSY;
      reason = kInUse;
      return false;
    }
    // Exclusive: a second program gets ERROR_ACCESS_DENIED. Synchronous I/O.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (claim) CloseHandle(claim);
      switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
          errnoValue = EBUSY;
          reason = kInUse;
          break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
          errnoValue = ENOENT;
          reason = "no such port";
          break;
        default:
          errnoValue = EIO;
          reason = SystemErrorText(error);
      }
      return false;
    }
    // Frames written into a file would corrupt it.
    if (GetFileType(h) != FILE_TYPE_CHAR) {
      CloseHandle(h);
      if (claim) CloseHandle(claim);
      errnoValue = ENOTTY;
      reason = "not a serial device";
      return false;
    }
    // Sleep(1) lasts a whole 15.6 ms tick by default, which would stretch the probe's 50 polls to
    // most of a second. Raised for as long as the port is open, that is one operation.
    timerRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    // What the port had is put back at Close: a probed port may be another device's.
    found_ = DCB{};
    found_.DCBlength = sizeof found_;
    foundState_ = GetCommState(h, &found_) != FALSE;
    foundTimeouts_ = GetCommTimeouts(h, &foundLimits_) != FALSE;
    Configure(h, found_);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    handle_ = h;
    claim_ = claim;
    readTimeoutMs_ = -1;
    line_.Take();
    // Also bounds the writes from the first frame on; the driver's own setting may be no bound.
    if (Io io{*this}) SetReadTimeout(0);
    return true;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    Io io{*this};
    if (!io) return false;
    DWORD written = 0;
    return WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  }

  int BytesWaiting() override {
    Io io{*this};
    if (!io) return kPortError;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return kPortError;
    return static_cast<int>(status.cbInQue);
  }

  int ReadByte(int timeoutMs) override {
    Io io{*this};
    if (!io) return kPortError;
    if (!SetReadTimeout(timeoutMs)) return kPortError;
    std::uint8_t byte = 0;
    DWORD got = 0;
    if (!ReadFile(handle_, &byte, 1, &got, nullptr)) return kPortError;
    return got == 1 ? byte : kTimeout;
  }

  void Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const bool restore = line_.BeginClose();
    // A restorer that the driver holds still uses the handle and the settings: both are left to
    // the process's end, which is at hand.
    if (!abandoned_) {
      // A late reply goes with the port, as on the last close of a POSIX port.
      PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
      if (restore) RestoreLine(handle_);
      foundState_ = foundTimeouts_ = false;
      CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
    if (claim_) CloseHandle(claim_);
    claim_ = nullptr;
    if (timerRaised_) timeEndPeriod(1);
    timerRaised_ = false;
  }

  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  // From the console's control handler, on a thread of its own, as the process ends. The handle
  // is synchronous: the restore's calls may queue behind the call in flight, a read for its whole
  // reply bound and forever with a stuck driver. So that call is cancelled, no other starts (Io),
  // and the restore runs on a thread of its own that is waited for kRestoreWaitMs at most.
  void RestoreLineNow() override {
    if (!line_.BeginRestore()) return;
    // Once only: later it would cancel the restore's own calls too.
    CancelIoEx(handle_, nullptr);
    HANDLE restorer = CreateThread(nullptr, 0, &Win32SerialPort::Restorer, this, 0, nullptr);
    const DWORD start = GetTickCount();
    bool done = restorer == nullptr;
    while (!done && GetTickCount() - start < kRestoreWaitMs) {
      // A read that began just after the cancel, or a driver that only heeds the thread's own.
      if (inIo_.load()) CancelThreadIo(ioThread_.load());
      done = WaitForSingleObject(restorer, 10) == WAIT_OBJECT_0;
    }
    if (restorer) CloseHandle(restorer);
    // The line stays as it is, and the handle with the restorer that may still use it.
    if (!done) abandoned_ = true;
    line_.Restored();
  }

  // std::this_thread::sleep_for rounds up to the next millisecond and then some: about 2 ms a
  // poll where Sleep(1) with the raised timer gives one.
  void PollPause() override { Sleep(1); }

 private:
  // Brackets each call on the handle from the port's own thread; false once a restore has begun.
  // inIo_ is raised before the claim is looked at, so a restore either sees the call and cancels
  // it or the call sees the restore and never starts.
  class Io {
   public:
    explicit Io(Win32SerialPort& port) : port_(port) {
      port_.ioThread_.store(GetCurrentThreadId());
      port_.inIo_.store(true);
      ok_ = port_.line_.Owned();
      if (!ok_) port_.inIo_.store(false);
    }
    ~Io() {
      if (ok_) port_.inIo_.store(false);
    }
    Io(const Io&) = delete;
    Io& operator=(const Io&) = delete;
    explicit operator bool() const { return ok_; }

   private:
    Win32SerialPort& port_;
    bool ok_ = false;
  };

  static DWORD WINAPI Restorer(void* port) {
    auto* self = static_cast<Win32SerialPort*>(port);
    self->RestoreLine(self->handle_);
    return 0;
  }

  void RestoreLine(HANDLE h) {
    if (foundTimeouts_) SetCommTimeouts(h, &foundLimits_);
    if (foundState_) SetCommState(h, &found_);
  }

  // MAXDWORD interval and multiplier with a constant: ReadFile returns as soon as one byte is
  // there, or empty after the constant. All three MAXDWORD/0/0 would not wait at all.
  bool SetReadTimeout(int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = 0;
    if (timeoutMs == readTimeoutMs_) return true;
    COMMTIMEOUTS t{};
    if (timeoutMs == 0) {
      t.ReadIntervalTimeout = MAXDWORD;
    } else {
      t.ReadIntervalTimeout = MAXDWORD;
      t.ReadTotalTimeoutMultiplier = MAXDWORD;
      t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
    }
    t.WriteTotalTimeoutConstant = kWriteStallMs;
    if (!SetCommTimeouts(handle_, &t)) {
      readTimeoutMs_ = -1;
      return false;
    }
    readTimeoutMs_ = timeoutMs;
    return true;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE claim_ = nullptr;
  int readTimeoutMs_ = -1;  // the read bound in force; -1 none set on this opening
  bool timerRaised_ = false;
  DCB found_{};                 // the line settings found at open
  COMMTIMEOUTS foundLimits_{};  // and the timeouts
  bool foundState_ = false;     // whether each could be read, and so put back
  bool foundTimeouts_ = false;
  LineClaim line_;
  std::atomic<bool> inIo_{false};   // a call on the handle is in flight or about to start
  std::atomic<DWORD> ioThread_{0};  // the thread that made the last one
  bool abandoned_ = false;          // a restore gave up on the driver: the handle is left open
};

}  // namespace

std::unique_ptr<SerialPort> MakePlatformSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::string PlatformComDevice(int number) { return "\\\\.\\COM" + std::to_string(number); }

}  // namespace zelwik
