// A Windows console shows text in its output code page, which is rarely UTF-8: the texts go to a
// console as UTF-16 through WriteConsoleW, and as the same UTF-8 bytes as on Linux to a pipe or
// a file.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <iostream>
#include <streambuf>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "image/text_win32.h"

namespace zelwik::cli {

namespace {

// The console window closed: what a hang-up is on Linux. The system ends the process once the
// handler returns, and 5 s after the event whatever it does; this long the run may stop as after
// a first Ctrl+C and end by itself, with its own exit status.
constexpr DWORD kClosedGraceMs = 3500;
std::atomic<bool> g_consoleClosed{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      InterruptGuard::Interrupt(130);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      g_consoleClosed.store(true);
      InterruptGuard::Interrupt(129);
      Sleep(kClosedGraceMs);
      // Still here: as a second Ctrl+C, the lines put back and the process ended.
      InterruptGuard::Interrupt(129);
      return TRUE;
    default:
      return FALSE;
  }
}

// Length of the longest prefix of text that ends on a whole UTF-8 character.
std::size_t WholeCharacters(const std::string& text) {
  std::size_t end = text.size();
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length > back) end = text.size() - back;
    break;
  }
  return end;
}

class ConsoleBuffer final : public std::streambuf {
 public:
  ConsoleBuffer(HANDLE console, bool escapes) : console_(console), escapes_(escapes) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_.push_back(traits_type::to_char_type(c));
    // A line at a time, and the progress bar's redraws, which end in the erase sequence.
    if (c == '\n' || pending_.size() >= 4096) Flush();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    if (pending_.size() >= 4096) Flush();
    return n;
  }
  int sync() override {
    Flush();
    return 0;
  }

 private:
  void Flush() {
    const std::size_t whole = WholeCharacters(pending_);
    std::string text = pending_.substr(0, whole);
    pending_.erase(0, whole);
    // Without virtual-terminal processing (before Windows 10) the erase-line sequence would show
    // as text; the bar is redrawn at the same width, so leaving it out costs nothing.
    if (!escapes_) {
      for (std::size_t at; (at = text.find("\x1b[K")) != std::string::npos;) text.erase(at, 3);
    }
    if (text.empty()) return;
    const std::wstring wide = Widen(text);
    if (wide.empty()) return;
    DWORD written = 0;
    WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }

  HANDLE console_;
  bool escapes_;
  std::string pending_;
};

// Non-null when the handle is a console; the buffer lives as long as the process.
ConsoleBuffer* ConsoleFor(DWORD which) {
  const HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || !GetConsoleMode(h, &mode)) return nullptr;
  const bool escapes =
      SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  return new ConsoleBuffer(h, escapes);
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  // argv holds the ANSI code page's version of the arguments, which has no ż or ł in most of the
  // world: the wide command line has them all.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

std::ostream* SetUpConsole() {
  if (ConsoleBuffer* out = ConsoleFor(STD_OUTPUT_HANDLE)) std::cout.rdbuf(out);
  ConsoleBuffer* err = ConsoleFor(STD_ERROR_HANDLE);
  if (!err) return nullptr;
  std::cerr.rdbuf(err);
  return &std::cerr;
}

namespace detail {

void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
// The handler of a closed console may hold the handlers' lock until the process ends: the run
// ends without waiting for it.
void RemoveInterruptHandlers() {
  if (!g_consoleClosed.load()) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

}  // namespace detail

}  // namespace zelwik::cli
