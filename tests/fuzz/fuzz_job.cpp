// Arbitrary bytes as a job file. The reader never crashes or hangs, refuses with a reason that
// names the job file, and a job it accepts is written back as text that reads back equal.
#include <cstdlib>
#include <string>
#include <string_view>

#include "job/job_file.h"

using namespace zelwik;

// The fuzzer's crash report shows the line.
#define Check(condition) ((condition) ? (void)0 : std::abort())

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxJobFileBytes) return 0;
  const std::string path = "zadanie.zjob";
  std::string why;
  const std::optional<Job> job =
      ParseJob(std::string_view(reinterpret_cast<const char*>(data), size), path, why);
  if (!job) {
    Check(why.rfind(path + ": ", 0) == 0);
    return 0;
  }
  const std::optional<Job> back = ParseJob(JobText(*job), path, why);
  Check(back.has_value() && *back == *job);
  return 0;
}
