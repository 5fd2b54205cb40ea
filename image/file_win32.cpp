// Whole-file reads and the atomic replace on Windows, through the wide-character calls so that
// names like C:\Użytkownik\płytka.hex work whatever the system's ANSI code page.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "image/file_io.h"
#include "image/text_win32.h"

namespace zelwik {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    const bool ok = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE h, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(h, data.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

std::atomic<unsigned> tempCounter{0};

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
  const std::wstring name = Widen(path, true);
  if (name.empty()) return false;
  Handle file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
      static_cast<unsigned long long>(size.QuadPart) <= kMaxFileBytes) {
    out.reserve(static_cast<std::size_t>(size.QuadPart) + 1);
  }
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), buf, sizeof buf, &n, nullptr)) {
      // The write end of a pipe closed: that is its end of file.
      return GetLastError() == ERROR_BROKEN_PIPE;
    }
    if (n == 0) return true;
    if (out.size() + n > kMaxFileBytes) {
      out.clear();
      return false;
    }
    out.append(buf, n);
  }
}

bool ReplaceWholeFile(const std::string& path, const std::string& data) {
  const std::wstring target = Widen(path, true);
  if (target.empty()) return false;
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;

  const std::size_t slash = target.find_last_of(L"\\/:");
  const std::wstring dir = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  const std::wstring base = slash == std::wstring::npos ? target : target.substr(slash + 1);
  // Shortened so a target name near the length limit still leaves room for the suffix.
  const std::wstring stem = dir + L"~" + base.substr(0, 200) + L".";
  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = stem + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(tempCounter.fetch_add(1)) + L".tmp";
    h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  Handle file(h);
  if (!file.valid()) return false;
  bool ok = WriteAll(file.get(), data) && FlushFileBuffers(file.get());
  ok = file.Close() && ok;
  // One rename that replaces the old file, flushed before it returns.
  ok = ok && MoveFileExW(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

std::optional<FileStamp> StampOfFile(const std::string& path) {
  const std::wstring name = Widen(path, true);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (name.empty() || !GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  const auto join = [](DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  };
  return FileStamp{join(data.nFileSizeHigh, data.nFileSizeLow),
                   join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

std::string AbsolutePath(const std::string& path) {
  const std::wstring name = Widen(path, true);
  if (name.empty()) return path;
  const DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return path;
  full.resize(got);
  std::string out = Narrow(full);
  return out.empty() ? path : out;
}

}  // namespace zelwik
