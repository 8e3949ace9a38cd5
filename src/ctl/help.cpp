#include "ctl/help.h"

namespace qvx::ctl {

extern const char *const Help = R"(Commands:
  scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]
                         find gateways (serial: rates, parities and units; TCP: units)
  read holding|input START COUNT
                         read 1..126 registers
  write START VALUE...   write registers (one: function 6, several: function 16)
  info                   the settings readout and the firmware identification
  meters read [--slot N] [-o FILE] [--id-digits 8|16] [--long-obis on|off]
                         the meter table, as a meter data file (or JSON)
  meters write FILE [--slot N | --all] [--dry-run]
                         program the slots the file holds (a meter data or JSON
                         file) and read them back; --all: every slot, empty ones
                         erased; --dry-run: list the writes, send nothing
  meters diff FILE       what differs between the gateway and the file's slots (exit 1)
  values SLOT [--64bit] [--every SECONDS] [--count N]
                         the slot's collected values with a time stamp
  profile save FILE      settings and meter table to a profile (qvx-profile/1)
  profile diff FILE      what differs between the gateway and the profile
  profile apply FILE [--with-address] [--with-network] [--with-line]
                         write what differs, then read everything back
  iec readout ADDRESS [--until-end] [--mode-c] [--start-300]
                         read a meter directly over IEC 62056-21 (serial only)

Many gateways: --targets FILE runs the command on every target, one a line as
LINK options ("--tcp 10.0.0.5 --unit 3"), optionally "--name NAME", # comments;
-j N at once; results in the file's order with the reason of each failure.
One link a line; the same gateway twice is refused (--allow-duplicates runs
them one after the other).  An output file is then a pattern with {name},
{host}, {port}, {unit} (-o 'tables/{name}.txt'); two targets never write one
file.  Without --name a target is named by its link: 10.0.0.5-502-u3.

Files: FILE and the targets file must be regular files of at most 1 MiB.
Every output is written whole (a temporary file, then renamed) or not at all,
and it is checked to be writable before the first request.

Files are checked whole before the first request: a meter ID, OBIS code, line
or profile field the gateway could not take as written is named (by line or
field) and the file is refused with exit status 2.

A request whose reply was lost or broken is sent again (--retries N, 2 by default):
reads and writes of register values, never a command such as "Reset".  --echo: the
serial adapter hands back what it sends; the echo is dropped from each reply.

Exit status: 0 done; 1 a gateway did not answer, answered with an exception or
failed a read-back or diff; 2 usage error or refused file; 3 the link could not
be opened.
)";
extern const CommandHelp CommandHelps[] = {
    {"scan", "qvxctl [LINK] scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]\n"
             "Finds gateways.  Serial: first the likely units (1, --unit, 247, 2-10) at every rate\n"
             "(most likely first) and parity, then the other units at the rates where the line\n"
             "showed activity, then at the rest; stops at the first gateway unless --all.  Each\n"
             "probe waits the wire time plus --timeout (50 ms by default for scan).  A find counts\n"
             "once the device identification is answered too; other traffic on the line is\n"
             "reported as such.  A line for each rate, parity and pass with the time left goes\n"
             "to standard error.  TCP: sweeps the units, likely ones first.\n"},
    {"read", "qvxctl [LINK] read holding|input START COUNT\nReads COUNT (1..126) registers from START.\n"},
    {"write",
     "qvxctl [LINK] write START VALUE...\nWrites values (decimal or 0x-hex) from START: one with function "
     "6, several with 16.\n"},
    {"info",
     "qvxctl [LINK] info\nReads the settings (IPv4 block, TCP idle time, flags, IEC line, readout period)\n"
     "and the firmware identification.\n"},
    {"meters", "qvxctl [LINK] meters read [--slot N] [-o FILE] [--id-digits 8|16] [--long-obis on|off]\n"
               "qvxctl [LINK] meters write FILE [--slot N | --all] [--dry-run]\n"
               "qvxctl [LINK] meters diff FILE [--slot N]\n"
               "The meter table as a meter data file (the window's format) or JSON.  A file holds\n"
               "the slots it gives an ID; an empty block (or entry) is not part of it, so write\n"
               "and diff touch only the slots the file holds and name them.  --all writes every\n"
               "slot, the empty ones erased; --dry-run lists the writes and sends nothing.\n"
               "The file is checked before the first write: a line that is not as the format\n"
               "says, an ID that is not 8 or 16 digits and F (as the gateway's flag says), an\n"
               "OBIS code the gateway would not store as written, or text that is not Latin-1\n"
               "is named by its line and the file is refused (exit 2).  Without --id-digits\n"
               "and --long-obis the gateway's flag register is read first for its formats.  Output\n"
               "FILE is written whole or not at all; with --targets -o is a pattern ({name},\n"
               "{host}, {port}, {unit}).\n"},
    {"values", "qvxctl [LINK] values SLOT [--64bit] [--every SECONDS] [--count N]\n"
               "The slot's collected values; with --every one reading per period until --count or Ctrl+C.\n"},
    {"profile", "qvxctl [LINK] profile save|diff FILE\nqvxctl [LINK] profile apply FILE [--with-address] "
                "[--with-network] [--with-line]\n"
                "A gateway profile is one JSON file (\"format\": \"qvx-profile/1\").  Every field is\n"
                "checked against what the gateway takes (readout_minutes 1..1440, unit 1..247,\n"
                "the nine rates, IDs and OBIS codes by the profile's own flags) before the first\n"
                "request; each offending field is named and the file refused (exit 2).  Only the\n"
                "slots the profile lists with an ID are compared and written.  The unit address\n"
                "(--with-address) and the RTU line (--with-line, \"rtu\") are written last and\n"
                "the tool follows them on a serial link.  A profile is at most 1 MiB; save writes it\n"
                "whole or not at all, with --targets FILE is a pattern as for -o.\n"},
    {"iec", "qvxctl --serial PORT [--baud N] [--data-bits 7|8] [--parity P] iec readout ADDRESS\n"
            "        [--until-end] [--mode-c] [--start-300]\n"
            "Reads a meter on PORT: sends the sign-on for ADDRESS (\"\" for any meter) and captures\n"
            "the answer for 10 s, or with --until-end until ETX and the block check character, 3 s\n"
            "of silence or 5 minutes.  --mode-c acknowledges the identification line and switches\n"
            "to the rate it announces; --start-300 sends the sign-on at 300 baud 7E1.  The line is\n"
            "7 data bits with even parity unless --data-bits or --parity say otherwise.  Prints\n"
            "the answer as received, or with --json the rows with names and units and the check.\n"
            "Steps go to standard error.  Exit 1 when the meter did not answer, the check failed\n"
            "or, with --until-end, the message did not end.\n"},
};
const int CommandHelpCount = int(sizeof CommandHelps / sizeof CommandHelps[0]);

} // namespace qvx::ctl
