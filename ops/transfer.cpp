// Programming, reading and verifying: the operations that move the image byte by byte.
#include <algorithm>

#include "link/commands.h"
#include "ops/chip_memory.h"
#include "ops/frame.h"
#include "ops/hex_files.h"
#include "ops/read_memory.h"

namespace zelwik {

using detail::FrameSpec;
using detail::Framing;

namespace {

constexpr FrameSpec kTransferFrame{
    .framing = Framing::BodySendsAll, .pauseMs = kPauseTransferMs, .transfer = true};

std::uint8_t High(int address) { return static_cast<std::uint8_t>(address >> 8); }
std::uint8_t Low(int address) { return static_cast<std::uint8_t>(address & 0xFF); }

// The frame of a write or a read for the byte at address; its reply. Sequential chips take no
// address: NextAddress moves their counter on.
std::uint8_t ExchangeByte(Link& link, const GroupCommands& commands, int command, int address,
                          std::uint8_t data) {
  const auto code = static_cast<std::uint8_t>(command);
  if (!commands.sequential) return link.Transact(code, High(address), Low(address), data);
  return link.Transact(code, 0, 0, data);
}

// After every byte of a sequential chip, whatever it turned out to be. Called once the byte is
// kept: a programmer lost on this frame must not take the byte it already sent with it.
void NextAddress(Link& link, const GroupCommands& commands) {
  if (commands.sequential) link.Transact(CMD_NEXT_ADDRESS);
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
  link.Transact(CMD_STOP);
  link.Transact(CMD_START);
  view.SetStatus(busyText);
  view.SetGaugeMax(size - 1);
  for (int address = 0; address < size; ++address) {
    out[address] = ExchangeByte(link, commands, commands.read, address, 0);
    NextAddress(link, commands);
    view.SetGaugeProgress(address);
  }
  SendClosingStop(link);
}

}  // namespace detail

OpResult ProgramChip(State& state, View& view) {
  Link& link = state.link;
  const Image& image = state.image;
  return detail::RunOperation(
      state, view, kTransferFrame, [&](const ChipInfo& chip, const GroupCommands& commands) {
        if (image.ImageEnd >= chip.memorySize) {
          view.SetStatus(kTextTooLarge);
          return OpResult::TooLarge;
        }
        // A serial number stamped here stays within the chip (the stamp checks it).
        if (!view.BeforeErase(chip)) throw OperationCancelled();
        const int end = image.ImageEnd;
        link.Transact(CMD_STOP);
        link.Transact(CMD_START);
        link.Transact(static_cast<std::uint8_t>(commands.erase));
        link.Transact(CMD_STOP);
        link.Transact(CMD_START);

        view.SetStatus(kTextWriting);
        view.SetGaugeMax(end);
        // The counter advances after the failing byte too, before the difference is acted on.
        return CompareEveryByte(
            link, view, image, end,
            [&](int address, std::uint8_t data) {
              const std::uint8_t back = ExchangeByte(link, commands, commands.write, address, data);
              NextAddress(link, commands);
              return back;
            },
            kTextWritten);
      });
}

// An interrupted read keeps what arrived (0xFF above it) and recomputes ImageEnd, so that a save
// or a program afterwards works on exactly the image the user is left with; the partial image is
// not listed, since the listing stands for a completed read.
ChipRead ReadChipSized(State& state, View& view) {
  Image& image = state.image;
  // Whether the probe was answered and the image cleared: only then does an interrupted read
  // recompute ImageEnd.
  bool cleared = false;
  int size = 0;
  const OpResult result = detail::RunOperation(
      state, view, kTransferFrame,
      [&](const ChipInfo& chip, const GroupCommands& commands) {
        size = std::min(chip.memorySize, kImageSize);
        detail::ReadMemory(state.link, view, commands, size, image.MemoryImage.data(),
                           kTextReading);
        view.SetStatus(kTextRead);
        FindImageEnd(image);
        ShowListing(image, view);
        return OpResult::Success;
      },
      [&] {
        ClearImage(image);
        view.ClearLog();
        cleared = true;
      });
  if ((result == OpResult::LinkFailure || result == OpResult::Cancelled) && cleared)
    FindImageEnd(image);
  return {result, result == OpResult::Success ? size : 0};
}

OpResult ReadChip(State& state, View& view) { return ReadChipSized(state, view).result; }

OpResult VerifyChip(State& state, View& view) {
  Link& link = state.link;
  const Image& image = state.image;
  return detail::RunOperation(
      state, view, kTransferFrame, [&](const ChipInfo&, const GroupCommands& commands) {
        link.Transact(CMD_STOP);
        link.Transact(CMD_START);
        view.SetStatus(kTextVerifying);
        view.SetGaugeMax(image.ImageEnd);
        // No size check against the chip: the range is the image's. Only the image's bound applies.
        const int end = std::min(image.ImageEnd, kImageSize - 1);
        return CompareEveryByte(
            link, view, image, end,
            [&](int address, std::uint8_t) {
              const std::uint8_t back = ExchangeByte(link, commands, commands.read, address, 0);
              NextAddress(link, commands);
              return back;
            },
            kTextVerified);
      });
}

}  // namespace zelwik
