#include "win/window_view.h"

#include "image/cp1250.h"
#include "image/text_win32.h"
#include "win/controls.h"

namespace zelwik::win {

WindowView::WindowView(HWND status, HWND log, Gauge& gauge, StatusLog statusLog)
    : status_(status), log_(log), gauge_(gauge), statusLog_(std::move(statusLog)) {}

void WindowView::ShowStatus(const std::string& text) {
  SetWindowTextW(status_, Widen(text).c_str());
  statusLog_.Append(text);
}

void WindowView::ClearLog() { SendMessageW(log_, LB_RESETCONTENT, 0, 0); }

void WindowView::AddLogLine(const std::string& line) {
  // The address and digits are ASCII; the character column shows the image's bytes as cells.
  std::wstring wide;
  wide.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(line[i]);
    wide.push_back(i < kListCharacterColumn ? wchar_t(byte) : wchar_t(ListCell(byte)));
  }
  SendMessageW(log_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void WindowView::ShowGauge(int max, int position) {
  gauge_.SetMaxValue(max);
  gauge_.SetProgress(position);
}

}  // namespace zelwik::win
