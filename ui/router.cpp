#include "ui/router.h"

#include "link/chips.h"
#include "ops/hex_files.h"
#include "ops/operations.h"

namespace zelwik::ui {
namespace {

// After a file load or save: long enough to read the count before " Gotowy..." replaces it.
constexpr int kFilePauseMs = 1000;

}  // namespace

Router::Router(State& state, Screen& screen, Shell& shell, OperationRunner::PauseHook pause)
    : state_(state),
      screen_(screen),
      shell_(shell),
      runner_(
          screen, state.cancel, [&shell] { shell.Wake(); }, std::move(pause)) {}

void Router::Startup(const std::optional<std::string>& hexFile) {
  ClearImage(state_.image);
  if (!hexFile) return;
  Operate([&image = state_.image, path = *hexFile](View& v) { LoadHexFileShown(image, path, v); });
  runner_.Wait();
  shell_.StartTimer1();
}

const std::vector<PortMenuEntry>& Router::ListPorts() {
  listedPorts_ = ExtraPortEntries(ListSerialPorts(portRoots_));
  return listedPorts_;
}

void Router::Timer1Timer() {
  if (Busy()) {
    timer1Due_ = true;
    return;
  }
  timer1Due_ = false;
  screen_.ShowStatus(kTextReady);
  shell_.StopTimer1();
}

void Router::Operate(OperationRunner::Job job) {
  runner_.Start(std::move(job),
                [this](const std::optional<std::string>& failure) { Ended(failure); });
}

void Router::Ended(const std::optional<std::string>& failure) {
  shell_.OperationEnded();
  if (timer1Due_) Timer1Timer();
  if (failure) shell_.ShowFailure(*failure);
}

void Router::Run(Command command) {
  if (Busy()) return;
  State& s = state_;
  switch (command.action) {
    case Action::Program:
      return Operate([&s](View& v) { ProgramChip(s, v); });
    case Action::Read:
      return Operate([&s](View& v) { ReadChip(s, v); });
    case Action::Verify:
      return Operate([&s](View& v) { VerifyChip(s, v); });
    case Action::SignatureDevice:
      return Operate([&s](View& v) { ShowSignature(s, v, Signature::Device); });
    case Action::SignatureMaker:
      return Operate([&s](View& v) { ShowSignature(s, v, Signature::Maker); });
    case Action::SignatureVoltage:
      return Operate([&s](View& v) { ShowSignature(s, v, Signature::Voltage); });
    case Action::Erase:
      return Operate([&s](View& v) { RunChipCommand(s, v, ChipCommand::Erase); });
    case Action::Lock1:
      return Operate([&s](View& v) { RunChipCommand(s, v, ChipCommand::Lock1); });
    case Action::Lock2:
      return Operate([&s](View& v) { RunChipCommand(s, v, ChipCommand::Lock2); });
    case Action::Lock3:
      return Operate([&s](View& v) { RunChipCommand(s, v, ChipCommand::Lock3); });
    case Action::LockAll:
      return Operate([&s](View& v) { RunChipCommand(s, v, ChipCommand::LockAll); });
    case Action::Load: {
      // The dialogs belong to the window's thread: the path is chosen before the operation starts.
      auto path = shell_.AskOpenPath();
      if (!path) return;
      return Operate([&s, path = std::move(*path)](View& v) {
        LoadHexFileShown(s.image, path, v);
        v.Pause(kFilePauseMs);
        v.SetStatus(kTextReady);
      });
    }
    case Action::Save: {
      auto path = shell_.AskSavePath();
      if (!path) return;
      return Operate([&s, path = std::move(*path)](View& v) {
        const bool saved = SaveHexFileShown(s.image, path, v);
        v.Pause(kFilePauseMs);
        // A failed save leaves its message standing.
        if (saved) v.SetStatus(kTextReady);
      });
    }
    case Action::SelectChip: {
      s.ChipType = command.arg;
      const ChipInfo* chip = FindChip(command.arg);
      return shell_.SetChipLabel(chip && chip->label ? chip->label : "");
    }
    case Action::SelectPort:
      s.PortName = "COM" + std::to_string(command.arg);
      return shell_.SetPortLabel("Com" + std::to_string(command.arg));
    case Action::SelectListedPort: {
      if (command.arg < 0 || command.arg >= static_cast<int>(listedPorts_.size())) return;
      const PortMenuEntry& entry = listedPorts_[static_cast<std::size_t>(command.arg)];
      s.PortName = entry.device;
      return shell_.SetPortLabel(entry.label);
    }
    case Action::Quit:
      return shell_.Quit();
    case Action::None:
      return;
  }
}

}  // namespace zelwik::ui
