#pragma once

#include <memory>
#include <string>

#include "job/job_file.h"
#include "production/job_chip.h"

namespace zelwik::production {

// A job file's run, ready for RunJobChip: every front end opens a job through this, so each runs
// the same steps on the same bytes and logs the same rows. A window: ReadJob, OpenJobRun, then
// RunJobChip(run.job, state, view, context) for each chip, the context naming the port, on the
// first of the job's ports.
struct JobRun {
  std::string name;  // as the log names it
  std::unique_ptr<Image> image = std::make_unique<Image>();
  SerialCounter serials;
  RunLog log;
  // Points into the members above; the ports are the job's (a front end may give its own).
  ProductionJob job;
};

// Readies the job read from jobPath, in this order and before anything is sent: its image loaded
// and compared with the job, its serial counter held, its log opened (a log without the job
// column refused). False with a reason that names the job file; a refused run leaves no log.
bool OpenJobRun(const Job& job, const std::string& jobPath, JobRun& run, std::string& why);

}  // namespace zelwik::production
