#include "cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>

#include "cli/console_view.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"
#include "cli/ports_command.h"
#include "link/chips.h"
#include "ops/chip_memory.h"
#include "ops/operations.h"
#include "zelwik_version.h"

namespace zelwik::cli {
namespace {

// The chip names come from the chip table (ChipNames).
constexpr const char* kUsageHead =
    "Usage: zelwik-cli [--port PORT] [--chip CHIP] [--timeout MS] [--format F] [--strict]\n"
    "                  COMMAND [FILE]\n"
    "\n"
    "Commands:\n"
    "  program FILE        load the file, erase the chip, write and check every byte\n"
    "  read FILE           read the chip and save it to the file\n"
    "  verify FILE         load the file and compare the chip with it\n"
    "  erase               erase the chip\n"
    "  lock1, lock2, lock3 set one lock bit\n"
    "  lock                set all lock bits\n"
    "  signature-device, signature-maker, signature-voltage\n"
    "                      show a signature byte of the chip\n"
    "  list FILE           load the file and print its listing (no chip needed)\n"
    "  blank-check         read the chip and check that every byte is FF\n"
    "  ports               list the serial devices; --probe also asks each free one for the\n"
    "                      programmer\n"
    "\n"
    "FILE is Intel HEX, raw binary (.bin) or Motorola S-record (.s19, .srec, .mot).\n"
    "\n"
    "Options:\n"
    "  --port PORT     COM1 ... COM5, a device path, or auto: the one port where the\n"
    "                  programmer answers (default COM2)\n"
    "  --chip CHIP     ";
constexpr const char* kUsageTail =
    "\n"
    "  --timeout MS    how long to wait for each reply of the programmer (default 2000)\n"
    "  --format F      hex, bin or srec, whatever the file's extension\n"
    "  --strict        refuse an Intel HEX file with a bad checksum or record\n"
    "  --probe         with ports: send the presence probe to every port not in use\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "Exit status: 0 done, 1 the operation failed, 2 wrong usage.\n";

enum class Kind {
  Program,
  Read,
  Verify,
  Erase,
  Lock1,
  Lock2,
  Lock3,
  LockAll,
  SigDevice,
  SigMaker,
  SigVoltage,
  List,
  BlankCheck,
  Ports
};

struct CommandName {
  const char* name;
  Kind kind;
  bool needsFile;
};

constexpr CommandName kCommands[] = {
    {"program", Kind::Program, true},
    {"read", Kind::Read, true},
    {"verify", Kind::Verify, true},
    {"erase", Kind::Erase, false},
    {"lock1", Kind::Lock1, false},
    {"lock2", Kind::Lock2, false},
    {"lock3", Kind::Lock3, false},
    {"lock", Kind::LockAll, false},
    {"signature-device", Kind::SigDevice, false},
    {"signature-maker", Kind::SigMaker, false},
    {"signature-voltage", Kind::SigVoltage, false},
    {"list", Kind::List, true},
    {"blank-check", Kind::BlankCheck, false},
    {"ports", Kind::Ports, false},
};

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
  std::string port = "COM2";
  int chip = 0;
  std::optional<int> timeoutMs;
  const CommandName* command = nullptr;
  std::string file;
  std::optional<FileFormat> format;  // none: from the file's extension
  bool strict = false;
  bool help = false;
  bool version = false;
  bool probe = false;
};

struct UsageError {
  std::string message;
};

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
      options.port = value();
      if (options.port.empty()) throw UsageError{"--port needs a port name or device path"};
    } else if (arg == "--chip") {
      const std::string name = value();
      const ChipInfo* chip = FindChipByName(name);
      if (!chip) throw UsageError{"unknown chip '" + name + "'"};
      options.chip = ToInt(chip->code);
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
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option '" + arg + "'"};
    } else {
      positional.push_back(arg);
    }
  }
  if (options.help || options.version) return options;
  if (positional.empty()) throw UsageError{"no command given"};
  const auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                               [&](const CommandName& c) { return positional[0] == c.name; });
  if (it == std::end(kCommands)) throw UsageError{"unknown command '" + positional[0] + "'"};
  options.command = it;
  const std::size_t wanted = it->needsFile ? 2 : 1;
  if (positional.size() < wanted) throw UsageError{positional[0] + " needs a FILE"};
  if (positional.size() > wanted)
    throw UsageError{"unexpected argument '" + positional[wanted] + "'"};
  if (it->needsFile) options.file = positional[1];
  if (options.probe && it->kind != Kind::Ports) throw UsageError{"--probe goes with ports"};
  return options;
}

void ReportPortFailure(const Link& link, std::ostream& err) {
  if (link.LastError().empty()) return;
  err << "zelwik-cli: cannot open " << link.LastDevice() << ": " << link.LastError() << '\n';
  if (link.LastErrno() == EACCES)
    err << "zelwik-cli: add your user to the 'dialout' group (sudo usermod -aG dialout $USER) "
           "and log in again\n";
}

OpResult RunOnChip(Kind kind, State& state, View& view) {
  switch (kind) {
    case Kind::Program:
      return ProgramChip(state, view);
    case Kind::Read:
      return ReadChip(state, view);
    case Kind::Verify:
      return VerifyChip(state, view);
    case Kind::Erase:
      return RunChipCommand(state, view, ChipCommand::Erase);
    case Kind::Lock1:
      return RunChipCommand(state, view, ChipCommand::Lock1);
    case Kind::Lock2:
      return RunChipCommand(state, view, ChipCommand::Lock2);
    case Kind::Lock3:
      return RunChipCommand(state, view, ChipCommand::Lock3);
    case Kind::LockAll:
      return RunChipCommand(state, view, ChipCommand::LockAll);
    case Kind::SigDevice:
      return ShowSignature(state, view, Signature::Device);
    case Kind::SigMaker:
      return ShowSignature(state, view, Signature::Maker);
    case Kind::SigVoltage:
      return ShowSignature(state, view, Signature::Voltage);
    case Kind::BlankCheck:
      return BlankCheck(state, view);
    case Kind::List:
    case Kind::Ports:
      break;
  }
  return OpResult::NotSupported;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   std::ostream* progressTerminal, const PortListRoots& portRoots) {
  Options options;
  try {
    options = Parse(args);
  } catch (const UsageError& e) {
    err << "zelwik-cli: " << e.message << " (see zelwik-cli --help)\n";
    return kExitUsage;
  }
  if (options.help) {
    out << kUsageHead << ChipNames() << kUsageTail;
    return kExitSuccess;
  }
  if (options.version) {
    out << "zelwik-cli " ZELWIK_VERSION "\n";
    return kExitSuccess;
  }
  const Kind kind = options.command->kind;
  if (kind == Kind::Ports) return RunPortsCommand(options.probe, portRoots, out, err);
  // Found before the operation, which then opens the port and probes it as always.
  if (IsAutoPort(options.port) && kind != Kind::List &&
      !FindProgrammerPort(portRoots, options.port, err)) {
    return kExitFailure;
  }

  // The image is 64 KiB: keep it off the stack.
  auto state = std::make_unique<State>();
  state->PortName = options.port;
  state->ChipType = options.chip;
  if (options.timeoutMs) state->link.SetReplyTimeout(*options.timeoutMs);

  ProgressBar progress(progressTerminal);
  SlowLinkWarning slowLink(err, LatencyTimerAdvice(DeviceForPort(state->PortName)));
  ConsoleView view(out, progress, kind == Kind::List, &slowLink);

  const FileFormat format = options.format.value_or(FormatOfFile(options.file));
  if (kind == Kind::Program || kind == Kind::Verify || kind == Kind::List) {
    // A file that cannot be read or is refused must not reach the chip: not even the probe is sent.
    if (!LoadImage(state->image, options.file, format, options.strict, view, err))
      return kExitFailure;
    if (kind == Kind::List) return kExitSuccess;
  }
  // Ctrl+C from here on stops the operation between two exchanges, not the process mid-frame.
  const InterruptGuard interrupts({state.get()});
  slowLink.OperationStarts();
  const auto [result, chipSize] =
      kind == Kind::Read ? ReadChipSized(*state, view) : ChipRead{RunOnChip(kind, *state, view), 0};
  if (const int status = interrupts.ExitStatus()) {
    // Asked to stop after the last exchange: the result is not what was asked for, and a read
    // saves nothing.
    if (result != OpResult::Cancelled) view.SetStatus(kTextCancelled);
    return status;
  }
  if (result == OpResult::LinkFailure) ReportPortFailure(state->link, err);
  if (result != OpResult::Success) return kExitFailure;
  if (kind == Kind::Read && !SaveImage(state->image, options.file, format, chipSize, view))
    return kExitFailure;
  return kExitSuccess;
}

}  // namespace zelwik::cli
