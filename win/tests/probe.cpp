// The second process of the wine tests, as a window manager or another program sees zelwik.exe.
//   zelwik_probe wait SECONDS        waits for the window; prints its client size
//   zelwik_probe ping STOPFILE [MS]  until STOPFILE exists: WM_NULL with SMTO_ABORTIFHUNG and a
//                                    bound of MS (200), and the status line read the same way,
//                                    every 50 ms; prints how many were sent, failed and the slowest
//   zelwik_probe status              prints the status line (UTF-8)
//   zelwik_probe port                prints the port label, portLabel (UTF-8)
//   zelwik_probe chip                prints the chip label, chipLabel (UTF-8)
//   zelwik_probe title               prints the window's title (UTF-8)
//   zelwik_probe origin              prints the screen position of the client area's corner
//   zelwik_probe close               posts WM_CLOSE (as the close box does)
//   zelwik_probe tick                posts the ready timer's WM_TIMER, as its falling due does
//   zelwik_probe escape LOG          posts the Esc key's WM_KEYDOWN; prints how many lines the
//                                    simulator's frame log LOG had just before
//   zelwik_probe menu [SECONDS]      waits until the window's menu is open (10 s at most)
//   zelwik_probe jiggle              moves the window and back, minimises and restores it; each
//                                    step waits for the window's own thread to carry it out
//   zelwik_probe console-closed EXE  tells each running EXE (zelwik-cli.exe) that its console
//                                    window was closed, the way the system does: a thread of
//                                    its own at CtrlRoutine with CTRL_CLOSE_EVENT
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "win/ids.h"

namespace {

HWND FindForm() { return FindWindowW(zelwik::win::kFormClass, nullptr); }

HWND StatusLine(HWND form) {
  // statusLine is the one static text at the left edge, at any dpi.
  for (int id = zelwik::win::kFirstElementId; id < zelwik::win::kFirstElementId + 16; ++id) {
    HWND child = GetDlgItem(form, id);
    RECT r;
    if (child && GetWindowRect(child, &r)) {
      POINT p{r.left, r.top};
      ScreenToClient(form, &p);
      wchar_t cls[16] = {};
      GetClassNameW(child, cls, 16);
      if (p.x == 0 && _wcsicmp(cls, L"Static") == 0) return child;
    }
  }
  return nullptr;
}

std::string Utf8(const wchar_t* text) {
  char out[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
  return out;
}

// Returns how many processes were told.
int CloseConsoleOf(const char* exe) {
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
  if (!routine) return 0;
  int told = 0;
  HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(all, &entry); more; more = Process32Next(all, &entry)) {
    char name[MAX_PATH] = {};
    WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, sizeof name - 1, nullptr, nullptr);
    if (_stricmp(name, exe) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
    if (!process) continue;
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, routine,
                                       reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0, nullptr);
    if (thread) {
      ++told;
      CloseHandle(thread);
    }
    CloseHandle(process);
  }
  CloseHandle(all);
  return told;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "console-closed" && argc > 2) return CloseConsoleOf(argv[2]) > 0 ? 0 : 1;
  if (command == "wait") {
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    for (int i = 0; i < seconds * 20; ++i) {
      if (HWND form = FindForm(); form && IsWindowVisible(form)) {
        RECT r;
        GetClientRect(form, &r);
        std::printf("%ld %ld\n", r.right, r.bottom);
        return 0;
      }
      Sleep(50);
    }
    return 1;
  }
  HWND form = FindForm();
  if (!form) {
    std::fprintf(stderr, "zelwik_probe: no window\n");
    return 1;
  }
  if (command == "status" || command == "port" || command == "chip" || command == "title") {
    // chipLabel and portLabel: the sixth and seventh elements, after the five buttons.
    const int label = zelwik::win::kFirstElementId + (command == "port" ? 6 : 5);
    HWND window = command == "title"    ? form
                  : command == "status" ? StatusLine(form)
                                        : GetDlgItem(form, label);
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    std::printf("%s\n", Utf8(text).c_str());
    return 0;
  }
  if (command == "origin") {
    POINT p{0, 0};
    ClientToScreen(form, &p);
    std::printf("%ld %ld\n", p.x, p.y);
    return 0;
  }
  if (command == "menu") {
    const DWORD thread = GetWindowThreadProcessId(form, nullptr);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    for (int i = 0; i < seconds * 20; ++i) {
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      if (GetGUIThreadInfo(thread, &info) && (info.flags & GUI_INMENUMODE || info.hwndMenuOwner))
        return 0;
      Sleep(50);
    }
    return 1;
  }
  if (command == "jiggle") {
    RECT before, moved;
    GetWindowRect(form, &before);
    constexpr UINT kMove = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(form, nullptr, before.left + 16, before.top + 8, 0, 0, kMove);
    GetWindowRect(form, &moved);
    SetWindowPos(form, nullptr, before.left, before.top, 0, 0, kMove);
    ShowWindow(form, SW_MINIMIZE);
    const bool minimised = IsIconic(form);
    ShowWindow(form, SW_RESTORE);
    const bool restored = !IsIconic(form);
    std::printf("moved %ld %ld minimised %d restored %d\n", moved.left - before.left,
                moved.top - before.top, minimised, restored);
    return moved.left == before.left + 16 && minimised && restored ? 0 : 1;
  }
  if (command == "close") return PostMessageW(form, WM_CLOSE, 0, 0) ? 0 : 1;
  if (command == "escape" && argc > 2) {
    int lines = 0;
    if (std::FILE* log = std::fopen(argv[2], "rb")) {
      for (int c; (c = std::fgetc(log)) != EOF;) lines += c == '\n';
      std::fclose(log);
    }
    const bool posted = PostMessageW(form, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    std::printf("%d\n", lines);
    return posted ? 0 : 1;
  }
  if (command == "tick") return PostMessageW(form, WM_TIMER, zelwik::win::kReadyTimerId, 0) ? 0 : 1;
  if (command == "ping" && argc > 2) {
    HWND status = StatusLine(form);
    const UINT bound = argc > 3 ? static_cast<UINT>(std::atoi(argv[3])) : 200;
    int sent = 0, failed = 0;
    DWORD slowest = 0;
    std::printf("pinging\n");
    std::fflush(stdout);
    for (;;) {
      if (GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) break;
      const DWORD start = GetTickCount();
      DWORD_PTR result = 0;
      wchar_t text[256] = {};
      const bool pinged =
          SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, bound, &result);
      const bool read = SendMessageTimeoutW(status, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text),
                                            SMTO_ABORTIFHUNG, bound, &result);
      const DWORD took = GetTickCount() - start;
      sent += 2;
      failed += !pinged + !read;
      if (!pinged || !read)
        std::fprintf(stderr, "%s failed after %lu ms at %lu (%s)\n",
                     pinged ? "WM_GETTEXT" : "WM_NULL", took, start, Utf8(text).c_str());
      if (took > slowest) slowest = took;
      Sleep(50);
    }
    std::printf("sent %d failed %d slowest %lu ms\n", sent, failed, slowest);
    return failed ? 1 : 0;
  }
  return 2;
}
