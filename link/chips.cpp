#include "link/chips.h"

#include "link/commands.h"
#include "link/link.h"

namespace zelwik {

namespace {

constexpr ChipInfo kChips[] = {
    {0, "Automatycznie", "Automatycznie", "Automatycznie", ChipGroup::None, 0},
    {1, "89C51", "89C51", "  89C51 ", ChipGroup::Pin40_12V, 4096},
    {2, "89C51", nullptr, nullptr, ChipGroup::Pin40_5V, 4096},
    {3, "89C52", "89C52", "  89C52 ", ChipGroup::Pin40_12V, 8192},
    {4, "89C55", "89C55", "  89C55", ChipGroup::Pin40_12V, 20480},
    {5, "89C1051", "89C1051", "  89C1051", ChipGroup::Pin20, 1024},
    {6, "89C2051", "89C2051", "  89C2051", ChipGroup::Pin20, 2048},
    {7, "89C4051", "89C4051", "  89C4051", ChipGroup::Pin20, 4096},
    {8, "89C52", nullptr, nullptr, ChipGroup::Pin40_5V, 8192},
    {9, "89C55", nullptr, nullptr, ChipGroup::Pin40_5V, 20480},
    {10, "Inny układ", "Inny układ", "  Inny układ", ChipGroup::Pin40_12V, 32768},
};

constexpr GroupCommands kPin40_12V = {
    false,         CMD_ERASE_12V,  CMD_WRITE_12V, CMD_READ,        CMD_LOCK1_12V,
    CMD_LOCK2_12V, CMD_LOCK3_12V,  CMD_SIG_DEVICE, CMD_SIG_MAKER, CMD_SIG_VOLTAGE};
constexpr GroupCommands kPin40_5V = {
    false,        CMD_ERASE_5V,  CMD_WRITE_5V,   CMD_READ,      CMD_LOCK1_5V,
    CMD_LOCK2_5V, CMD_LOCK3_5V,  CMD_SIG_DEVICE, CMD_SIG_MAKER, CMD_SIG_VOLTAGE};
constexpr GroupCommands kPin20 = {
    true,         CMD_ERASE_20, CMD_WRITE_20,      CMD_READ_20,      CMD_LOCK1_20,
    CMD_LOCK2_20, kNoCommand,   CMD_SIG_DEVICE_20, CMD_SIG_MAKER_20, kNoCommand};

struct SignatureMatch {
  std::uint8_t device, voltage, code;
};
constexpr SignatureMatch kPin40Matches[] = {
    {0x51, 0xFF, 1}, {0x51, 0x05, 2}, {0x52, 0xFF, 3},
    {0x52, 0x05, 8}, {0x55, 0xFF, 4}, {0x55, 0x05, 9},
};

}  // namespace

std::span<const ChipInfo> AllChips() { return kChips; }

const ChipInfo* FindChip(int code) {
  for (const ChipInfo& chip : kChips) {
    if (chip.code == code) return &chip;
  }
  return nullptr;
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

std::uint8_t DetectChip(Link& link) {
  std::uint8_t code = 0;
  link.Transact(CMD_STOP);
  link.Transact(CMD_START);
  switch (link.Transact(CMD_SIG_DEVICE_20)) {
    case 0x11:
      code = 5;
      break;
    case 0x21:
      code = 6;
      break;
    case 0x41:
      code = 7;
      break;
    default:
      break;
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
