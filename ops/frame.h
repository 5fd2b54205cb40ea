#pragma once

#include <cstdint>
#include <functional>

#include "link/chips.h"
#include "ops/operations.h"

namespace zelwik::detail {

// Where an operation's opening STOP, START and closing STOP stand.
enum class Framing {
  BodySendsAll,          // the chip's body sends all three itself; nothing when no body runs
  AroundBody,            // opening pair once the chip code is known, closing STOP before the
                         // port closes, whether a body runs or not
  BodyOpensFrameCloses,  // the body sends the opening pair, the frame the closing STOP
};

// Written with designated initialisers, so every flag is named where it is set.
struct FrameSpec {
  Framing framing;
  int pauseMs;                     // normal tail
  bool transfer = false;           // program, read, verify: blank status first, gauge to 0 at end
  bool keepsErrorMessage = false;  // lock bit 3: no pause and no " Gotowy..." after a link failure
};

// The part of an operation that depends on the chip; runs only for a chip of a known group.
using ChipBody = std::function<OpResult(const ChipInfo&, const GroupCommands&)>;

// Open, probe, chip code, framing, body, and the normal or error tail. afterProbe runs once the
// programmer has answered, before detection. A LinkFault anywhere ends in the error tail.
OpResult RunOperation(State& state, View& view, const FrameSpec& shape, const ChipBody& body,
                      const std::function<void()>& afterProbe = {});

// How long the closing STOP waits for a byte too many; covers a USB adapter's 16 ms latency timer.
inline constexpr int kStrayReplyWaitMs = 20;

// The STOP that ends an operation's traffic. A byte arriving after its reply means the replies
// were one frame late (the programmer answered a frame twice): nothing read or compared since can
// be trusted, so this ends as a link failure rather than as a success over shifted data.
void SendClosingStop(Link& link);

}  // namespace zelwik::detail
