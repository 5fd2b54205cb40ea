#include "win/user_input.h"

namespace zelwik::win {

bool IsUserInput(const MSG& msg) {
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

}  // namespace zelwik::win
