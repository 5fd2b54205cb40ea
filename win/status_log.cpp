#include "win/status_log.h"

#include <windows.h>

namespace zelwik::win {

StatusLog StatusLog::FromEnvironment() {
  StatusLog log;
  wchar_t path[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"ZELWIK_STATUS_LOG", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) log.path_ = path;
  return log;
}

void StatusLog::Append(const std::string& utf8) const {
  if (path_.empty()) return;
  HANDLE file = CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string line = utf8 + "\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace zelwik::win
