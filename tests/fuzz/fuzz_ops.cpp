// Every chip operation against a programmer whose replies are the fuzz input: silence, a failing
// port, surplus bytes and arbitrary data at any frame. The operations must end (no hang), close
// the port, keep one frame in flight, never claim success after a link failure, and show only
// texts the program knows.
//
// Input: [first op] [chip] [second op] [flags] [image bytes...] [reply stream...]
//   first/second op: one of the eleven operations (second: 11 and up = none)
//   chip:            index into the chip menu codes 0, 1, 3, 4, 5, 6, 7, 10
//   flags:           bit 0 the port will not open; bits 1-2 the image (see MakeImage)
//   reply stream:    one byte per frame; 0xFE escapes: FE 00 silence, FE 01 the port fails,
//                    FE 02 x y two bytes for one frame, FE 03 the write fails, FE other = 0xFE.
//                    An exhausted stream is silence.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "image/memory_image.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/serial_port.h"
#include "ops/operations.h"
#include "ops/texts.h"

namespace {

using namespace zelwik;

[[noreturn]] void Fail(const char* what, int line) {
  std::fprintf(stderr, "fuzz_ops.cpp:%d: check failed: %s\n", line, what);
  std::abort();
}
#define Check(condition) ((condition) ? (void)0 : Fail(#condition, __LINE__))

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  // 0 once the input is used up.
  std::uint8_t Next() { return Empty() ? 0 : data_[pos_++]; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Exchange {
  std::uint8_t frame[4];
  int reply;  // the byte the link read for it, or kTimeout / kPortError
};

// The programmer as the fuzz input scripts it. Every wait is instant.
class FuzzPort : public SerialPort {
 public:
  FuzzPort(Input& input) : input_(input) {}

  bool failOpen = false;
  std::vector<Exchange> exchanges;  // of the current open

  bool Open(const std::string&, std::string& reason, int& errnoValue) override {
    Check(!open_);  // the link closes before it opens again
    exchanges.clear();
    pending_.clear();
    failed_ = false;
    awaiting_ = false;
    if (failOpen) {
      reason = "fuzz: no such port";
      errnoValue = 2;
      return false;
    }
    open_ = true;
    return true;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    Check(open_);
    Check(size == 4);
    // One frame in flight: the reply to the previous frame was read (or found missing) first.
    Check(!awaiting_);
    if (failed_) return false;
    Exchange e{{data[0], data[1], data[2], data[3]}, SerialPort::kTimeout};
    exchanges.push_back(e);
    awaiting_ = true;
    const bool probe = data[0] == CMD_PROBE;
    if (input_.Empty()) {  // used up: silence
      if (probe) pending_.push_back(0);
      return true;
    }
    const std::uint8_t b = input_.Next();
    if (b == 0xFE) {
      switch (input_.Next()) {
        case 0:
          // A silent probe costs the link 50 real 1 ms polls; the link returns 0 for it, so
          // answer 0 and keep the fuzzer fast. Silence on every other frame is instant.
          if (probe) pending_.push_back(0);
          return true;
        case 1:
          failed_ = true;
          return true;
        case 2:
          pending_.push_back(input_.Next());
          pending_.push_back(input_.Next());
          return true;
        case 3:
          failed_ = true;
          exchanges.back().reply = SerialPort::kPortError;
          awaiting_ = false;  // nothing will be read for a frame that never left
          return false;
        default:
          break;
      }
    }
    pending_.push_back(b);
    return true;
  }

  int BytesWaiting() override {
    Check(open_);
    if (failed_) {
      if (awaiting_ && !exchanges.empty()) exchanges.back().reply = kPortError;
      awaiting_ = false;
      return kPortError;
    }
    return static_cast<int>(pending_.size());
  }

  int ReadByte(int) override {
    Check(open_);
    int reply;
    if (failed_) {
      reply = kPortError;
    } else if (pending_.empty()) {
      reply = kTimeout;
    } else {
      reply = pending_.front();
      pending_.pop_front();
    }
    if (awaiting_ && !exchanges.empty()) exchanges.back().reply = reply;
    awaiting_ = false;
    return reply;
  }

  void Close() override {
    open_ = false;
    pending_.clear();  // a late byte is discarded with the port
  }
  bool IsOpen() const override { return open_; }

 private:
  Input& input_;
  std::deque<std::uint8_t> pending_;
  bool open_ = false;
  bool failed_ = false;
  bool awaiting_ = false;
};

class CheckingView : public View {
 public:
  std::vector<std::string> statuses;
  std::vector<int> pauses;
  int logLines = 0;
  int gaugeMax = 0;
  bool gaugeSet = false;

  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ClearLog() override { logLines = 0; }
  void AddLogLine(const std::string& line) override {
    Check(line.size() >= 38 && line.size() <= 54 && line[4] == ':');
    ++logLines;
  }
  void SetGaugeMax(int max) override {
    gaugeMax = max;
    gaugeSet = true;
  }
  void SetGaugeProgress(int position) override {
    // Forward only, within the maximum; 0 at the end of every transfer.
    Check(position == 0 || (gaugeSet && position >= 0 && position <= gaugeMax));
  }
  void Pause(int ms) override {
    Check(ms == kPauseLinkFailureMs || ms == kPauseTransferMs || ms == kPauseChipCommandMs);
    pauses.push_back(ms);
  }
};

bool IsHexByte(std::string_view s) {
  return s.size() == 2 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

// " Błąd: AAAA jest RR ma byc II"
bool IsMismatchText(std::string_view s) {
  const std::string_view head = " Błąd: ";
  if (s.substr(0, head.size()) != head) return false;
  s.remove_prefix(head.size());
  return s.size() == 4 + 6 + 2 + 8 + 2 && IsHexByte(s.substr(0, 2)) && IsHexByte(s.substr(2, 2)) &&
         s.substr(4, 6) == " jest " && IsHexByte(s.substr(10, 2)) && s.substr(12, 8) == " ma byc " &&
         IsHexByte(s.substr(20, 2));
}

bool IsSignatureText(std::string_view s) {
  for (const char* prefix : {kTextDeviceSignature, kTextMakerSignature, kTextVoltageSignature}) {
    const std::string_view p = prefix;
    if (s.size() == p.size() + 3 && s.substr(0, p.size()) == p &&
        IsHexByte(s.substr(p.size(), 2)) && s.back() == 'H') {
      return true;
    }
  }
  return false;
}

const std::set<std::string_view>& KnownTexts() {
  static const std::set<std::string_view> texts = {
      "",           kTextReady,   kTextLinkFailure, kTextNoChip,      kTextTooLarge,
      kTextWriting, kTextWritten, kTextReading,     kTextRead,        kTextVerifying,
      kTextVerified, kTextErased, kTextLocked,      kTextLockedFiveVolt, kTextNoSuchLock,
      kTextNoSuchSignature};
  return texts;
}

constexpr int kChipChoices[] = {0, 1, 3, 4, 5, 6, 7, 10};
constexpr int kOperations = 11;

OpResult RunOp(int op, State& state, View& view) {
  switch (op) {
    case 0: return ProgramChip(state, view);
    case 1: return ReadChip(state, view);
    case 2: return VerifyChip(state, view);
    case 3: return RunChipCommand(state, view, ChipCommand::Erase);
    case 4: return RunChipCommand(state, view, ChipCommand::Lock1);
    case 5: return RunChipCommand(state, view, ChipCommand::Lock2);
    case 6: return RunChipCommand(state, view, ChipCommand::Lock3);
    case 7: return RunChipCommand(state, view, ChipCommand::LockAll);
    case 8: return ShowSignature(state, view, Signature::Device);
    case 9: return ShowSignature(state, view, Signature::Maker);
    default: return ShowSignature(state, view, Signature::Voltage);
  }
}

void MakeImage(Image& image, int mode, Input& input) {
  switch (mode) {
    case 0:  // empty, as after loading an empty file
      FindImageEnd(image);
      break;
    case 1:  // as at start-up: all 0xFF and ImageEnd 0
      break;
    case 2: {  // a short program
      const int n = 1 + input.Next() % 64;
      for (int a = 0; a < n; ++a) image.MemoryImage[a] = input.Next();
      FindImageEnd(image);
      break;
    }
    default: {  // one byte anywhere: long runs and images larger than the chip
      const int address = (input.Next() << 8) | input.Next();
      image.MemoryImage[address] = input.Next() & 0xFE;
      FindImageEnd(image);
      break;
    }
  }
}

bool SentMoreAfter(const std::vector<Exchange>& ex, std::size_t i) { return ex.size() > i + 1; }

// What one operation left behind must agree with what was exchanged.
void CheckOperation(int op, OpResult result, const State& state, const Image& before,
                    int chipTypeBefore, const FuzzPort& port, const CheckingView& view) {
  Check(!state.link.IsOpen() && !port.IsOpen());
  Check(state.ChipType == chipTypeBefore);
  for (const std::string& s : view.statuses)
    Check(KnownTexts().count(s) == 1 || IsMismatchText(s) || IsSignatureText(s));

  const auto& ex = port.exchanges;
  const bool linkFailure = result == OpResult::LinkFailure;
  const bool showedFailure =
      std::find(view.statuses.begin(), view.statuses.end(), kTextLinkFailure) != view.statuses.end();
  Check(linkFailure == showedFailure);
  Check(view.pauses.size() <= 1);
  if (linkFailure) {
    // " Gotowy..." follows unless lock bit 3 keeps its message.
    Check(view.statuses.back() == (op == 6 ? std::string(kTextLinkFailure) : std::string(kTextReady)));
  } else {
    Check(view.statuses.back() == kTextReady);
    Check(view.pauses.size() == 1);
    // Past the probe every path ends its traffic with a STOP that got its reply
    Check(!ex.empty() && ex.front().frame[0] == CMD_PROBE && ex.front().reply == kProbeAnswer);
    // (An image too large for a chosen chip sends nothing past the probe.)
    Check((ex.back().frame[0] == CMD_STOP && ex.back().reply >= 0) ||
          (result == OpResult::TooLarge && ex.size() == 1));
  }
  // Nothing follows a probe that was not answered 0x55.
  if (!ex.empty() && ex.front().reply != kProbeAnswer) Check(ex.size() == 1 && linkFailure);
  // Nothing follows a missing reply or a failed port.
  for (std::size_t i = 0; i < ex.size(); ++i)
    if (ex[i].reply < 0) Check(!SentMoreAfter(ex, i) && linkFailure);

  const bool success = result == OpResult::Success;
  const bool mismatch = result == OpResult::Mismatch;
  const bool successText =
      std::any_of(view.statuses.begin(), view.statuses.end(), [](const std::string& s) {
        return s == kTextWritten || s == kTextRead || s == kTextVerified || s == kTextErased ||
               s == kTextLocked || s == kTextLockedFiveVolt || IsSignatureText(s);
      });
  const bool mismatchText = std::any_of(view.statuses.begin(), view.statuses.end(),
                                        [](const std::string& s) { return IsMismatchText(s); });
  // A result text may stand before a closing STOP that went unanswered; the failure then follows
  // it. The transfers write theirs only after that STOP.
  if (success) Check(successText);
  if (successText) Check(success || (linkFailure && op > 2));
  if (mismatch) Check(mismatchText);
  if (mismatchText) Check(mismatch || linkFailure);

  if (op != 1) {
    Check(state.image.MemoryImage == before.MemoryImage && state.image.ImageEnd == before.ImageEnd);
  }

  // Data frames and what came back for them.
  int sequential = 0;  // 20-pin counter since the last START
  std::vector<int> dataAddresses;
  for (const Exchange& e : ex) {
    const std::uint8_t c = e.frame[0];
    if (c == CMD_START) sequential = 0;
    int address = -1;
    if (op <= 2 && (c == CMD_WRITE_12V || c == CMD_WRITE_5V || c == CMD_READ))
      address = (e.frame[1] << 8) | e.frame[2];
    if (op <= 2 && (c == CMD_WRITE_20 || c == CMD_READ_20)) address = sequential;
    if (c == CMD_NEXT_ADDRESS) ++sequential;
    if (address < 0) continue;
    dataAddresses.push_back(address);
    if (e.reply < 0) continue;
    const std::uint8_t reply = static_cast<std::uint8_t>(e.reply);
    if (op == 0) {
      Check(e.frame[3] == before.MemoryImage[address]);
      if (success) Check(reply == e.frame[3]);
    } else if (op == 1) {
      Check(state.image.MemoryImage[address] == reply);
    } else if (success) {
      Check(reply == before.MemoryImage[address]);
    }
  }
  // Addresses go 0, 1, 2, ... with no gap; a success covers the whole range.
  for (std::size_t i = 0; i < dataAddresses.size(); ++i) Check(dataAddresses[i] == static_cast<int>(i));
  if (success && (op == 0 || op == 2)) Check(static_cast<int>(dataAddresses.size()) == before.ImageEnd + 1);

  if (op == 1) {
    const Image& image = state.image;
    const bool answered = !ex.empty() && ex.front().reply == kProbeAnswer;
    if (!answered) {
      Check(image.MemoryImage == before.MemoryImage && image.ImageEnd == before.ImageEnd);
      return;
    }
    for (int a = static_cast<int>(dataAddresses.size()); a < kImageSize; ++a)
      Check(image.MemoryImage[a] == kEmptyByte);
    if (success || linkFailure) {
      Image copy = image;
      FindImageEnd(copy);
      Check(copy.ImageEnd == image.ImageEnd);
    }
    if (success) Check(view.logLines == (image.ImageEnd < 0 ? 0 : image.ImageEnd / 16 + 1));
    if (!success) Check(view.logLines == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  Input input(data, size);
  const int firstOp = input.Next() % kOperations;
  const int chipType = kChipChoices[input.Next() % std::size(kChipChoices)];
  const int secondOp = input.Next() % 16;
  const std::uint8_t flags = input.Next();

  auto owned = std::make_unique<FuzzPort>(input);
  FuzzPort& port = *owned;
  auto state = std::unique_ptr<State>(new State{Image{}, chipType, "COM2", Link(std::move(owned))});
  state->link.SetReplyTimeout(0);
  MakeImage(state->image, (flags >> 1) & 3, input);

  const int ops[2] = {firstOp, secondOp < kOperations ? secondOp : -1};
  for (int i = 0; i < 2; ++i) {
    if (ops[i] < 0) break;
    port.failOpen = i == 0 && (flags & 1);
    const auto before = std::make_unique<Image>(state->image);
    CheckingView view;
    const OpResult result = RunOp(ops[i], *state, view);
    CheckOperation(ops[i], result, *state, *before, chipType, port, view);
  }
  return 0;
}
