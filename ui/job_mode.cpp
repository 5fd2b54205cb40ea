#include "ui/job_mode.h"

#include "image/crc32.h"

namespace zelwik::ui {

std::unique_ptr<OpenJob> OpenJob::Open(const std::string& path, std::string& why) {
  std::unique_ptr<OpenJob> open(new OpenJob);
  const std::optional<Job> job = ReadJob(path, why);
  if (!job || !production::OpenJobRun(*job, path, open->run_, why)) return nullptr;
  open->job_ = *job;
  open->path_ = path;
  return open;
}

std::string OpenJob::JobLine() const {
  std::string line = run_.name;
  if (job_.image)
    line += "  CRC-32 " + Crc32Text(ImageCrc32(*run_.image)) + "  SHA-256 " +
            job_.image->sha256.substr(0, 8);
  return line;
}

std::string OpenJob::CounterLine() const {
  return "Dobre: " + std::to_string(passed_) + "  Złe: " + std::to_string(failed_) +
         "  Razem: " + std::to_string(passed_ + failed_);
}

bool LockedByJob(const OpenJob& job, Command command) {
  switch (command.action) {
    case Action::Load:
    case Action::Save:
    case Action::OpenRecent:
    case Action::SelectChip:
    case Action::OpenJob:
      return true;
    case Action::SelectPort:
    case Action::SelectListedPort:
      return !job.Port().empty();
    default:
      return false;
  }
}

}  // namespace zelwik::ui
