// zelwik.exe: the window on Win32. Built with -municode, so the C runtime hands over the command
// line as wide strings and a file name in any script arrives whole.
#include <windows.h>

#include <cwchar>
#include <exception>
#include <optional>
#include <string>

#include "image/text_win32.h"
#include "win/form.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  int first = 1;
  const bool reset =
      __argc > 1 && __wargv && __wargv[1] && wcscmp(__wargv[1], L"--reset-settings") == 0;
  if (reset) first = 2;
  std::optional<std::string> hexFile;
  if (__argc > first && __wargv && __wargv[first]) hexFile = zelwik::Narrow(__wargv[first]);
  try {
    zelwik::win::MainForm form(instance);
    if (!form.Create(hexFile, show, reset)) return 1;
    return form.Run();
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, zelwik::Widen(e.what()).c_str(), L"Zelwik ver 2.2", MB_OK | MB_ICONERROR);
    return 0;
  }
}
