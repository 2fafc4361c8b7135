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
#include "cli/Interrupt.h"
#include "cli/JobOptions.h"
#include "cli/Preflight.h"
#include "cli/SerialNumbers.h"
#include "cli/UdevRule.h"
#include "cli/UnitCommands.h"
#include "cli/UsbUnits.h"

namespace vrx4::cli {

std::string usage() {
  return R"help(Usage: vrx4-cli COMMAND [OPTIONS]

Commands with a unit:
  vrx4-cli program FILE --device NAME [--op epv|blank|erase|ep|verify]
           [--blocks LIST] [--lock-after LIST] [--lock-state effective|ignore]
           [--id XX,XX,...] [--baud KBPS] [--sample-point PCT] [--boot FILE.btp]
           [--format hex|srec] [--unit U]... [--yes]
      Selects the device, loads FILE (Intel HEX *.hex, *.ihx, *.ihex or
      S-records *.s19, *.s28, *.s37, *.srec, *.mot, read by its name as the
      program's window reads it; --format must agree with the name, which
      the unit keeps) and sends it to the unit, applies the settings,
      selects the operation (default epv: Erase/Program/Verify) and starts
      it; prints the result word. The unit receives the same commands in
      the same order as from the program's window. --blocks (default all)
      and --lock-after (default none) take block numbers such as 0-2,5;
      --id replaces the ID code found in the image.
      FILE may be left out for --op blank and --op erase.
  vrx4-cli program --project FILE.vxp [--unit U]... [--yes]
      Takes every setting, the program file and the boot file from a
      project file; the program file it names follows the rule of FILE, and
      a project that selects no device is refused.
  vrx4-cli program ... --dry-run [--strict]
      The report of "check" from the same settings (also with --project);
      no unit is looked for or sent anything.
  vrx4-cli program ... --serial ADDR:WIDTH[:FORMAT] --serial-counter FILE
           [--serial-start N] [--serial-reuse-failed]
  vrx4-cli program ... --serial ADDR:WIDTH[:FORMAT] --serial-list FILE
      Each board gets its own number, written into the image before it is
      sent: WIDTH bytes at ADDR (hexadecimal) as le or be binary (default
      le), bcd, ascii (decimal, zero-padded) or hex (upper-case hex digits).
      --serial-counter FILE holds the next number (--serial-start N makes a
      new one); --serial-list FILE holds one value a line, a number or hex
      bytes such as 00:1A:2B:3C:4D:5E, taken in order (the position is kept
      in FILE.pos). A number is taken under a lock and written to disk
      before the unit hears anything, so a gang's units never share one and
      a crash never hands one out twice. The image's "Check Sum :", block
      sums and the record's checksum are of the image with the number; the
      record gets "serial". A job that does not pass burns its number;
      with --serial-reuse-failed it is handed back when the unit never
      received the image. Only epv and ep take a number. Refused with 2
      before anything is taken or sent: a field outside the user ROM or on
      the ID code or protect byte, a number too wide, an exhausted list.
      Example: --serial 3F000:4:le --serial-counter board.counter
  vrx4-cli read --device NAME -o OUT [--ranges TEXT] [--unit U]
      Checks that OUT can be written, reads the target's user ROM into the
      unit, fetches it and saves it:
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
  vrx4-cli check FILE --device NAME [--op ...] [--blocks LIST]
           [--lock-after LIST] [--lock-state ...] [--id XX,...] [--boot FILE]
           [--project FILE.vxp] [--yes] [--strict] [--json]
      Pre-flight: loads FILE as program would (the questions answered as
      --yes answers them, but only reported) and shows each block's
      address range, the bytes the file fills, its sum and what the
      operation does to it; warnings (blocks erased without data, data
      outside the user ROM, a protect level, ID code bytes of the image
      that differ from --id, a boot file outside the boot area); the
      "Check Sum :", the bytes programmed and an estimate of the time on
      the simulated unit's timing model. Ends with 0 when there is nothing
      to warn about, 3 when the loader would refuse the file (a question
      without --yes), and with --strict also 3 on a warning. --json: one
      object with the same content.
      Example: vrx4-cli check app.hex --device DEMO-B256K --strict
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
  the same time (gang programming); the files are checked once before any
  starts, every output line starts with the unit, and the exit status is
  the highest of the units' statuses. The same unit twice is refused.

Options:
  --json             one JSON object per line on standard output for every
                     event (nothing else goes there): phase start and end,
                     progress (done/total), each message with its icon,
                     last the result (code, word, status; for a failure the
                     phase and reason, after a signal the signal); also for
                     convert and checksum
  --quiet            print only errors
  --record FILE      append one JSON line per job and unit. FILE is opened
                     before the unit hears anything (a job whose record
                     cannot be kept does not start). Fields: time, started,
                     ended (UTC), job_id (a random UUID), gang_id (the same
                     for every unit of a gang), tool_version, host, unit
                     path (the --unit text until the unit is found) and
                     serial, firmware and target versions (empty until
                     known), device, file and its SHA-256 and "Check Sum :"
                     (for read: the file written, its SHA-256 and the
                     checksum of what was read), operation, blocks, result
                     (code, word), status, duration_s; for every result but
                     Pass: phase and reason (the message and its detail);
                     after a signal: signal
  --yes              accept the loader's questions (data outside the area,
                     protect level); without it they are refused
  --update-firmware  update the unit's firmware when its version differs
                     (otherwise such a unit is refused)
  --device NAME      a device of the device table
  --table PATH       the device table for convert, checksum, check, devices
                     (default: vrx4type.tbl beside the program); its messages
                     name PATH. Refused for program, read and info: they use
                     the table beside the program, as the unit's check does
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
  The same for the same fault in every command.
  0    pass: the whole job passed ("Result : Pass" is printed only then)
  2    the command line is wrong: an unknown command, option or device, a
       bad value (--format, --ranges, --baud, ...), the same unit twice
  3    file: cannot be opened, refused (name, format error, question), a
       project that names no usable file or no device, a missing device
       table, an output or record that cannot be written
  4    no unit, or the unit cannot be used (model, firmware version, still
       running an earlier job's operation)
  5    communication or command error (also a fetch that failed after a
       passed Read: "Result : fetch failed (the operation's result was Pass)")
  6    the operation's result was not "Pass" (the result word is printed)
  129  SIGHUP, 130 SIGINT (Ctrl-C), 143 SIGTERM: the job was interrupted
  No failure ever ends with 0; every other status comes with a message.

Signals: SIGINT, SIGTERM and SIGHUP stop the job on its way. During the
send the send ends and the unit is told that it holds no user data (as
after a failed Load); during the operation the unit is asked to stop
(abortOperation) and awaited for a few seconds. Then the record line
(result "interrupted", the signal and the phase), the result event and one
message are written, and vrx4-cli ends with 128 + the signal. A second
signal ends it at once, still writing the record line. A gang passes the
signal to each unit's process, waits for them (20 s at most) and prints
the summary.

Files:
  vrx4type.tbl   the device table, beside the program or in ../share/vrx4/
  vrx4.fwp       the unit firmware the program carries (--update-firmware)
  60-vrx4.rules  the udev rule that gives the operator access to the unit

Examples:
  vrx4-cli program app.hex --device DEMO-B256K --record jobs.jsonl
  vrx4-cli program app.s19 --device DEMO-B256K --unit usb:SN1 --unit usb:SN2
  vrx4-cli read --device DEMO-B256K -o back.mot --ranges "0-FFFF"
  vrx4-cli program --project line3.vxp --json --record jobs.jsonl
  vrx4-cli checksum app.hex --device DEMO-B256K --json
)help";
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
  program->add_option("--format", g.files.format);
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
    if (app.get_subcommands().empty() && args.empty()) return usageError("no command given; " + std::string(kCommandList));
    if (app.get_subcommands().empty()) {
      for (const std::string& a : args)
        if (!a.empty() && a[0] != '-') return usageError("unknown command '" + a + "'; " + kCommandList);
    }
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

  g.files.json = g.json;
  // With --json standard output carries JSON lines only, the last the result.
  auto fileResult = [&](int status) {
    if (g.json) {
      Events json(OutputMode::Json, stdout, stderr, false);
      json.result(0, "", status, status == kExitPass ? "" : "file");
    }
    return status;
  };
  if (convert->parsed()) {
    if (g.files.files.size() != 2) return usageError("convert needs INPUT and OUTPUT");
    if (g.json && g.files.files[1] == "-") return usageError("--json and OUTPUT - would both write standard output");
    return fileResult(convertFile(g.files, folder));
  }
  if (checksum->parsed()) {
    if (g.files.files.size() != 1 || !g.files.haveDevice) return usageError("checksum needs INPUT and --device NAME");
    return fileResult(checksumFile(g.files, folder));
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
  if ((program->parsed() || read->parsed() || info->parsed()) && app.count("--table") > 0)
    return usageError("--table is for convert, checksum and devices; a job with a unit uses the table beside "
                      "the program, the one the unit is checked against");
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
      return fileNameRefused(g.job.file, kProgramNames);
    if (program->count("--format") > 0) {
      FileFormat given;
      if (!parseFormatName(g.files.format, given)) return usageError("--format takes hex or srec, not '" + g.files.format + "'");
      // The unit keeps the file's name, and the program reads the file again
      // by that name at its start-up: the name has to say the format.
      if (!g.job.file.empty() && windowFormatOf(g.job.file) != given)
        return fileNameRefused(g.job.file, std::string("its name does not say --format ") + g.files.format +
                                               "; the unit keeps the name and the file is read again by it (" +
                                               kProgramNames + ")");
    }
    if (strict && !dryRun && !check->parsed()) return usageError("--strict is for check and program --dry-run");
    g.job.haveSerialStart = program->count("--serial-start") > 0;
    if (std::string problem; !checkSerialOptions(g.job, problem)) return usageError(problem);
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
  for (size_t i = 0; i < choices.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (sameUnit(choices[i], choices[k]))
        return usageError("--unit " + choices[i].text + " is given twice (as " + choices[k].text +
                          "); each unit takes one job at a time");
  // From here on a signal stops the job on its way and leaves its record.
  installInterruptHandlers();
  if (choices.size() > 1) {
    if (!program->parsed()) return usageError("several --unit are for program only");
    // The files are checked once, before any unit's process starts.
    if (g.job.project.empty()) {
      CliPrompter prompter(g.job.consent, &events);
      if (int status = checkProgramFiles(events, prompter, g.job); status != kExitPass) {
        events.result(0, "", status, status == kExitUsage ? "device" : "load", {{"reason", events.lastProblem()}});
        return status;
      }
    }
    // So is the serial number field: a refusal before any number is taken.
    if (!g.job.serialField.empty() && !g.job.device.empty()) {
      if (int status = checkSerialFieldOfDevice(events, g.job.serialField, g.job.device, folder);
          status != kExitPass) {
        events.result(0, "", status, "serial", {{"reason", events.lastProblem()}});
        return status;
      }
    }
    return runGang(events, self, args, g.units, g.job.recordPath);
  }
  applyUsbOptions(usb, choices[0].kind == UnitKind::Usb);
  UnitSession session(choices[0], g.sim);
  if (info->parsed()) return showInfo(events, session, g.job);
  if (read->parsed()) return readTarget(events, session, g.job);
  if (!g.job.project.empty()) return programProject(events, session, g.job);
  return programTarget(events, session, g.job);
}

}  // namespace vrx4::cli
