#include "ops/frame.h"

#include "image/memory_image.h"
#include "link/commands.h"

namespace zelwik {

std::string MismatchText(int address, std::uint8_t found, std::uint8_t expected) {
  return std::string(" Błąd: ") + ByteToHexText(static_cast<std::uint8_t>(address >> 8)) +
         ByteToHexText(static_cast<std::uint8_t>(address & 0xFF)) + " jest " +
         ByteToHexText(found) +
         // The program's own text, without its accent ("ma byc"): do not correct it.
         " ma byc " + ByteToHexText(expected);
}

namespace detail {

void SendClosingStop(Link& link) {
  link.Transact(CMD_STOP);
  if (link.StrayReply(kStrayReplyWaitMs)) throw LinkFault("replies out of step with frames");
}

namespace {

OpResult ErrorTail(Link& link, View& view, const FrameSpec& shape) {
  view.SetStatus(kTextLinkFailure);
  if (!shape.keepsErrorMessage) {
    view.Pause(kPauseLinkFailureMs);
    view.SetStatus(kTextReady);
  }
  link.CloseLink();
  return OpResult::LinkFailure;
}

// Stopped on request: traffic that began ends with the closing STOP as a finished operation's
// does, and the text stands (no pause: the user asked to be done).
OpResult CancelTail(Link& link, View& view, bool trafficBegan) {
  if (trafficBegan) {
    try {
      SendClosingStop(link);
    } catch (const LinkFault&) {
      // The programmer went away as well; the port closes all the same.
    }
  }
  link.CloseLink();
  view.SetStatus(kTextCancelled);
  view.SetGaugeProgress(0);
  return OpResult::Cancelled;
}

// The view draws while replies are on the wire, for as long as the operation runs, and hears how
// fast the link turned out to be.
class ReplyWaitsToView {
 public:
  ReplyWaitsToView(Link& link, View& view) : link_(link) {
    link_.SetReplyWaitHook([&view] { view.ReplyPending(); });
    link_.SetPaceObserver([&view](double ms) { view.LinkPace(ms); });
  }
  ~ReplyWaitsToView() {
    link_.SetReplyWaitHook({});
    link_.SetPaceObserver({});
  }
  ReplyWaitsToView(const ReplyWaitsToView&) = delete;
  ReplyWaitsToView& operator=(const ReplyWaitsToView&) = delete;

 private:
  Link& link_;
};

}  // namespace

OpResult RunOperation(State& state, View& view, const FrameSpec& shape, const ChipBody& body,
                      const std::function<void()>& afterProbe) {
  Link& link = state.link;
  link.SetCancelToken(&state.cancel);
  const ReplyWaitsToView drawing(link, view);
  if (shape.transfer) view.SetStatus("");
  OpResult result = OpResult::NoChip;
  bool answered = false;
  try {
    if (!link.OpenLink(state.PortName)) return ErrorTail(link, view, shape);
    if (link.Probe() != kProbeAnswer) return ErrorTail(link, view, shape);
    answered = true;
    if (afterProbe) afterProbe();

    ChipCode code = static_cast<ChipCode>(state.ChipType);
    if (code == ChipCode::Detect) {
      // Detection serves this operation only; ChipType stays 0 so the next one detects again.
      code = DetectChip(link);
      if (code == ChipCode::Detect) view.SetStatus(kTextNoChip);
    }
    const ChipInfo* chip = FindChip(code);
    const GroupCommands* commands = chip ? CommandsOf(chip->group) : nullptr;

    if (shape.framing == Framing::Frame) {
      link.Transact(CMD_STOP);
      link.Transact(CMD_START);
    }
    if (commands) {
      if (shape.framing == Framing::Mixed) {
        link.Transact(CMD_STOP);
        link.Transact(CMD_START);
      }
      result = body(*chip, *commands);
    }
    if (shape.framing != Framing::Branch) SendClosingStop(link);
  } catch (const LinkFault&) {
    // The programmer went away mid-way: nothing after this point may look like success.
    return ErrorTail(link, view, shape);
  } catch (const OperationCancelled&) {
    return CancelTail(link, view, answered);
  }
  link.CloseLink();
  view.Pause(shape.pauseMs);
  view.SetStatus(kTextReady);
  if (shape.transfer) view.SetGaugeProgress(0);
  return result;
}

}  // namespace detail
}  // namespace zelwik
