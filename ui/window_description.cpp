#include "ui/window_description.h"

#include <cstring>
#include <vector>

#include "link/chips.h"
#include "zelwik_version.h"

namespace zelwik::ui {
namespace {

constexpr Command kNone{Action::None};

// Below the status line, shown while a job is open.
constexpr Element kJobElements[] = {
    {"JobLine", ElementKind::StaticText, 0, 168, 296, 14, "", Glyph{}, kNone},
    {"JobCounters", ElementKind::StaticText, 0, 183, 296, 14, "", Glyph{}, kNone},
};

// The chip menu's items in chip-table order: every chip with a menu caption.
const std::vector<MenuItem>& ChipItems() {
  static const std::vector<MenuItem> items = [] {
    std::vector<MenuItem> out;
    for (const ChipInfo& chip : AllChips()) {
      const char* name = ChipItemName(chip.code);
      if (chip.menuCaption && name)
        out.push_back({name, chip.menuCaption, {Action::SelectChip, ToInt(chip.code)}});
    }
    return out;
  }();
  return items;
}

}  // namespace

Command Operation(std::string_view name) {
  const OperationEntry* entry = FindOperation(name);
  return entry ? Command{Action::Operation, 0, entry} : Command{Action::None};
}

const char* ChipItemName(ChipCode code) {
  switch (code) {
    case ChipCode::Detect:
      return "Auto2";
    case ChipCode::C89C51:
      return "Auto1";
    case ChipCode::C89C52:
      return "N89C5212V1";
    case ChipCode::C89C55:
      return "N89C525V1";
    case ChipCode::C89C1051:
      return "N89C10511";
    case ChipCode::C89C2051:
      return "N89C20511";
    case ChipCode::C89C4051:
      return "N89C40511";
    case ChipCode::Other:
      return "Innyukad1";
    default:
      return nullptr;
  }
}

const WindowDescription& MainWindow() {
  // Built at first use: the operations are the command table's entries.
  static const Element kElements[] = {
      {"openButton",
       ElementKind::ToolButton,
       8,
       0,
       25,
       25,
       "Odczyt",
       Glyph::OpenFolder,
       {Action::Load}},
      {"saveButton",
       ElementKind::ToolButton,
       32,
       0,
       25,
       25,
       "Zapis",
       Glyph::Floppy,
       {Action::Save}},
      {"programButton", ElementKind::ToolButton, 64, 0, 25, 25, "Programowanie", Glyph::ChipZ,
       Operation("program")},
      {"readButton", ElementKind::ToolButton, 88, 0, 25, 25, "Odczyt", Glyph::ChipO,
       Operation("read")},
      {"lockButton", ElementKind::ToolButton, 112, 0, 25, 25, "Blokada", Glyph::ChipB,
       Operation("lock")},
      {"chipLabel", ElementKind::Label, 160, 8, 73, 17, "Automatycznie", Glyph{}, kNone},
      {"portLabel", ElementKind::Label, 248, 8, 33, 13, "Com2", Glyph{}, kNone},
      {"logList", ElementKind::ListBox, 0, 32, 297, 113, "", Glyph{}, kNone},
      {"statusLine", ElementKind::StaticText, 0, 150, 185, 17, " Zelwik (c) 2003", Glyph{}, kNone},
      {"progressGauge", ElementKind::Gauge, 192, 150, 97, 13, "", Glyph{}, kNone},
  };

  static const MenuItem kFileItems[] = {
      {"Odczyt1", "&Odczyt", {Action::Load}},
      {"Zapis1", "&Zapis", {Action::Save}},
      {"N1", nullptr, kNone},
      {"OpenJobItem", "Otwórz zadanie...", {Action::OpenJob}, "Ctrl+J"},
      {"CloseJobItem", "Zamknij zadanie", {Action::CloseJob}},
      {"ResetJobCountersItem", "Zeruj liczniki", {Action::ResetJobCounters}},
      {"JobSeparator", nullptr, kNone},
      {"Zakocz1", "&Zakończ", {Action::Quit}},
  };

  static const MenuItem kVerifyItems[] = {
      {"Com11", "&Odczyt", Operation("read")},
      {"Com21", "&Weryfikacja", Operation("verify")},
      {"Com31", "Sygnatura układu", Operation("signature-device")},
      {"Com41", "Sygnatura producenta", Operation("signature-maker")},
      {"Sygnaturanapi1", "Sygnatura napięć", Operation("signature-voltage")}};

  static const MenuItem kProgramItems[] = {{"Zapis2", "&Programowanie", Operation("program")},
                                           {"Kasowanie1", "&Kasowanie", Operation("erase")},
                                           {"Blokada11", "Blokada1", Operation("lock1")},
                                           {"Blokada21", "Blokada2", Operation("lock2")},
                                           {"Blokada31", "Blokada3", Operation("lock3")}};

  static const MenuItem kPortItems[] = {
      {"Com12", "Com1", {Action::SelectPort, 1}}, {"Com22", "Com2", {Action::SelectPort, 2}},
      {"Com32", "Com3", {Action::SelectPort, 3}}, {"Com42", "Com4", {Action::SelectPort, 4}},
      {"Com51", "Com5", {Action::SelectPort, 5}},
  };
  static const Menu menus[] = {
      {"Plik1", "&Plik", kFileItems},
      {"Opcje1", "&Weryfikacja", kVerifyItems},
      {"Info1", "&Programowanie", kProgramItems},
      {"Ukad1", "&Układ", ChipItems()},
      {"Interfejs1", "&Interfejs", kPortItems},
  };
  static const WindowDescription window = {
      .name = "mainForm",
      .caption = "Zelwik ver " ZELWIK_VERSION,
      .left = 300,
      .top = 154,
      .clientWidth = 296,
      .clientHeight = 165,
      .elements = kElements,
      .menus = menus,
      .logItemHeight = 12,
      .logFontHeight = 9,
      .readyTimerMs = 1000,
      .openFilter = {"Pliki Intel 1", "*.hex", "Wszystkie pliki", "*.*"},
      .defaultExtension = "hex",
      .jobFilter = {"Zadania", "*.zjob", "Wszystkie pliki", "*.*"},
      .jobElements = kJobElements,
      .jobClientHeight = 198,
  };
  return window;
}

const Element* FindElement(const char* name) {
  for (const Element& element : MainWindow().elements)
    if (std::strcmp(element.name, name) == 0) return &element;
  return nullptr;
}

}  // namespace zelwik::ui
