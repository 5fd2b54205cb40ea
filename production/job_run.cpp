#include "production/job_run.h"

#include "link/chips.h"

namespace zelwik::production {

bool OpenJobRun(const Job& job, const std::string& jobPath, JobRun& run, std::string& why) {
  if (!CheckJobImage(job, jobPath, *run.image, why)) return false;
  ProductionJob& p = run.job;
  const std::string who = jobPath + ": ";
  if (job.serial) {
    p.serial = ParseSerialLayout(job.serial->layout, why);  // the reader checked it
    if (!run.serials.Open(JobFilePath(jobPath, job.serial->file), *p.serial, why)) {
      why = who + "serial numbers: " + why;
      return false;
    }
    p.serials = &run.serials;
  }
  if (!job.log.empty()) {
    if (!run.log.Open(JobFilePath(jobPath, job.log), why, true)) {
      why = who + "cannot write the log " + why;
      return false;
    }
    p.log = &run.log;
  }
  run.name = JobName(job, jobPath);
  p.name = run.name;
  for (JobStep step : job.steps) p.steps.push_back(&StepOperation(step));
  const ChipInfo* chip = FindChipByName(job.chip);  // the reader knows it
  p.chip = ToInt(chip->code);
  p.chipName = chip->cliName;
  p.timeoutMs = job.timeoutMs;
  p.ports = job.ports;
  p.repeat = job.repeat == JobRepeat::Auto     ? Repeat::Auto
             : job.repeat == JobRepeat::Prompt ? Repeat::Prompt
                                               : Repeat::Once;
  if (job.image) {
    p.file = JobFilePath(jobPath, job.image->file);
    p.format = job.image->format;
    p.image = run.image.get();
  }
  return true;
}

}  // namespace zelwik::production
