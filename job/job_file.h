#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/memory_image.h"
#include "ops/command_table.h"
#include "ops/file_formats.h"

// A job file (.zjob, TOML): an engineer prepares a run once, an operator repeats it exactly. The
// front ends make and run jobs; this reads, writes and checks them, nothing else.
namespace zelwik {

// The format this program writes and the newest it reads.
inline constexpr int kJobFormat = 1;
inline constexpr const char* kJobExtension = ".zjob";
// Whether the name ends in .zjob, in any case, as the other files' extensions are taken.
bool IsJobFileName(std::string_view path);
// Far beyond any real job; a file this large is something else.
inline constexpr std::size_t kMaxJobFileBytes = 64 * 1024;

// In the order a job may give them: each at most once, one lock bit at most and last.
enum class JobStep { BlankCheck, Erase, Program, Verify, Lock1, Lock2, Lock3, LockAll };
// The step's word in the job file, which is the command's name on the command line ("lock" sets
// every lock bit).
const char* StepName(JobStep step);
// The step a command's name stands for, if a job can hold it.
std::optional<JobStep> StepNamed(std::string_view name);
// The entry of the table of operations that runs the step.
const OperationEntry& StepOperation(JobStep step);

enum class JobRepeat { Once, Prompt, Auto };

// Paths in a job are UTF-8, relative to the job file's folder (or absolute), with '/' between
// folders so a job made on one system opens on the other.
struct JobImage {
  std::string file;
  FileFormat format = FileFormat::Hex;  // kept rather than trusting the extension
  bool strict = false;                  // Intel HEX: every record checked
  std::string sha256;                   // lower-case hex, of addresses 0 to ImageEnd as programmed
  int bytes = 0;                        // ImageEnd + 1
  bool operator==(const JobImage&) const = default;
};

struct JobSerial {
  std::string layout;  // ADDR:WIDTH:FIRST[:STEP][:le|be|bcd|ascii], checked against the chip
  std::string file;    // the counter's state file
  bool overwrite = false;
  bool operator==(const JobSerial&) const = default;
};

struct Job {
  int format = kJobFormat;
  std::string name;  // shown to the operator and logged; empty: the job file's own name
  std::string chip;  // as --chip names it; a job always names one
  std::vector<JobStep> steps;
  std::optional<JobImage> image;  // exactly when a step programs or verifies
  std::optional<JobSerial> serial;
  std::string log;  // the CSV log; empty: none
  JobRepeat repeat = JobRepeat::Once;
  std::optional<int> timeoutMs;    // none: the front end's default
  std::vector<std::string> ports;  // none: the front end's own choice
  bool operator==(const Job&) const = default;
};

// The job in the text, or nullopt with a reason that starts with `path` and names the line and
// the key: a syntax error, an unknown key, a wrong type, a missing key, a newer format, a value
// out of range or steps that contradict each other. A UTF-8 byte order mark and CR LF line ends
// are accepted.
std::optional<Job> ParseJob(std::string_view text, const std::string& path, std::string& why);
// The same for the file; an unreadable file, an empty one or one beyond kMaxJobFileBytes too.
std::optional<Job> ReadJob(const std::string& path, std::string& why);

// The job as a job file's text, which ParseJob reads back equal.
std::string JobText(const Job& job);
// Writes the job only when it reads back as it is, replacing the file in one step (a failure
// leaves an existing one as it was). False with the reason.
bool WriteJob(const std::string& path, const Job& job, std::string& why);

// The job's name: its own, or the job file's name without folder and extension.
std::string JobName(const Job& job, const std::string& jobPath);
// A path of the job (image, log, counter) as the system opens it: absolute ones as they are,
// relative ones from the job file's folder.
std::string JobFilePath(const std::string& jobPath, const std::string& file);
// A file as a job at jobPath names it: relative to the job's folder when both are on one root.
std::string PathForJob(const std::string& jobPath, const std::string& file);

// The image's SHA-256 and byte count as the job records them.
void DescribeImage(JobImage& described, const Image& image);

// Loads the job's image file (whole or not at all). False with a reason naming the job file and
// the image file.
bool LoadJobImage(const Job& job, const std::string& jobPath, Image& image, std::string& why);
// Whether a loaded image is the one the job was made with ("the file has changed since the job
// was made: expected ..., found ..."), fits the job's chip and, unless the serial may overwrite,
// holds no data where the serial number goes.
bool MatchJobImage(const Job& job, const std::string& jobPath, const Image& image,
                   std::string& why);
// Both, before anything is sent to a programmer; true at once for a job without an image.
bool CheckJobImage(const Job& job, const std::string& jobPath, Image& image, std::string& why);

}  // namespace zelwik
