// The text of vrx4-cli --help: every command with its options, the units,
// the options all commands share, the messages, the exit statuses, the
// signals and the files the program uses.
#include "cli/CliApp.h"

namespace vrx4::cli {

namespace {

constexpr const char kUsageText[] = R"help(Usage: vrx4-cli COMMAND [OPTIONS]

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

}  // namespace

std::string usage() { return kUsageText; }

}  // namespace vrx4::cli
