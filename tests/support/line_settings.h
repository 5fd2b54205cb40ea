#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace zelwik::testing {

// A device's line settings as a program opening it next finds them; with `set`, sets them first.
inline termios LineSettings(const std::string& path, const termios* set = nullptr) {
  termios t{};
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_EQ(set ? tcsetattr(fd, TCSANOW, set) : tcgetattr(fd, &t), 0);
  close(fd);
  return t;
}

inline bool SameLine(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b);
}

}  // namespace zelwik::testing
