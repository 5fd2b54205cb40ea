#pragma once

#include <memory>
#include <string>
#include <string_view>

// The files of a production run, where each system keeps its own guarantees:
// production_files_posix.cpp or production_files_win32.cpp.
namespace zelwik::production {

// A file that lines are appended to, each in one write that is on the disk before Append returns,
// so a crash leaves whole lines only and two programs appending never mix their lines.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Opens or creates the file; nullptr with the system's reason. `empty` tells whether the file
  // holds nothing yet (just created, or left empty).
  static std::unique_ptr<AppendFile> Open(const std::string& path, bool& empty,
                                          std::string& reason);
  virtual bool Append(std::string_view line, std::string& reason) = 0;
};

// Held for as long as the object lives: a second holder, in this process or another, is refused
// at once (nullptr and the reason; `busy` set when another holds it).
class ExclusiveLock {
 public:
  virtual ~ExclusiveLock() = default;
  static std::unique_ptr<ExclusiveLock> Take(const std::string& path, bool& busy,
                                             std::string& reason);
};

// Puts content in the file so that it holds either its old or its new content, whatever
// happens: a new file beside it, flushed to the disk, renamed over it.
bool ReplaceFileDurably(const std::string& path, std::string_view content, std::string& reason);

// The local time now as ISO 8601 with milliseconds and the offset: 2026-12-07T14:39:14.123+01:00.
std::string LocalTimestamp();

}  // namespace zelwik::production
