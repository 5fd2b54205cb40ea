#include "win/controls.h"

#include <algorithm>
#include <string>
#include <vector>

namespace zelwik::win {

// --- Gauge ---------------------------------------------------------------------------------------

void Gauge::Register(HINSTANCE instance) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);
}

void Gauge::Attach(HWND hwnd, HFONT font) {
  hwnd_ = hwnd;
  font_ = font;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void Gauge::SetMaxValue(int max) {
  max_ = max;
  if (NeedsPaint() && hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void Gauge::SetProgress(int position) {
  progress_ = position < 0 ? 0 : position;
  // Only a new percentage changes the picture: a long transfer repaints 101 times at most.
  if (NeedsPaint() && hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

int Gauge::PercentDone() const {
  if (max_ <= 0) return 0;
  const long long done = progress_ > max_ ? max_ : progress_;
  return static_cast<int>(done * 100 / max_);
}

void Gauge::PaintNow() {
  if (!hwnd_) return;
  InvalidateRect(hwnd_, nullptr, FALSE);
  UpdateWindow(hwnd_);
}

void Gauge::Paint(HDC dc) {
  RECT frame;
  GetClientRect(hwnd_, &frame);
  const int percent = PercentDone();
  const std::wstring text = std::to_wstring(percent) + L"%";
  RECT inner = frame;
  // A 1-pixel frame on the 13-pixel bar of 96 dpi, as thick again wherever the bar grows.
  const int edge = std::max<int>(1, frame.bottom / 13);
  InflateRect(&inner, -edge, -edge);

  // Drawn off screen so the bar never flickers while it moves.
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, frame.right, frame.bottom);
  HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
  HGDIOBJ oldFont = SelectObject(mem, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(mem, TRANSPARENT);

  FillRect(mem, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  FillRect(mem, &inner, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextColor(mem, RGB(0, 0, 0));
  DrawTextW(mem, text.c_str(), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);

  RECT filled = inner;
  filled.right = inner.left + (inner.right - inner.left) * percent / 100;
  if (filled.right > filled.left) {
    FillRect(mem, &filled, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HRGN clip = CreateRectRgnIndirect(&filled);
    SelectClipRgn(mem, clip);
    SetTextColor(mem, RGB(255, 255, 255));
    DrawTextW(mem, text.c_str(), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectClipRgn(mem, nullptr);
    DeleteObject(clip);
  }
  BitBlt(dc, 0, 0, frame.right, frame.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldFont);
  SelectObject(mem, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(mem);
  paintedPercent_ = percent;
}

LRESULT CALLBACK Gauge::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Gauge*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (self) self->Paint(dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// --- Tool button ---------------------------------------------------------------------------------

namespace {

struct ButtonState {
  std::vector<std::uint32_t> normalPixels, greyPixels;  // 16 x 16
  HICON normal = nullptr;
  HICON grey = nullptr;
  int iconSize = 0;  // of the two icons
  bool hot = false;
  bool pressed = false;
};

ButtonState* StateOf(HWND hwnd) {
  return reinterpret_cast<ButtonState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The 16-pixel picture at size x size, each pixel taken whole: sharp at any scale, and at whole
// multiples of 96 dpi exactly the picture.
std::vector<std::uint32_t> ScaledGlyph(const std::vector<std::uint32_t>& pixels, int size) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      out[static_cast<std::size_t>(y) * size + x] =
          pixels[static_cast<std::size_t>(y * 16 / size) * 16 + x * 16 / size];
  return out;
}

// The icons at the size the button's height calls for: 16 of its 25 pixels, at every dpi.
void FitIcons(ButtonState& state, int buttonHeight) {
  const int size = std::max(16, MulDiv(16, buttonHeight, 25));
  if (size == state.iconSize && state.normal) return;
  if (state.normal) DestroyIcon(state.normal);
  if (state.grey) DestroyIcon(state.grey);
  state.normal = IconFromArgb(ScaledGlyph(state.normalPixels, size).data(), size);
  state.grey = IconFromArgb(ScaledGlyph(state.greyPixels, size).data(), size);
  state.iconSize = size;
}

}  // namespace

HICON IconFromArgb(const std::uint32_t* argb, int size) {
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size;  // top-down
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!colour) return nullptr;
  auto* out = static_cast<std::uint32_t*>(bits);
  for (int i = 0; i < size * size; ++i) {
    // Icons take premultiplied-free ARGB; transparent pixels must be black to blend cleanly.
    out[i] = (argb[i] >> 24) ? argb[i] : 0;
  }
  std::vector<std::uint8_t> maskBits(static_cast<std::size_t>((size + 15) / 16 * 2 * size), 0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, maskBits.data());
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(mask);
  return icon;
}

void ToolButton::Register(HINSTANCE instance) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);
}

HWND ToolButton::Create(HWND parent, int id, int left, int top, int width, int height,
                        const std::uint32_t* argb, const std::uint32_t* greyArgb) {
  auto* state = new ButtonState;
  state->normalPixels.assign(argb, argb + 16 * 16);
  state->greyPixels.assign(greyArgb, greyArgb + 16 * 16);
  HWND hwnd = CreateWindowExW(
      0, kClass, L"", WS_CHILD | WS_VISIBLE, left, top, width, height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), state);
  if (!hwnd) {
    DestroyIcon(state->normal);
    DestroyIcon(state->grey);
    delete state;
  }
  return hwnd;
}

LRESULT CALLBACK ToolButton::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  ButtonState* state = StateOf(hwnd);
  switch (msg) {
    case WM_NCCREATE: {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_NCDESTROY:
      if (state) {
        DestroyIcon(state->normal);
        DestroyIcon(state->grey);
        delete state;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      if (state) {
        const bool enabled = IsWindowEnabled(hwnd);
        if (enabled && state->pressed && state->hot) {
          DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        } else if (enabled && (state->hot || state->pressed)) {
          DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        }
        const int shift =
            enabled && state->pressed && state->hot ? std::max<int>(1, r.bottom / 25) : 0;
        FitIcons(*state, r.bottom);
        const int size = state->iconSize;
        DrawIconEx(dc, (r.right - size) / 2 + shift, (r.bottom - size) / 2 + shift,
                   enabled ? state->normal : state->grey, size, size, 0, nullptr, DI_NORMAL);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ENABLE:
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_MOUSEMOVE: {
      if (!state) break;
      RECT r;
      GetClientRect(hwnd, &r);
      const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const bool inside = PtInRect(&r, p);
      if (inside != state->hot) {
        state->hot = inside;
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      // Armed again on every move: taking and releasing the capture cancels it.
      if (inside) {
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&track);
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      if (state && state->hot && !state->pressed) {
        state->hot = false;
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (!state) break;
      state->pressed = true;
      state->hot = true;
      SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED: {
      if (!state || !state->pressed) return 0;
      const bool click = msg == WM_LBUTTONUP && state->hot;
      state->pressed = false;
      if (msg == WM_LBUTTONUP) ReleaseCapture();
      // A click that opens a dialog leaves the mouse elsewhere when it closes.
      state->hot = false;
      InvalidateRect(hwnd, nullptr, TRUE);
      UpdateWindow(hwnd);
      // Posted: the button is drawn released before the command runs.
      if (click) {
        PostMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
      }
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace zelwik::win
