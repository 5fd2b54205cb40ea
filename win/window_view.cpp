#include "win/window_view.h"

#include "image/cp1250.h"
#include "win/controls.h"

namespace zelwik::win {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

WindowView::WindowView(HWND status, HWND log, Gauge& gauge, MessagePump& pump)
    : status_(status), log_(log), gauge_(gauge), pump_(pump) {}

void WindowView::SetStatus(const std::string& text) {
  SetWindowTextW(status_, Widen(text).c_str());
  // The operation holds the thread: without this the text would show only after it ended.
  UpdateWindow(status_);
  if (!statusLog_.empty()) {
    HANDLE file = CreateFileW(statusLog_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const std::string line = text + "\n";
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  pump_.PumpIfDue();
}

void WindowView::ClearLog() {
  SendMessageW(log_, LB_RESETCONTENT, 0, 0);
  pump_.PumpIfDue();
}

void WindowView::AddLogLine(const std::string& line) {
  // The address and digits are ASCII; the character column shows the image's bytes as cells.
  std::wstring wide;
  wide.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(line[i]);
    wide.push_back(i < kListCharacterColumn ? wchar_t(byte) : wchar_t(ListCell(byte)));
  }
  SendMessageW(log_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  // A 64 KiB listing is 4,096 lines: the window answers in between.
  pump_.PumpIfDue();
}

void WindowView::SetGaugeMax(int max) {
  gauge_.SetMaxValue(max);
  PaintGauge(false);
}

// Painted at the next reply's wait rather than here, between two exchanges.
void WindowView::SetGaugeProgress(int position) { gauge_.SetProgress(position); }

// The frame and its reply are on the wire meanwhile, so this time costs the transfer nothing.
void WindowView::ReplyPending() { PaintGauge(false); }

void WindowView::Pause(int milliseconds) {
  Flush();
  pump_.Wait(milliseconds);
}

void WindowView::Flush() { PaintGauge(true); }

void WindowView::PaintGauge(bool now) {
  if (gauge_.NeedsPaint()) {
    const ULONGLONG t = GetTickCount64();
    if (now || t - lastGaugePaint_ >= static_cast<ULONGLONG>(kFrameMs)) {
      gauge_.PaintNow();
      lastGaugePaint_ = t;
    }
  }
  pump_.PumpIfDue();
}

}  // namespace zelwik::win
