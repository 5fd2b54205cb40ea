#include "ui/job_mode.h"

#include "image/crc32.h"
#include "link/chips.h"

namespace zelwik::ui {

std::unique_ptr<OpenJob> OpenJob::Open(const std::string& path, std::string& why) {
  std::unique_ptr<OpenJob> open(new OpenJob);
  OpenJob& o = *open;
  const std::optional<Job> job = ReadJob(path, why);
  if (!job) return nullptr;
  o.job_ = *job;
  o.path_ = path;
  o.name_ = JobName(o.job_, path);
  // A job never detects its chip: the reader refuses one without a chip it knows.
  const ChipInfo* chip = FindChipByName(o.job_.chip);
  if (!chip) {
    why = path + ": chip: '" + o.job_.chip + "' is not a chip";
    return nullptr;
  }
  ClearImage(*o.image_);
  if (!CheckJobImage(o.job_, path, *o.image_, why)) return nullptr;

  production::ProductionJob& p = o.production_;
  for (const JobStep step : o.job_.steps) p.steps.push_back(&StepOperation(step));
  p.ports = o.job_.ports;
  p.chip = ToInt(chip->code);
  p.chipName = o.job_.chip;
  p.timeoutMs = o.job_.timeoutMs;
  p.name = o.name_;
  if (o.job_.image) {
    p.file = JobFilePath(path, o.job_.image->file);
    p.format = static_cast<FileFormat>(o.job_.image->format);  // the same three, in one order
    p.image = o.image_.get();
  }
  if (o.job_.serial) {
    std::string layoutWhy;
    p.serial = ParseSerialLayout(o.job_.serial->layout, layoutWhy, "serial.layout");
    if (!p.serial) {
      why = path + ": " + layoutWhy;
      return nullptr;
    }
    std::string counterWhy;
    if (!o.serials_.Open(JobFilePath(path, o.job_.serial->file), *p.serial, counterWhy)) {
      why = path + ": serial numbers: " + counterWhy;
      return nullptr;
    }
    p.serials = &o.serials_;
  }
  if (!o.job_.log.empty()) {
    std::string logWhy;
    if (!o.log_.Open(JobFilePath(path, o.job_.log), logWhy)) {
      why = path + ": cannot write the log " + logWhy;
      return nullptr;
    }
    p.log = &o.log_;
  }
  return open;
}

std::string OpenJob::JobLine() const {
  std::string line = name_;
  if (job_.image)
    line += "  CRC-32 " + Crc32Text(ImageCrc32(*image_)) + "  SHA-256 " +
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
