#include "cli/CliApp.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

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
#include "cli/JobOptions.h"
#include "cli/Preflight.h"
#include "cli/SerialNumbers.h"
#include "cli/UdevRule.h"
#include "cli/UnitCommands.h"
#include "cli/UsbUnits.h"

namespace vrx4::cli {

std::string usage() {
  return R"(Usage: vrx4-cli COMMAND [OPTIONS]

Commands with a unit:
  vrx4-cli program FILE --device NAME [--op epv|blank|erase|ep|verify]
           [--blocks LIST] [--lock-after LIST] [--lock-state effective|ignore]
           [--id XX,XX,...] [--baud KBPS] [--sample-point PCT] [--boot FILE.btp]
           [--unit U]... [--yes]
      Selects the device, loads FILE (Intel HEX *.hex or S-record *.mot, the
      names the program's window reads) and sends it to the unit, applies the settings, selects the operation
      (default epv: Erase/Program/Verify) and starts it; prints the result
      word. The unit receives the same commands in the same order as from
      the program's window. --blocks (default all) and --lock-after
      (default none) take block numbers such as 0-2,5; --id replaces the ID
      code found in the image.
      FILE may be left out for --op blank and --op erase.
  vrx4-cli program --project FILE.vxp [--unit U]... [--yes]
      Takes every setting, the program file and the boot file from a
      project file.
  vrx4-cli read --device NAME -o OUT [--ranges TEXT] [--unit U]
      Reads the target's user ROM into the unit, fetches it and saves it:
      Intel HEX for *.hex, *.ihx, *.ihex, S-records for *.s19, *.s28, *.s37,
      *.srec, *.mot (other names are refused).
      --ranges takes up to five addresses or ranges ("1000-10FF, 2000").
  vrx4-cli info [--unit U]
      The unit's identity and firmware version, the target's version
      ("Read Version") and what the unit holds (device, file, operation).
  vrx4-cli devices [--table PATH]
      The device table beside the program: name, user ROM area, blocks,
      voltages, ID code length, boot area.
  vrx4-cli units [--all]
      The units attached on USB, with bus path and USB serial number.
      --all: every USB device (bus path, VID:PID, product and serial where
      the system knows them, nothing is opened), the unit's IDs marked "*".
  vrx4-cli udev-rule [--usb-id VID:PID]
      Prints the USB access rule for the unit's IDs in use, with the
      commands that install it.

Commands without a unit:
  vrx4-cli convert INPUT OUTPUT [--device NAME] [--ranges TEXT] [--yes]
           [--format hex|srec] [--out-format hex|srec]
      Loads the program file INPUT into the user-ROM area of device NAME (the
      whole 4 MiB area without --device) and writes it to OUTPUT. The names
      tell the format: *.hex, *.ihx, *.ihex are Intel HEX, *.s19, *.s28,
      *.s37, *.srec, *.mot S-records (any letter case); other names are
      refused unless --format (INPUT) or --out-format (OUTPUT) says. INPUT
      "-" is standard input (--format needed), OUTPUT "-" standard output
      (INPUT's format unless --out-format says). --ranges takes up to five
      addresses or ranges such as "1000-10FF, 2000" (hexadecimal, within the
      area).
  vrx4-cli checksum INPUT --device NAME [--format hex|srec]
      Loads INPUT for device NAME and prints its "Check Sum :" value and the
      sum of each block of the device.

Units (--unit):
  usb          the first unit on USB (the default)
  usb:SERIAL   the unit with this USB serial number string (see "units")
  sim          the simulated unit inside vrx4-cli (--sim-instant: no busy
               time; --sim-state PATH, --sim-no-state, --sim-fresh: its state
               file; --sim-no-target: no target behind it; these options are
               refused without --unit sim)
  socket:PATH  a vrx4-unitsim process serving PATH
  Given several times, each unit runs the job in a process of its own at
  the same time (gang programming); every output line starts with the
  unit, and the exit status is the highest of the units' statuses.

Options:
  --json             one JSON object per line on standard output for every
                     event: phase start and end, progress (done/total), each
                     message with its icon, last the result (code, word,
                     exit status)
  --quiet            print only errors
  --record FILE      append one JSON line per job and unit: time (UTC), unit
                     path and serial, firmware and target versions, device,
                     program file and its SHA-256, "Check Sum :", operation,
                     blocks, result and duration
  --yes              accept the loader's questions (data outside the area,
                     protect level); without it they are refused
  --update-firmware  update the unit's firmware when its version differs
                     (otherwise such a unit is refused)
  --device NAME      a device of the device table
  --table PATH       the device table for convert, checksum and devices
                     (default: vrx4type.tbl beside the program); its messages
                     name PATH
  --usb-id VID:PID   the unit's USB vendor and product ID (4 hexadecimal
                     digits each); else VRX4_USB_ID, else "usb-id = VID:PID"
                     in ~/.config/vrx4/unit.conf or /etc/vrx4/unit.conf, else
                     the build's IDs
  --usb-timeout SECONDS
                     how long an ordinary exchange with the unit may take
                     (default 10); status polls get a fifth of it, the
                     commands during which the unit works six times it
  --help             this text
  --version          the program's version, the unit firmware it carries and
                     the unit's USB IDs in use (and where they come from)

Every message is also one line on standard error, with the file and the
reason where there is one, e.g.
  vrx4-cli: stop: File format error. (app.hex, line 3: checksum mismatch ...)

Exit status:
  0  pass (program: the unit's result was "Pass")
  2  the command line is wrong
  3  file: cannot be opened, format error, refused question, cannot be saved
  4  no unit, or the unit cannot be used (model, firmware version)
  5  communication or command error
  6  the operation's result was not "Pass" (the result word is printed)
  convert and checksum end with 1 when the file is refused.
  No failure ever ends with 0.
)";
}

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

}  // namespace

int run(const std::vector<std::string>& args, const std::string& self) {
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

  Global g;
  CLI::App app{"vrx4-cli"};
  app.set_help_flag();
  app.fallthrough();
  app.require_subcommand(1);
  app.add_flag("--json", g.json);
  app.add_flag("--quiet", g.quiet);
  app.add_option("--unit", g.units);
  app.add_option("--record", g.job.recordPath);
  app.add_flag("--yes", g.job.consent.yes);
  app.add_flag("--update-firmware", g.job.consent.updateFirmware);
  app.add_option("--device", g.job.device);
  app.add_option("--table", g.files.table);
  app.add_flag("--sim-instant", g.sim.instant);
  app.add_option("--sim-state", g.sim.statePath);
  app.add_flag("--sim-no-state", g.sim.noState);
  app.add_flag("--sim-fresh", g.sim.fresh);
  app.add_flag("--sim-no-target", g.sim.noTarget);
  UsbOptions usb;
  addUsbOptions(app, usb);

  CLI::App* program = app.add_subcommand("program");
  program->add_option("file", g.job.file);
  program->add_option("--project", g.job.project);
  program->add_option("--op", g.job.operation)
      ->check(CLI::IsMember({"epv", "blank", "erase", "ep", "verify"}));
  program->add_option("--blocks", g.job.blocks);
  program->add_option("--lock-after", g.job.lockAfter);
  program->add_option("--lock-state", g.job.lockState)->check(CLI::IsMember({"effective", "ignore"}));
  program->add_option("--id", g.job.id);
  program->add_option("--baud", g.job.baudKbps)->check(CLI::PositiveNumber);
  program->add_option("--sample-point", g.job.samplePointPct)->check(CLI::Range(1, 99));
  program->add_option("--boot", g.job.bootFile);
  bool dryRun = false, strict = false;
  program->add_flag("--dry-run", dryRun);
  program->add_flag("--strict", strict);
  program->add_option("--serial", g.job.serialField);
  program->add_option("--serial-counter", g.job.serialCounter);
  program->add_option("--serial-list", g.job.serialList);
  program->add_option("--serial-start", g.job.serialStart);
  program->add_flag("--serial-reuse-failed", g.job.serialReuseFailed);

  CLI::App* check = app.add_subcommand("check");
  check->add_option("file", g.job.file);
  check->add_option("--project", g.job.project);
  check->add_option("--op", g.job.operation)->check(CLI::IsMember({"epv", "blank", "erase", "ep", "verify"}));
  check->add_option("--blocks", g.job.blocks);
  check->add_option("--lock-after", g.job.lockAfter);
  check->add_option("--lock-state", g.job.lockState)->check(CLI::IsMember({"effective", "ignore"}));
  check->add_option("--id", g.job.id);
  check->add_option("--boot", g.job.bootFile);
  check->add_flag("--strict", strict);

  CLI::App* read = app.add_subcommand("read");
  read->add_option("-o,--output", g.job.output);
  read->add_option("--ranges", g.job.ranges);

  CLI::App* info = app.add_subcommand("info");
  CLI::App* devices = app.add_subcommand("devices");
  CLI::App* units = app.add_subcommand("units");
  bool allDevices = false;
  units->add_flag("--all", allDevices);
  CLI::App* udevRule = app.add_subcommand("udev-rule");

  CLI::App* convert = app.add_subcommand("convert");
  convert->add_option("files", g.files.files);
  convert->add_option("--ranges", g.files.ranges);
  convert->add_option("--format", g.files.format);
  convert->add_option("--out-format", g.files.outFormat);
  CLI::App* checksum = app.add_subcommand("checksum");
  checksum->add_option("files", g.files.files);
  checksum->add_option("--format", g.files.format);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (app.get_subcommands().empty() && args.empty()) return usageError("no command given");
    return usageError(e.what());
  }

  if (const std::string why = checkUsbOptions(usb); !why.empty()) return usageError(why);
  if (udevRule->parsed()) return printUdevRule(applyUsbOptions(usb, true));

  const std::string folder = programFolder(self);
  g.job.self = self;
  g.files.device = g.job.device;
  g.files.haveDevice = app.count("--device") > 0;
  g.files.haveRanges = convert->count("--ranges") > 0;
  g.files.yes = g.job.consent.yes;

  if (convert->parsed()) {
    if (g.files.files.size() != 2) return usageError("convert needs INPUT and OUTPUT");
    return convertFile(g.files, folder);
  }
  if (checksum->parsed()) {
    if (g.files.files.size() != 1 || !g.files.haveDevice) return usageError("checksum needs INPUT and --device NAME");
    return checksumFile(g.files, folder);
  }

  const OutputMode mode = g.json ? OutputMode::Json : g.quiet ? OutputMode::Quiet : OutputMode::Human;
  // Log lines go to standard error, except in a quiet run, where only the
  // errors are shown (as the events give them).
  LogSink previousSink;
  if (g.quiet) previousSink = setLogSink([](std::string_view) {});
  struct RestoreSink {
    bool active;
    LogSink sink;
    ~RestoreSink() {
      if (active) setLogSink(sink);
    }
  } restoreSink{g.quiet, previousSink};
  Events events(mode, stdout, stderr, ::isatty(STDERR_FILENO) == 1);

  if (devices->parsed()) return listDevices(events, g.files.table, folder);
  if (units->parsed()) {
    applyUsbOptions(usb, true);
    return allDevices ? listUsbDevices(events) : listUnits(events);
  }

  if (read->parsed()) {
    if (g.job.device.empty() || g.job.output.empty()) return usageError("read needs --device NAME and -o OUT");
    if (formatOfName(g.job.output) == FileFormat::Unknown)
      return fileNameRefused(g.job.output, std::string("accepted are ") + kAcceptedNames);
    g.job.operation = "read";
  }
  if (program->parsed() || check->parsed()) {
    // Blank and Erase need no program file, as on the form.
    const bool fileOptional = g.job.operation == "blank" || g.job.operation == "erase";
    if (!g.job.project.empty() && !g.job.file.empty())
      return usageError("program takes FILE or --project FILE.vxp, not both");
    if (g.job.project.empty() && g.job.file.empty() && !fileOptional)
      return usageError("program needs FILE and --device NAME, or --project FILE.vxp");
    if (g.job.project.empty() && g.job.device.empty()) return usageError("program needs --device NAME");
    std::string why;
    if (!checkJobOptions(g.job, why)) return usageError(why);
    // The unit is sent the file as the window's "Load..." sends it, and that
    // loader goes by the extension's first letter.
    if (!g.job.file.empty() && !windowReads(g.job.file))
      return fileNameRefused(g.job.file, "program reads *.hex (Intel HEX) and *.mot (S-records); "
                                         "vrx4-cli convert makes one of the others");
    if (strict && !dryRun && !check->parsed()) return usageError("--strict is for check and program --dry-run");
    g.job.haveSerialStart = program->count("--serial-start") > 0;
    if (std::string why; !checkSerialOptions(g.job, why)) return usageError(why);
    // The pre-flight check: the report, and nothing sent to any unit.
    if (check->parsed() || dryRun) {
      PreflightOptions p;
      p.table = g.files.table;
      p.folder = folder;
      p.strict = strict;
      p.json = g.json;
      return preflightCheck(g.job, p);
    }
  }
  if (g.units.empty()) g.units.push_back("usb");
  std::vector<UnitSpec> choices;
  for (const std::string& u : g.units) {
    UnitSpec choice;
    std::string why;
    if (!parseUnitSpec(u, choice, why)) return usageError(why);
    choices.push_back(choice);
  }
  // The simulated unit's options mean nothing to any other unit: refused
  // rather than ignored while the job looks for a unit on USB.
  bool anySim = false;
  for (const UnitSpec& c : choices) anySim = anySim || c.kind == UnitKind::Sim;
  for (const char* option : {"--sim-instant", "--sim-state", "--sim-no-state", "--sim-fresh", "--sim-no-target"})
    if (app.count(option) > 0 && !anySim) return usageError(std::string(option) + " needs --unit sim");
  if (choices.size() > 1) {
    if (!program->parsed()) return usageError("several --unit are for program only");
    return runGang(events, self, args, g.units);
  }
  applyUsbOptions(usb, choices[0].kind == UnitKind::Usb);
  UnitSession session(choices[0], g.sim);
  if (info->parsed()) return showInfo(events, session, g.job);
  if (read->parsed()) return readTarget(events, session, g.job);
  if (!g.job.project.empty()) return programProject(events, session, g.job);
  return programTarget(events, session, g.job);
}

}  // namespace vrx4::cli
