#include "win/form.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "image/text_win32.h"
#include "ui/glyphs.h"
#include "win/user_input.h"

namespace zelwik::win {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr int kListingCells = 54;
// Posted by the operations' thread: what the operation showed is waiting in the runner.
constexpr UINT kDrainMessage = WM_APP + 1;
// The runner's gauge frames: one single-shot timer.
constexpr UINT_PTR kDrainTimerId = 2;

// Windows 10's per-monitor calls, looked up so that the program still starts on Windows 7.
template <typename Fn>
Fn User32(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int WindowDpi(HWND hwnd) {
  static const auto getDpiForWindow = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (getDpiForWindow) {
    if (const UINT dpi = getDpiForWindow(hwnd)) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

void AdjustForDpi(RECT& r, DWORD style, int dpi) {
  static const auto adjust =
      User32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&r, style, TRUE, 0, static_cast<UINT>(dpi)))
    AdjustWindowRectEx(&r, style, TRUE, 0);
}

int Metric(int index, int dpi) {
  static const auto forDpi = User32<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
  return forDpi ? forDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

// The log's face: fixed pitch, bold, the design's 9-pixel character height, and narrow enough
// that a whole listing line fits beside the scroll bar without stretching the face. At 96 dpi the
// hinted 9-pixel faces are 5 pixels a cell, a whole multiple; at other sizes a face may round its
// cell up, and then a pixel or two less height brings it back inside, letters undistorted.
HFONT ChooseLogFont(HWND list, int height, int dpi) {
  static const wchar_t* const kFaces[] = {L"Courier New",      L"Lucida Console",
                                          L"DejaVu Sans Mono", L"Liberation Mono",
                                          L"Consolas",         L"Courier"};
  // The room beside the scroll bar, which a long listing shows, less the items' left margin.
  RECT frame;
  GetWindowRect(list, &frame);
  const int room = frame.right - frame.left - 2 * Metric(SM_CXEDGE, dpi) -
                   Metric(SM_CXVSCROLL, dpi) - MulDiv(2, dpi, 96);
  HDC dc = GetDC(list);
  HFONT best = nullptr;
  int bestWidth = 0;
  const std::wstring probe(kListingCells, L'0');
  const int smallest = std::max(height * 5 / 6, 1);
  for (int h = height; h >= smallest && !(best && bestWidth <= room); --h) {
    for (const wchar_t* face : kFaces) {
      HFONT font = CreateFontW(-h, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, EASTEUROPE_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               FIXED_PITCH | FF_MODERN, face);
      HGDIOBJ old = SelectObject(dc, font);
      wchar_t got[LF_FACESIZE] = {};
      GetTextFaceW(dc, LF_FACESIZE, got);
      SIZE size{};
      GetTextExtentPoint32W(dc, probe.c_str(), kListingCells, &size);
      SelectObject(dc, old);
      const bool present = _wcsicmp(got, face) == 0;
      // The first face that fits; while none does, the narrowest one there is.
      if (present && (!best || size.cx < bestWidth || size.cx <= room)) {
        if (best) DeleteObject(best);
        best = font;
        bestWidth = size.cx;
        if (size.cx <= room) break;
      } else {
        DeleteObject(font);
      }
    }
  }
  ReleaseDC(list, dc);
  if (!best) {
    best = CreateFontW(-height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, EASTEUROPE_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FIXED_PITCH | FF_MODERN, nullptr);
  }
  return best;
}

std::wstring FilterOf(const char* const (&parts)[4]) {
  std::wstring filter;
  for (const char* part : parts) {
    filter += Widen(part);
    filter.push_back(L'\0');
  }
  filter.push_back(L'\0');
  return filter;
}

// %APPDATA%\Zelwik\zelwik.ini, the folder made when missing; "" when there is no such place.
std::string SettingsPath() {
  wchar_t appData[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::wstring folder = std::wstring(appData) + L"\\Zelwik";
  CreateDirectoryW(folder.c_str(), nullptr);
  return Narrow((folder + L"\\zelwik.ini").c_str());
}

}  // namespace

MainForm::MainForm(HINSTANCE instance) : instance_(instance) {}

MainForm::~MainForm() {
  // The router first: it stops a running operation before the controls go.
  router_.reset();
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
  if (logFont_) DeleteObject(logFont_);
  if (accelerators_) DestroyAcceleratorTable(accelerators_);
}

bool MainForm::Create(const std::optional<std::string>& hexFile, int show, bool resetSettings) {
  const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  Gauge::Register(instance_);
  ToolButton::Register(instance_);

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance_;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
  wc.hIconSm =
      static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  if (!RegisterClassExW(&wc)) return false;

  const ui::WindowDescription& d = ui::MainWindow();
  hwnd_ = CreateWindowExW(0, kFormClass, Widen(d.caption).c_str(), kStyle, d.left, d.top,
                          d.clientWidth, d.clientHeight, nullptr, BuildMenu(), instance_, this);
  if (!hwnd_) return false;
  dpi_ = WindowDpi(hwnd_);
  BuildElements();
  LayOut();

  view_ = std::make_unique<WindowView>(Element("statusLine"), Element("logList"), gauge_,
                                       StatusLog::FromEnvironment());
  router_ = std::make_unique<ui::Router>(state_, *view_, *this);
  if (const std::string path = SettingsPath(); !path.empty()) {
    settings_ = std::make_unique<ui::FileSettingsStore>(path);
    if (resetSettings) settings_->Clear();
    router_->UseSettings(settings_.get());
  }
  DragAcceptFiles(hwnd_, TRUE);
  EnableCommands();

  router_->Startup(hexFile);
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  SetFocus(Element("logList"));
  return true;
}

void MainForm::FitClientArea() {
  const ui::WindowDescription& d = ui::MainWindow();
  const int width = Scale(d.clientWidth),
            height = Scale(jobShown_ ? d.jobClientHeight : d.clientHeight);
  RECT r{0, 0, width, height};
  AdjustForDpi(r, kStyle, dpi_);
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A menu bar that wraps to a second row takes from the client area: give it back.
  RECT client;
  GetClientRect(hwnd_, &client);
  const int dw = width - client.right, dh = height - client.bottom;
  if (dw || dh) {
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

HMENU MainForm::BuildMenu() {
  HMENU bar = CreateMenu();
  std::vector<ACCEL> shortcuts;
  for (const ui::Menu& menu : ui::MainWindow().menus) {
    HMENU popup = CreatePopupMenu();
    for (const ui::MenuItem& item : menu.items) {
      if (!item.caption) {
        AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      const UINT_PTR id = kFirstMenuId + commands_.size();
      commands_.push_back(item.command);
      std::string caption = item.caption;
      // "Ctrl+J": the control key and one letter, as every shortcut here is.
      if (item.shortcut && std::strncmp(item.shortcut, "Ctrl+", 5) == 0 && item.shortcut[5]) {
        caption = caption + "\t" + item.shortcut;
        ACCEL accel{};
        accel.fVirt = FCONTROL | FVIRTKEY;
        accel.key = static_cast<WORD>(item.shortcut[5]);
        accel.cmd = static_cast<WORD>(id);
        shortcuts.push_back(accel);
      }
      AppendMenuW(popup, MF_STRING, id, Widen(caption).c_str());
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Widen(menu.caption).c_str());
    if (&menu == &ui::MainWindow().menus[ui::kFileMenuIndex]) fileMenu_ = popup;
    if (&menu == &ui::MainWindow().menus[ui::kPortMenuIndex]) {
      portMenu_ = popup;
      fixedPortItems_ = GetMenuItemCount(popup);
    }
  }
  if (!shortcuts.empty())
    accelerators_ = CreateAcceleratorTableW(shortcuts.data(), static_cast<int>(shortcuts.size()));
  return bar;
}

// The ports present now, each time the menu opens: an adapter plugged in since shows up.
void MainForm::ListPortsInMenu() {
  while (GetMenuItemCount(portMenu_) > fixedPortItems_)
    if (!DeleteMenu(portMenu_, fixedPortItems_, MF_BYPOSITION)) break;
  listedPorts_ = 0;
  if (!router_ || router_->Busy()) return;
  const auto& entries = router_->ListPorts();
  if (entries.empty()) return;
  AppendMenuW(portMenu_, MF_SEPARATOR, 0, nullptr);
  for (const ui::PortMenuEntry& entry : entries) {
    AppendMenuW(portMenu_, MF_STRING, kFirstListedPortId + listedPorts_++,
                Widen(entry.caption).c_str());
  }
}

void MainForm::BuildElements() {
  const ui::WindowDescription& d = ui::MainWindow();
  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
  int index = 0;
  for (const ui::Element& e : d.elements) {
    const int id = kFirstElementId + index++;
    const auto menuId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
    const std::wstring text = e.text ? Widen(e.text) : std::wstring();
    HWND hwnd = nullptr;
    switch (e.kind) {
      case ui::ElementKind::ToolButton: {
        const ui::GlyphPixels normal = ui::GlyphImage(e.glyph);
        const ui::GlyphPixels grey = ui::GreyGlyph(normal);
        hwnd = ToolButton::Create(hwnd_, id, e.left, e.top, e.width, e.height, normal.data(),
                                  grey.data());
        TTTOOLINFOW tip{};
        tip.cbSize = TTTOOLINFOW_V2_SIZE;
        tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tip.hwnd = hwnd_;
        tip.uId = reinterpret_cast<UINT_PTR>(hwnd);
        std::wstring hint = text;
        tip.lpszText = hint.data();
        SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
        break;
      }
      case ui::ElementKind::Label:
        hwnd = CreateWindowExW(0, L"STATIC", text.c_str(),
                               WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX, e.left, e.top,
                               e.width, e.height, hwnd_, menuId, instance_, nullptr);
        break;
      case ui::ElementKind::StaticText:
        hwnd = CreateWindowExW(0, L"STATIC", text.c_str(),
                               WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, e.left, e.top,
                               e.width, e.height, hwnd_, menuId, instance_, nullptr);
        break;
      case ui::ElementKind::ListBox:
        hwnd =
            CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT,
                            e.left, e.top, e.width, e.height, hwnd_, menuId, instance_, nullptr);
        break;
      case ui::ElementKind::Gauge:
        hwnd = CreateWindowExW(0, Gauge::kClass, nullptr, WS_CHILD | WS_VISIBLE, e.left, e.top,
                               e.width, e.height, hwnd_, menuId, instance_, nullptr);
        break;
    }
    elements_.push_back(hwnd);
  }
  index = 0;
  for (const ui::Element& e : d.jobElements) {
    const auto id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstJobElementId + index++));
    jobElements_.push_back(
        CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE,
                        e.left, e.top, e.width, e.height, hwnd_, id, instance_, nullptr));
  }
}

// Every size of the design is at 96 dpi and grows with the monitor's, so the window keeps its
// proportions: at 144 dpi it is half as large again, text and pictures included.
void MainForm::LayOut() {
  const ui::WindowDescription& d = ui::MainWindow();
  FitClientArea();
  const auto elements = d.elements;
  for (std::size_t i = 0; i < elements.size() && i < elements_.size(); ++i) {
    const ui::Element& e = elements[i];
    // Edges from the scaled corners, so that neighbours still meet.
    if (elements_[i]) {
      SetWindowPos(elements_[i], nullptr, Scale(e.left), Scale(e.top),
                   Scale(e.left + e.width) - Scale(e.left), Scale(e.top + e.height) - Scale(e.top),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  for (std::size_t i = 0; i < d.jobElements.size() && i < jobElements_.size(); ++i) {
    const ui::Element& e = d.jobElements[i];
    SetWindowPos(jobElements_[i], nullptr, Scale(e.left), Scale(e.top),
                 Scale(e.left + e.width) - Scale(e.left), Scale(e.top + e.height) - Scale(e.top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  HFONT oldFont = font_, oldLogFont = logFont_;
  // The design font, "MS Sans Serif" at 8 points, in its Central European cut for the texts.
  font_ = CreateFontW(-Scale(11), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, EASTEUROPE_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  for (HWND hwnd : elements_)
    if (hwnd) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  for (HWND hwnd : jobElements_)
    if (hwnd) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  if (HWND gauge = Element("progressGauge")) gauge_.Attach(gauge, font_);
  if (tooltips_) SendMessageW(tooltips_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  if (HWND list = Element("logList")) {
    logFont_ = ChooseLogFont(list, Scale(d.logFontHeight), dpi_);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(logFont_), FALSE);
    SendMessageW(list, LB_SETITEMHEIGHT, 0, Scale(d.logItemHeight));
  }
  if (oldFont) DeleteObject(oldFont);
  if (oldLogFont) DeleteObject(oldLogFont);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND MainForm::Element(const char* name) const {
  const auto elements = ui::MainWindow().elements;
  for (std::size_t i = 0; i < elements.size() && i < elements_.size(); ++i) {
    if (std::strcmp(elements[i].name, name) == 0) return elements_[i];
  }
  return nullptr;
}

int MainForm::Run() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 0;
    NoteStart();
    if (IsUserInput(msg) && DropInput(msg)) continue;
    if (accelerators_ && hwnd_ && TranslateAcceleratorW(hwnd_, accelerators_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    NoteStart();
  }
  return static_cast<int>(msg.wParam);
}

bool MainForm::DropInput(const MSG& msg) {
  if (router_ && router_->Busy()) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) router_->Cancel();
    return true;
  }
  return inputGate_.Drops(msg.time);
}

// An operation starts within the dispatch of a message, or of one sent from elsewhere while the
// loop waited: noted as soon as the loop is back.
void MainForm::NoteStart() {
  if (router_ && router_->Busy() && !inputGate_.Running()) inputGate_.Started(GetTickCount());
}

// --- ui::Shell -----------------------------------------------------------------------------------

void MainForm::SetChipLabel(const std::string& utf8) {
  SetWindowTextW(Element("chipLabel"), Widen(utf8).c_str());
}

void MainForm::SetPortLabel(const std::string& utf8) {
  SetWindowTextW(Element("portLabel"), Widen(utf8).c_str());
}

std::optional<std::string> MainForm::AskPath(bool save, const char* const (&parts)[4]) {
  const ui::WindowDescription& d = ui::MainWindow();
  const std::wstring filter = FilterOf(parts);
  const std::wstring extension = Widen(d.defaultExtension);
  std::wstring file(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!folder_.empty()) ofn.lpstrInitialDir = folder_.c_str();
  if (save) {
    ofn.lpstrDefExt = extension.c_str();
    if (!GetSaveFileNameW(&ofn)) return std::nullopt;
  } else {
    ofn.Flags |= OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  }
  return Narrow(file.c_str());
}

std::optional<std::string> MainForm::AskOpenPath() {
  return AskPath(false, ui::MainWindow().openFilter);
}

std::optional<std::string> MainForm::AskSavePath() {
  return AskPath(true, ui::MainWindow().openFilter);
}

std::optional<std::string> MainForm::AskJobPath() {
  return AskPath(false, ui::MainWindow().jobFilter);
}

void MainForm::ShowJob(const ui::OpenJob* job) {
  if (job && jobElements_.size() == 2) {
    SetWindowTextW(jobElements_[0], Widen(job->JobLine()).c_str());
    SetWindowTextW(jobElements_[1], Widen(job->CounterLine()).c_str());
  }
  if (jobShown_ != (job != nullptr)) {
    jobShown_ = job != nullptr;
    for (HWND hwnd : jobElements_) ShowWindow(hwnd, jobShown_ ? SW_SHOWNA : SW_HIDE);
    FitClientArea();
  }
  EnableCommands();
}

void MainForm::EnableCommands() {
  if (!router_) return;
  const bool open = router_->OpenedJob() != nullptr;
  for (std::size_t i = 0; i < commands_.size(); ++i) {
    const ui::Command c = commands_[i];
    const bool jobOnly =
        c.action == ui::Action::CloseJob || c.action == ui::Action::ResetJobCounters;
    const bool enabled = jobOnly ? open : !router_->Locked(c);
    EnableMenuItem(GetMenu(hwnd_), static_cast<UINT>(kFirstMenuId + i),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
  for (int i = 0; i < recentItems_; ++i)
    EnableMenuItem(fileMenu_, static_cast<UINT>(kFirstRecentFileId + i),
                   MF_BYCOMMAND | (open ? MF_GRAYED : MF_ENABLED));
  const auto elements = ui::MainWindow().elements;
  for (std::size_t i = 0; i < elements.size() && i < elements_.size(); ++i)
    if (elements[i].kind == ui::ElementKind::ToolButton)
      EnableWindow(elements_[i], !router_->Locked(elements[i].command));
}

void MainForm::StartReadyTimer() {
  SetTimer(hwnd_, kReadyTimerId, ui::MainWindow().readyTimerMs, nullptr);
}

void MainForm::StopReadyTimer() { KillTimer(hwnd_, kReadyTimerId); }

void MainForm::Wake() { PostMessageW(hwnd_, kDrainMessage, 0, 0); }

// Without a window SetTimer would make a thread timer that repeats and is never killed.
void MainForm::DrainAfter(std::chrono::milliseconds after) {
  if (hwnd_) SetTimer(hwnd_, kDrainTimerId, static_cast<UINT>(after.count()), nullptr);
}

void MainForm::OperationEnded() { inputGate_.Ended(GetTickCount()); }

void MainForm::Quit() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void MainForm::ShowFailure(const std::string& what) {
  const ui::WindowDescription& d = ui::MainWindow();
  MessageBoxW(hwnd_, Widen(what).c_str(), Widen(d.caption).c_str(), MB_OK | MB_ICONERROR);
}

void MainForm::SetTitle(const std::string& utf8) { SetWindowTextW(hwnd_, Widen(utf8).c_str()); }

void MainForm::SetRecentFiles(const std::vector<std::string>& captions) {
  for (; recentItems_ > 0; --recentItems_)
    if (!DeleteMenu(fileMenu_, ui::kRecentFilesAt, MF_BYPOSITION)) break;
  recentItems_ = 0;
  if (captions.empty()) return;
  for (const std::string& caption : captions) {
    InsertMenuW(fileMenu_, ui::kRecentFilesAt + recentItems_, MF_BYPOSITION | MF_STRING,
                kFirstRecentFileId + recentItems_, Widen(caption).c_str());
    ++recentItems_;
  }
  InsertMenuW(fileMenu_, ui::kRecentFilesAt + recentItems_, MF_BYPOSITION | MF_SEPARATOR, 0,
              nullptr);
  ++recentItems_;
}

void MainForm::SetFileFolder(const std::string& folder) { folder_ = Widen(folder); }

bool MainForm::AskSaveOverChanged(const std::string& fileName) {
  const std::wstring text =
      L"Plik " + Widen(fileName) + L" zmienił się na dysku od wczytania.\nZapisać mimo to?";
  return MessageBoxW(hwnd_, text.c_str(), Widen(ui::MainWindow().caption).c_str(),
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Files dragged from Explorer: the router loads the first; during an operation it does nothing.
void MainForm::FilesDropped(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    const UINT length = DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size()));
    if (length == 0) continue;
    name.resize(length);
    paths.push_back(Narrow(name.c_str()));
  }
  DragFinish(drop);
  if (router_) router_->OpenDropped(paths);
}

// --- Messages ------------------------------------------------------------------------------------

LRESULT CALLBACK MainForm::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* self = static_cast<MainForm*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->Handle(hwnd, msg, wParam, lParam);
}

LRESULT MainForm::Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kDrainMessage:
      if (router_) router_->Drain();
      return 0;
    case WM_COMMAND: {
      // Sent messages bypass the message loop's filter: nothing starts during an operation.
      if (!router_ || router_->Busy()) return 0;
      const int id = LOWORD(wParam);
      const auto elements = ui::MainWindow().elements;
      if (id >= kFirstElementId && id < kFirstElementId + static_cast<int>(elements.size())) {
        const ui::Element& e = elements[id - kFirstElementId];
        if (e.kind == ui::ElementKind::ToolButton) router_->Run(e.command);
      } else if (id >= kFirstMenuId && id < kFirstMenuId + static_cast<int>(commands_.size())) {
        router_->Run(commands_[id - kFirstMenuId]);
      } else if (id >= kFirstListedPortId && id < kFirstListedPortId + listedPorts_) {
        router_->Run({ui::Action::SelectListedPort, id - kFirstListedPortId});
      } else if (id >= kFirstRecentFileId && id < kFirstRecentFileId + recentItems_) {
        router_->Run({ui::Action::OpenRecent, id - kFirstRecentFileId});
      }
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another dpi, or its scale changed: the place Windows suggests,
      // then every size again.
      dpi_ = HIWORD(wParam);
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      LayOut();
      return 0;
    }
    case WM_DROPFILES:
      FilesDropped(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_INITMENUPOPUP:
      if (reinterpret_cast<HMENU>(wParam) == portMenu_) ListPortsInMenu();
      break;
    case WM_TIMER:
      // A tick during an operation is the router's to hold until it has ended.
      if (wParam == kReadyTimerId) {
        if (router_) router_->ReadyTimerDue();
        return 0;
      }
      if (wParam == kDrainTimerId) {
        KillTimer(hwnd, kDrainTimerId);
        if (router_) router_->Drain();
        return 0;
      }
      break;
    case WM_SYSCOMMAND: {
      const WPARAM command = wParam & 0xFFF0;
      const bool busy = router_ && router_->Busy();
      if (busy && (command == SC_CLOSE || command == SC_KEYMENU || command == SC_MOUSEMENU ||
                   command == SC_MAXIMIZE || command == SC_SIZE)) {
        return 0;
      }
      break;
    }
    case WM_CLOSE:
      if (router_ && router_->Busy()) return 0;
      break;
    case WM_DESTROY:
      KillTimer(hwnd, kReadyTimerId);
      KillTimer(hwnd, kDrainTimerId);
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace zelwik::win
