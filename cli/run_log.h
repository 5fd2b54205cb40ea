#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "cli/production_files.h"

namespace zelwik::cli {

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

}  // namespace zelwik::cli
