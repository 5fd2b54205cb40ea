#include "ui/router.h"

#include <exception>

#include "link/chips.h"
#include "ops/hex_files.h"
#include "ops/operations.h"

namespace zelwik::ui {
namespace {

// After a file load or save: long enough to read the count before " Gotowy..." replaces it.
constexpr int kFilePauseMs = 1000;

}  // namespace

Router::Router(State& state, View& view, Shell& shell)
    : state_(state), view_(view), shell_(shell) {}

void Router::Startup(const std::optional<std::string>& hexFile) {
  ClearImage(state_.image);
  if (!hexFile) return;
  LoadHexFileShown(state_.image, *hexFile, view_);
  shell_.StartTimer1();
}

const std::vector<PortMenuEntry>& Router::ListPorts() {
  listedPorts_ = ExtraPortEntries(ListSerialPorts(portRoots_));
  return listedPorts_;
}

void Router::Timer1Timer() {
  view_.SetStatus(kTextReady);
  shell_.StopTimer1();
}

template <typename Fn>
void Router::Operate(Fn&& operation) {
  busy_ = true;
  std::optional<std::string> failure;
  shell_.BeginOperation();
  try {
    operation();
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "?";
  }
  shell_.EndOperation();
  busy_ = false;
  if (failure) shell_.ShowFailure(*failure);
}

void Router::Run(Command command) {
  if (busy_) return;
  State& s = state_;
  View& v = view_;
  switch (command.action) {
    case Action::Program:
      return Operate([&] { ProgramChip(s, v); });
    case Action::Read:
      return Operate([&] { ReadChip(s, v); });
    case Action::Verify:
      return Operate([&] { VerifyChip(s, v); });
    case Action::SignatureDevice:
      return Operate([&] { ShowSignature(s, v, Signature::Device); });
    case Action::SignatureMaker:
      return Operate([&] { ShowSignature(s, v, Signature::Maker); });
    case Action::SignatureVoltage:
      return Operate([&] { ShowSignature(s, v, Signature::Voltage); });
    case Action::Erase:
      return Operate([&] { RunChipCommand(s, v, ChipCommand::Erase); });
    case Action::Lock1:
      return Operate([&] { RunChipCommand(s, v, ChipCommand::Lock1); });
    case Action::Lock2:
      return Operate([&] { RunChipCommand(s, v, ChipCommand::Lock2); });
    case Action::Lock3:
      return Operate([&] { RunChipCommand(s, v, ChipCommand::Lock3); });
    case Action::LockAll:
      return Operate([&] { RunChipCommand(s, v, ChipCommand::LockAll); });
    case Action::Load: {
      const auto path = shell_.AskOpenPath();
      if (!path) return;
      return Operate([&] {
        LoadHexFileShown(s.image, *path, v);
        v.Pause(kFilePauseMs);
        v.SetStatus(kTextReady);
      });
    }
    case Action::Save: {
      const auto path = shell_.AskSavePath();
      if (!path) return;
      return Operate([&] {
        const bool saved = SaveHexFileShown(s.image, *path, v);
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
