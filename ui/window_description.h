#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "link/chips.h"
#include "ops/command_table.h"

namespace zelwik::ui {

// Every handler of the window as a value: the front ends turn clicks and key presses into one of
// these and hand it to the Router. An operation is an entry of the command table every front end
// runs; the rest are the window's own. `arg` is the chip code for SelectChip, the port number 1..5
// for SelectPort, the entry's index in the router's port list for SelectListedPort and in the
// recent files for OpenRecent, 0 otherwise.
enum class Action : std::uint8_t {
  Operation,         // `operation`, from the command table
  Load,              // the open-folder button, Plik/Odczyt
  Save,              // the floppy button, Plik/Zapis
  Quit,              // Plik/Zakończ
  SelectChip,        // the Układ menu
  SelectPort,        // COM1 ... COM5 in the Interfejs menu
  SelectListedPort,  // a present port below them in the Interfejs menu
  OpenRecent,        // a recent file in the Plik menu
  OpenJob,           // Plik: a job file, for the operator view
  CloseJob,          // Plik: back to the ordinary window
  ResetJobCounters,  // Plik: the open job's passed and failed back to 0
  None,              // labels, the log, separators: nothing to run
};

struct Command {
  Action action;
  int arg = 0;
  const OperationEntry* operation = nullptr;
  friend constexpr bool operator==(const Command&, const Command&) = default;
};

// The command table's entry of that name as a window command; {Action::None} for a name the table
// lacks.
Command Operation(std::string_view name);

// The tool buttons' pictures; their pixels are in ui/glyphs.h.
enum class Glyph : std::uint8_t { OpenFolder, Floppy, ChipZ, ChipO, ChipB };

enum class ElementKind : std::uint8_t { ToolButton, Label, ListBox, StaticText, Gauge };

// One element of the client area at 96 dpi. `text` is the caption (labels, status line) or the
// hint (tool buttons), UTF-8; `glyph` and `command` mean something for tool buttons only.
struct Element {
  const char* name;  // by role, used as the object name
  ElementKind kind;
  int left, top, width, height;
  const char* text;
  Glyph glyph;
  Command command;
};

// A menu item, or a separator when caption is nullptr. Captions are UTF-8 with '&' before the
// accelerator letter.
struct MenuItem {
  const char* name;
  const char* caption;
  Command command;
  const char* shortcut = nullptr;  // "Ctrl+J"
};

struct Menu {
  const char* name;
  const char* caption;
  std::span<const MenuItem> items;
};

struct WindowDescription {
  const char* name;     // "mainForm"
  const char* caption;  // "Zelwik ver " and the version of the build
  int left, top;
  int clientWidth, clientHeight;
  std::span<const Element> elements;  // in creation (and tab) order
  std::span<const Menu> menus;        // left to right
  int logItemHeight;                  // logList's item height
  int logFontHeight;                  // logList's character height, pixels
  int readyTimerMs;                   // readyTimer
  const char* openFilter[4];          // {"Pliki Intel 1", "*.hex", "Wszystkie pliki", "*.*"}
  const char* defaultExtension;       // "hex"
  const char* jobFilter[4];           // the job dialog's, as openFilter
  // While a job is open the client area grows by a strip below the status line that holds the
  // job's line and its counters; the controls above it stay where they are.
  std::span<const Element> jobElements;
  int jobClientHeight;
};

const WindowDescription& MainWindow();

// The Interfejs menu: COM1 ... COM5, then a separator and the ports the router lists when it opens.
inline constexpr int kPortMenuIndex = 4;

// The Plik menu, and where in it the recent files go when there are any: after its separator, with
// a separator of their own below them.
inline constexpr int kFileMenuIndex = 0;
inline constexpr int kRecentFilesAt = 7;

// The element of that name, nullptr when there is none.
const Element* FindElement(const char* name);

// The chip menu item's designer name ("Auto2" for Detect), nullptr for the codes the menu lacks.
const char* ChipItemName(ChipCode code);

}  // namespace zelwik::ui
