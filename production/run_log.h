#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "ops/command_table.h"
#include "production/production_files.h"

namespace zelwik::production {

// One line of the production log: one chip, one operation.
struct LogRecord {
  std::string time;  // ISO 8601 with the offset
  std::string port, chip, command, file, sha256;
  long long bytes = -1;  // the image's size; -1 when there is no image
  std::string serial;
  std::string result;
  long long durationMs = 0;
  std::string message;
};

inline constexpr const char* kLogHeader =
    "time,port,chip,command,file,sha256,bytes,serial,result,duration_ms,message\n";

// What one step of a chip came to, and where it ran.
struct StepOutcome {
  enum class Save { NotTried, Written, Failed };

  std::string time, port, chip, command, serial;
  FileUse fileUse = FileUse::None;
  std::string file;
  std::string fileSha256;  // the loaded file's image
  long long fileBytes = -1;
  std::string chipSha256;  // read: the chip's content
  long long chipBytes = -1;
  OpResult result = OpResult::Success;
  bool stopped = false;  // Ctrl+C, SIGTERM or SIGHUP came before the step had ended
  Save save = Save::NotTried;
  std::string message;  // the last text shown, the failed save's included
  long long durationMs = 0;
};

// The row a step leaves in the log. Result, message and file fields are decided together: a read
// stopped after its last exchange saved nothing, so it is `cancelled` with no file and no hash.
// A row whose message differs from the outcome's has something still to show.
LogRecord StepRow(const StepOutcome& outcome);

// A CSV field, quoted when it has to be.
std::string CsvField(const std::string& text);
std::string CsvLine(const LogRecord& record);

// The CSV log: the header when the file is new, then each record as one durable append.
class RunLog {
 public:
  bool Open(const std::string& path, std::string& why);
  bool Write(const LogRecord& record, std::string& why);

 private:
  std::mutex mutex_;
  std::unique_ptr<AppendFile> file_;
};

}  // namespace zelwik::production
