#include "cli/CliApp.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>

#include "app/AppInfo.h"
#include "app/DeviceTable.h"
#include "app/DialogPaths.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "base/Version.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/FileCommands.h"
#include "cli/FileFormats.h"
#include "cli/Gang.h"
#include "cli/Interrupt.h"
#include "cli/JobOptions.h"
#include "cli/Preflight.h"
#include "cli/SerialNumbers.h"
#include "cli/UdevRule.h"
#include "cli/UnitCommands.h"
#include "cli/UsbUnits.h"

namespace vrx4::cli {

namespace {

// --serial and its source: one of counter and list, nothing without --serial.
bool checkSerialOptions(const JobOptions& j, std::string& why) {
  const bool counter = !j.serialCounter.empty(), list = !j.serialList.empty();
  if (j.serialField.empty()) {
    if (counter || list || j.haveSerialStart || j.serialReuseFailed) {
      why = "--serial-counter, --serial-list, --serial-start and --serial-reuse-failed need --serial ADDR:WIDTH";
      return false;
    }
    return true;
  }
  SerialField f;
  if (!parseSerialField(j.serialField, f, why)) return false;
  if (counter == list) {
    why = "--serial needs one of --serial-counter FILE and --serial-list FILE";
    return false;
  }
  if (j.haveSerialStart && !counter) {
    why = "--serial-start is for --serial-counter";
    return false;
  }
  return true;
}

struct Global {
  bool json = false;
  bool quiet = false;
  std::vector<std::string> units;
  SimSettings sim;
  JobOptions job;
  FileOptions files;
};

constexpr const char* kCommandList =
    "the commands are program, read, info, devices, units, udev-rule, convert and checksum";

// A command-line error: the reason and where the usage is.
int usageError(const std::string& why) {
  std::fprintf(stderr, "vrx4-cli: %s\n(vrx4-cli --help shows the usage)\n", why.c_str());
  return kExitUsage;
}

// A file whose name does not say a format the command can use.
int fileNameRefused(const std::string& path, const std::string& accepted) {
  std::fprintf(stderr, "vrx4-cli: %s: not a program file name; %s\n", path.c_str(), accepted.c_str());
  return kExitFile;
}

// The parser of the command line: the options every command takes and each
// sub-command with its own, all bound to the values they set. Stays where it
// is built (the parser keeps pointers into it).
class CommandLine {
 public:
  CommandLine() {
    addSharedOptions();
    addProgram();
    addCheck();
    addOtherCommands();
  }
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  Global g;
  UsbOptions usb;
  bool dryRun = false, strict = false;  // program --dry-run; --strict of program and check
  bool allDevices = false;              // units --all
  CLI::App app{"vrx4-cli"};
  CLI::App* program = nullptr;
  CLI::App* check = nullptr;
  CLI::App* read = nullptr;
  CLI::App* info = nullptr;
  CLI::App* devices = nullptr;
  CLI::App* units = nullptr;
  CLI::App* udevRule = nullptr;
  CLI::App* convert = nullptr;
  CLI::App* checksum = nullptr;

 private:
  void addSharedOptions() {
    app.set_help_flag();
    app.fallthrough();
    app.require_subcommand(1);
    app.add_flag("--json", g.json);
    app.add_flag("--quiet", g.quiet);
    app.add_option("--unit", g.units);
    app.add_option("--record", g.job.recordPath);
    app.add_option("--gang-id", g.job.gangId);  // given by a gang to each unit's process
    app.add_flag("--yes", g.job.consent.yes);
    app.add_flag("--update-firmware", g.job.consent.updateFirmware);
    app.add_option("--device", g.job.device);
    app.add_option("--table", g.files.table);
    app.add_flag("--sim-instant", g.sim.instant);
    app.add_option("--sim-state", g.sim.statePath);
    app.add_flag("--sim-no-state", g.sim.noState);
    app.add_flag("--sim-fresh", g.sim.fresh);
    app.add_flag("--sim-no-target", g.sim.noTarget);
    addUsbOptions(app, usb);
  }

  // What a program job and its check share: the file or project, the
  // operation, the blocks, the lock bits and the ID code.
  void addJobOptions(CLI::App& sub) {
    sub.add_option("file", g.job.file);
    sub.add_option("--project", g.job.project);
    sub.add_option("--op", g.job.operation)->check(CLI::IsMember({"epv", "blank", "erase", "ep", "verify"}));
    sub.add_option("--blocks", g.job.blocks);
    sub.add_option("--lock-after", g.job.lockAfter);
    sub.add_option("--lock-state", g.job.lockState)->check(CLI::IsMember({"effective", "ignore"}));
    sub.add_option("--id", g.job.id);
  }

  void addProgram() {
    program = app.add_subcommand("program");
    addJobOptions(*program);
    program->add_option("--baud", g.job.baudKbps)->check(CLI::PositiveNumber);
    program->add_option("--sample-point", g.job.samplePointPct)->check(CLI::Range(1, 99));
    program->add_option("--boot", g.job.bootFile);
    program->add_option("--format", g.files.format);
    program->add_flag("--dry-run", dryRun);
    program->add_flag("--strict", strict);
    program->add_option("--serial", g.job.serialField);
    program->add_option("--serial-counter", g.job.serialCounter);
    program->add_option("--serial-list", g.job.serialList);
    program->add_option("--serial-start", g.job.serialStart);
    program->add_flag("--serial-reuse-failed", g.job.serialReuseFailed);
  }

  void addCheck() {
    check = app.add_subcommand("check");
    addJobOptions(*check);
    check->add_option("--boot", g.job.bootFile);
    check->add_flag("--strict", strict);
  }

  void addOtherCommands() {
    read = app.add_subcommand("read");
    read->add_option("-o,--output", g.job.output);
    read->add_option("--ranges", g.job.ranges);

    info = app.add_subcommand("info");
    devices = app.add_subcommand("devices");
    units = app.add_subcommand("units");
    units->add_flag("--all", allDevices);
    udevRule = app.add_subcommand("udev-rule");

    convert = app.add_subcommand("convert");
    convert->add_option("files", g.files.files);
    convert->add_option("--ranges", g.files.ranges);
    convert->add_option("--format", g.files.format);
    convert->add_option("--out-format", g.files.outFormat);
    checksum = app.add_subcommand("checksum");
    checksum->add_option("files", g.files.files);
    checksum->add_option("--format", g.files.format);
  }
};

// Log lines go to standard error, except in a quiet run, where only the
// errors are shown (as the events give them). The sink before is put back
// when the run ends.
class QuietLog {
 public:
  explicit QuietLog(bool quiet) : active_(quiet) {
    if (quiet) previous_ = setLogSink([](std::string_view) {});
  }
  ~QuietLog() {
    if (active_) setLogSink(previous_);
  }
  QuietLog(const QuietLog&) = delete;
  QuietLog& operator=(const QuietLog&) = delete;

 private:
  bool active_;
  LogSink previous_;
};

// --help and --version are answered wherever they stand on the line.
std::optional<int> helpOrVersion(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(usage().c_str(), stdout);
      return kExitPass;
    }
    if (a == "--version") {
      std::fputs(versionWithUsbId(args).c_str(), stdout);
      return kExitPass;
    }
  }
  return std::nullopt;
}

// Parses the line; a line the parser refuses ends the run with a usage
// error that names a missing or unknown command where it can.
std::optional<int> parseLine(CommandLine& c, const std::vector<std::string>& args) {
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    c.app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (c.app.get_subcommands().empty() && args.empty())
      return usageError("no command given; " + std::string(kCommandList));
    if (c.app.get_subcommands().empty()) {
      for (const std::string& a : args)
        if (!a.empty() && a[0] != '-') return usageError("unknown command '" + a + "'; " + kCommandList);
    }
    return usageError(e.what());
  }
  return std::nullopt;
}

// The values the file commands take from the options every command shares.
void completeOptions(CommandLine& c, const std::string& self) {
  Global& g = c.g;
  g.job.self = self;
  g.files.device = g.job.device;
  g.files.haveDevice = c.app.count("--device") > 0;
  g.files.haveRanges = c.convert->count("--ranges") > 0;
  g.files.yes = g.job.consent.yes;
  g.files.json = g.json;
}

// convert and checksum: no unit and no events, but with --json standard
// output carries JSON lines only, the last the result.
std::optional<int> runFileCommand(CommandLine& c, const std::string& folder) {
  Global& g = c.g;
  auto fileResult = [&](int status) {
    if (g.json) {
      Events json(OutputMode::Json, stdout, stderr, false);
      json.result(0, "", status, status == kExitPass ? "" : "file");
    }
    return status;
  };
  if (c.convert->parsed()) {
    if (g.files.files.size() != 2) return usageError("convert needs INPUT and OUTPUT");
    if (g.json && g.files.files[1] == "-") return usageError("--json and OUTPUT - would both write standard output");
    return fileResult(convertFile(g.files, folder));
  }
  if (c.checksum->parsed()) {
    if (g.files.files.size() != 1 || !g.files.haveDevice) return usageError("checksum needs INPUT and --device NAME");
    return fileResult(checksumFile(g.files, folder));
  }
  return std::nullopt;
}

// devices and units: lists, no job.
std::optional<int> runListCommand(CommandLine& c, Events& events, const std::string& folder) {
  if (c.devices->parsed()) return listDevices(events, c.g.files.table, folder);
  if (c.units->parsed()) {
    applyUsbOptions(c.usb, true);
    return c.allDevices ? listUsbDevices(events) : listUnits(events);
  }
  return std::nullopt;
}

// read: a device and an output whose name says its format.
std::optional<int> checkReadLine(CommandLine& c) {
  JobOptions& job = c.g.job;
  if (job.device.empty() || job.output.empty()) return usageError("read needs --device NAME and -o OUT");
  if (formatOfName(job.output) == FileFormat::Unknown)
    return fileNameRefused(job.output, std::string("accepted are ") + kAcceptedNames);
  job.operation = "read";
  return std::nullopt;
}

// program and check: the file or the project, the device, the job's
// options, the file's name and format, the serial number options.
std::optional<int> checkProgramLine(CommandLine& c) {
  JobOptions& job = c.g.job;
  // Blank and Erase need no program file, as on the form.
  const bool fileOptional = job.operation == "blank" || job.operation == "erase";
  if (!job.project.empty() && !job.file.empty())
    return usageError("program takes FILE or --project FILE.vxp, not both");
  if (job.project.empty() && job.file.empty() && !fileOptional)
    return usageError("program needs FILE and --device NAME, or --project FILE.vxp");
  if (job.project.empty() && job.device.empty()) return usageError("program needs --device NAME");
  std::string why;
  if (!checkJobOptions(job, why)) return usageError(why);
  // The unit is sent the file as the window's "Load..." sends it, and that
  // loader goes by the extension's first letter.
  if (!job.file.empty() && !windowReads(job.file)) return fileNameRefused(job.file, kProgramNames);
  if (c.program->count("--format") > 0) {
    const std::string& format = c.g.files.format;
    FileFormat given;
    if (!parseFormatName(format, given)) return usageError("--format takes hex or srec, not '" + format + "'");
    // The unit keeps the file's name, and the program reads the file again
    // by that name at its start-up: the name has to say the format.
    if (!job.file.empty() && windowFormatOf(job.file) != given)
      return fileNameRefused(job.file, std::string("its name does not say --format ") + format +
                                           "; the unit keeps the name and the file is read again by it (" +
                                           kProgramNames + ")");
  }
  if (c.strict && !c.dryRun && !c.check->parsed()) return usageError("--strict is for check and program --dry-run");
  job.haveSerialStart = c.program->count("--serial-start") > 0;
  if (std::string problem; !checkSerialOptions(job, problem)) return usageError(problem);
  return std::nullopt;
}

// The checks of a job's command line, and the pre-flight check, which ends
// the run with its report and sends nothing to any unit.
std::optional<int> checkJobLine(CommandLine& c, const std::string& folder) {
  if (c.read->parsed()) {
    if (const auto status = checkReadLine(c)) return status;
  }
  if ((c.program->parsed() || c.read->parsed() || c.info->parsed()) && c.app.count("--table") > 0)
    return usageError(
        "--table is for convert, checksum and devices; a job with a unit uses the table beside "
        "the program, the one the unit is checked against");
  if (!c.program->parsed() && !c.check->parsed()) return std::nullopt;
  if (const auto status = checkProgramLine(c)) return status;
  if (!c.check->parsed() && !c.dryRun) return std::nullopt;
  PreflightOptions p;
  p.table = c.g.files.table;
  p.folder = folder;
  p.strict = c.strict;
  p.json = c.g.json;
  return preflightCheck(c.g.job, p);
}

// The units of --unit (usb when none is given): each one understood, the
// simulated unit's options only with that unit, no unit twice.
std::optional<int> chooseUnits(CommandLine& c, std::vector<UnitSpec>& choices) {
  if (c.g.units.empty()) c.g.units.push_back("usb");
  for (const std::string& u : c.g.units) {
    UnitSpec choice;
    std::string why;
    if (!parseUnitSpec(u, choice, why)) return usageError(why);
    choices.push_back(choice);
  }
  // The simulated unit's options mean nothing to any other unit: refused
  // rather than ignored while the job looks for a unit on USB.
  bool anySim = false;
  for (const UnitSpec& u : choices) anySim = anySim || u.kind == UnitKind::Sim;
  for (const char* option : {"--sim-instant", "--sim-state", "--sim-no-state", "--sim-fresh", "--sim-no-target"})
    if (c.app.count(option) > 0 && !anySim) return usageError(std::string(option) + " needs --unit sim");
  for (size_t i = 0; i < choices.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (sameUnit(choices[i], choices[k]))
        return usageError("--unit " + choices[i].text + " is given twice (as " + choices[k].text +
                          "); each unit takes one job at a time");
  return std::nullopt;
}

// Several units: the job's files and its serial number field are checked
// once, before any unit's process starts; then each unit runs the job in a
// process of its own.
int runOnGang(CommandLine& c, Events& events, const std::string& folder, const std::string& self,
              const std::vector<std::string>& args) {
  JobOptions& job = c.g.job;
  if (!c.program->parsed()) return usageError("several --unit are for program only");
  if (job.project.empty()) {
    CliPrompter prompter(job.consent, &events);
    if (int status = checkProgramFiles(events, prompter, job); status != kExitPass) {
      events.result(0, "", status, status == kExitUsage ? "device" : "load", {{"reason", events.lastProblem()}});
      return status;
    }
  }
  // A refusal of the field comes before any number is taken.
  if (!job.serialField.empty() && !job.device.empty()) {
    if (int status = checkSerialFieldOfDevice(events, job.serialField, job.device, folder); status != kExitPass) {
      events.result(0, "", status, "serial", {{"reason", events.lastProblem()}});
      return status;
    }
  }
  return runGang(events, self, args, c.g.units, job.recordPath);
}

// One unit: the command on it.
int runOnUnit(CommandLine& c, Events& events, const UnitSpec& unit) {
  applyUsbOptions(c.usb, unit.kind == UnitKind::Usb);
  UnitSession session(unit, c.g.sim);
  if (c.info->parsed()) return showInfo(events, session, c.g.job);
  if (c.read->parsed()) return readTarget(events, session, c.g.job);
  if (!c.g.job.project.empty()) return programProject(events, session, c.g.job);
  return programTarget(events, session, c.g.job);
}

}  // namespace

int run(const std::vector<std::string>& args, const std::string& self) {
  if (const auto status = helpOrVersion(args)) return *status;
  CommandLine c;
  if (const auto status = parseLine(c, args)) return *status;
  if (const std::string why = checkUsbOptions(c.usb); !why.empty()) return usageError(why);
  if (c.udevRule->parsed()) return printUdevRule(applyUsbOptions(c.usb, true));

  const std::string folder = programFolder(self);
  completeOptions(c, self);
  if (const auto status = runFileCommand(c, folder)) return *status;

  const OutputMode mode = c.g.json ? OutputMode::Json : c.g.quiet ? OutputMode::Quiet : OutputMode::Human;
  QuietLog quietLog(c.g.quiet);
  Events events(mode, stdout, stderr, ::isatty(STDERR_FILENO) == 1);
  if (const auto status = runListCommand(c, events, folder)) return *status;
  if (const auto status = checkJobLine(c, folder)) return *status;

  std::vector<UnitSpec> choices;
  if (const auto status = chooseUnits(c, choices)) return *status;
  // From here on a signal stops the job on its way and leaves its record.
  installInterruptHandlers();
  if (choices.size() > 1) return runOnGang(c, events, folder, self, args);
  return runOnUnit(c, events, choices[0]);
}

}  // namespace vrx4::cli
