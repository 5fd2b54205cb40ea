#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "production/production_files.h"

namespace zelwik::production {
namespace {

std::string Reason() { return std::strerror(errno); }

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int fd, bool torn) : AppendFile(torn), fd_(fd) {}
  ~PosixAppendFile() override { close(fd_); }

 private:
  // O_APPEND puts each write at the end as a whole.
  std::size_t Write(std::string_view text, std::string& reason) override {
    ssize_t n;
    while ((n = write(fd_, text.data(), text.size())) < 0 && errno == EINTR) {
    }
    if (n >= 0) return static_cast<std::size_t>(n);
    reason = Reason();
    return 0;
  }
  bool Flush(std::string& reason) override {
    if (fsync(fd_) == 0) return true;
    reason = Reason();
    return false;
  }

  int fd_;
};

class PosixLock final : public ExclusiveLock {
 public:
  explicit PosixLock(int fd) : fd_(fd) {}
  ~PosixLock() override { close(fd_); }

 private:
  int fd_;
};

void SyncFolderOf(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = std::filesystem::path(".");
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd == -1) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, bool& empty,
                                             std::string& reason) {
  // Read access too, to see whether the last line was left torn.
  int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd == -1 && errno == EACCES) fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  struct stat info;
  if (fd == -1 || fstat(fd, &info) != 0) {
    reason = Reason();
    if (fd >= 0) close(fd);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    reason = "not a regular file";
    return nullptr;
  }
  empty = info.st_size == 0;
  char last = '\n';
  const bool torn = !empty && pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n';
  SyncFolderOf(path);  // a new file's name survives a power cut too
  return std::make_unique<PosixAppendFile>(fd, torn);
}

std::unique_ptr<ExclusiveLock> ExclusiveLock::Take(const std::string& path, bool& busy,
                                                   std::string& reason) {
  busy = false;
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd == -1) {
    reason = Reason();
    return nullptr;
  }
  // flock belongs to the open file, so a second open in this process is refused as well.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    busy = errno == EWOULDBLOCK;
    reason = busy ? "in use by another run" : Reason();
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixLock>(fd);
}

std::string FileStart(const std::string& path, std::size_t max) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1) return {};
  std::string start(max, '\0');
  const ssize_t n = pread(fd, start.data(), max, 0);
  close(fd);
  start.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return start;
}

bool ReplaceFileDurably(const std::string& path, std::string_view content, std::string& reason) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd == -1) {
    reason = temporary + ": " + Reason();
    return false;
  }
  const bool written =
      write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
      fsync(fd) == 0;
  if (!written) reason = temporary + ": " + Reason();
  close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    if (written) reason = path + ": " + Reason();
    unlink(temporary.c_str());
    return false;
  }
  SyncFolderOf(path);
  return true;
}

std::string LocalTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  const int offset = static_cast<int>(local.tm_gmtoff / 60) % (24 * 60);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, ms, offset < 0 ? '-' : '+', std::abs(offset) / 60,
                std::abs(offset) % 60);
  return text;
}

}  // namespace zelwik::production
