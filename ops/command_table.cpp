#include "ops/command_table.h"

#include <algorithm>

#include "ops/chip_memory.h"

namespace zelwik {
namespace {

template <ChipCommand command>
OpResult RunCommand(State& state, View& view, OperationOutput&) {
  return RunChipCommand(state, view, command);
}

template <Signature which>
OpResult RunSignature(State& state, View& view, OperationOutput&) {
  return ShowSignature(state, view, which);
}

constexpr OperationEntry kOperations[] = {
    {"program", "load the file, erase the chip, write and check every byte", Scope::Chip,
     FileUse::Load, true, [](State& s, View& v, OperationOutput&) { return ProgramChip(s, v); }},
    {"read", "read the chip and save it to the file", Scope::Chip, FileUse::Save, false,
     [](State& s, View& v, OperationOutput& o) {
       const ChipRead read = ReadChipSized(s, v);
       o.chipSize = read.size;
       return read.result;
     }},
    {"verify", "load the file and compare the chip with it", Scope::Chip, FileUse::Load, false,
     [](State& s, View& v, OperationOutput&) { return VerifyChip(s, v); }},
    {"erase", "erase the chip", Scope::Chip, FileUse::None, true, RunCommand<ChipCommand::Erase>},
    {"lock1", "set lock bit 1", Scope::Chip, FileUse::None, true, RunCommand<ChipCommand::Lock1>},
    {"lock2", "set lock bit 2", Scope::Chip, FileUse::None, true, RunCommand<ChipCommand::Lock2>},
    {"lock3", "set lock bit 3", Scope::Chip, FileUse::None, true, RunCommand<ChipCommand::Lock3>},
    {"lock", "set all lock bits", Scope::Chip, FileUse::None, true,
     RunCommand<ChipCommand::LockAll>},
    {"signature-device", "show the chip's device signature byte", Scope::Chip, FileUse::None, false,
     RunSignature<Signature::Device>},
    {"signature-maker", "show the chip's maker signature byte", Scope::Chip, FileUse::None, false,
     RunSignature<Signature::Maker>},
    {"signature-voltage", "show the chip's voltage signature byte", Scope::Chip, FileUse::None,
     false, RunSignature<Signature::Voltage>},
    {"list", "load the file and print its listing (no chip needed)", Scope::File, FileUse::Load,
     false, nullptr},
    {"blank-check", "read the chip and check that every byte is FF", Scope::Chip, FileUse::None,
     false, [](State& s, View& v, OperationOutput&) { return BlankCheck(s, v); }},
    {"ports", "list the serial devices; --probe also asks each free one for the\nprogrammer",
     Scope::Ports, FileUse::None, false, nullptr},
};

}  // namespace

std::span<const OperationEntry> Operations() { return kOperations; }

const OperationEntry* FindOperation(std::string_view name) {
  const auto it = std::find_if(std::begin(kOperations), std::end(kOperations),
                               [&](const OperationEntry& e) { return name == e.name; });
  return it == std::end(kOperations) ? nullptr : &*it;
}

}  // namespace zelwik
