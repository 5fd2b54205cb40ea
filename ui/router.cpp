#include "ui/router.h"

#include "link/chips.h"
#include "ops/command_table.h"
#include "ops/hex_files.h"
#include "ops/operations.h"

namespace zelwik::ui {
namespace {

// After a file load or save: long enough to read the count before " Gotowy..." replaces it.
constexpr int kFilePauseMs = 1000;

// The window's operation commands by their names in the table every front end runs.
const OperationEntry* OperationFor(Action action) {
  static constexpr struct {
    Action action;
    const char* name;
  } kNames[] = {
      {Action::Program, "program"},
      {Action::Read, "read"},
      {Action::Verify, "verify"},
      {Action::SignatureDevice, "signature-device"},
      {Action::SignatureMaker, "signature-maker"},
      {Action::SignatureVoltage, "signature-voltage"},
      {Action::Erase, "erase"},
      {Action::Lock1, "lock1"},
      {Action::Lock2, "lock2"},
      {Action::Lock3, "lock3"},
      {Action::LockAll, "lock"},
  };
  for (const auto& entry : kNames)
    if (entry.action == action) return FindOperation(entry.name);
  return nullptr;
}

}  // namespace

Router::Router(State& state, Screen& screen, Shell& shell, OperationRunner::PauseHook pause)
    : state_(state),
      screen_(screen),
      shell_(shell),
      runner_(
          screen, state.cancel, [&shell] { shell.Wake(); }, std::move(pause),
          [&shell](std::chrono::milliseconds after) { shell.DrainAfter(after); }) {}

void Router::Startup(const std::optional<std::string>& hexFile) {
  ClearImage(state_.image);
  if (!hexFile) return;
  Operate([&image = state_.image, path = *hexFile](View& v) { LoadHexFileShown(image, path, v); });
  runner_.Wait();
  shell_.StartReadyTimer();
}

const std::vector<PortMenuEntry>& Router::ListPorts() {
  listedPorts_ = ExtraPortEntries(ListSerialPorts(portRoots_));
  return listedPorts_;
}

void Router::ReadyTimerDue() {
  if (Busy()) {
    readyTimerDue_ = true;
    return;
  }
  readyTimerDue_ = false;
  screen_.ShowStatus(kTextReady);
  shell_.StopReadyTimer();
}

void Router::Operate(OperationRunner::Job job) {
  runner_.Start(std::move(job),
                [this](const std::optional<std::string>& failure) { Ended(failure); });
}

void Router::Ended(const std::optional<std::string>& failure) {
  shell_.OperationEnded();
  if (readyTimerDue_) ReadyTimerDue();
  if (failure) shell_.ShowFailure(*failure);
}

void Router::Run(Command command) {
  if (Busy()) return;
  State& s = state_;
  if (const OperationEntry* operation = OperationFor(command.action)) {
    return Operate([&s, operation](View& v) {
      OperationOutput output;
      operation->run(s, v, output);
    });
  }
  switch (command.action) {
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
    default:
      return;
  }
}

}  // namespace zelwik::ui
