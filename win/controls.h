#pragma once

#include <windows.h>

#include <cstdint>

namespace zelwik::win {

// The horizontal progress bar with its percentage, black on white, as on Linux. Any maximum is
// accepted: one that leaves no range (0, or -1 for an empty image) shows 0 %.
class Gauge {
 public:
  static void Register(HINSTANCE instance);
  static constexpr const wchar_t* kClass = L"ZelwikGauge";

  void Attach(HWND hwnd, HFONT font);
  HWND Handle() const { return hwnd_; }
  void SetMaxValue(int max);
  void SetProgress(int position);
  int PercentDone() const;
  bool NeedsPaint() const { return PercentDone() != paintedPercent_; }
  // Paints at once, from inside an operation.
  void PaintNow();

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc);

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  int max_ = 100;
  int progress_ = 0;
  int paintedPercent_ = -1;
};

// A flat tool button, 25 x 25 at 96 dpi: the glyph on the face (scaled with the button), a raised
// edge under the mouse, a sunken one while pressed, and WM_COMMAND to the parent when released over
// it.
class ToolButton {
 public:
  static void Register(HINSTANCE instance);
  static constexpr const wchar_t* kClass = L"ZelwikToolButton";

  // argb: 16 x 16 pixels, 0xAARRGGBB, rows top to bottom.
  static HWND Create(HWND parent, int id, int left, int top, int width, int height,
                     const std::uint32_t* argb, const std::uint32_t* greyArgb);

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// A size x size icon with an alpha channel from ARGB pixels.
HICON IconFromArgb(const std::uint32_t* argb, int size);

}  // namespace zelwik::win
