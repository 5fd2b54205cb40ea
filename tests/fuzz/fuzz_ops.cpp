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
#include <cctype>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/chips.h"
#include "link/commands.h"
#include "link/link.h"
#include "ops/operations.h"
#include "ops/texts.h"

namespace {

using namespace zelwik;

// The fuzzer's crash report shows the line.
#define Check(condition) ((condition) ? (void)0 : std::abort())

struct Input {
  const std::uint8_t* data;
  std::size_t size, pos = 0;
  bool Empty() const { return pos >= size; }
  std::uint8_t Next() { return Empty() ? 0 : data[pos++]; }  // 0 once used up
};

struct Exchange {
  std::uint8_t frame[4];
  int reply;  // the byte read, kTimeout or kPortError
};

// The programmer as the fuzz input scripts it. Every wait is instant.
class FuzzPort : public SerialPort {
 public:
  explicit FuzzPort(Input& input) : in_(input) {}
  bool failOpen = false;
  std::vector<Exchange> exchanges;  // of the current open

  bool Open(const std::string&, std::string&, int&) override {
    Check(!open_);  // the link closes before it opens again
    exchanges.clear();
    failed_ = awaiting_ = false;
    return open_ = !failOpen;
  }
  bool Write(const std::uint8_t* d, std::size_t size) override {
    // One frame in flight: its reply was read or found missing.
    Check(open_ && size == 4 && !awaiting_);
    if (failed_) return false;
    exchanges.push_back({{d[0], d[1], d[2], d[3]}, kTimeout});
    awaiting_ = true;
    const int b = in_.Empty() ? -1 : in_.Next(), escape = b == 0xFE ? in_.Next() : -1;
    // A silent probe costs the link 50 real 1 ms polls and gives 0: answer 0 to keep the fuzzer
    // fast.
    if ((b < 0 || escape == 0) && d[0] == CMD_PROBE) pending_.push_back(0);
    if (escape == 2) pending_.insert(pending_.end(), {in_.Next(), in_.Next()});
    if ((b >= 0 && escape < 0) || escape > 3) pending_.push_back(static_cast<std::uint8_t>(b));
    failed_ = escape == 1 || escape == 3;
    if (escape == 3) Settle(kPortError);  // nothing will be read for a frame that never left
    return escape != 3;
  }
  int BytesWaiting() override {
    Check(open_);
    if (failed_) Settle(kPortError);
    return failed_ ? kPortError : static_cast<int>(pending_.size());
  }
  int ReadByte(int) override {
    Check(open_);
    const int reply = failed_ ? kPortError : pending_.empty() ? kTimeout : pending_.front();
    if (reply >= 0) pending_.pop_front();
    Settle(reply);
    return reply;
  }
  void Close() override { open_ = false, pending_.clear(); }  // a late byte goes with the port
  bool IsOpen() const override { return open_; }

 private:
  void Settle(int reply) {
    if (std::exchange(awaiting_, false)) exchanges.back().reply = reply;
  }
  Input& in_;
  std::deque<std::uint8_t> pending_;
  bool open_ = false, failed_ = false, awaiting_ = false;
};

struct CheckingView : View {
  std::vector<std::string> statuses;
  int pauses = 0, logLines = 0, gaugeMax = -1;

  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ClearLog() override { logLines = 0; }
  void AddLogLine(const std::string& line) override {
    Check(line.size() >= 38 && line.size() <= 54 && line[4] == ':'), ++logLines;
  }
  void SetGaugeMax(int max) override { gaugeMax = max; }
  // Within the maximum; 0 at the end of every transfer.
  void SetGaugeProgress(int position) override {
    Check(position == 0 || (position > 0 && position <= gaugeMax));
  }
  void Pause(int ms) override {
    Check(ms == kPauseLinkFailureMs || ms == kPauseTransferMs || ms == kPauseChipCommandMs),
        ++pauses;
  }
};

// Texts that differ only in their numbers (upper-case hex digits) match.
bool Like(std::string s, std::string model) {
  for (std::string* t : {&s, &model})
    for (char& c : *t)
      if (std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(c & 0xFF)) c = '0';
  return s == model;
}
bool In(const std::string& s, std::initializer_list<const char*> texts) {
  return std::find(texts.begin(), texts.end(), s) != texts.end();
}
bool IsMismatch(const std::string& s) { return Like(s, MismatchText(0, 0, 0)); }
bool IsSuccessText(const std::string& s) {
  for (const char* text : {kTextDeviceSignature, kTextMakerSignature, kTextVoltageSignature})
    if (Like(s, text + std::string("00H"))) return true;
  return In(
      s, {kTextWritten, kTextRead, kTextVerified, kTextErased, kTextLocked, kTextLockedFiveVolt});
}
bool IsKnownText(const std::string& s) {
  return IsSuccessText(s) || IsMismatch(s) ||
         In(s, {"", kTextReady, kTextLinkFailure, kTextNoChip, kTextTooLarge, kTextWriting,
                kTextReading, kTextVerifying, kTextNoSuchLock, kTextNoSuchSignature});
}

// The choices of the window's chip menu, in table order.
const std::vector<int> kChipChoices = [] {
  std::vector<int> codes;
  for (const ChipInfo& chip : AllChips())
    if (chip.menuCaption) codes.push_back(ToInt(chip.code));
  return codes;
}();
constexpr int kOperations = 11;

OpResult RunOp(int op, State& state, View& view) {
  if (op < 3) return (op == 0 ? ProgramChip : op == 1 ? ReadChip : VerifyChip)(state, view);
  // Erase, Lock1 .. LockAll; then the signatures: Device, Maker, Voltage.
  if (op < 8) return RunChipCommand(state, view, static_cast<ChipCommand>(op - 3));
  return ShowSignature(state, view, static_cast<Signature>(op - 8));
}

// Mode 0: empty, as after loading an empty file; 1: as at start-up (all 0xFF, ImageEnd 0); 2: a
// short program; 3: one byte anywhere, for long runs and images larger than the chip.
void MakeImage(Image& image, int mode, Input& input) {
  for (int a = 0, n = mode == 2 ? 1 + input.Next() % 64 : 0; a < n; ++a)
    image.MemoryImage[a] = input.Next();
  if (mode == 3) {
    const int high = input.Next() << 8, address = high | input.Next();
    image.MemoryImage[address] = input.Next() & 0xFE;
  }
  if (mode != 1) FindImageEnd(image);
}

// What one operation left behind must agree with what was exchanged.
void CheckOperation(int op, OpResult result, const State& state, const Image& before, int chipType,
                    const FuzzPort& port, const CheckingView& view) {
  const auto& ex = port.exchanges;
  const auto& texts = view.statuses;
  const bool linkFailure = result == OpResult::LinkFailure, success = result == OpResult::Success;
  Check(!state.link.IsOpen() && !port.IsOpen() && state.ChipType == chipType);
  Check(std::all_of(texts.begin(), texts.end(), IsKnownText));
  Check(linkFailure == (std::find(texts.begin(), texts.end(), kTextLinkFailure) != texts.end()));
  Check(view.pauses <= 1 && (linkFailure || view.pauses == 1));
  // " Gotowy..." ends it all, but a failed lock bit 3 keeps its failure message.
  Check(texts.back() == (linkFailure && op == 6 ? kTextLinkFailure : kTextReady));
  // Past an answered probe every path ends its traffic with an answered STOP, but an image too
  // large for a chosen chip sends nothing past the probe.
  if (!linkFailure)
    Check(!ex.empty() && ex.front().frame[0] == CMD_PROBE && ex.front().reply == kProbeAnswer);
  if (!linkFailure)
    Check((ex.back().frame[0] == CMD_STOP && ex.back().reply >= 0) ||
          (result == OpResult::TooLarge && ex.size() == 1));
  // Nothing follows an unanswered probe, a missing reply or a failed port.
  if (!ex.empty() && ex.front().reply != kProbeAnswer) Check(ex.size() == 1 && linkFailure);
  for (std::size_t i = 0; i < ex.size(); ++i)
    Check(ex[i].reply >= 0 || (i + 1 == ex.size() && linkFailure));

  // A result text may stand before a closing STOP that went unanswered; the failure then follows
  // it. The transfers write theirs only after that STOP.
  auto shown = [&](bool (*is)(const std::string&)) {
    return std::any_of(texts.begin(), texts.end(), is);
  };
  Check(success ? shown(IsSuccessText) : !shown(IsSuccessText) || (linkFailure && op > 2));
  Check(result == OpResult::Mismatch ? shown(IsMismatch) : !shown(IsMismatch) || linkFailure);
  const bool answered = !ex.empty() && ex.front().reply == kProbeAnswer;
  if (op != 1 || !answered)
    Check(state.image.MemoryImage == before.MemoryImage && state.image.ImageEnd == before.ImageEnd);

  // Data frames and what came back for them; addresses go 0, 1, 2, ... and a success covers them
  // all.
  int sequential = 0, next = 0;  // the 20-pin counter since the last START; the next address due
  for (const Exchange& e : ex) {
    const std::uint8_t c = e.frame[0];
    sequential = c == CMD_START ? 0 : sequential + (c == CMD_NEXT_ADDRESS);
    if (op > 2 || (c != CMD_WRITE_12V && c != CMD_WRITE_5V && c != CMD_READ && c != CMD_WRITE_20 &&
                   c != CMD_READ_20))
      continue;
    const int address =
        c == CMD_WRITE_20 || c == CMD_READ_20 ? sequential : (e.frame[1] << 8) | e.frame[2];
    Check(address == next++);
    if (op == 0) Check(e.frame[3] == before.MemoryImage[address]);
    if (e.reply < 0) continue;
    if (op == 0 && success) Check(e.reply == e.frame[3]);
    if (op == 1) Check(state.image.MemoryImage[address] == e.reply);
    if (op == 2 && success) Check(e.reply == before.MemoryImage[address]);
  }
  if (success && (op == 0 || op == 2)) Check(next == before.ImageEnd + 1);

  if (op == 1 && answered) {
    for (int a = next; a < kImageSize; ++a) Check(state.image.MemoryImage[a] == kEmptyByte);
    Image copy = state.image;
    FindImageEnd(copy);
    if (success || linkFailure) Check(copy.ImageEnd == state.image.ImageEnd);
    Check(view.logLines == (success && copy.ImageEnd >= 0 ? copy.ImageEnd / 16 + 1 : 0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input{data, size};
  // One declaration initialises its names in order.
  const int firstOp = input.Next() % kOperations,
            chipType = kChipChoices[input.Next() % kChipChoices.size()],
            secondOp = input.Next() % 16, flags = input.Next();

  auto owned = std::make_unique<FuzzPort>(input);
  FuzzPort& port = *owned;
  auto state =
      std::unique_ptr<State>(new State{Image{}, chipType, "COM2", Link(std::move(owned)), {}});
  state->link.SetReplyTimeout(0);
  MakeImage(state->image, (flags >> 1) & 3, input);

  const int ops[2] = {firstOp, secondOp < kOperations ? secondOp : -1};
  for (int i = 0; i < 2 && ops[i] >= 0; ++i) {
    port.failOpen = i == 0 && (flags & 1);
    const auto before = std::make_unique<Image>(state->image);
    CheckingView view;
    CheckOperation(ops[i], RunOp(ops[i], *state, view), *state, *before, chipType, port, view);
  }
  return 0;
}
