#pragma once

#include <string>

namespace zelwik::win {

// Every status text the window shows, appended to a file as a line: for tests that read what was
// shown from another process. Off when the path is empty.
class StatusLog {
 public:
  // The path in ZELWIK_STATUS_LOG, or none.
  static StatusLog FromEnvironment();

  void Append(const std::string& utf8) const;

 private:
  std::wstring path_;
};

}  // namespace zelwik::win
