#include "image/text_win32.h"

#include <windows.h>

namespace zelwik {
namespace {

std::wstring Convert(UINT page, DWORD flags, std::string_view text) {
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(page, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(page, flags, text.data(), size, wide.data(), n);
  return wide;
}

std::string FormatSystemText(DWORD code, DWORD language) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, language, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 && text ? std::string(text, n) : "";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace

std::wstring Widen(std::string_view utf8, bool orAnsi) {
  if (utf8.empty()) return {};
  if (!orAnsi) return Convert(CP_UTF8, 0, utf8);
  std::wstring wide = Convert(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
  return wide.empty() ? Convert(CP_ACP, 0, utf8) : wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::string SystemErrorText(unsigned long code) {
  std::string text = FormatSystemText(code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT));
  if (text.empty()) text = FormatSystemText(code, 0);
  return text.empty() ? "system error " + std::to_string(code) : text;
}

}  // namespace zelwik
