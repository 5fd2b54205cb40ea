#pragma once

#include <memory>
#include <string>

#include "job/job_file.h"
#include "production/job_run.h"
#include "ui/window_description.h"

namespace zelwik::ui {

// A job opened in a window: the operator runs its steps on the chip in the socket and sees how
// many passed. The serial counter's lock and the log are held from the opening to the closing, so
// an unusable counter or log is refused before any chip, and a second run cannot take numbers
// from under an operator who has the job open.
class OpenJob {
 public:
  // Reads the job, loads and checks its image (nothing sent to a programmer) and opens its
  // counter and log. nullptr with the reason, which names the job file.
  static std::unique_ptr<OpenJob> Open(const std::string& path, std::string& why);

  const Job& Definition() const { return job_; }
  const std::string& Path() const { return path_; }
  const std::string& Name() const { return run_.name; }
  const Image& JobImage() const { return *run_.image; }
  // The steps as RunJobChip takes them.
  const production::ProductionJob& Production() const { return run_.job; }
  // The port the window uses: the first the job names; empty when it names none.
  std::string Port() const { return job_.ports.empty() ? std::string() : job_.ports.front(); }
  int ChipCode() const { return run_.job.chip; }

  // Chips since the job was opened or the counters were reset.
  int Passed() const { return passed_; }
  int Failed() const { return failed_; }
  void Count(bool passed) { ++(passed ? passed_ : failed_); }
  void ResetCounters() { passed_ = failed_ = 0; }
  // Why the job takes no more chips (a counter or a log that failed); empty while it does.
  const std::string& Retired() const { return retired_; }
  void Retire(const std::string& why) { retired_ = why; }

  // "Brama v1.3  CRC-32 1A2B3C4D  SHA-256 9f86d081": the name, and the checksums as people
  // compare them by eye.
  std::string JobLine() const;
  // "Dobre: 3  Złe: 1  Razem: 4".
  std::string CounterLine() const;

 private:
  OpenJob() = default;

  Job job_;
  std::string path_;
  production::JobRun run_;
  int passed_ = 0, failed_ = 0;
  std::string retired_;
};

// What a window may not do while a job is open: the chip and file commands, another job, and the
// port when the job names one.
bool LockedByJob(const OpenJob& job, Command command);

}  // namespace zelwik::ui
