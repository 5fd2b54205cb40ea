#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/serial_layout.h"
#include "production/production_files.h"

namespace zelwik::production {

// The next number, kept in a state file (one decimal number and a line end) that is advanced on
// the disk before a number is handed out, so none is given twice, after a crash neither. The run
// holds the file's lock for as long as it lasts; the ports of one run share the one counter.
class SerialCounter {
 public:
  // Locks and reads the state file (absent: the layout's first number; below it: the first number).
  // False with the reason for a file that is locked, corrupt or unreadable; `busy` tells locked.
  bool Open(const std::string& path, const SerialLayout& layout, std::string& why);
  // The number for the next chip, already advanced past in the file; nullopt with the reason when
  // the file cannot be written or the numbers no longer fit the width.
  std::optional<std::uint64_t> Take(std::string& why);
  std::uint64_t Peek() const { return next_; }

 private:
  std::mutex mutex_;
  std::unique_ptr<ExclusiveLock> lock_;
  std::string path_;
  SerialLayout layout_;
  std::uint64_t next_ = 0;
};

}  // namespace zelwik::production
