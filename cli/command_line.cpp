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
#include "link/chips.h"
#include "ops/command_table.h"
#include "ops/hex_files.h"
#include "zelwik_version.h"

namespace zelwik::cli {
namespace {

constexpr const char* kUsageHead =
    "Usage: zelwik-cli [--port PORT]... [--chip CHIP] [--timeout MS] [--format F] [--strict]\n"
    "                  [--repeat[=auto]] [--verify] [--lock N] [--log FILE.csv]\n"
    "                  [--serial ADDR:WIDTH:FIRST[:STEP][:le|be|bcd|ascii]] COMMAND [FILE]\n"
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
  std::vector<std::string> ports;  // none given: COM2
  int chip = 0;
  std::string chipName = "auto";
  std::optional<int> timeoutMs;
  const OperationEntry* command = nullptr;
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
  std::optional<SerialLayout> serial;
  std::string serialFile;
  bool serialOverwrite = false;
};

struct UsageError {
  std::string message;
};

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

Options Parse(const std::vector<std::string>& args) {
  Options options;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      if (const auto eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--probe") {
      options.probe = true;
    } else if (arg == "--port") {
      options.ports.push_back(value());
      if (options.ports.back().empty()) throw UsageError{"--port needs a port name or device path"};
    } else if (arg == "--chip") {
      const std::string name = value();
      const ChipInfo* chip = FindChipByName(name);
      if (!chip) throw UsageError{"unknown chip '" + name + "'"};
      options.chip = ToInt(chip->code);
      options.chipName = chip->cliName;
    } else if (arg == "--timeout") {
      const std::string text = value();
      int ms = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
      if (ec != std::errc() || end != text.data() + text.size() || ms <= 0)
        throw UsageError{"--timeout needs a positive number of milliseconds, not '" + text + "'"};
      options.timeoutMs = ms;
    } else if (arg == "--format") {
      const std::string name = value();
      options.format = FormatNamed(name);
      if (!options.format) throw UsageError{"--format takes hex, bin or srec, not '" + name + "'"};
    } else if (arg == "--strict" && !inlineValue) {
      options.strict = true;
    } else if (arg == "--repeat") {
      if (inlineValue && *inlineValue != "auto")
        throw UsageError{"--repeat takes no value but auto, not '" + *inlineValue + "'"};
      options.repeat = inlineValue ? Repeat::Auto : Repeat::Prompt;
    } else if (arg == "--verify" && !inlineValue) {
      options.verify = true;
    } else if (arg == "--lock") {
      const std::string bit = value();
      options.lock = FindOperation(bit == "all" ? "lock" : "lock" + bit);
      if (!options.lock || bit.size() != (bit == "all" ? 3 : 1))
        throw UsageError{"--lock takes 1, 2, 3 or all, not '" + bit + "'"};
    } else if (arg == "--log") {
      options.log = value();
      if (options.log.empty()) throw UsageError{"--log needs a file name"};
    } else if (arg == "--serial") {
      std::string why;
      options.serial = ParseSerialLayout(value(), why);
      if (!options.serial) throw UsageError{why};
    } else if (arg == "--serial-file") {
      options.serialFile = value();
      if (options.serialFile.empty()) throw UsageError{"--serial-file needs a file name"};
    } else if (arg == "--serial-overwrite" && !inlineValue) {
      options.serialOverwrite = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option '" + arg + "'"};
    } else {
      positional.push_back(arg);
    }
  }
  if (options.help || options.version) return options;
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
    std::filesystem::path file(options.log);
    options.serialFile = file.replace_extension(".serial").string();
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
  return options;
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
  const OperationEntry& command = *options.command;
  if (command.scope == Scope::Ports) return RunPortsCommand(options.probe, portRoots, out, err);

  // The image is 64 KiB: keep it off the stack.
  auto image = std::make_unique<Image>();
  ProgressBar progress(progressTerminal);
  ConsoleView view(out, progress, command.scope == Scope::File);
  const FileFormat format = options.format.value_or(FormatOfFile(options.file));
  if (command.file == FileUse::Load) {
    // A file that cannot be read or is refused must not reach the chip: not even the probe is sent.
    if (!LoadImage(*image, options.file, format, options.strict, view, err)) return kExitFailure;
    if (command.scope == Scope::File) {
      view.SetStatus(ChecksumText(*image));
      return kExitSuccess;
    }
    if (options.serial && !SerialPlaceFree(*image, *options.serial, options.serialOverwrite, err))
      return kExitFailure;
  }

  // The log and the serial numbers are ready before any programmer hears a thing.
  production::RunLog log;
  std::string why;
  if (!options.log.empty() && !log.Open(options.log, why)) {
    err << "zelwik-cli: cannot write the log " << why << "\n";
    return kExitFailure;
  }
  production::SerialCounter serials;
  if (options.serial && !serials.Open(options.serialFile, *options.serial, why)) {
    err << "zelwik-cli: serial numbers: " << why << "\n";
    return kExitFailure;
  }

  // Found before the operation, which then opens the port and probes it as always.
  if (IsAutoPort(options.ports.front()) &&
      !FindProgrammerPort(portRoots, options.ports.front(), err))
    return kExitFailure;
  if (IsAllPorts(options.ports.front()) && !FindAllProgrammerPorts(portRoots, options.ports, err))
    return kExitFailure;
  // Counted once `all` is expanded: every port must be within the reach of Ctrl+C.
  if (options.ports.size() > InterruptGuard::kMaxStates) {
    err << "zelwik-cli: at most " << InterruptGuard::kMaxStates << " ports, not "
        << options.ports.size() << " (see zelwik-cli --help)\n";
    return kExitUsage;
  }

  ProductionJob job;
  job.steps = {&command};
  if (options.verify) job.steps.push_back(FindOperation("verify"));
  if (options.lock) job.steps.push_back(options.lock);
  job.ports = options.ports;
  job.chip = options.chip;
  job.chipName = options.chipName;
  job.timeoutMs = options.timeoutMs;
  job.file = options.file;
  job.format = format;
  if (command.file == FileUse::Load) job.image = image.get();
  if (command.file == FileUse::Save)
    job.saveRead = [&](Image& chip, int chipSize, View& shown) {
      return SaveImage(chip, options.file, format, chipSize, shown);
    };
  job.repeat = options.repeat;
  job.serial = options.serial;
  if (options.serial) job.serials = &serials;
  if (!options.log.empty()) job.log = &log;
  ProductionIo io{out, err, progressTerminal, prompt};
  return RunProduction(job, io);
}

}  // namespace zelwik::cli
