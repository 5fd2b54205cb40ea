#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <string>

namespace zelwik::cli {

// Where the answer to "the next chip?" comes from.
class ChipPrompt {
 public:
  virtual ~ChipPrompt() = default;
  // One line, without its end; nullopt at the end of the input or once Ctrl+C (or SIGTERM,
  // SIGHUP) asked the run to stop, also while it waits. Nothing reads on after it returns.
  virtual std::optional<std::string> ReadLine() = 0;
};

// Standard input (console_posix.cpp: poll() on it and on a pipe the signal handler writes to;
// prompt_win32.cpp).
std::unique_ptr<ChipPrompt> StandardInputPrompt();
#ifndef _WIN32
// The same on any descriptor (a pipe in the tests); the caller keeps it open.
std::unique_ptr<ChipPrompt> DescriptorPrompt(int fd);
#endif

// A stream that never keeps its reader waiting, such as a test's script of answers.
class StreamPrompt final : public ChipPrompt {
 public:
  explicit StreamPrompt(std::istream& in) : in_(in) {}
  std::optional<std::string> ReadLine() override {
    std::string line;
    if (!std::getline(in_, line)) return std::nullopt;
    return line;
  }

 private:
  std::istream& in_;
};

}  // namespace zelwik::cli
