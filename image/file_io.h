#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The file system as the image files need it; file_posix.cpp or file_win32.cpp. Paths are UTF-8.
namespace zelwik {

// Far beyond any real image file; stops a read of /dev/zero or a misnamed disk image.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;

// Reads the file to its end into out. False when it cannot be opened or read; bytes read before a
// read error stay in out, unless the file is too large to be an image file at all.
bool ReadWholeFile(const std::string& path, std::string& out);

// Makes data the file's content: a complete new file next to it takes its place in one step, so
// a failure at any point leaves an existing file as it was.
bool ReplaceWholeFile(const std::string& path, const std::string& data);

// What tells that a file was rewritten: its size and the time of its last change (nanoseconds on
// POSIX, 100 ns units on Windows).
struct FileStamp {
  std::int64_t size = 0;
  std::int64_t modified = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
// Nothing when there is no such file (or it cannot be looked at).
std::optional<FileStamp> StampOfFile(const std::string& path);

// The path from the root, so that it names the same file from any working folder.
std::string AbsolutePath(const std::string& path);

}  // namespace zelwik
