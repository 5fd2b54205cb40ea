#include "production/production_files.h"

namespace zelwik::production {

bool AppendFile::Append(std::string_view line, std::string& reason) {
  std::string ended;
  if (torn_) {
    ended = "\n";
    ended += line;
    line = ended;
  }
  std::string why;
  const std::size_t n = Write(line, why);
  if (n != line.size()) {
    reason = why.empty() ? "short write (disk full?)" : why;
    if (n > 0) torn_ = line[n - 1] != '\n';
    if (torn_ && Write("\n", why) == 1) torn_ = false;
    return false;
  }
  torn_ = false;
  return Flush(reason);
}

}  // namespace zelwik::production
