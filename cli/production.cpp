#include "cli/production.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "cli/command_line.h"
#include "cli/console_view.h"
#include "cli/interrupt.h"
#include "image/sha256.h"
#include "link/chips.h"
#include "link/commands.h"
#include "link/port_list.h"
#include "ops/operations.h"

namespace zelwik::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Standard output, standard error and the progress line, shared by the ports' threads: every
// line is written whole under one lock, with the progress line taken away before and drawn again
// after it.
class SharedConsole {
 public:
  SharedConsole(ProductionIo& io, std::size_t ports)
      : io_(io), slots_(ports), single_(ports == 1 ? io.progress : nullptr) {}

  void Line(bool error, const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    Erase();
    (error ? io_.err : io_.out) << text << '\n' << std::flush;
    Draw(true);
  }
  void Name(std::size_t slot, const std::string& name) { slots_[slot].name = name; }
  void Start(std::size_t slot, int total) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (slots_.size() == 1) return single_.Start(total);
    slots_[slot] = {slots_[slot].name, 0, total, total > 0};
    Draw(true);
  }
  void Update(std::size_t slot, int done) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (slots_.size() == 1) return single_.Update(done);
    if (!slots_[slot].active) return;
    slots_[slot].done = std::clamp(done, 0, slots_[slot].total);
    // The last step is always drawn: the bar ends full.
    Draw(slots_[slot].done == slots_[slot].total);
  }
  void Stop(std::size_t slot) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (slots_.size() == 1) return single_.Stop();
    if (!slots_[slot].active) return;
    slots_[slot].active = false;
    Erase();
    Draw(true);
  }

 private:
  struct Slot {
    std::string name;
    int done = 0, total = 0;
    bool active = false;
  };

  void Erase() {
    if (slots_.size() == 1) return single_.Clear();
    if (drawn_) *io_.progress << "\r\x1b[K" << std::flush;
    drawn_ = false;
  }
  // Several ports: each port's share in per cent (one port has the bar of a single command).
  void Draw(bool now) {
    if (!io_.progress || slots_.size() == 1) return;
    const auto time = Clock::now();
    if (!now && time - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = time;
    std::string line;
    char part[128];
    for (const Slot& s : slots_) {
      if (!s.active) continue;
      std::snprintf(part, sizeof part, "%s%s %3d%%", line.empty() ? "" : "  ", s.name.c_str(),
                    static_cast<int>(static_cast<long long>(s.done) * 100 / s.total));
      line += part;
    }
    if (line.empty()) return Erase();
    *io_.progress << '\r' << line << "\x1b[K" << std::flush;
    drawn_ = true;
  }

  ProductionIo& io_;
  std::mutex mutex_;
  std::vector<Slot> slots_;
  ProgressBar single_;
  bool drawn_ = false;
  Clock::time_point lastDraw_;
};

// One port's view: its lines prefixed with its name when there are several ports, its share of
// the progress line, and the message an operation ended with, for the log.
class PortView : public View {
 public:
  PortView(SharedConsole& console, std::size_t slot, std::string prefix, const std::string& device)
      : console_(console),
        slot_(slot),
        prefix_(std::move(prefix)),
        slowLink_(warnings_, LatencyTimerAdvice(device)) {}

  void OperationStarts() { slowLink_.OperationStarts(); }

  void SetStatus(const std::string& text) override {
    console_.Stop(slot_);
    if (text.empty()) return;
    console_.Line(false, prefix_ + text);
    if (text != kTextReady) message_ = text;
  }
  void ClearLog() override {}
  void AddLogLine(const std::string&) override {}
  void SetGaugeMax(int max) override {
    console_.Start(slot_, max + 1);
    if (slowLink_.TransferStarts(max + 1)) Warned();
  }
  void SetGaugeProgress(int position) override {
    // The warning first, so that the bar is drawn again below it.
    if (slowLink_.TransferAt(position + 1)) Warned();
    console_.Update(slot_, position + 1);
  }
  void Pause(int) override {}
  void LinkPace(double msPerExchange) override {
    if (slowLink_.Pace(msPerExchange)) Warned();
  }

  void Error(const std::string& text) { console_.Line(true, "zelwik-cli: " + prefix_ + text); }
  void Note(const std::string& text) { console_.Line(false, prefix_ + text); }
  std::string TakeMessage() { return std::exchange(message_, {}); }

 private:
  // The slow-link warning's lines, each written whole with the port's name.
  void Warned() {
    std::istringstream lines(warnings_.str());
    warnings_.str({});
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("zelwik-cli: ", 0) == 0)
        Error(line.substr(12));
      else
        console_.Line(true, prefix_ + line);
    }
  }

  SharedConsole& console_;
  std::size_t slot_;
  std::string prefix_;
  std::string message_;
  std::ostringstream warnings_;
  SlowLinkWarning slowLink_;
};

const char* ResultName(OpResult result) {
  switch (result) {
    case OpResult::Success:
      return "ok";
    case OpResult::LinkFailure:
      return "link-failure";
    case OpResult::NoChip:
      return "no-chip";
    case OpResult::TooLarge:
      return "too-large";
    case OpResult::Mismatch:
      return "mismatch";
    case OpResult::NotSupported:
      return "not-supported";
    case OpResult::Cancelled:
      return "cancelled";
  }
  return "failed";
}

// What a port did, for the totals and the exit status.
struct Tally {
  int passed = 0;
  int failed = 0;
  bool lost = false;  // the programmer stopped answering, or the log or the serials failed
};

class PortWorker {
 public:
  PortWorker(const ProductionJob& job, SharedConsole& console, std::size_t slot, bool prefixed,
             std::function<bool()> stopping)
      : job_(job),
        port_(job.ports[slot]),
        name_(PortShortName(port_)),
        view_(console, slot, prefixed ? name_ + ": " : "", DeviceForPort(port_)),
        stopping_(std::move(stopping)),
        state_(std::make_unique<State>()) {
    state_->PortName = port_;
    state_->ChipType = job.chip;
    if (job.timeoutMs) state_->link.SetReplyTimeout(*job.timeoutMs);
    if (job.image) {
      fileSha_ = Sha256Hex(job.image->MemoryImage.data(),
                           static_cast<std::size_t>(job.image->ImageEnd + 1));
      fileBytes_ = job.image->ImageEnd + 1;
    }
  }

  const std::string& Name() const { return name_; }
  const Tally& Result() const { return tally_; }
  bool Stopping() const { return stopping_(); }
  State& StateOf() { return *state_; }

  // One chip: its serial number, the command, then the verify pass and the lock bit.
  void RunChip() {
    std::string serial;
    if (job_.image) state_->image = *job_.image;
    if (job_.serials) {
      std::string why;
      const std::optional<std::uint64_t> number = job_.serials->Take(why);
      if (!number) {
        view_.Error(why);
        tally_.lost = true;
        return;
      }
      serial = std::to_string(*number);
      const std::vector<std::uint8_t> bytes = EncodeSerial(*job_.serial, *number);
      std::copy(bytes.begin(), bytes.end(),
                state_->image.MemoryImage.begin() + job_.serial->address);
      state_->image.ImageEnd =
          std::max(state_->image.ImageEnd, job_.serial->address + job_.serial->width - 1);
    }
    bool ok = Step(*job_.operation, serial);
    if (ok && job_.verify) ok = Step(*job_.verify, serial);
    if (ok && job_.lock) ok = Step(*job_.lock, serial);
    ++(ok ? tally_.passed : tally_.failed);
  }

  // --repeat=auto: waits until the socket has been seen empty and then reads the same chip twice
  // in a row. False when the run is stopped or the programmer is gone.
  bool WaitForChip(bool seenEmpty) {
    Link& link = state_->link;
    bool answered = false;
    try {
      answered = link.OpenLink(port_) && link.Probe() == kProbeAnswer;
      ChipCode last = ChipCode::Detect;
      while (answered) {
        const ChipCode code = DetectChip(link);
        if (code == ChipCode::Detect) {
          seenEmpty = true;
        } else if (seenEmpty && code == last) {
          link.CloseLink();
          const ChipInfo* chip = FindChip(ToInt(code));
          detected_ = chip && chip->cliName ? chip->cliName : job_.chipName;
          return true;
        }
        last = code;
        if (!Sleep(job_.pollMs)) break;
      }
    } catch (const LinkFault&) {
      answered = false;
    } catch (const OperationCancelled&) {
      answered = true;
    }
    link.CloseLink();
    if (!answered && !Stopping()) {
      view_.Error("the programmer does not answer; no more chips on this port");
      tally_.lost = true;
    }
    return false;
  }

  // A programmer that went silent mid-chip does not come back by itself.
  bool ProgrammerLost() {
    if (lastResult_ == OpResult::LinkFailure) tally_.lost = true;
    return tally_.lost;
  }

 private:
  // Waits, ending early on a stop; false when stopped.
  bool Sleep(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
      if (Stopping()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !Stopping();
  }

  bool Step(const OperationEntry& operation, const std::string& serial) {
    view_.TakeMessage();
    const auto start = Clock::now();
    OperationOutput output;
    view_.OperationStarts();
    const OpResult result = operation.run(*state_, view_, output);
    lastResult_ = result;
    // Stopped without a chip after it: the result is not what was asked for.
    if (Stopping() && job_.repeat == Repeat::Once && result != OpResult::Cancelled)
      view_.SetStatus(kTextCancelled);
    if (result == OpResult::LinkFailure) ReportPortFailure();
    LogRecord record;
    record.message = view_.TakeMessage();
    record.result = ResultName(result);
    bool ok = result == OpResult::Success;
    if (ok && operation.file == FileUse::Save && Stopping()) {
      ok = false;  // a read stopped saves nothing
    } else if (ok && operation.file == FileUse::Save &&
               !SaveImage(state_->image, job_.file, job_.format, output.chipSize, view_)) {
      ok = false;
      record.result = "save-failed";
      record.message = view_.TakeMessage();
    }
    record.time = LocalTimestamp();
    record.port = port_;
    // What the socket's signature said, when the chip was left to detection.
    record.chip = job_.chip == 0 && !detected_.empty() ? detected_ : job_.chipName;
    record.command = operation.name;
    if (operation.file == FileUse::Load) {
      record.file = job_.file;
      record.sha256 = fileSha_;
      record.bytes = fileBytes_;
    } else if (operation.file == FileUse::Save) {
      record.file = job_.file;
      if (output.chipSize > 0) {
        record.sha256 =
            Sha256Hex(state_->image.MemoryImage.data(), static_cast<std::size_t>(output.chipSize));
        record.bytes = output.chipSize;
      }
    }
    record.serial = serial;
    record.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::string why;
    if (job_.log && !job_.log->Write(record, why)) {
      // A record that cannot be kept stops this port: nothing may be programmed unrecorded.
      view_.Error("cannot write the log: " + why);
      tally_.lost = true;
      return false;
    }
    return ok;
  }

  void ReportPortFailure() {
    const Link& link = state_->link;
    if (link.LastError().empty()) return;
    view_.Error("cannot open " + link.LastDevice() + ": " + link.LastError());
    if (link.LastErrno() == EACCES)
      view_.Error(
          "add your user to the 'dialout' group (sudo usermod -aG dialout $USER) "
          "and log in again");
  }

  const ProductionJob& job_;
  std::string port_, name_;
  PortView view_;
  std::function<bool()> stopping_;
  std::unique_ptr<State> state_;  // the image is 64 KiB: off the stack
  std::string fileSha_;
  long long fileBytes_ = -1;
  std::string detected_;
  Tally tally_;
  OpResult lastResult_ = OpResult::Success;
};

template <typename Fn>
void OnEveryPort(std::vector<std::unique_ptr<PortWorker>>& workers, Fn fn) {
  if (workers.size() == 1) return fn(*workers.front());
  std::vector<std::thread> threads;
  for (auto& worker : workers) threads.emplace_back([&fn, &worker] { fn(*worker); });
  for (std::thread& thread : threads) thread.join();
}

// The answer to the prompt, read on a thread of its own: the signal handlers restart reads, so
// Ctrl+C at the prompt would otherwise wait for Enter. Nothing at the end of the input or on a
// stop; a reader left waiting then ends with the process.
std::optional<std::string> AskNextChip(std::istream* in, const std::function<bool()>& stopping) {
  if (!in) return std::nullopt;
  struct Answer {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    bool read = false;
    std::string line;
  };
  auto answer = std::make_shared<Answer>();
  std::thread([answer, in] {
    std::string line;
    const bool read = static_cast<bool>(std::getline(*in, line));
    std::lock_guard<std::mutex> hold(answer->mutex);
    answer->line = std::move(line);
    answer->read = read;
    answer->done = true;
    answer->ready.notify_one();
  }).detach();
  std::unique_lock<std::mutex> hold(answer->mutex);
  while (
      !answer->ready.wait_for(hold, std::chrono::milliseconds(50), [&] { return answer->done; })) {
    if (stopping()) return std::nullopt;
  }
  if (!answer->read || stopping()) return std::nullopt;
  return answer->line;
}

}  // namespace

std::string PortShortName(const std::string& port) {
  if (port.rfind("/dev/", 0) == 0) return port.substr(5);
  const std::size_t slash = port.find_last_of("/\\");
  return slash == std::string::npos ? port : port.substr(slash + 1);
}

int RunProduction(const ProductionJob& job, ProductionIo& io) {
  SharedConsole console(io, job.ports.size());
  const bool several = job.ports.size() > 1;
  std::vector<std::unique_ptr<PortWorker>> workers;
  std::unique_ptr<InterruptGuard> guard;
  const auto stopping = [&guard] { return guard && guard->ExitStatus() != 0; };
  std::vector<State*> states;
  for (std::size_t i = 0; i < job.ports.size(); ++i) {
    workers.push_back(std::make_unique<PortWorker>(job, console, i, several, stopping));
    console.Name(i, workers.back()->Name());
    states.push_back(&workers.back()->StateOf());
  }
  // Ctrl+C from here on stops the operations between two exchanges, or with a repeat lets the
  // chips in hand finish, and the totals are still shown.
  guard = std::make_unique<InterruptGuard>(states, job.repeat == Repeat::Once
                                                       ? InterruptGuard::First::StopOperations
                                                       : InterruptGuard::First::FinishChips);
  const InterruptGuard& interrupts = *guard;

  switch (job.repeat) {
    case Repeat::Once:
      OnEveryPort(workers, [](PortWorker& w) { w.RunChip(); });
      break;
    case Repeat::Prompt:
      // One prompt for all the ports: each round takes a chip on every one of them.
      for (;;) {
        OnEveryPort(workers, [](PortWorker& w) {
          if (!w.Result().lost) w.RunChip();
        });
        if (interrupts.ExitStatus() != 0 ||
            std::all_of(workers.begin(), workers.end(), [](auto& w) { return w->Result().lost; }))
          break;
        console.Line(true, kTextNextChip);
        const std::optional<std::string> answer = AskNextChip(io.in, stopping);
        if (!answer || (!answer->empty() && ((*answer)[0] == 'q' || (*answer)[0] == 'Q'))) break;
      }
      break;
    case Repeat::Auto:
      // Each port its own sequence: a chip as soon as its socket holds a new one.
      OnEveryPort(workers, [](PortWorker& w) {
        bool seenEmpty = true;  // a chip already in the socket at the start is the first one
        while (!w.Stopping() && !w.Result().lost && w.WaitForChip(seenEmpty)) {
          w.RunChip();
          if (w.ProgrammerLost()) break;
          seenEmpty = false;
        }
      });
      break;
  }

  bool success = true;
  for (const auto& worker : workers) {
    const Tally& t = worker->Result();
    if (t.failed > 0 || t.lost || t.passed == 0) success = false;
    if (several || job.repeat != Repeat::Once)
      console.Line(false, worker->Name() + ": passed " + std::to_string(t.passed) + ", failed " +
                              std::to_string(t.failed) + (t.lost ? ", stopped" : ""));
  }
  if (const int status = interrupts.ExitStatus()) return status;
  return success ? kExitSuccess : kExitFailure;
}

}  // namespace zelwik::cli
