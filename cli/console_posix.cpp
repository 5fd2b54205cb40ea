#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <utility>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/prompt.h"

namespace zelwik::cli {
namespace {

struct sigaction g_savedInt, g_savedTerm, g_savedHup;

// The prompt's wake-up: the handler writes a byte, the prompt's poll() sees it. Made once and
// kept for the process's life, so a handler never writes to a descriptor being closed.
int g_wake[2] = {-1, -1};

void MakeWakePipe() {
  if (g_wake[0] >= 0) return;
  if (pipe(g_wake) != 0) {
    g_wake[0] = g_wake[1] = -1;
    return;
  }
  for (int fd : g_wake) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

void DrainWakePipe() {
  char bytes[64];
  if (g_wake[0] >= 0)
    while (read(g_wake[0], bytes, sizeof bytes) > 0) {
    }
}

void OnSignal(int signal) {
  const int saved = errno;
  InterruptGuard::Interrupt(128 + signal);
  errno = saved;
}

class DescriptorLines final : public ChipPrompt {
 public:
  explicit DescriptorLines(int fd) : fd_(fd) {}

  std::optional<std::string> ReadLine() override {
    for (;;) {
      if (const std::size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      if (ended_ || InterruptGuard::Requested() != 0) return {};
      pollfd fds[2] = {{fd_, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
      if (poll(fds, g_wake[0] >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        return {};
      }
      if (fds[1].revents) DrainWakePipe();  // the loop's check tells a stop from a stale byte
      if (!fds[0].revents) continue;
      char bytes[256];
      const ssize_t n = read(fd_, bytes, sizeof bytes);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        ended_ = true;
        if (buffered_.empty()) return {};
        return std::exchange(buffered_, {});  // a last line without its end
      }
      buffered_.append(bytes, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffered_;
  bool ended_ = false;
};

}  // namespace

namespace detail {

// SA_RESTART: the output's writes go on; the link's waits retry their poll() for what is left.
// The three signals block each other while one is handled: a SIGTERM arriving inside the second
// Ctrl+C's restore would otherwise find the restore under way and end the process half through it.
void InstallInterruptHandlers() {
  MakeWakePipe();
  DrainWakePipe();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  sigaction(SIGINT, &action, &g_savedInt);
  sigaction(SIGTERM, &action, &g_savedTerm);
  sigaction(SIGHUP, &action, &g_savedHup);
}

void RemoveInterruptHandlers() {
  sigaction(SIGINT, &g_savedInt, nullptr);
  sigaction(SIGTERM, &g_savedTerm, nullptr);
  sigaction(SIGHUP, &g_savedHup, nullptr);
}

void WakePrompt() {
  if (g_wake[1] < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(g_wake[1], &byte, 1);  // full: a wake-up is pending
}

}  // namespace detail

std::unique_ptr<ChipPrompt> DescriptorPrompt(int fd) {
  return std::make_unique<DescriptorLines>(fd);
}
std::unique_ptr<ChipPrompt> StandardInputPrompt() { return DescriptorPrompt(STDIN_FILENO); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

// A reader that went away (`| tee` stopped by the same Ctrl+C) must not end a production run
// mid-chip: the write fails, the stream stops writing, and the log stays the record.
std::ostream* SetUpConsole() {
  signal(SIGPIPE, SIG_IGN);
  return isatty(STDERR_FILENO) ? &std::cerr : nullptr;
}

}  // namespace zelwik::cli
