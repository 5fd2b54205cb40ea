// The POSIX side of the serial port. Every platform call of the link lives here.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "link/serial_port.h"

namespace zelwik {

namespace {

constexpr int kWriteStallMs = 2000;
constexpr const char* kInUse = "port in use by another program";

long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

long long NowMs() { return NowNs() / 1000000; }

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

#ifdef __linux__
// Ends a blocking read() that outlives its bound, with neither a timer armed per byte (as the
// kernel's VTIME and poll() arm) nor a thread of its own: a live second thread in the process alone
// made every exchange about a tenth slower here. A timer of the port's signals the reading thread
// every kTick; a tick that finds the running read past its deadline makes the read's description
// non-blocking, and the read, restarted after the handler (SA_RESTART), returns EAGAIN. SA_RESTART
// also keeps the ticks from failing the thread's other system calls, such as a write to a full
// pipe.
class ReadBound {
 public:
  // nullptr when the tick cannot be had (the signal taken by someone else, blocked in this thread,
  // no timer): poll() serves then.
  static std::unique_ptr<ReadBound> Start(int readFd) {
    if (!InstallHandler()) return nullptr;
    sigset_t blocked;
    if (pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigismember(&blocked, Signal()))
      return nullptr;
    std::unique_ptr<ReadBound> bound(new ReadBound(readFd));
    if (!bound->Register()) return nullptr;
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = Signal();
    event.sigev_value.sival_ptr = bound.get();
    event._sigev_un._tid = gettid();  // sigev_notify_thread_id, which this glibc does not name
    if (timer_create(CLOCK_MONOTONIC, &event, &bound->timer_) != 0) return nullptr;
    bound->armed_ = true;
    const itimerspec every{{0, kTick.count()}, {0, kTick.count()}};
    if (timer_settime(bound->timer_, 0, &every, nullptr) != 0) return nullptr;
    return bound;
  }
  // The timer goes first; a tick already queued for it is dropped with it.
  ~ReadBound() {
    if (armed_) timer_delete(timer_);
    for (auto& slot : live_) {
      ReadBound* self = this;
      slot.compare_exchange_strong(self, nullptr);
    }
  }
  ReadBound(const ReadBound&) = delete;
  ReadBound& operator=(const ReadBound&) = delete;

  // The ticks go to the thread that opened the port; another thread's read uses poll().
  bool Serves() const { return pthread_equal(pthread_self(), owner_) != 0; }
  // Around each read() on readFd: the deadline of its wait (the same for the retries of one wait,
  // and no two waits have the same), then the end of it.
  void Begin(long long deadlineNs) { deadlineNs_.store(deadlineNs, std::memory_order_release); }
  void End() { deadlineNs_.store(0, std::memory_order_release); }
  // Whether a tick ended the wait with this deadline.
  bool Ended(long long deadlineNs) const {
    return endedNs_.load(std::memory_order_acquire) == deadlineNs;
  }

 private:
  // A bound may run over by as much.
  static constexpr std::chrono::nanoseconds kTick = std::chrono::milliseconds(20);

  explicit ReadBound(int readFd) : readFd_(readFd), owner_(pthread_self()) {}

  // SIG40 with glibc; under gdb: handle SIG40 nostop noprint pass.
  static int Signal() { return SIGRTMIN + 6; }

  // The bounds of the open ports. A tick names its bound by a pointer that any process of the same
  // user could forge with sigqueue(), so the handler only takes one listed here.
  static constexpr int kMaxOpenPorts = 16;
  static inline std::atomic<ReadBound*> live_[kMaxOpenPorts] = {};

  bool Register() {
    for (auto& slot : live_) {
      ReadBound* empty = nullptr;
      if (slot.compare_exchange_strong(empty, this)) return true;
    }
    return false;
  }
  static bool IsLive(const ReadBound* bound) {
    for (const auto& slot : live_)
      if (bound != nullptr && slot.load(std::memory_order_acquire) == bound) return true;
    return false;
  }

  // Once a process. A handler already there (not ours) keeps the signal.
  static bool InstallHandler() {
    static const bool installed = [] {
      struct sigaction old {};
      if (sigaction(Signal(), nullptr, &old) != 0) return false;
      if ((old.sa_flags & SA_SIGINFO) ? old.sa_sigaction != Tick : old.sa_handler != SIG_DFL)
        return false;
      struct sigaction action {};
      action.sa_sigaction = Tick;
      action.sa_flags = SA_SIGINFO | SA_RESTART;
      sigemptyset(&action.sa_mask);
      return sigaction(Signal(), &action, nullptr) == 0;
    }();
    return installed;
  }

  // Async-signal-safe: atomics, clock_gettime and fcntl only.
  static void Tick(int, siginfo_t* info, void*) {
    if (info == nullptr || info->si_code != SI_TIMER) return;
    auto* bound = static_cast<ReadBound*>(info->si_value.sival_ptr);
    if (!IsLive(bound)) return;
    const long long deadline = bound->deadlineNs_.load(std::memory_order_acquire);
    if (deadline == 0 || NowNs() < deadline) return;
    const int savedErrno = errno;
    bound->endedNs_.store(deadline, std::memory_order_release);
    SetBlocking(bound->readFd_, false);
    errno = savedErrno;
  }

  static_assert(std::atomic<long long>::is_always_lock_free &&
                std::atomic<ReadBound*>::is_always_lock_free);
  const int readFd_;
  const pthread_t owner_;
  timer_t timer_{};
  bool armed_ = false;
  std::atomic<long long> deadlineNs_{0};
  std::atomic<long long> endedNs_{0};
};
#else
// Elsewhere poll() bounds every read.
class ReadBound {
 public:
  static std::unique_ptr<ReadBound> Start(int) { return nullptr; }
  bool Serves() const { return false; }
  void Begin(long long) {}
  void End() {}
  bool Ended(long long) const { return false; }
};
#endif

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
    // Blocking reads (the second description) wait for one byte with no timer of the line's; the
    // non-blocking description returns what there is either way.
    t.c_cc[VMIN] = 1;
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
    // A second, blocking description of the same line lets one read() wait for the reply instead
    // of poll() and read(): a system call, a wake-up and a timer fewer a byte. Writes stay on the
    // non-blocking one, which bounds a stall. Opened before TIOCEXCL, which would refuse it.
    int waitFd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat same;
    if (waitFd >= 0 && (fstat(waitFd, &same) != 0 || same.st_rdev != st.st_rdev ||
                        fcntl(waitFd, F_SETFL, fcntl(waitFd, F_GETFL) & ~O_NONBLOCK) != 0)) {
      close(waitFd);
      waitFd = -1;
    }
    ioctl(fd, TIOCEXCL);
    // The line is handed back as it was found: a port probed in search of the programmer may be
    // some other device's, and the next program may not set every field itself.
    found_ = tcgetattr(fd, &foundSettings_) == 0;
    Configure(fd);
    // A fresh port has empty queues, whatever an earlier user left behind.
    tcflush(fd, TCIFLUSH);
    fd_ = fd;
    waitFd_ = waitFd;
    // The blocking read needs a raw line with VMIN 1, read back (a reopened pty can refuse
    // tcsetattr), and the bound's tick. Without them poll() serves.
    termios applied;
    if (waitFd_ >= 0 && (tcgetattr(fd_, &applied) != 0 || (applied.c_lflag & ICANON) ||
                         applied.c_cc[VMIN] != 1 || applied.c_cc[VTIME] != 0)) {
      close(waitFd_);
      waitFd_ = -1;
    }
    if (waitFd_ >= 0) bound_ = ReadBound::Start(waitFd_);
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
    if (bound_ && timeoutMs >= kWatchedReadMs && bound_->Serves()) {
      const long long deadline = NowNs() + static_cast<long long>(timeoutMs) * 1000000;
      for (;;) {
        std::uint8_t byte;
        bound_->Begin(deadline);
        const ssize_t n = read(waitFd_, &byte, 1);
        const int error = errno;
        bound_->End();
        // A non-blocking description left behind by a tick, for this read or a late one.
        const bool ended = bound_->Ended(deadline);
        if (ended || (n < 0 && error == EAGAIN)) SetBlocking(waitFd_, true);
        if (n == 1) return byte;
        if (n == 0) return kPortError;  // hang-up: VMIN 1 reads 0 for nothing else
        if (error != EAGAIN && error != EINTR) return kPortError;
        if (ended || NowNs() >= deadline) return kTimeout;
      }
    }
    // From the start: the bound's ticks interrupt poll() in this thread every 20 ms.
    const long long deadline = NowMs() + timeoutMs;
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
      timeoutMs = static_cast<int>(deadline - NowMs());
      if (timeoutMs <= 0) return kTimeout;
    }
  }

  void Close() override {
    if (fd_ < 0) return;
    bound_.reset();
    if (found_) tcsetattr(fd_, TCSANOW, &foundSettings_);
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

  // Shorter waits (the stray reply's 20 ms, the probe's 0) use poll(): the bound's tick comes
  // only every 20 ms.
  static constexpr int kWatchedReadMs = 100;

  int fd_ = -1;
  int waitFd_ = -1;  // blocking; the reply's read
  std::unique_ptr<ReadBound> bound_;
  termios foundSettings_{};
  bool found_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> MakePlatformSerialPort() { return std::make_unique<PosixSerialPort>(); }

std::string PlatformComDevice(int number) { return "/dev/ttyS" + std::to_string(number - 1); }

}  // namespace zelwik
