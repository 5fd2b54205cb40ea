#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "image/text_win32.h"
#include "production/production_files.h"

namespace zelwik::production {
namespace {

class Win32AppendFile final : public AppendFile {
 public:
  Win32AppendFile(HANDLE file, bool torn) : AppendFile(torn), file_(file) {}
  ~Win32AppendFile() override { CloseHandle(file_); }

 private:
  // Opened with FILE_APPEND_DATA only: every write goes to the end as a whole.
  std::size_t Write(std::string_view text, std::string& reason) override {
    DWORD written = 0;
    if (!WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      reason = SystemErrorText(GetLastError());
    return written;
  }
  bool Flush(std::string& reason) override {
    if (FlushFileBuffers(file_)) return true;
    reason = SystemErrorText(GetLastError());
    return false;
  }

  HANDLE file_;
};

// Whether the file's last line was left without its end.
bool LastLineTorn(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  char last = '\n';
  DWORD read = 0;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    LARGE_INTEGER at{};
    at.QuadPart = size.QuadPart - 1;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !ReadFile(file, &last, 1, &read, nullptr))
      last = '\n';
  }
  CloseHandle(file);
  return last != '\n';
}

class Win32Lock final : public ExclusiveLock {
 public:
  explicit Win32Lock(HANDLE file) : file_(file) {}
  ~Win32Lock() override { CloseHandle(file_); }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const std::string& path, bool& empty,
                                             std::string& reason) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = SystemErrorText(GetLastError());
    return nullptr;
  }
  LARGE_INTEGER size{};
  empty = GetFileSizeEx(file, &size) && size.QuadPart == 0;
  return std::make_unique<Win32AppendFile>(file, !empty && LastLineTorn(Widen(path)));
}

std::string FileStart(const std::string& path, std::size_t max) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string start(max, '\0');
  DWORD read = 0;
  if (!ReadFile(file, start.data(), static_cast<DWORD>(max), &read, nullptr)) read = 0;
  CloseHandle(file);
  start.resize(read);
  return start;
}

std::unique_ptr<ExclusiveLock> ExclusiveLock::Take(const std::string& path, bool& busy,
                                                   std::string& reason) {
  // No sharing at all: a second open, here or in another run, fails until this one is closed.
  const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  busy = false;
  if (file == INVALID_HANDLE_VALUE) {
    busy = GetLastError() == ERROR_SHARING_VIOLATION;
    reason = busy ? "in use by another run" : SystemErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Lock>(file);
}

bool ReplaceFileDurably(const std::string& path, std::string_view content, std::string& reason) {
  const std::string temporary = path + ".new";
  const HANDLE file = CreateFileW(Widen(temporary).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = temporary + ": " + SystemErrorText(GetLastError());
    return false;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
      written == content.size() && FlushFileBuffers(file);
  if (!ok) reason = temporary + ": " + SystemErrorText(GetLastError());
  CloseHandle(file);
  if (!ok || !MoveFileExW(Widen(temporary).c_str(), Widen(path).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (ok) reason = path + ": " + SystemErrorText(GetLastError());
    DeleteFileW(Widen(temporary).c_str());
    return false;
  }
  return true;
}

std::string LocalTimestamp() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = GetTimeZoneInformation(&zone);
  long bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                           : kind == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                           : 0);
  const int offset = static_cast<int>(-bias % (24 * 60));  // minutes east of UTC
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.wYear,
                local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                local.wMilliseconds, offset < 0 ? '-' : '+', std::abs(offset) / 60,
                std::abs(offset) % 60);
  return text;
}

}  // namespace zelwik::production
