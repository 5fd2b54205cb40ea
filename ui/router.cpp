#include "ui/router.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "link/chips.h"
#include "ops/command_table.h"
#include "ops/file_formats.h"
#include "ops/hex_files.h"
#include "ops/operations.h"
#include "production/job_chip.h"

namespace zelwik::ui {
namespace {

// After a file load or save: long enough to read the count before " Gotowy..." replaces it.
constexpr int kFilePauseMs = 1000;

// A file name for the status line, whatever bytes it holds.
std::string Shown(const std::string& path) { return PlainText(FileNameOf(path), false); }

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
  if (settings_) {
    remembered_ = ReadRemembered(*settings_);
    state_.ChipType = remembered_.chip;
    const ChipInfo* chip = FindChip(remembered_.chip);
    shell_.SetChipLabel(chip && chip->label ? chip->label : "");
    // A port that is not there now stays chosen: the first operation says so.
    state_.PortName = remembered_.port;
    shell_.SetPortLabel(PortLabel(remembered_.port));
    if (!remembered_.folder.empty()) shell_.SetFileFolder(remembered_.folder);
    ShowRecentFiles();
  }
  if (!hexFile) return;
  // A job file given at start (a desktop shortcut, a file association) opens as Ctrl+J does.
  if (IsJobFileName(*hexFile)) {
    OpenJobFile(*hexFile);
    return runner_.Wait();
  }
  OpenFile(*hexFile, true);
  runner_.Wait();
  shell_.StartReadyTimer();
}

void Router::OpenDropped(const std::vector<std::string>& paths) {
  if (Busy() || paths.empty() || Locked({Action::Load})) return;
  std::string afterText;
  if (paths.size() > 1)
    afterText = " Upuszczono kilka plików; wczytano pierwszy: " + Shown(paths[0]);
  OpenFile(paths[0], false, afterText);
}

void Router::OpenFile(const std::string& given, bool startup, const std::string& afterText) {
  const std::string path = AbsolutePath(given);
  struct Outcome {
    bool loaded = false;
    std::optional<FileStamp> stamp;
  };
  auto outcome = std::make_shared<Outcome>();
  Image& image = state_.image;
  Operate(
      [&image, path, startup, afterText, outcome](View& v) {
        // Looked at before the read: a change while it reads shows at the next look.
        outcome->stamp = StampOfFile(path);
        outcome->loaded = LoadFileShown(image, path, v);
        if (outcome->loaded) v.AddLogLine(ChecksumText(image));
        // A refused file leaves its reason standing, and the image as it was.
        if (startup || (!outcome->loaded && FormatOfFile(path) != FileFormat::Hex)) return;
        if (outcome->loaded && !afterText.empty()) {
          v.Pause(kFilePauseMs);
          v.SetStatus(afterText);
        }
        v.Pause(kFilePauseMs);
        v.SetStatus(kTextReady);
      },
      [this, path, outcome] {
        if (outcome->loaded)
          Track(path, outcome->stamp);
        else if (FormatOfFile(path) == FileFormat::Hex)
          Untrack();  // a HEX file that failed half-way has left what it had in the image
      });
}

void Router::ReloadAndRun(const OperationEntry* operation) {
  struct Outcome {
    bool reloaded = false;
    std::optional<FileStamp> stamp;
  };
  auto outcome = std::make_shared<Outcome>();
  const std::string path = loaded_->path;
  State& s = state_;
  Operate(
      [&s, operation, path, outcome](View& v) {
        outcome->stamp = StampOfFile(path);
        const std::string name = Shown(path);
        if (!outcome->stamp) {
          v.SetStatus(" Brak pliku " + name + "; operacji nie rozpoczęto");
          return;
        }
        // Loaded whole or not at all: the chip never gets half of a file.
        if (const LoadResult result = LoadAnyFile(s.image, path); !result.Ok()) {
          v.SetStatus(" Plik " + name + ": " + RefusalText(result) + "; operacji nie rozpoczęto");
          return;
        }
        outcome->reloaded = true;
        v.ClearLog();
        ShowListing(s.image, v);
        v.AddLogLine(ChecksumText(s.image));
        v.SetStatus(" Plik " + name + " zmienił się na dysku: wczytano ponownie");
        v.Pause(kFilePauseMs);
        OperationOutput output;
        operation->run(s, v, output);
      },
      [this, path, outcome] {
        if (outcome->reloaded) Track(path, outcome->stamp);
      });
}

void Router::Track(const std::string& path, const std::optional<FileStamp>& stamp) {
  loaded_ = Loaded{path, stamp};
  AddRecentFile(remembered_.recent, path);
  remembered_.folder = FolderOf(path);
  Remember();
  ShowRecentFiles();
  shell_.SetFileFolder(remembered_.folder);
  shell_.SetTitle(WindowTitle(path));
}

void Router::Untrack() {
  if (!loaded_) return;
  loaded_.reset();
  shell_.SetTitle(WindowTitle(std::nullopt));
}

void Router::Remember() {
  // The job's own chip and port are not the user's choice: they go when the job does.
  if (!job_ || job_->Port().empty()) remembered_.port = state_.PortName;
  if (!job_) remembered_.chip = state_.ChipType;
  if (settings_) WriteRemembered(*settings_, remembered_);
}

void Router::ShowRecentFiles() {
  std::vector<std::string> captions;
  for (std::size_t i = 0; i < remembered_.recent.size(); ++i)
    captions.push_back(RecentFileCaption(i, remembered_.recent[i]));
  shell_.SetRecentFiles(captions);
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

void Router::Operate(OperationRunner::Job job, std::function<void()> after) {
  if (runner_.Busy()) return;
  after_ = std::move(after);
  runner_.Start(std::move(job),
                [this](const std::optional<std::string>& failure) { Ended(failure); });
}

void Router::Ended(const std::optional<std::string>& failure) {
  if (auto after = std::exchange(after_, {})) after();
  shell_.OperationEnded();
  if (readyTimerDue_) ReadyTimerDue();
  if (failure) shell_.ShowFailure(*failure);
}

void Router::OpenJobFile(const std::string& given) {
  if (Busy() || Locked({Action::OpenJob})) return;
  const std::string path = AbsolutePath(given);
  auto opened = std::make_shared<std::unique_ptr<OpenJob>>();
  Operate(
      [path, opened](View& v) {
        // The image is checked against the job here, before any programmer hears of it.
        std::string why;
        *opened = OpenJob::Open(path, why);
        if (!*opened) {
          // The status line is short: the job by its name, not its folder.
          if (why.rfind(path, 0) == 0) why.replace(0, path.size(), FileNameOf(path));
          return v.SetStatus(std::string(" ").append(PlainText(why, false, 400)));
        }
        const OpenJob& job = **opened;
        v.ClearLog();
        if (job.Definition().image) {
          ShowListing(job.JobImage(), v);
          v.AddLogLine(ChecksumText(job.JobImage()));
        }
        v.SetStatus(" Otwarto zadanie " + PlainText(job.Name(), false));
      },
      [this, opened] {
        if (*opened) EnterJob(std::move(*opened));
      });
}

void Router::EnterJob(std::unique_ptr<OpenJob> job) {
  job_ = std::move(job);
  Untrack();
  state_.ChipType = job_->ChipCode();
  const ChipInfo* chip = FindChip(state_.ChipType);
  shell_.SetChipLabel(chip && chip->label ? chip->label : "");
  if (!job_->Port().empty()) {
    state_.PortName = job_->Port();
    shell_.SetPortLabel(PortLabel(state_.PortName));
  }
  shell_.SetTitle(WindowTitle(job_->Path()));
  shell_.ShowJob(job_.get());
}

void Router::LeaveJob() {
  if (!job_) return;
  job_.reset();  // lets go of the serial counter and the log
  // The job's reply timeout stays with the job.
  state_.link.SetReplyTimeout(kDefaultReplyTimeoutMs);
  state_.ChipType = remembered_.chip;
  const ChipInfo* chip = FindChip(state_.ChipType);
  shell_.SetChipLabel(chip && chip->label ? chip->label : "");
  state_.PortName = remembered_.port;
  shell_.SetPortLabel(PortLabel(state_.PortName));
  shell_.SetTitle(WindowTitle(std::nullopt));
  shell_.ShowJob(nullptr);
  screen_.ShowStatus(kTextReady);
}

void Router::RunJobChip() {
  OpenJob& job = *job_;
  if (!job.Retired().empty()) return screen_.ShowStatus(" " + job.Retired());
  struct Outcome {
    production::ChipOutcome chip;
  };
  auto outcome = std::make_shared<Outcome>();
  State& s = state_;
  Operate(
      [&job, &s, outcome](View& v) {
        production::ChipContext context;
        context.port = s.PortName;
        outcome->chip = production::RunJobChip(job.Production(), s, v, context);
        // A number or a row that could not be kept: no more chips until the job is opened again.
        if (!outcome->chip.retire.empty()) v.SetStatus(" " + outcome->chip.retire);
      },
      [this, outcome] {
        if (!job_) return;
        job_->Count(outcome->chip.passed);
        if (!outcome->chip.retire.empty()) job_->Retire(outcome->chip.retire);
        shell_.ShowJob(job_.get());
      });
}

void Router::Run(Command command) {
  if (Busy() || Locked(command)) return;
  State& s = state_;
  if (job_ && command.action == Action::Operation && command.operation == FindOperation("program"))
    return RunJobChip();
  if (const OperationEntry* operation = command.operation;
      command.action == Action::Operation && operation && operation->run) {
    const bool fromFile = operation->file == FileUse::Load;
    if (fromFile && loaded_ && StampOfFile(loaded_->path) != loaded_->stamp)
      return ReloadAndRun(operation);
    // The image becomes the chip's: no file's any more.
    if (operation->file == FileUse::Save) Untrack();
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
      return OpenFile(*path, false);
    }
    case Action::Save: {
      auto chosen = shell_.AskSavePath();
      if (!chosen) return;
      const std::string path = AbsolutePath(*chosen);
      if (loaded_ && loaded_->path == path) {
        const auto now = StampOfFile(path);
        if (now && now != loaded_->stamp && !shell_.AskSaveOverChanged(Shown(path))) return;
      }
      struct Outcome {
        bool saved = false;
        std::optional<FileStamp> stamp;
      };
      auto outcome = std::make_shared<Outcome>();
      return Operate(
          [&s, path, outcome](View& v) {
            outcome->saved = SaveFileShown(s.image, path, v);
            if (outcome->saved) outcome->stamp = StampOfFile(path);
            v.Pause(kFilePauseMs);
            // A failed save leaves its message standing.
            if (outcome->saved) v.SetStatus(kTextReady);
          },
          [this, path, outcome] {
            if (outcome->saved) Track(path, outcome->stamp);
          });
    }
    case Action::OpenRecent: {
      if (command.arg < 0 || command.arg >= static_cast<int>(remembered_.recent.size())) return;
      const std::string path = remembered_.recent[static_cast<std::size_t>(command.arg)];
      if (!StampOfFile(path)) {
        std::erase(remembered_.recent, path);
        Remember();
        ShowRecentFiles();
        return screen_.ShowStatus(" Brak pliku " + Shown(path) + ": usunięto z ostatnich plików");
      }
      return OpenFile(path, false);
    }
    case Action::SelectChip: {
      s.ChipType = command.arg;
      const ChipInfo* chip = FindChip(command.arg);
      shell_.SetChipLabel(chip && chip->label ? chip->label : "");
      return Remember();
    }
    case Action::SelectPort:
      s.PortName = "COM" + std::to_string(command.arg);
      shell_.SetPortLabel("Com" + std::to_string(command.arg));
      return Remember();
    case Action::SelectListedPort: {
      if (command.arg < 0 || command.arg >= static_cast<int>(listedPorts_.size())) return;
      const PortMenuEntry& entry = listedPorts_[static_cast<std::size_t>(command.arg)];
      s.PortName = entry.device;
      shell_.SetPortLabel(entry.label);
      return Remember();
    }
    case Action::OpenJob: {
      auto path = shell_.AskJobPath();
      if (!path) return;
      return OpenJobFile(*path);
    }
    case Action::CloseJob:
      return LeaveJob();
    case Action::ResetJobCounters:
      if (!job_) return;
      job_->ResetCounters();
      return shell_.ShowJob(job_.get());
    case Action::Quit:
      return shell_.Quit();
    default:
      return;
  }
}

}  // namespace zelwik::ui
