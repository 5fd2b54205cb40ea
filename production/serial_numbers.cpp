#include "production/serial_numbers.h"

#include <charconv>
#include <filesystem>

#include "image/file_io.h"

namespace zelwik::production {
namespace {

// Paths are UTF-8; a path made from a plain string would read them in the ANSI code page on
// Windows.
std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

template <typename T>
bool Number(std::string_view text, int base, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool SerialCounter::Open(const std::string& path, const SerialLayout& layout, std::string& why) {
  // A link is followed to its file, which the rename then replaces. One that leads nowhere (a
  // share not mounted) would read as "no numbers given yet" and start again at the first.
  std::error_code ec;
  path_ = path;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(Utf8Path(path), ec))) {
    const std::filesystem::path target = std::filesystem::canonical(Utf8Path(path), ec);
    if (ec || !std::filesystem::is_regular_file(target, ec)) {
      why = path + ": a link that does not lead to a file";
      return false;
    }
    const std::u8string text = target.u8string();
    path_.assign(text.begin(), text.end());
  }
  layout_ = layout;
  bool busy = false;
  std::string reason;
  lock_ = ExclusiveLock::Take(path_ + ".lock", busy, reason);
  if (!lock_) {
    why = path_ + ".lock: " + reason;
    return false;
  }
  next_ = layout.first;
  if (!std::filesystem::exists(std::filesystem::symlink_status(Utf8Path(path_), ec))) return true;
  std::string content;
  std::uint64_t stored = 0;
  if (!ReadWholeFile(path_, content)) {
    why = path_ + ": cannot be read";
  } else if (content.empty() || content.back() != '\n' ||
             !Number(std::string_view(content).substr(0, content.size() - 1), 10, stored)) {
    why = path_ + ": not a serial number state file (one decimal number and a line end)";
  } else {
    next_ = std::max(stored, layout.first);
    return true;
  }
  lock_.reset();
  return false;
}

std::optional<std::uint64_t> SerialCounter::Take(std::string& why) {
  std::lock_guard<std::mutex> hold(mutex_);
  const std::uint64_t number = next_;
  if (!SerialFits(layout_, number) || number + layout_.step < number) {
    why = "serial number " + std::to_string(number) + " does not fit in " +
          std::to_string(layout_.width) + " bytes";
    return {};
  }
  std::string reason;
  if (!ReplaceFileDurably(path_, std::to_string(number + layout_.step) + "\n", reason)) {
    why = "cannot advance the serial number: " + reason;
    return {};
  }
  next_ = number + layout_.step;
  return number;
}

}  // namespace zelwik::production
