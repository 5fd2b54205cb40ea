// The POSIX side of the serial port. Every platform call of the link lives here.
//
// One non-blocking descriptor; every wait is a poll() against a deadline fixed when the wait
// starts, so a wait ends on time whatever signals the process takes and whichever thread opened
// the port. The line's own VMIN/VTIME are left at 0: they would only matter to a blocking read.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/line_claim.h"
#include "link/serial_port.h"

namespace zelwik {

namespace {

constexpr int kWriteStallMs = 2000;
constexpr const char* kInUse = "port in use by another program";

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// What is left of a wait that ends at deadlineMs; poll() wants an int.
int LeftMs(long long deadlineMs) {
  const long long left = deadlineMs - NowMs();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// Settings of the programmer's line. Failures are ignored on purpose: a reopened pty rejects
// tcsetattr, ptys have no modem lines, some USB adapters refuse TIOCSSERIAL. A port that cannot
// be configured shows up at the presence probe.
void Configure(int fd) {
  termios t;
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | PARMRK | ISTRIP);
    t.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS);
    // Mark parity: a constant 1 after the data bits.
    t.c_cflag |= CS8 | PARENB | PARODD | CLOCAL | CREAD;
#ifdef CMSPAR
    t.c_cflag |= CMSPAR;
#endif
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
  }
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
#ifdef __linux__
  // A request, not a need: a USB adapter that holds replies back for its latency timer costs
  // every exchange that time, but some drivers refuse the call.
  serial_struct serial;
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
  }
#endif
}

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override { Close(); }

  bool Open(const std::string& device, std::string& reason, int& errnoValue) override {
    Close();
    reason.clear();
    errnoValue = 0;
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) {
      errnoValue = errno;
      // EBUSY: another program holds the port with TIOCEXCL.
      reason = errnoValue == EBUSY ? kInUse : std::strerror(errnoValue);
      return false;
    }
    // Frames written into a regular file would corrupt it.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
      close(fd);
      errnoValue = ENOTTY;
      reason = "not a serial device";
      return false;
    }
    // The advisory lock refuses a second program even for root, which TIOCEXCL does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      errnoValue = errno;
      reason = errnoValue == EWOULDBLOCK ? kInUse : std::strerror(errnoValue);
      if (errnoValue == EWOULDBLOCK) errnoValue = EBUSY;
      close(fd);
      return false;
    }
    ioctl(fd, TIOCEXCL);
    // The line is handed back as it was found: a port probed in search of the programmer may be
    // some other device's, and the next program may not set every field itself.
    found_ = tcgetattr(fd, &foundSettings_) == 0;
    Configure(fd);
    // A fresh port has empty queues, whatever an earlier user left behind.
    tcflush(fd, TCIFLUSH);
    fd_ = fd;
    owner_ = getpid();
    line_.Take();
    return true;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (fd_ == -1) return false;
    const ssize_t n = write(fd_, data, size);
    if (n == static_cast<ssize_t>(size)) return true;
    return WriteRest(data, size, n);
  }

  int BytesWaiting() override {
    int count = 0;
    if (fd_ == -1 || ioctl(fd_, FIONREAD, &count) != 0) return kPortError;
    return count;
  }

  int ReadByte(int timeoutMs) override {
    if (fd_ == -1) return kPortError;
    const long long deadline = NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    int waitMs = timeoutMs > 0 ? timeoutMs : 0;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int r = poll(&p, 1, waitMs);
      if (r > 0 && (p.revents & POLLIN)) {
        std::uint8_t byte;
        const ssize_t n = read(fd_, &byte, 1);
        if (n == 1) return byte;
        if (n == 0) return kPortError;  // hang-up
        if (errno != EAGAIN && errno != EINTR) return kPortError;
      } else if (r > 0) {
        return kPortError;  // POLLHUP, POLLERR or POLLNVAL without data
      } else if (r == 0) {
        return kTimeout;
      } else if (errno != EINTR) {
        return kPortError;
      }
      // Interrupted, or woken without a byte: wait out what is left, never more.
      waitMs = LeftMs(deadline);
    }
  }

  void Close() override {
    if (fd_ == -1) return;
    // A forked child shares the description, its lock and the line with the parent that opened
    // the port: it lets go of its copy and touches nothing else.
    if (getpid() != owner_) {
      close(fd_);
      fd_ = -1;
      return;
    }
    if (line_.BeginClose()) RestoreLine(fd_);
    // A late reply is discarded with the port, as a real port's last close does.
    tcflush(fd_, TCIFLUSH);
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
  }

  bool IsOpen() const override { return fd_ >= 0; }

  // Async-signal-safe: atomics and system calls only. fd_ stays valid until Restored().
  void RestoreLineNow() override {
    if (!line_.BeginRestore()) return;
    RestoreLine(fd_);
    line_.Restored();
  }

 private:
  void RestoreLine(int fd) {
    if (found_) tcsetattr(fd, TCSANOW, &foundSettings_);
    // The pty simulator keeps the slave open, so exclusivity would otherwise outlive us.
    ioctl(fd, TIOCNXCL);
  }

  bool WriteRest(const std::uint8_t* data, std::size_t size, ssize_t written) {
    std::size_t done = written > 0 ? static_cast<std::size_t>(written) : 0;
    if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
    const long long deadline = NowMs() + kWriteStallMs;
    while (done < size) {
      pollfd p{fd_, POLLOUT, 0};
      const int left = LeftMs(deadline);
      if (left <= 0) return false;
      const int r = poll(&p, 1, left);
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && !(p.revents & POLLOUT)) return false;
      if (r <= 0) continue;
      const ssize_t n = write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      }
    }
    return true;
  }

  int fd_ = -1;
  pid_t owner_ = 0;
  LineClaim line_;
  termios foundSettings_{};
  bool found_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> MakePlatformSerialPort() { return std::make_unique<PosixSerialPort>(); }

std::string PlatformComDevice(int number) { return "/dev/ttyS" + std::to_string(number - 1); }

}  // namespace zelwik
