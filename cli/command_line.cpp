#include "cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli/console_view.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"
#include "cli/ports_command.h"
#include "cli/production.h"
#include "job/job_file.h"
#include "link/chips.h"
#include "ops/command_table.h"
#include "ops/hex_files.h"
#include "production/job_run.h"
#include "zelwik_version.h"

namespace zelwik::cli {
namespace {

constexpr const char* kUsageHead =
    "Usage: zelwik-cli [--port PORT]... [--chip CHIP] [--timeout MS] [--format F] [--strict]\n"
    "                  [--repeat[=auto]] [--verify] [--lock N] [--log FILE.csv]\n"
    "                  [--serial ADDR:WIDTH:FIRST[:STEP][:le|be|bcd|ascii]]\n"
    "                  [--save-job FILE.zjob] COMMAND [FILE]\n"
    "       zelwik-cli --job FILE.zjob [--port PORT]... [--timeout MS]\n"
    "\n"
    "Commands:\n";
// The commands come from the table of operations, the chip names from the chip table.
constexpr const char* kUsageMiddle =
    "\n"
    "FILE is Intel HEX, raw binary (.bin) or Motorola S-record (.s19, .srec, .mot).\n"
    "\n"
    "Options:\n"
    "  --port PORT     COM1 ... COM5, a device path, auto: the one port where the\n"
    "                  programmer answers, or all: every port where one answers\n"
    "                  (default COM2); given more than once, the command runs on\n"
    "                  every port at the same time\n"
    "  --chip CHIP     ";
constexpr const char* kUsageTail =
    "\n"
    "  --timeout MS    how long to wait for each reply of the programmer (default 2000)\n"
    "  --format F      hex, bin or srec, whatever the file's extension\n"
    "  --strict        refuse an Intel HEX file with a bad checksum or record\n"
    "  --probe         with ports: send the presence probe to every port not in use\n"
    "  --repeat        chip after chip: Enter for the next one, q to end; --repeat=auto\n"
    "                  takes the next one when the socket was emptied and refilled\n"
    "  --verify        with program: a full verify pass after each chip\n"
    "  --lock N        with program: set lock bit N (1, 2, 3 or all) on each chip\n"
    "  --log FILE      append a CSV line for each chip and operation\n"
    "  --serial S      with program: write a serial number into each chip's image at\n"
    "                  ADDR (hex), WIDTH bytes, from FIRST on in steps of STEP\n"
    "  --serial-file F where the next serial number is kept (default: beside the log,\n"
    "                  named after it with .serial)\n"
    "  --serial-overwrite  let the serial replace data the file has at its address\n"
    "  --save-job F    write the command line, with the file's checksum taken now, as\n"
    "                  the job file F (.zjob) instead of running it\n"
    "  --job F         run the job file F: its chip, steps, file, serial numbers, log\n"
    "                  and repeat; refused when the file changed since the job was made\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "Exit status: 0 done (on every port), 1 the operation failed, 2 wrong usage.\n";

std::string CommandList() {
  std::string text;
  for (const OperationEntry& entry : Operations()) {
    std::string head =
        std::string("  ") + entry.name + (entry.file != FileUse::None ? " FILE" : "");
    head.resize(std::max<std::size_t>(head.size() + 1, 22), ' ');
    std::string help = entry.help;
    for (std::size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += 23)
      help.insert(at + 1, 22, ' ');
    text += head + help + "\n";
  }
  return text;
}

// "auto (default), 89C51, ...": the choices of the window's chip menu.
std::string ChipNames() {
  std::string names;
  for (const ChipInfo& chip : AllChips()) {
    if (!chip.cliName) continue;
    if (!names.empty()) names += ", ";
    names += chip.cliName;
    if (chip.code == ChipCode::Detect) names += " (default)";
  }
  return names;
}

struct Options {
  std::vector<std::string> ports;  // none given: the job's, or COM2
  int chip = 0;
  std::string chipName = "auto";
  std::optional<int> timeoutMs;
  const OperationEntry* command = nullptr;
  std::vector<const OperationEntry*> steps;  // the command, then --verify and --lock
  std::string file;
  std::optional<FileFormat> format;  // none: from the file's extension
  bool strict = false;
  bool help = false;
  bool version = false;
  bool probe = false;
  Repeat repeat = Repeat::Once;
  bool verify = false;
  const OperationEntry* lock = nullptr;
  std::string log;
  std::string serialText;
  std::optional<SerialLayout> serial;
  std::string serialFile;
  bool serialOverwrite = false;
  std::string job, saveJob;
  std::vector<std::string> given;  // the options named, in their long spelling
  std::vector<std::string> positional;
};

struct UsageError {
  std::string message;
};

bool Given(const Options& options, std::string_view name) {
  return std::find(options.given.begin(), options.given.end(), name) != options.given.end();
}

// What an option takes after it: nothing, a value (its own argument or after '='), or only what
// follows an '=' (--repeat=auto).
enum class Takes { Nothing, Value, InlineOnly };

struct OptionRule {
  const char* name;
  Takes takes;
  void (*read)(Options& options, const std::optional<std::string>& value);
};

using Value = const std::optional<std::string>&;

// Every option: a new one is a line here and, if it rules others out, a line in CheckRules.
const OptionRule kOptionRules[] = {
    {"--help", Takes::Nothing, [](Options& o, Value) { o.help = true; }},
    {"--version", Takes::Nothing, [](Options& o, Value) { o.version = true; }},
    {"--probe", Takes::Nothing, [](Options& o, Value) { o.probe = true; }},
    {"--port", Takes::Value,
     [](Options& o, Value v) {
       if (v->empty()) throw UsageError{"--port needs a port name or device path"};
       o.ports.push_back(*v);
     }},
    {"--chip", Takes::Value,
     [](Options& o, Value v) {
       const ChipInfo* chip = FindChipByName(*v);
       if (!chip) throw UsageError{"unknown chip '" + *v + "'"};
       o.chip = ToInt(chip->code);
       o.chipName = chip->cliName;
     }},
    {"--timeout", Takes::Value,
     [](Options& o, Value v) {
       int ms = 0;
       const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), ms);
       if (ec != std::errc() || end != v->data() + v->size() || ms <= 0)
         throw UsageError{"--timeout needs a positive number of milliseconds, not '" + *v + "'"};
       o.timeoutMs = ms;
     }},
    {"--format", Takes::Value,
     [](Options& o, Value v) {
       o.format = FormatNamed(*v);
       if (!o.format) throw UsageError{"--format takes hex, bin or srec, not '" + *v + "'"};
     }},
    {"--strict", Takes::Nothing, [](Options& o, Value) { o.strict = true; }},
    {"--repeat", Takes::InlineOnly,
     [](Options& o, Value v) {
       if (v && *v != "auto")
         throw UsageError{"--repeat takes no value but auto, not '" + *v + "'"};
       o.repeat = v ? Repeat::Auto : Repeat::Prompt;
     }},
    {"--verify", Takes::Nothing, [](Options& o, Value) { o.verify = true; }},
    {"--lock", Takes::Value,
     [](Options& o, Value v) {
       const std::string& bit = *v;
       o.lock = FindOperation(bit == "all" ? "lock" : "lock" + bit);
       if (!o.lock || bit.size() != (bit == "all" ? 3 : 1))
         throw UsageError{"--lock takes 1, 2, 3 or all, not '" + bit + "'"};
     }},
    {"--log", Takes::Value,
     [](Options& o, Value v) {
       if (v->empty()) throw UsageError{"--log needs a file name"};
       o.log = *v;
     }},
    {"--serial", Takes::Value,
     [](Options& o, Value v) {
       std::string why;
       o.serial = ParseSerialLayout(*v, why);
       if (!o.serial) throw UsageError{why};
       o.serialText = *v;
     }},
    {"--serial-file", Takes::Value,
     [](Options& o, Value v) {
       if (v->empty()) throw UsageError{"--serial-file needs a file name"};
       o.serialFile = *v;
     }},
    {"--serial-overwrite", Takes::Nothing, [](Options& o, Value) { o.serialOverwrite = true; }},
    {"--job", Takes::Value,
     [](Options& o, Value v) {
       if (v->empty()) throw UsageError{"--job needs a job file"};
       o.job = *v;
     }},
    {"--save-job", Takes::Value,
     [](Options& o, Value v) {
       if (!IsJobFileName(*v))
         throw UsageError{std::string("--save-job needs a file name ending in ") + kJobExtension +
                          ", not '" + *v + "'"};
       o.saveJob = *v;
     }},
};

// The options and the words between them, each option checked on its own.
Options ReadArguments(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i] == "-h" ? "--help" : args[i];
    std::optional<std::string> value;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    const auto* rule = std::find_if(std::begin(kOptionRules), std::end(kOptionRules),
                                    [&](const OptionRule& r) { return arg == r.name; });
    if (rule == std::end(kOptionRules) || (rule->takes == Takes::Nothing && value)) {
      if (arg.size() > 1 && arg[0] == '-') throw UsageError{"unknown option '" + arg + "'"};
      options.positional.push_back(arg);
      continue;
    }
    if (rule->takes == Takes::Value && !value) {
      if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
      value = args[++i];
    }
    rule->read(options, value);
    options.given.push_back(arg);
  }
  return options;
}

bool IsAllPorts(const std::string& port) { return port == "all" || port == "ALL"; }

// Ports given twice, also under two names of one device, would have two threads on one link.
void RefuseRepeatedPorts(const std::vector<std::string>& ports) {
  std::vector<std::string> devices;
  for (const std::string& port : ports) {
    if (IsAutoPort(port) || IsAllPorts(port)) {
      if (ports.size() > 1) throw UsageError{"--port " + port + " goes alone"};
      continue;
    }
    std::string device = DeviceForPort(port);
    std::error_code ec;
    if (const auto canonical = std::filesystem::weakly_canonical(device, ec); !ec)
      device = canonical.string();
    if (std::find(devices.begin(), devices.end(), device) != devices.end())
      throw UsageError{"port " + port + " is given twice"};
    devices.push_back(device);
  }
}

// A job decides what a chip gets: only where and how patiently it is programmed may change.
void CheckJobRules(const Options& options) {
  for (const std::string& name : options.given)
    if (name != "--job" && name != "--port" && name != "--timeout")
      throw UsageError{name + " does not go with --job: the job decides it"};
  if (!options.positional.empty())
    throw UsageError{"unexpected argument '" + options.positional.front() +
                     "': the job gives the steps and the file"};
  RefuseRepeatedPorts(options.ports);
}

// What a job can hold: the steps it knows, on a chip it names.
void CheckSaveJobRules(const Options& options) {
  if (!StepNamed(options.command->name))
    throw UsageError{std::string("--save-job goes with erase, program, verify, blank-check or a "
                                 "lock, not ") +
                     options.command->name};
  if (options.chip == 0) throw UsageError{"--save-job needs --chip: a job names its chip"};
}

// The rules between options, once each was read.
void CheckRules(Options& options) {
  if (!options.job.empty()) return CheckJobRules(options);
  const std::vector<std::string>& positional = options.positional;
  if (positional.empty()) throw UsageError{"no command given"};
  const OperationEntry* command = FindOperation(positional[0]);
  if (!command) throw UsageError{"unknown command '" + positional[0] + "'"};
  options.command = command;
  const bool needsFile = command->file != FileUse::None;
  const std::size_t wanted = needsFile ? 2 : 1;
  if (positional.size() < wanted) throw UsageError{positional[0] + " needs a FILE"};
  if (positional.size() > wanted)
    throw UsageError{"unexpected argument '" + positional[wanted] + "'"};
  if (needsFile) options.file = positional[1];
  if (options.probe && command->scope != Scope::Ports) throw UsageError{"--probe goes with ports"};
  if (options.ports.empty()) options.ports.push_back("COM2");
  RefuseRepeatedPorts(options.ports);
  const bool writes = command->changesChip && command->file == FileUse::Load;  // program
  if (options.repeat != Repeat::Once && !command->changesChip)
    throw UsageError{"--repeat goes with a command that changes the chip, not " +
                     std::string(command->name)};
  if (options.verify && !writes) throw UsageError{"--verify goes with program"};
  if (options.lock && !writes) throw UsageError{"--lock goes with program"};
  if (options.serial && !writes) throw UsageError{"--serial goes with program"};
  if (!options.serial && (!options.serialFile.empty() || options.serialOverwrite))
    throw UsageError{"--serial-file and --serial-overwrite go with --serial"};
  if (options.serial && options.serialFile.empty()) {
    if (options.log.empty()) throw UsageError{"--serial needs --serial-file or --log"};
    // By hand: a path object would take the UTF-8 name for the ANSI code page on Windows.
    const std::size_t name = options.log.find_last_of("/\\") + 1;  // npos + 1: the whole
    const std::size_t dot = options.log.rfind('.');
    options.serialFile =
        options.log.substr(0, dot != std::string::npos && dot > name ? dot : std::string::npos) +
        ".serial";
  }
  if (command->file == FileUse::Save &&
      (options.ports.size() > 1 || IsAllPorts(options.ports.front())))
    throw UsageError{"read takes one port: several chips cannot go into one file"};
  if (options.serial && options.chip != 0) {
    const ChipInfo* chip = FindChip(options.chip);
    if (chip && options.serial->address + options.serial->width > chip->memorySize)
      throw UsageError{"--serial: the number does not fit in the " + options.chipName + "'s " +
                       std::to_string(chip->memorySize) + " bytes"};
  }
  options.steps = {command};
  if (options.verify) options.steps.push_back(FindOperation("verify"));
  if (options.lock) options.steps.push_back(options.lock);
  if (!options.saveJob.empty()) CheckSaveJobRules(options);
}

Options Parse(const std::vector<std::string>& args) {
  Options options = ReadArguments(args);
  if (!options.help && !options.version) CheckRules(options);
  return options;
}

// Where a job runs: on --port's ports, or the job's own, held to the command line's rules too.
void TakeJob(const Job& job, Options& options) {
  options.command = &StepOperation(job.steps.front());
  if (options.ports.empty()) options.ports = job.ports;
  if (options.ports.empty()) options.ports.push_back("COM2");
  RefuseRepeatedPorts(options.ports);
}

// The command line as a job file, with the image's checksum taken now; nothing is sent.
int SaveJob(const Options& options, const Image& image, FileFormat format, std::ostream& out,
            std::ostream& err) {
  const std::string& path = options.saveJob;
  Job job;
  job.chip = options.chipName;
  for (const OperationEntry* step : options.steps) job.steps.push_back(*StepNamed(step->name));
  if (options.command->file == FileUse::Load) {
    JobImage& described = job.image.emplace();
    described.file = PathForJob(path, options.file);
    described.format = format;
    described.strict = options.strict;
    DescribeImage(described, image);
  }
  if (options.serial)
    job.serial = JobSerial{options.serialText, PathForJob(path, options.serialFile),
                           options.serialOverwrite};
  if (!options.log.empty()) job.log = PathForJob(path, options.log);
  job.repeat = options.repeat == Repeat::Auto     ? JobRepeat::Auto
               : options.repeat == Repeat::Prompt ? JobRepeat::Prompt
                                                  : JobRepeat::Once;
  job.timeoutMs = options.timeoutMs;
  if (Given(options, "--port")) job.ports = options.ports;
  std::string why;
  if (!WriteJob(path, job, why)) {
    err << "zelwik-cli: cannot save the job: " << why << "\n";
    return kExitFailure;
  }
  out << "Job saved: " << path;
  if (job.image) out << " (" << job.image->file << ", SHA-256 " << job.image->sha256 << ")";
  out << "\n";
  return kExitSuccess;
}

// Every port whose probe the programmer answers; false, with what was found, when none does.
bool FindAllProgrammerPorts(const PortListRoots& roots, std::vector<std::string>& devices,
                            std::ostream& err) {
  std::vector<PortInfo> ports = ListSerialPorts(roots);
  ProbePorts(ports);
  devices.clear();
  for (const PortInfo& port : ports)
    if (port.probe == ProbeResult::Programmer) devices.push_back(port.device);
  if (!devices.empty()) return true;
  err << "zelwik-cli: --port all: no programmer answered\n";
  return false;
}

// The file's own bytes where the serial goes: refused unless they may be replaced.
bool SerialPlaceFree(const Image& image, const SerialLayout& layout, bool overwrite,
                     std::ostream& err) {
  if (overwrite) return true;
  for (int a = layout.address; a < layout.address + layout.width; ++a) {
    if (image.MemoryImage[static_cast<std::size_t>(a)] == kEmptyByte) continue;
    char where[8];
    std::snprintf(where, sizeof where, "%04X", a);
    err << "zelwik-cli: the file has data at " << where
        << ", where the serial number goes; --serial-overwrite replaces it\n";
    return false;
  }
  return true;
}

// The image for the steps, refused before anything is sent.
bool LoadForSteps(const Options& options, FileFormat format, Image& image, View& view,
                  std::ostream& err) {
  return LoadImage(image, options.file, format, options.strict, view, err) &&
         (options.command->scope == Scope::File || !options.serial ||
          SerialPlaceFree(image, *options.serial, options.serialOverwrite, err));
}

// The job on every port, once `auto` and `all` are found.
int RunOnPorts(ProductionJob& job, ProductionIo& io, const PortListRoots& portRoots) {
  // Found before the operation, which then opens the port and probes it as always.
  if (IsAutoPort(job.ports.front()) && !FindProgrammerPort(portRoots, job.ports.front(), io.err))
    return kExitFailure;
  if (IsAllPorts(job.ports.front()) && !FindAllProgrammerPorts(portRoots, job.ports, io.err))
    return kExitFailure;
  // Counted once `all` is expanded: every port must be within the reach of Ctrl+C.
  if (job.ports.size() > InterruptGuard::kMaxStates) {
    io.err << "zelwik-cli: at most " << InterruptGuard::kMaxStates << " ports, not "
           << job.ports.size() << " (see zelwik-cli --help)\n";
    return kExitUsage;
  }
  return RunProduction(job, io);
}

// The command line's steps, chip after chip as asked; the log and the serial numbers are ready
// before any programmer hears a thing.
int RunSteps(Options& options, const Image* image, FileFormat format, ProductionIo& io,
             const PortListRoots& portRoots) {
  std::string why;
  production::SerialCounter serials;
  if (options.serial && !serials.Open(options.serialFile, *options.serial, why)) {
    io.err << "zelwik-cli: serial numbers: " << why << "\n";
    return kExitFailure;
  }
  production::RunLog log;
  if (!options.log.empty() && !log.Open(options.log, why)) {
    io.err << "zelwik-cli: cannot write the log " << why << "\n";
    return kExitFailure;
  }
  ProductionJob job;
  job.steps = options.steps;
  job.ports = options.ports;
  job.chip = options.chip;
  job.chipName = options.chipName;
  job.timeoutMs = options.timeoutMs;
  job.file = options.file;
  job.format = format;
  job.image = image;
  if (options.command->file == FileUse::Save)
    job.saveRead = [&](Image& chip, int chipSize, View& shown) {
      return SaveFileShown(chip, options.file, format, chipSize, shown);
    };
  job.repeat = options.repeat;
  job.serial = options.serial;
  if (options.serial) job.serials = &serials;
  if (!options.log.empty()) job.log = &log;
  return RunOnPorts(job, io, portRoots);
}

// A job file's run, readied as the windows ready it; only the ports and the timeout are the
// command line's.
int RunJob(const Job& job, const Options& options, View& view, ProductionIo& io,
           const PortListRoots& portRoots) {
  production::JobRun run;
  std::string why;
  if (!OpenJobRun(job, options.job, run, why)) {
    io.err << "zelwik-cli: " << why << "\n";
    return kExitFailure;
  }
  if (run.job.image) ShowLoaded(*run.image, view);
  run.job.ports = options.ports;
  if (options.timeoutMs) run.job.timeoutMs = options.timeoutMs;
  return RunOnPorts(run.job, io, portRoots);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   std::ostream* progressTerminal, const PortListRoots& portRoots,
                   ChipPrompt* prompt) {
  Options options;
  try {
    options = Parse(args);
  } catch (const UsageError& e) {
    err << "zelwik-cli: " << e.message << " (see zelwik-cli --help)\n";
    return kExitUsage;
  }
  if (options.help) {
    out << kUsageHead << CommandList() << kUsageMiddle << ChipNames() << kUsageTail;
    return kExitSuccess;
  }
  if (options.version) {
    out << "zelwik-cli " ZELWIK_VERSION "\n";
    return kExitSuccess;
  }
  std::optional<Job> job;
  if (!options.job.empty()) {
    std::string why;
    if (!(job = ReadJob(options.job, why))) {
      err << "zelwik-cli: " << why << "\n";
      return kExitFailure;
    }
    try {
      TakeJob(*job, options);
    } catch (const UsageError& e) {
      err << "zelwik-cli: " << options.job << ": " << e.message << "\n";
      return kExitFailure;
    }
  }
  const OperationEntry& command = *options.command;
  if (command.scope == Scope::Ports) return RunPortsCommand(options.probe, portRoots, out, err);

  ProgressBar progress(progressTerminal);
  ConsoleView view(out, progress, command.scope == Scope::File);
  ProductionIo io{out, err, progressTerminal, prompt};
  if (job) return RunJob(*job, options, view, io, portRoots);
  // The image is 64 KiB: keep it off the stack.
  auto image = std::make_unique<Image>();
  const FileFormat format = options.format.value_or(FormatOfFile(options.file));
  const bool loads = command.file == FileUse::Load;
  // A file that cannot be read or is refused must not reach the chip: not even the probe is sent.
  if (loads && !LoadForSteps(options, format, *image, view, err)) return kExitFailure;
  if (command.scope == Scope::File) {
    view.SetStatus(ChecksumText(*image));
    return kExitSuccess;
  }
  if (!options.saveJob.empty()) return SaveJob(options, *image, format, out, err);
  return RunSteps(options, loads ? image.get() : nullptr, format, io, portRoots);
}

}  // namespace zelwik::cli
