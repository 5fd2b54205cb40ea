#include "production/job_chip.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "image/sha256.h"
#include "link/chips.h"
#include "ops/texts.h"

namespace zelwik::production {
namespace {

using Clock = std::chrono::steady_clock;

// Passes everything on, keeping the last status an operation showed for its log row, and stamps
// the serial number at the erase.
class ChipView final : public View {
 public:
  ChipView(View& inner, const ProductionJob& job, State& state, ChipOutcome& outcome)
      : inner_(inner), job_(job), state_(state), outcome_(outcome) {}

  void SetStatus(const std::string& text) override {
    inner_.SetStatus(text);
    if (!text.empty() && text != kTextReady) message_ = text;
  }
  void ClearLog() override { inner_.ClearLog(); }
  void AddLogLine(const std::string& line) override { inner_.AddLogLine(line); }
  void SetGaugeMax(int max) override { inner_.SetGaugeMax(max); }
  void SetGaugeProgress(int position) override { inner_.SetGaugeProgress(position); }
  void Pause(int milliseconds) override { inner_.Pause(milliseconds); }
  void LinkPace(double msPerExchange) override { inner_.LinkPace(msPerExchange); }
  bool BeforeErase(const ChipInfo& chip) override {
    return (!job_.serials || Stamp(chip)) && inner_.BeforeErase(chip);
  }

  std::string TakeMessage() { return std::exchange(message_, {}); }

 private:
  // The chip is there and about to be erased: its number, on the disk before the chip is touched.
  bool Stamp(const ChipInfo& chip) {
    const SerialLayout& layout = *job_.serial;
    if (layout.address + layout.width > chip.memorySize) {
      outcome_.retire = "--serial: the number does not fit in the chip's " +
                        std::to_string(chip.memorySize) + " bytes";
      return false;
    }
    std::string why;
    const std::optional<std::uint64_t> number = job_.serials->Take(why);
    if (!number) {
      outcome_.retire = why;
      return false;
    }
    outcome_.serial = std::to_string(*number);
    const std::vector<std::uint8_t> bytes = EncodeSerial(layout, *number);
    Image& image = state_.image;
    std::copy(bytes.begin(), bytes.end(), image.MemoryImage.begin() + layout.address);
    image.ImageEnd = std::max(image.ImageEnd, layout.address + layout.width - 1);
    return true;
  }

  View& inner_;
  const ProductionJob& job_;
  State& state_;
  ChipOutcome& outcome_;
  std::string message_;
};

}  // namespace

ChipOutcome RunJobChip(const ProductionJob& job, State& state, View& view,
                       const ChipContext& context) {
  ChipOutcome outcome;
  ChipView shown(view, job, state, outcome);
  const auto stopping = [&] {
    return context.stopping ? context.stopping() : state.cancel.Requested();
  };
  state.ChipType = job.chip;
  if (job.timeoutMs) state.link.SetReplyTimeout(*job.timeoutMs);
  std::string fileSha;
  long long fileBytes = -1;
  if (job.image) {
    state.image = *job.image;
    fileBytes = job.image->ImageEnd + 1;
    fileSha = Sha256Hex(job.image->MemoryImage.data(), static_cast<std::size_t>(fileBytes));
  }
  for (const OperationEntry* operation : job.steps) {
    shown.TakeMessage();
    const auto start = Clock::now();
    OperationOutput output;
    if (context.stepStarts) context.stepStarts();
    StepOutcome o;
    o.result = outcome.last = operation->run(state, shown, output);
    o.stopped = stopping();
    o.message = shown.TakeMessage();
    o.fileUse = operation->file;
    o.file = job.file;
    o.fileSha256 = fileSha;
    o.fileBytes = fileBytes;
    if (operation->file == FileUse::Save && o.result == OpResult::Success && !o.stopped) {
      const bool saved = job.saveRead && job.saveRead(state.image, output.chipSize, shown);
      o.save = saved ? StepOutcome::Save::Written : StepOutcome::Save::Failed;
      if (!saved) o.message = shown.TakeMessage();
      o.chipSha256 =
          Sha256Hex(state.image.MemoryImage.data(), static_cast<std::size_t>(output.chipSize));
      o.chipBytes = output.chipSize;
    }
    o.time = LocalTimestamp();
    o.port = context.port;
    o.chip = job.chip == 0 && !context.detected.empty() ? context.detected : job.chipName;
    o.command = operation->name;
    o.serial = outcome.serial;
    o.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    const LogRecord row = StepRow(o);
    if (row.message != o.message) view.SetStatus(row.message);
    std::string why;
    if (job.log && !job.log->Write(row, why)) {
      // A record that cannot be kept stops the port: nothing may be programmed unrecorded.
      outcome.retire = "cannot write the log: " + why;
      return outcome;
    }
    if (row.result != "ok" || !outcome.retire.empty()) return outcome;
  }
  outcome.passed = true;
  return outcome;
}

}  // namespace zelwik::production
