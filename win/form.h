#pragma once

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ops/operations.h"
#include "ui/router.h"
#include "ui/settings.h"
#include "win/controls.h"
#include "win/ids.h"
#include "win/input_gate.h"
#include "win/window_view.h"

namespace zelwik::win {

// The program's window on Win32: it renders the window description and hands every command to
// the router, which runs the operations on a thread of its own; only what is Win32 lives here.
class MainForm : public ui::Shell {
 public:
  explicit MainForm(HINSTANCE instance);
  ~MainForm() override;
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // Builds the window and runs the constructor's start-up; shows it afterwards. resetSettings:
  // forget what was remembered (--reset-settings).
  bool Create(const std::optional<std::string>& hexFile, int show, bool resetSettings = false);
  HWND Handle() const { return hwnd_; }
  // The message loop, until the program ends; its exit code. While an operation runs the user's
  // input is dropped here, and Esc cancels it.
  int Run();

  // ui::Shell
  void SetChipLabel(const std::string& utf8) override;
  void SetPortLabel(const std::string& utf8) override;
  std::optional<std::string> AskOpenPath() override;
  std::optional<std::string> AskSavePath() override;
  void StartReadyTimer() override;
  void StopReadyTimer() override;
  void Wake() override;
  void DrainAfter(std::chrono::milliseconds after) override;
  void OperationEnded() override;
  void Quit() override;
  void ShowFailure(const std::string& what) override;
  void SetTitle(const std::string& utf8) override;
  void SetRecentFiles(const std::vector<std::string>& captions) override;
  void SetFileFolder(const std::string& folder) override;
  bool AskSaveOverChanged(const std::string& fileName) override;
  std::optional<std::string> AskJobPath() override;
  void ShowJob(const ui::OpenJob* job) override;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void BuildElements();
  // Positions, fonts and the client area at the window's dpi.
  void LayOut();
  int Scale(int designPixels) const { return MulDiv(designPixels, dpi_, 96); }
  HMENU BuildMenu();
  void FitClientArea();
  void ListPortsInMenu();
  std::optional<std::string> AskPath(bool save, const char* const (&filter)[4]);
  // Greys out what the open job locks, and the job's own commands when none is open.
  void EnableCommands();
  HWND Element(const char* name) const;
  bool DropInput(const MSG& msg);
  void FilesDropped(HDROP drop);
  void NoteStart();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  HFONT font_ = nullptr;
  HFONT logFont_ = nullptr;
  HWND tooltips_ = nullptr;
  std::vector<HWND> elements_;     // in the description's order
  std::vector<HWND> jobElements_;  // the job strip, shown while a job is open
  bool jobShown_ = false;
  HACCEL accelerators_ = nullptr;      // the menu items' shortcuts (Ctrl+J)
  std::vector<ui::Command> commands_;  // menu items from kFirstMenuId on
  HMENU portMenu_ = nullptr;           // Interfejs
  int fixedPortItems_ = 0;             // its COM1 ... COM5
  int listedPorts_ = 0;                // the entries below them, from kFirstListedPortId on
  HMENU fileMenu_ = nullptr;           // Plik
  int recentItems_ = 0;                // its recent files and their separator, from kRecentFilesAt
  std::wstring folder_;                // where the file dialogs open
  std::unique_ptr<ui::FileSettingsStore> settings_;
  Gauge gauge_;
  InputGate inputGate_;  // on GetTickCount()
  State state_;
  std::unique_ptr<WindowView> view_;
  std::unique_ptr<ui::Router> router_;
};

}  // namespace zelwik::win
