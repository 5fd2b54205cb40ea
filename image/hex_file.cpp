#include "image/hex_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace zelwik {

namespace {

// The reader walks the text as a fixed sequence of fields. A read past the end still counts as
// consumed (so every record advances) but yields a character that is no digit.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}
  bool More() const { return pos_ < text_.size(); }
  char Get() {
    char c = pos_ < text_.size() ? text_[pos_] : '\0';
    ++pos_;
    return c;
  }
  // True when both characters of the next pair exist; consumes them either way.
  bool GetPair(char& high, char& low) {
    bool whole = pos_ + 2 <= text_.size();
    high = Get();
    low = Get();
    return whole;
  }
  void Skip(std::size_t n) { pos_ += n; }
  void SkipLineEnds() {
    while (pos_ < text_.size() && (text_[pos_] == '\r' || text_[pos_] == '\n')) ++pos_;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool IsAddressRecord(std::uint8_t type) { return type >= 0x02 && type <= 0x05; }

constexpr std::size_t kMaxFileBytes = 64u << 20;  // far beyond any real image file; stops /dev/zero

// Reads until end of file. Bytes read before a failure are kept in `out`, unless the source is too
// large to be an image file at all.
bool ReadAll(int fd, std::string& out) {
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<std::size_t>(st.st_size) <= kMaxFileBytes) {
    out.reserve(static_cast<std::size_t>(st.st_size) + 1);
  }
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
  if (fd < 0) return false;
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
  if (fd < 0) return false;

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

bool WriteHexFile(const std::string& path, const std::string& data) {
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

}  // namespace

void LoadHexText(Image& image, std::string_view text) {
  Cursor in(text);
  for (;;) {
    // Any run of CR and LF before a record is a line end or a blank line, whatever its length.
    in.SkipLineEnds();
    if (!in.More()) break;
    char h, l;
    in.Get();  // start mark, never examined
    in.GetPair(h, l);
    const unsigned count = HexPairToByte(h, l);
    in.GetPair(h, l);
    unsigned address = HexPairToByte(h, l) * 256u;
    in.GetPair(h, l);
    address += HexPairToByte(h, l);
    in.GetPair(h, l);
    const std::uint8_t type = HexPairToByte(h, l);
    const bool endRecord = l == '1';
    // The end record's filler takes its own checksum and line end, and the checksum and line-end
    // reads below then take the next four characters whatever they are. Reading them raw keeps
    // CR LF files exactly where a reader of fixed two-character line ends puts them: up to four
    // characters after an end record are swallowed with it, anything beyond is a further record.
    if (endRecord) in.Skip(4);
    const bool store = !IsAddressRecord(type);
    for (unsigned i = 0; i < count; ++i) {
      const bool whole = in.GetPair(h, l);
      const unsigned at = address + i;
      if (store && whole && at < static_cast<unsigned>(kImageSize)) {
        image.MemoryImage[at] = HexPairToByte(h, l);
      }
    }
    in.Skip(2);  // checksum, never verified
    if (endRecord) in.Skip(2);
  }
}

std::optional<int> LoadHexFile(Image& image, const std::string& path) {
  ClearImage(image);
  std::string text;
  bool ok = false;
  int fd = OpenNoWait(path, O_RDONLY);
  if (fd >= 0) {
    ok = ReadAll(fd, text);
    close(fd);
  }
  LoadHexText(image, text);
  FindImageEnd(image);
  if (!ok) return std::nullopt;
  return image.ImageEnd + 1;
}

std::string HexText(const Image& image) {
  static constexpr char kEnd[] = ":00000001FF\r\n";
  const int records = image.ImageEnd < 0 ? 0 : image.ImageEnd / 16 + 1;
  std::string text;
  text.reserve(static_cast<std::size_t>(records) * 45 + sizeof kEnd - 1);
  char line[45];
  for (int i = 0; i < records * 16 && i < kImageSize; i += 16) {
    line[0] = ':';
    line[1] = '1';
    line[2] = '0';
    ByteToHexChars(static_cast<std::uint8_t>(i >> 8), line + 3);
    ByteToHexChars(static_cast<std::uint8_t>(i & 0xFF), line + 5);
    line[7] = '0';
    line[8] = '0';
    unsigned sum = 0x10u + static_cast<unsigned>(i >> 8) + static_cast<unsigned>(i & 0xFF);
    for (int k = 0; k < 16; ++k) {
      const std::uint8_t b = image.MemoryImage[i + k];
      sum += b;
      ByteToHexChars(b, line + 9 + 2 * k);
    }
    ByteToHexChars(static_cast<std::uint8_t>(0u - sum), line + 41);
    line[43] = '\r';
    line[44] = '\n';
    text.append(line, sizeof line);
  }
  text.append(kEnd, sizeof kEnd - 1);
  return text;
}

std::optional<int> SaveHexFile(Image& image, const std::string& path) {
  FindImageEnd(image);
  if (!WriteHexFile(path, HexText(image))) return std::nullopt;
  return image.ImageEnd < 0 ? 0 : (image.ImageEnd / 16 + 1) * 16;
}

}  // namespace zelwik
