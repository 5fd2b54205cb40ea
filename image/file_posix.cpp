// Whole-file reads and the atomic replace on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "image/file_io.h"

namespace zelwik {

namespace {

// Reads until end of file. Bytes read before a failure are kept in `out`, unless the source is too
// large to be an image file at all.
bool ReadAll(int fd, std::string& out) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (out.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
      out.clear();
      return false;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

mode_t CurrentUmask() {
  // /proc avoids the set-and-restore dance, which briefly changes the mask for every thread.
  if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) {
        found = true;
        break;
      }
    }
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask);
  }
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// Opens without waiting for the other end of a FIFO, then blocks normally for the data.
int OpenNoWait(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0) {
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  }
  return fd;
}

// Devices and other non-regular targets cannot be replaced by rename; write into them in place.
bool WriteInPlace(const std::string& path, const std::string& data) {
  int fd = OpenNoWait(path, O_WRONLY);
  if (fd == -1) return false;
  bool ok = WriteAll(fd, data);
  return close(fd) == 0 && ok;
}

// Writes a complete new file next to the target and renames it over the target, so a failure at
// any point leaves an existing file as it was.
bool ReplaceFile(const std::string& path, const std::string& data, const struct stat* existing) {
  std::string::size_type slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  // Shortened so a target name near the length limit still leaves room for the suffix.
  std::string tmp = dir + "/." + base.substr(0, 200) + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd == -1) return false;

  if (existing && (existing->st_uid != geteuid() || existing->st_gid != getegid())) {
    // Keeps the owner when we may (as root); otherwise the file becomes ours, like any editor's.
    // Before fchmod, which a change of owner would undo for set-id bits.
    [[maybe_unused]] int ignored = fchown(fd, existing->st_uid, existing->st_gid);
  }
  const mode_t mode = existing ? (existing->st_mode & 07777) : (0666 & ~CurrentUmask());
  bool ok = fchmod(fd, mode) == 0;
  ok = ok && WriteAll(fd, data) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return false;
  }
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace

bool ReplaceWholeFile(const std::string& path, const std::string& data) {
  std::string target = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link itself.
    if (char* real = realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  if (stat(target.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    return ReplaceFile(target, data, nullptr);
  }
  if (!S_ISREG(st.st_mode)) return WriteInPlace(target, data);
  return ReplaceFile(target, data, &st);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  int fd = OpenNoWait(path, O_RDONLY);
  if (fd == -1) return false;
  const bool ok = ReadAll(fd, out);
  close(fd);
  return ok;
}

std::optional<FileStamp> StampOfFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return FileStamp{
      static_cast<std::int64_t>(st.st_size),
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return path;
    buffer.resize(buffer.size() * 2);
  }
  std::string cwd = buffer.data();
  std::string_view rest = path;
  while (rest.substr(0, 2) == "./") rest.remove_prefix(2);
  return cwd + (cwd.ends_with('/') ? "" : "/") + std::string(rest);
}

}  // namespace zelwik
