#include "cli/production.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/production_console.h"
#include "image/sha256.h"
#include "link/chips.h"
#include "link/commands.h"
#include "ops/operations.h"

namespace zelwik::cli {
namespace {

using Clock = std::chrono::steady_clock;

bool Stopping() { return InterruptGuard::Requested() != 0; }

// What a port did, for the totals and the exit status.
struct Tally {
  int passed = 0;
  int failed = 0;
  bool retired = false;  // the programmer stopped answering, or the log or the serials failed
};

// One programmer: chip after chip on its own link, each chip its serial number and steps, each
// step a log row.
class Port {
 public:
  Port(const ProductionJob& job, SharedConsole& console, std::size_t slot, bool prefixed)
      : job_(job),
        port_(job.ports[slot]),
        name_(PortShortName(port_)),
        view_(console, slot, prefixed ? name_ + ": " : "", DeviceForPort(port_)),
        state_(std::make_unique<State>()) {
    state_->PortName = port_;
    state_->ChipType = job.chip;
    if (job.timeoutMs) state_->link.SetReplyTimeout(*job.timeoutMs);
  }

  const std::string& Name() const { return name_; }
  const Tally& Result() const { return tally_; }
  State& StateOf() { return *state_; }

  // One chip through the job's steps, as the windows run it too.
  void RunChip() {
    production::ChipContext context;
    context.port = port_;
    context.detected = detected_;
    context.stopping = Stopping;
    context.stepStarts = [this] { view_.OperationStarts(); };
    const production::ChipOutcome chip = production::RunJobChip(job_, *state_, view_, context);
    if (chip.last == OpResult::LinkFailure) ReportPortFailure();
    if (!chip.retire.empty()) Retire(chip.retire);
    ++(chip.passed ? tally_.passed : tally_.failed);
    // A programmer that went silent mid-chip does not come back by itself.
    if (chip.last == OpResult::LinkFailure && job_.repeat != Repeat::Once) tally_.retired = true;
  }

  // --repeat=auto: waits until the socket has been seen empty and then reads the same chip twice
  // in a row. False when the run is stopped or the programmer is gone (which retires the port).
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
    if (!answered && !Stopping())
      Retire("the programmer does not answer; no more chips on this port");
    return false;
  }

 private:
  void Retire(const std::string& why) {
    view_.Error(why);
    tally_.retired = true;
  }

  // Waits, ending early on a stop; false when stopped.
  static bool Sleep(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
      if (Stopping()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !Stopping();
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
  std::unique_ptr<State> state_;  // the image is 64 KiB: off the stack
  std::string detected_;
  Tally tally_;
};

// When a port takes its next chip.
class NextChip {
 public:
  virtual ~NextChip() = default;
  // Before every chip, the first included; false ends the port's sequence.
  virtual bool Ready(Port& port, bool first) = 0;
  // The port takes no more chips.
  virtual void Leave() {}
};

class OneChip final : public NextChip {
 public:
  bool Ready(Port&, bool first) override { return first; }
};

// Each port its own sequence: a chip as soon as its socket holds a new one. A chip already in
// the socket at the start is the first one.
class ChipInSocket final : public NextChip {
 public:
  bool Ready(Port& port, bool first) override { return !Stopping() && port.WaitForChip(first); }
};

// One question for all the ports, once every port still running has done its chip.
class EnterPressed final : public NextChip {
 public:
  EnterPressed(std::size_t ports, ChipPrompt* prompt, SharedConsole& console)
      : waiting_(ports), prompt_(prompt), console_(console) {}

  bool Ready(Port&, bool first) override {
    if (first) return !Stopping();
    std::unique_lock<std::mutex> hold(mutex_);
    const long round = round_;
    if (++arrived_ == waiting_) {
      Ask(hold);
    } else {
      answered_.wait(hold, [&] { return round_ != round; });
    }
    return go_;
  }

  void Leave() override {
    std::unique_lock<std::mutex> hold(mutex_);
    --waiting_;
    if (waiting_ > 0 && arrived_ == waiting_) Ask(hold);
  }

 private:
  // Called by the last port to arrive, with the lock held.
  void Ask(std::unique_lock<std::mutex>& hold) {
    arrived_ = 0;
    hold.unlock();
    bool go = false;
    if (!Stopping() && prompt_) {
      console_.Line(true, kTextNextChip);
      const std::optional<std::string> answer = prompt_->ReadLine();
      go = answer && !Stopping() &&
           (answer->empty() || ((*answer)[0] != 'q' && (*answer)[0] != 'Q'));
    }
    hold.lock();
    go_ = go;
    ++round_;
    answered_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable answered_;
  std::size_t waiting_;
  std::size_t arrived_ = 0;
  long round_ = 0;
  bool go_ = true;
  ChipPrompt* prompt_;
  SharedConsole& console_;
};

std::unique_ptr<NextChip> PolicyFor(const ProductionJob& job, ProductionIo& io,
                                    SharedConsole& console) {
  switch (job.repeat) {
    case Repeat::Prompt:
      return std::make_unique<EnterPressed>(job.ports.size(), io.prompt, console);
    case Repeat::Auto:
      return std::make_unique<ChipInSocket>();
    case Repeat::Once:
      break;
  }
  return std::make_unique<OneChip>();
}

// The one loop every port runs, whatever the repeat mode.
void RunPort(Port& port, NextChip& next) {
  for (bool first = true; next.Ready(port, first); first = false) {
    port.RunChip();
    if (port.Result().retired || Stopping()) break;
  }
  next.Leave();
}

}  // namespace

std::string PortShortName(const std::string& port) {
  if (port.rfind("/dev/", 0) == 0) return port.substr(5);
  const std::size_t slash = port.find_last_of("/\\");
  return slash == std::string::npos ? port : port.substr(slash + 1);
}

int RunProduction(const ProductionJob& job, ProductionIo& io) {
  // Every port's state must be in the handler's reach, or Ctrl+C could neither stop it nor put
  // its line back.
  if (job.ports.size() > InterruptGuard::kMaxStates) {
    io.err << "zelwik-cli: at most " << InterruptGuard::kMaxStates << " ports, not "
           << job.ports.size() << "\n";
    return kExitUsage;
  }
  SharedConsole console(io, job.ports.size());
  const bool several = job.ports.size() > 1;
  std::vector<std::unique_ptr<Port>> ports;
  std::vector<State*> states;
  for (std::size_t i = 0; i < job.ports.size(); ++i) {
    ports.push_back(std::make_unique<Port>(job, console, i, several));
    console.Name(i, ports.back()->Name());
    states.push_back(&ports.back()->StateOf());
  }
  const std::unique_ptr<NextChip> next = PolicyFor(job, io, console);
  int status = 0;
  {
    // Ctrl+C from here on stops the operations between two exchanges, or with a repeat lets the
    // chips in hand finish, and the totals are still shown. The guard goes before the ports.
    const InterruptGuard interrupts(states, job.repeat == Repeat::Once
                                                ? InterruptGuard::First::StopOperations
                                                : InterruptGuard::First::FinishChips);
    if (ports.size() == 1) {
      RunPort(*ports.front(), *next);
    } else {
      std::vector<std::thread> threads;
      for (auto& port : ports) threads.emplace_back([&next, &port] { RunPort(*port, *next); });
      for (std::thread& thread : threads) thread.join();
    }
    status = interrupts.ExitStatus();
  }

  bool success = true;
  for (const auto& port : ports) {
    const Tally& t = port->Result();
    if (t.failed > 0 || t.retired || t.passed == 0) success = false;
    if (several || job.repeat != Repeat::Once)
      console.Line(false, port->Name() + ": passed " + std::to_string(t.passed) + ", failed " +
                              std::to_string(t.failed) + (t.retired ? ", stopped" : ""));
  }
  if (status != 0) return status;
  return success ? kExitSuccess : kExitFailure;
}

}  // namespace zelwik::cli
