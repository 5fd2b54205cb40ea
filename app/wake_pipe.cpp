#include "app/wake_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <stdexcept>

namespace zelwik::app {

WakePipe::WakePipe(std::function<void()> woken, QObject* parent)
    : QObject(parent), woken_(std::move(woken)) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
  read_ = fds[0];
  write_ = fds[1];
  notifier_ = new QSocketNotifier(read_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Woken(); });
}

WakePipe::~WakePipe() {
  delete notifier_;
  close(read_);
  close(write_);
}

// A full pipe already holds a wake: nothing is lost.
void WakePipe::Wake() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(write_, &byte, 1);
}

void WakePipe::Woken() {
  char bytes[64];
  while (read(read_, bytes, sizeof bytes) > 0) {
  }
  woken_();
}

}  // namespace zelwik::app
