#include "cli/run_log.h"

namespace zelwik::cli {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvLine(const LogRecord& r) {
  std::string line;
  for (const std::string* field : {&r.time, &r.port, &r.chip, &r.command, &r.file, &r.sha256})
    line += CsvField(*field) + ',';
  line += (r.bytes >= 0 ? std::to_string(r.bytes) : "") + ',';
  line += CsvField(r.serial) + ',' + CsvField(r.result) + ',' + std::to_string(r.durationMs) + ',' +
          CsvField(r.message) + '\n';
  return line;
}

bool RunLog::Open(const std::string& path, std::string& why) {
  bool empty = false;
  std::string reason;
  file_ = AppendFile::Open(path, empty, reason);
  if (file_ && (!empty || file_->Append(kLogHeader, reason))) return true;
  why = path + ": " + reason;
  file_.reset();
  return false;
}

bool RunLog::Write(const LogRecord& record, std::string& why) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!file_) return true;
  return file_->Append(CsvLine(record), why);
}

}  // namespace zelwik::cli
