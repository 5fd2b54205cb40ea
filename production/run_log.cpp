#include "production/run_log.h"

namespace zelwik::production {
namespace {

const char* ResultName(OpResult result) {
  switch (result) {
    case OpResult::Success:
      return "ok";
    case OpResult::LinkFailure:
      return "link-failure";
    case OpResult::NoChip:
      return "no-chip";
    case OpResult::TooLarge:
      return "too-large";
    case OpResult::Mismatch:
      return "mismatch";
    case OpResult::NotSupported:
      return "not-supported";
    case OpResult::Cancelled:
      return "cancelled";
  }
  return "failed";
}

}  // namespace

LogRecord StepRow(const StepOutcome& o) {
  LogRecord r;
  r.time = o.time;
  r.port = o.port;
  r.chip = o.chip;
  r.command = o.command;
  r.serial = o.serial;
  r.durationMs = o.durationMs;
  r.result = ResultName(o.result);
  r.message = o.message;
  if (o.fileUse == FileUse::Load) {
    r.file = o.file;
    r.sha256 = o.fileSha256;
    r.bytes = o.fileBytes;
  } else if (o.fileUse == FileUse::Save && o.save == StepOutcome::Save::NotTried &&
             (o.result == OpResult::Success || o.result == OpResult::Cancelled) && o.stopped) {
    // The chip was read, but the stop came first: nothing was saved, so nothing is named.
    r.result = ResultName(OpResult::Cancelled);
    r.message = kTextCancelled;
  } else if (o.fileUse == FileUse::Save) {
    r.file = o.file;
    if (o.save != StepOutcome::Save::NotTried) {
      r.sha256 = o.chipSha256;
      r.bytes = o.chipBytes;
    }
    if (o.save == StepOutcome::Save::Failed) r.result = "save-failed";
  }
  return r;
}

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

}  // namespace zelwik::production
