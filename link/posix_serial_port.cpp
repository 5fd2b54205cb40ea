// The POSIX side of the serial port. Every platform call of the link lives here.
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
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
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
    // A second, blocking description of the same line lets one read() wait for the reply with
    // the line's own timer instead of poll() and read(): a system call and a wake-up fewer a byte,
    // about a tenth of a fast read. Writes stay on the non-blocking one, which bounds a stall.
    // Opened before TIOCEXCL, which would refuse it.
    int waitFd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat same;
    if (waitFd >= 0 && (fstat(waitFd, &same) != 0 || same.st_rdev != st.st_rdev ||
                        fcntl(waitFd, F_SETFL, fcntl(waitFd, F_GETFL) & ~O_NONBLOCK) != 0)) {
      close(waitFd);
      waitFd = -1;
    }
    ioctl(fd, TIOCEXCL);
    Configure(fd);
    // A fresh port has empty queues, whatever an earlier user left behind.
    tcflush(fd, TCIFLUSH);
    fd_ = fd;
    waitFd_ = waitFd;
    lineTimerDs_ = 0;
    return true;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (fd_ < 0) return false;
    ssize_t n = write(fd_, data, size);
    if (n == static_cast<ssize_t>(size)) return true;
    return WriteRest(data, size, n);
  }

  int BytesWaiting() override {
    int count = 0;
    if (fd_ < 0 || ioctl(fd_, FIONREAD, &count) != 0) return kPortError;
    return count;
  }

  int ReadByte(int timeoutMs) override {
    if (fd_ < 0) return kPortError;
    if (const int tenths = LineTimerTenths(timeoutMs); tenths > 0) {
      std::uint8_t byte;
      const ssize_t n = read(waitFd_, &byte, 1);
      if (n == 1) return byte;
      if (n == 0) {
        // The timer ran out, or the line hung up, which also reads as 0.
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return kPortError;
        // What the timer cannot count, below a tenth or beyond its range, is waited below.
        timeoutMs -= tenths * 100;
        if (timeoutMs <= 0) return kTimeout;
      } else if (errno != EINTR && errno != EAGAIN) {
        return kPortError;
      }
      // Interrupted: the time already spent is unknown, so wait the whole bound again below.
    }
    long long deadline = -1;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      int r = poll(&p, 1, timeoutMs);
      if (r > 0 && (p.revents & POLLIN)) {
        std::uint8_t byte;
        ssize_t n = read(fd_, &byte, 1);
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
      // Woken without a byte: wait out what is left of the time.
      if (deadline < 0) deadline = NowMs() + timeoutMs;
      timeoutMs = static_cast<int>(deadline - NowMs());
      if (timeoutMs <= 0) return kTimeout;
    }
  }

  void Close() override {
    if (fd_ < 0) return;
    // The pty simulator keeps the slave open, so exclusivity would otherwise outlive us.
    ioctl(fd_, TIOCNXCL);
    // A late reply is discarded with the port, as a real port's last close does.
    tcflush(fd_, TCIFLUSH);
    flock(fd_, LOCK_UN);
    if (waitFd_ >= 0) close(waitFd_);
    close(fd_);
    fd_ = -1;
    waitFd_ = -1;
  }

  bool IsOpen() const override { return fd_ >= 0; }

 private:
  bool WriteRest(const std::uint8_t* data, std::size_t size, ssize_t written) {
    std::size_t done = written > 0 ? static_cast<std::size_t>(written) : 0;
    if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
    const long long deadline = NowMs() + kWriteStallMs;
    while (done < size) {
      pollfd p{fd_, POLLOUT, 0};
      int left = static_cast<int>(deadline - NowMs());
      if (left <= 0) return false;
      int r = poll(&p, 1, left);
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && !(p.revents & POLLOUT)) return false;
      if (r <= 0) continue;
      ssize_t n = write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return false;
      }
    }
    return true;
  }

  // The line's timer counts tenths of a second up to 25.5 s: it takes the whole tenths of a bound,
  // up to its range, and poll() the rest. Waits under a tenth (the stray reply's 20 ms, the
  // probe's 0) use poll() alone. The setting must read back: a reopened pty can refuse tcsetattr,
  // and a read with VTIME 0 would block for ever. Returns the tenths in force, 0 for none.
  int LineTimerTenths(int timeoutMs) {
    if (waitFd_ < 0 || timeoutMs < 100) return 0;
    const int tenths = timeoutMs / 100 < 255 ? timeoutMs / 100 : 255;
    if (lineTimerDs_ == tenths) return tenths;
    if (lineTimerDs_ < 0) return 0;
    termios t;
    if (tcgetattr(fd_, &t) == 0) {
      t.c_cc[VMIN] = 0;
      t.c_cc[VTIME] = static_cast<cc_t>(tenths);
      termios applied;
      if (tcsetattr(fd_, TCSANOW, &t) == 0 && tcgetattr(fd_, &applied) == 0 &&
          applied.c_cc[VMIN] == 0 && applied.c_cc[VTIME] == tenths) {
        lineTimerDs_ = tenths;
        return tenths;
      }
    }
    lineTimerDs_ = -1;  // not this time, nor for the rest of this opening
    return 0;
  }

  int fd_ = -1;
  int waitFd_ = -1;      // blocking; reads that wait on the line's timer
  int lineTimerDs_ = 0;  // VTIME in force: 0 none yet, -1 the line refused it
};

}  // namespace

std::unique_ptr<SerialPort> MakePlatformSerialPort() { return std::make_unique<PosixSerialPort>(); }

}  // namespace zelwik
