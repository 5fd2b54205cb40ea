#include "win/message_pump.h"

namespace zelwik::win {

bool MessagePump::IsUserInput(const MSG& msg) {
  const UINT m = msg.message;
  if (m >= WM_KEYFIRST && m <= WM_KEYLAST) return true;
  if (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) return true;
  if (m == WM_NCLBUTTONDOWN) {
    // The caption drags the window and the minimise box minimises it; the rest of the frame (the
    // close box, the system menu, the menu bar) would start something.
    return msg.wParam != HTCAPTION && msg.wParam != HTMINBUTTON;
  }
  if (m >= WM_NCMOUSEMOVE && m <= WM_NCXBUTTONDBLCLK) return m != WM_NCMOUSEMOVE;
  if (m == WM_NCMOUSEHOVER || m == WM_NCMOUSELEAVE || m == WM_MOUSEHOVER) return true;
  if (m == WM_SYSCOMMAND) {
    const WPARAM command = msg.wParam & 0xFFF0;
    return command == SC_CLOSE || command == SC_KEYMENU || command == SC_MOUSEMENU ||
           command == SC_MAXIMIZE || command == SC_SIZE;
  }
  return m == WM_CLOSE || m == WM_COMMAND || m == WM_CONTEXTMENU || m == WM_HOTKEY ||
         m == WM_APPCOMMAND;
}

void MessagePump::Pump() {
  lastPump_ = GetTickCount64();
  MSG msg;
  // Bounded, so a window that never validates its paint cannot hold the operation here.
  for (int n = 0; n < 200 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (msg.message == WM_QUIT) {
      quit_ = true;
      quitCode_ = static_cast<int>(msg.wParam);
      continue;
    }
    if (IsUserInput(msg)) {
      ++dropped_;
      continue;
    }
    DispatchMessageW(&msg);
  }
}

void MessagePump::PumpIfDue() {
  if (GetTickCount64() - lastPump_ >= static_cast<ULONGLONG>(kIntervalMs)) Pump();
}

void MessagePump::Wait(int milliseconds) {
  const ULONGLONG end = GetTickCount64() + (milliseconds > 0 ? milliseconds : 0);
  for (;;) {
    Pump();
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    const DWORD left = static_cast<DWORD>(end - now);
    MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace zelwik::win
