#pragma once

#include <cstddef>
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
  // A line left torn (a full disk), by this run or another, is ended first: the next line starts
  // on its own.
  bool Append(std::string_view line, std::string& reason);

 protected:
  explicit AppendFile(bool torn) : torn_(torn) {}

 private:
  // One write at the file's end, as a whole whoever else appends; the bytes written, with the
  // system's reason when it failed.
  virtual std::size_t Write(std::string_view text, std::string& reason) = 0;
  virtual bool Flush(std::string& reason) = 0;

  bool torn_;
};

// Held for as long as the object lives: a second holder, in this process or another, is refused
// at once (nullptr and the reason; `busy` set when another holds it).
class ExclusiveLock {
 public:
  virtual ~ExclusiveLock() = default;
  static std::unique_ptr<ExclusiveLock> Take(const std::string& path, bool& busy,
                                             std::string& reason);
};

// Up to `max` bytes from the file's start; nothing when it is absent or cannot be read.
std::string FileStart(const std::string& path, std::size_t max);

// Puts content in the file so that it holds either its old or its new content, whatever
// happens: a new file beside it, flushed to the disk, renamed over it.
bool ReplaceFileDurably(const std::string& path, std::string_view content, std::string& reason);

// The local time now as ISO 8601 with milliseconds and the offset: 2026-12-07T14:39:14.123+01:00.
std::string LocalTimestamp();

}  // namespace zelwik::production
