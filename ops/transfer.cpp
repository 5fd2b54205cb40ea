// Programming, reading and verifying: the operations that move the image byte by byte.
#include <algorithm>

#include "link/commands.h"
#include "ops/chip_memory.h"
#include "ops/frame.h"
#include "ops/read_memory.h"

namespace zelwik {

using detail::Framing;
using detail::FrameSpec;
using detail::SendFixed;

namespace {

constexpr FrameSpec kTransferFrame{Framing::Branch, kPauseTransferMs, true, false};

std::uint8_t High(int address) { return static_cast<std::uint8_t>(address >> 8); }
std::uint8_t Low(int address) { return static_cast<std::uint8_t>(address & 0xFF); }

// One byte of the chip at the programmer's position; sequential chips advance their counter after
// the read, whatever the byte turns out to be.
std::uint8_t ReadByte(Link& link, const GroupCommands& commands, int address) {
  const auto command = static_cast<std::uint8_t>(commands.read);
  if (!commands.sequential) return link.Transact(command, High(address), Low(address), 0);
  const std::uint8_t value = link.Transact(command, 0, 0, 0);
  SendFixed(link, CMD_NEXT_ADDRESS);
  return value;
}

// Addresses 0 to end, each one exchange with the chip that must give back the image's byte (the
// write's read-back, or a read): the first difference is shown and ends the loop. Then the closing
// STOP, and the success text when every byte matched.
template <typename Exchange>
OpResult CompareEveryByte(Link& link, View& view, const Image& image, int end, Exchange exchange,
                          const char* successText) {
  OpResult result = OpResult::Success;
  for (int address = 0; address <= end; ++address) {
    const std::uint8_t expected = image.MemoryImage[address];
    const std::uint8_t found = exchange(address, expected);
    if (found != expected) {
      view.SetStatus(MismatchText(address, found, expected));
      result = OpResult::Mismatch;
      break;
    }
    view.SetGaugeProgress(address);
  }
  detail::SendClosingStop(link);
  if (result == OpResult::Success) view.SetStatus(successText);
  return result;
}

}  // namespace

namespace detail {

void ReadMemory(Link& link, View& view, const GroupCommands& commands, int size, std::uint8_t* out,
                const char* busyText) {
  SendFixed(link, CMD_STOP);
  SendFixed(link, CMD_START);
  view.SetStatus(busyText);
  view.SetGaugeMax(size - 1);
  for (int address = 0; address < size; ++address) {
    if (commands.sequential) {
      // Stored before the advance, so a programmer lost on CMD_NEXT_ADDRESS keeps the byte.
      out[address] = link.Transact(static_cast<std::uint8_t>(commands.read));
      SendFixed(link, CMD_NEXT_ADDRESS);
    } else {
      out[address] = ReadByte(link, commands, address);
    }
    view.SetGaugeProgress(address);
  }
  SendClosingStop(link);
}

}  // namespace detail

OpResult ProgramChip(State& state, View& view) {
  Link& link = state.link;
  const Image& image = state.image;
  return detail::RunOperation(state, view, kTransferFrame,
                              [&](const ChipInfo& chip, const GroupCommands& commands) {
    const int end = image.ImageEnd;
    if (end >= chip.memorySize) {
      view.SetStatus(kTextTooLarge);
      return OpResult::TooLarge;
    }
    SendFixed(link, CMD_STOP);
    SendFixed(link, CMD_START);
    SendFixed(link, static_cast<std::uint8_t>(commands.erase));
    SendFixed(link, CMD_STOP);
    SendFixed(link, CMD_START);

    view.SetStatus(kTextWriting);
    view.SetGaugeMax(end);
    const auto write = static_cast<std::uint8_t>(commands.write);
    return CompareEveryByte(link, view, image, end, [&](int address, std::uint8_t data) {
      if (!commands.sequential) return link.Transact(write, High(address), Low(address), data);
      // The counter advances after the failing byte too, before the difference is acted on.
      const std::uint8_t back = link.Transact(write, 0, 0, data);
      SendFixed(link, CMD_NEXT_ADDRESS);
      return back;
    }, kTextWritten);
  });
}

// An interrupted read keeps what arrived (0xFF above it) and recomputes ImageEnd, so that a save
// or a program afterwards works on exactly the image the user is left with; the partial image is
// not listed, since the listing stands for a completed read.
OpResult ReadChipSized(State& state, View& view, int& size) {
  Image& image = state.image;
  bool cleared = false;
  size = 0;
  const OpResult result = detail::RunOperation(
      state, view, kTransferFrame,
      [&](const ChipInfo& chip, const GroupCommands& commands) {
        size = std::min(chip.memorySize, kImageSize);
        detail::ReadMemory(state.link, view, commands, size, image.MemoryImage.data(),
                           kTextReading);
        view.SetStatus(kTextRead);
        FindImageEnd(image);
        ListImage(image, view);
        return OpResult::Success;
      },
      [&] {
        ClearImage(image);
        view.ClearLog();
        cleared = true;
      });
  if (result == OpResult::LinkFailure && cleared) FindImageEnd(image);
  if (result != OpResult::Success) size = 0;
  return result;
}

OpResult ReadChip(State& state, View& view) {
  int size = 0;
  return ReadChipSized(state, view, size);
}

OpResult VerifyChip(State& state, View& view) {
  Link& link = state.link;
  const Image& image = state.image;
  return detail::RunOperation(state, view, kTransferFrame,
                              [&](const ChipInfo&, const GroupCommands& commands) {
    SendFixed(link, CMD_STOP);
    SendFixed(link, CMD_START);
    view.SetStatus(kTextVerifying);
    view.SetGaugeMax(image.ImageEnd);
    // No size check against the chip: the range is the image's. Only the image's bound applies.
    const int end = std::min(image.ImageEnd, kImageSize - 1);
    return CompareEveryByte(link, view, image, end, [&](int address, std::uint8_t) {
      return ReadByte(link, commands, address);
    }, kTextVerified);
  });
}

}  // namespace zelwik
