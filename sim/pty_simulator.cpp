#include "sim/pty_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>

namespace zelwik::sim {

namespace {

long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The scheduler may wake us late; sleep to a little before the deadline and spin the rest. A
// real-time thread is woken within microseconds and needs a much shorter spin.
constexpr long long kSpinNs = 200000;
constexpr long long kRealTimeSpinNs = 50000;
thread_local long long tSpinNs = kSpinNs;

void WaitUntil(long long deadlineNs) {
  const long long sleepTo = deadlineNs - tSpinNs;
  if (NowNs() < sleepTo) {
    timespec ts{static_cast<time_t>(sleepTo / 1000000000LL),
                static_cast<long>(sleepTo % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
  }
  while (NowNs() < deadlineNs) {
  }
}

void MakeRaw(int fd) {
  termios t;
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

constexpr int kStopCheckMs = 20;
constexpr int kServeNice = -10;

// Hardware answers on time however busy the PC is; on a loaded machine a starved thread would
// miss the probe's 50 ms window. Best effort: needs CAP_SYS_NICE, silently skipped otherwise.
void RaisePriority() {
#ifdef __linux__
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kServeNice);
#endif
}

// A paced reply stands for a wire and a device with a processor of its own, so the host's load
// must not stretch it: measured on a busy machine, a nice -10 thread still woke tens of
// microseconds late and a whole 32 KiB read took half as long again as its wire time. Timer slack
// would end every sleep up to 50 us late. Best effort: the real-time class needs CAP_SYS_NICE or
// RLIMIT_RTPRIO; the thread blocks between frames, so it never holds a processor for long.
void PrepareForPacing() {
#ifdef __linux__
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) tSpinNs = kRealTimeSpinNs;
#endif
}

// Four frame characters and one reply character, 11 bits each with start, parity and stop.
long long WireNs(int baud) { return 5LL * 11 * 1000000000LL / baud; }

// The pty's transit is timed on samples, and a reply is brought forward by half the fastest of
// each way. The fastest sample is not the fastest transit there is: with both processors busy,
// transits while serving came up to 4.4 us under the fastest sample (of 8 to 17 us, when 300 were
// taken), and replies were early by that much. Half leaves that margin twice over.
constexpr int kTransitSamples = 500;
constexpr long long kMaxTransitNs = 100000;
constexpr int kTransitWaitMs = 2000;

// When poll saw fd readable, or -1 if it did not within the wait.
long long WhenReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  int r;
  while ((r = poll(&p, 1, kTransitWaitMs)) < 0 && errno == EINTR) {
  }
  if (r <= 0 || !(p.revents & POLLIN)) return -1;
  return NowNs();
}

std::size_t Discard(int fd) {
  std::uint8_t buffer[64];
  std::size_t total = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      total += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return total;
    }
  }
}

// Reads exactly size bytes that are on their way, so none is left in flight.
bool Collect(int fd, std::size_t size) {
  std::size_t got = Discard(fd);
  while (got < size) {
    if (WhenReadable(fd) < 0) return false;
    got += Discard(fd);
  }
  return got == size;
}

// Writes size bytes into `from` and times until `to` reports them, in one thread.
bool TransitSample(int from, int to, std::size_t size, long long& fastest) {
  static constexpr std::uint8_t kBytes[4] = {0xA5, 0x5A, 0xA5, 0x5A};
  const long long start = NowNs();
  if (write(from, kBytes, size) != static_cast<ssize_t>(size)) return false;
  const long long seen = WhenReadable(to);
  if (seen < 0 || !Collect(to, size)) return false;
  fastest = std::min(fastest, seen - start);
  return true;
}

}  // namespace

PtySimulator::PtySimulator(DeviceModel& model, int baud) : model_(model), baud_(baud) {}

PtySimulator::~PtySimulator() { Close(); }

bool PtySimulator::Open(std::string& reason) {
  Close();
  stop_ = false;
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    reason = std::string("posix_openpt: ") + std::strerror(errno);
    return false;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    reason = std::string("pseudo-terminal setup: ") + std::strerror(errno);
    Close();
    return false;
  }
  slavePath_ = name;
  // Holding the slave open keeps a client's close from hanging up the master.
  slaveKeep_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slaveKeep_ < 0) {
    reason = slavePath_ + ": " + std::strerror(errno);
    Close();
    return false;
  }
  // Without raw mode the slave would echo the replies back as if they were frames.
  MakeRaw(slaveKeep_);
  MakeRaw(master_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  inTransitNs_ = outTransitNs_ = 0;
  if (baud_ > 0 && !CalibrateTransit(reason)) {
    Close();
    return false;
  }
  return true;
}

// Runs before the path is handed out. First as exchanges of real traffic: a 4-byte frame from an
// ordinary thread, a 1-byte reply from one prepared as the serving thread and blocked in poll as
// it is, with a pause of 50 us, shorter than a wire time at the usual rates, so processors are
// woken from shallower idle than when serving. Then each way from one thread that writes and
// polls the other end. A transit timed too long would make replies early, so the fastest of both
// is kept: on a busy machine the exchanges alone once came out slower than transits while serving.
bool PtySimulator::CalibrateTransit(std::string& reason) {
  constexpr long long kPauseNs = 50000;
  static constexpr std::uint8_t kBytes[4] = {0xA5, 0x5A, 0xA5, 0x5A};
  std::atomic<long long> frameSentNs{0};
  std::atomic<long long> replySentNs{0};
  std::atomic<bool> clientDone{false};
  long long fastestIn = LLONG_MAX;
  long long fastestOut = LLONG_MAX;
  int deviceCount = 0;
  int clientCount = 0;
  std::thread device([&] {
    PrepareForPacing();
    for (; deviceCount < kTransitSamples && !clientDone; ++deviceCount) {
      const long long seen = WhenReadable(master_);
      if (seen < 0 || !Collect(master_, 4)) break;
      fastestIn = std::min(fastestIn, seen - frameSentNs.load());
      WaitUntil(seen + kPauseNs);
      replySentNs = NowNs();
      if (write(master_, kBytes, 1) != 1) break;
    }
  });
  for (; clientCount < kTransitSamples; ++clientCount) {
    frameSentNs = NowNs();
    if (write(slaveKeep_, kBytes, 4) != 4) break;
    const long long seen = WhenReadable(slaveKeep_);
    if (seen < 0 || !Collect(slaveKeep_, 1)) break;
    fastestOut = std::min(fastestOut, seen - replySentNs.load());
  }
  clientDone = true;
  device.join();
  bool failed = deviceCount != kTransitSamples || clientCount != kTransitSamples;
  if (!failed) {
    std::thread([&] {
      PrepareForPacing();
      for (int i = 0; i < kTransitSamples && !failed; ++i) {
        failed = !TransitSample(slaveKeep_, master_, 4, fastestIn) ||
                 !TransitSample(master_, slaveKeep_, 1, fastestOut);
      }
    }).join();
  }
  // Every calibration byte was read back; the flush is for anything that was not.
  tcflush(master_, TCIOFLUSH);
  tcflush(slaveKeep_, TCIOFLUSH);
  if (failed) {
    reason = slavePath_ + ": the pseudo-terminal lost bytes while its transit was timed";
    return false;
  }
  // Both together never take more than half the wire time, whatever the samples said.
  const long long limit = std::min(kMaxTransitNs, WireNs(baud_) / 4);
  inTransitNs_ = std::clamp(fastestIn / 2, 0LL, limit);
  outTransitNs_ = std::clamp(fastestOut / 2, 0LL, limit);
  return true;
}

void PtySimulator::Start() {
  if (thread_.joinable() || master_ < 0) return;
  stop_ = false;
  // Return only once the thread runs: a thread not yet scheduled on a busy machine could miss
  // the probe's window, while a sleeping one is woken promptly.
  std::promise<void> running;
  std::future<void> started = running.get_future();
  thread_ = std::thread([this, &running] {
    RaisePriority();
    running.set_value();
    Serve();
  });
  started.wait();
}

void PtySimulator::Stop() {
  stop_ = true;
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void PtySimulator::Run() {
  stop_ = false;
  RaisePriority();
  Serve();
}

void PtySimulator::Close() {
  Stop();
  if (master_ >= 0) close(master_);
  if (slaveKeep_ >= 0) close(slaveKeep_);
  master_ = -1;
  slaveKeep_ = -1;
}

bool PtySimulator::WriteAll(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && !stop_) {
    ssize_t n = write(master_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    // A client that does not read its replies: wait for room, but keep noticing Stop.
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, kStopCheckMs);
  }
  return size == 0;
}

void PtySimulator::Reply(const Frame& frame, long long deadlineNs) {
  std::vector<std::uint8_t> reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reply = model_.HandleFrame(frame);
  }
  if (observer_) observer_(frame, reply);
  if (reply.empty()) return;
  if (deadlineNs > 0) WaitUntil(deadlineNs);
  WriteAll(reply.data(), reply.size());
}

void PtySimulator::Serve() {
  std::uint8_t buffer[256];
  Frame frame{};
  std::size_t have = 0;
  long long lastWrittenNs = 0;
  const long long wireNs = baud_ > 0 ? WireNs(baud_) : 0;
  if (baud_ > 0) PrepareForPacing();
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    int r = poll(&p, 1, kStopCheckMs);
    if (r <= 0) continue;
    // The frame was there when poll returned; the read is already part of the device's time.
    long long arrivalNs = NowNs();
    if (!(p.revents & POLLIN)) {
      // No client and nothing to read (should not happen while the slave is held): do not spin.
      pollfd none{-1, 0, 0};
      poll(&none, 1, kStopCheckMs);
      continue;
    }
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (ssize_t i = 0; i < n && !stop_; ++i) {
      frame[have++] = buffer[i];
      if (have == frame.size()) {
        have = 0;
        long long deadlineNs = 0;
        if (baud_ > 0) {
          // The wire time began when the frame entered the pty, and the reply is due out of it
          // when the wire time is over: the pty's transit is part of the wire, not extra.
          deadlineNs = arrivalNs - inTransitNs_ + wireNs - outTransitNs_;
          // Frames that arrived together still follow each other on a wire.
          deadlineNs = std::max(deadlineNs, lastWrittenNs + wireNs);
        }
        if (latencyNs_ > 0) deadlineNs = std::max(deadlineNs, arrivalNs + latencyNs_);
        Reply(frame, deadlineNs);
        if (baud_ > 0) lastWrittenNs = NowNs();
      }
    }
  }
}

}  // namespace zelwik::sim
