#include "link/chips.h"

#include <cctype>

#include "link/commands.h"
#include "link/link.h"

namespace zelwik {

namespace {

using enum ChipCode;

constexpr ChipInfo kChips[] = {
    {Detect, "Automatycznie", "Automatycznie", "Automatycznie", "auto", ChipGroup::None, 0},
    {C89C51, "89C51", "89C51", "  89C51 ", "89C51", ChipGroup::Pin40_12V, 4096},
    {C89C51_5V, "89C51", nullptr, nullptr, nullptr, ChipGroup::Pin40_5V, 4096},
    {C89C52, "89C52", "89C52", "  89C52 ", "89C52", ChipGroup::Pin40_12V, 8192},
    {C89C55, "89C55", "89C55", "  89C55", "89C55", ChipGroup::Pin40_12V, 20480},
    {C89C1051, "89C1051", "89C1051", "  89C1051", "89C1051", ChipGroup::Pin20, 1024},
    {C89C2051, "89C2051", "89C2051", "  89C2051", "89C2051", ChipGroup::Pin20, 2048},
    {C89C4051, "89C4051", "89C4051", "  89C4051", "89C4051", ChipGroup::Pin20, 4096},
    {C89C52_5V, "89C52", nullptr, nullptr, nullptr, ChipGroup::Pin40_5V, 8192},
    {C89C55_5V, "89C55", nullptr, nullptr, nullptr, ChipGroup::Pin40_5V, 20480},
    {Other, "Inny układ", "Inny układ", "  Inny układ", "other", ChipGroup::Pin40_12V, 32768},
};

constexpr GroupCommands kPin40_12V = {false,         CMD_ERASE_12V,  CMD_WRITE_12V, CMD_READ,
                                      CMD_LOCK1_12V, CMD_LOCK2_12V,  CMD_LOCK3_12V, CMD_SIG_DEVICE,
                                      CMD_SIG_MAKER, CMD_SIG_VOLTAGE};
constexpr GroupCommands kPin40_5V = {false,         CMD_ERASE_5V,   CMD_WRITE_5V, CMD_READ,
                                     CMD_LOCK1_5V,  CMD_LOCK2_5V,   CMD_LOCK3_5V, CMD_SIG_DEVICE,
                                     CMD_SIG_MAKER, CMD_SIG_VOLTAGE};
constexpr GroupCommands kPin20 = {
    true,         CMD_ERASE_20, CMD_WRITE_20,      CMD_READ_20,      CMD_LOCK1_20,
    CMD_LOCK2_20, kNoCommand,   CMD_SIG_DEVICE_20, CMD_SIG_MAKER_20, kNoCommand};

struct SignatureMatch {
  std::uint8_t device, voltage;
  ChipCode code;
};
constexpr SignatureMatch kPin40Matches[] = {
    {0x51, 0xFF, C89C51},    {0x51, 0x05, C89C51_5V}, {0x52, 0xFF, C89C52},
    {0x52, 0x05, C89C52_5V}, {0x55, 0xFF, C89C55},    {0x55, 0x05, C89C55_5V},
};
// The device signature of the 20-pin chips, asked before the 40-pin pair.
constexpr SignatureMatch kPin20Matches[] = {
    {0x11, 0, C89C1051}, {0x21, 0, C89C2051}, {0x41, 0, C89C4051}};

}  // namespace

std::span<const ChipInfo> AllChips() { return kChips; }

const ChipInfo* FindChip(int code) {
  for (const ChipInfo& chip : kChips) {
    if (ToInt(chip.code) == code) return &chip;
  }
  return nullptr;
}

const ChipInfo* FindChipByName(std::string_view cliName) {
  const std::string wanted = Lower(cliName);
  for (const ChipInfo& chip : kChips) {
    if (chip.cliName && Lower(chip.cliName) == wanted) return &chip;
  }
  return nullptr;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

const GroupCommands* CommandsOf(ChipGroup group) {
  switch (group) {
    case ChipGroup::Pin40_12V:
      return &kPin40_12V;
    case ChipGroup::Pin40_5V:
      return &kPin40_5V;
    case ChipGroup::Pin20:
      return &kPin20;
    case ChipGroup::None:
      break;
  }
  return nullptr;
}

ChipCode DetectChip(Link& link) {
  ChipCode code = Detect;
  link.Transact(CMD_STOP);
  link.Transact(CMD_START);
  const std::uint8_t device20 = link.Transact(CMD_SIG_DEVICE_20);
  for (const SignatureMatch& m : kPin20Matches) {
    if (m.device == device20) code = m.code;
  }
  link.Transact(CMD_STOP);
  link.Transact(CMD_START);
  const std::uint8_t device = link.Transact(CMD_SIG_DEVICE);
  const std::uint8_t voltage = link.Transact(CMD_SIG_VOLTAGE);
  // Both families are always asked; a 40-pin answer wins over a 20-pin one.
  for (const SignatureMatch& m : kPin40Matches) {
    if (m.device == device && m.voltage == voltage) code = m.code;
  }
  link.Transact(CMD_STOP);
  return code;
}

}  // namespace zelwik
