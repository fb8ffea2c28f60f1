#include "help.h"

#include <QRegularExpression>

#include "commands.h"

namespace {

// {commands} is the command table's list, {lineless} the commands that use
// no line, {docs} the installed documents' folder; {NAME} the range of
// option NAME, from the option's own table.
const char kHelpTemplate[] = R"(Usage: servoctl [OPTIONS] COMMAND [ARGS...] [then COMMAND [ARGS...]]...

Loads the TECO servo driver plug-in through its entry point, as the panel
runtime does, and runs commands against drives on a serial line (-d DEVICE),
or with --sim on a simulated line of three drives (stations 1, 2 and 3) that
it starts on a pseudo-terminal. Every command but {lineless}
needs one of the two. Backups, CSV logs and the statistics name the line.

Commands:
{commands}Several commands run in one session (the same line and the same driver, so
the special store keeps its words) when joined by the word "then"; the first
that fails ends the run. Options (-d, -f and -h too) may also follow the
commands; each is given once and applies to the whole run.

Addresses are AREA NUMBER[.BIT][SW], letters in any case, numbers from 1 to
65536: HR100 (holding register 100, read with function 3, written with 16),
FN6HR100 (written with function 6), IR100 (input register, function 4), DO5
(coil, written with 15), FN5DO5 (written with 5), DI5 (discrete input).
.BIT is a bit of a register for bit and bit2: 0 to 15 in writes; reads take
up to 255, running on into the following registers (HR1.20 is HR2.4). SW
puts a dword's high word first. HR60000 to HR60010 are the driver's special
store, served to word commands that start there and to bit writes: 60000
station count, 60001-60008 station list, 60009 read-back station, 60010 the
word broadcast to register 1300 of the listed drives. With -0 numbers count
from 0 (HR0 is HR1), as manuals often write them; HR0x10 is hexadecimal.
Where the forms differ both are shown: HR17 (0x10 zero-based). Reference
numbers name the area by their first digit and count from 1 whatever -0
says: 40001, 400001 and 4x0001 are HR1, 30001 IR1, 10001 DI1, 00001 DO1.

Data types: bit, byte, word, dword, block (bytes), bit2 (bits); qword is
refused (the driver serves no 64-bit items).
Formats: dec (default), hex, signed, bits; for dword also int32 (two's
complement) and float (IEEE-754 single), low word first (high with SW).
A register read with int32 or float and no type reads dwords; int16 reads a
word as signed.
Values: decimal (negative ones in two's complement), 0x hexadecimal, 0b binary,
with no blank or plus sign; bits also on, off, true, false. Writes also take
int16, int32 or float in place of the type (write HR10 float -3.14): a word
or dword in the order reads of that format decode it.

The whole command line is checked before the line opens; anything the driver
would take otherwise than meant is refused and nothing is sent:
  - byte, word, dword and block go only with HR, FN6HR and IR; bit and bit2
    with every area. IR and DI are read-only. The driver serves no qword.
  - One request reads at most 125 registers (125 words, 62 dwords, 250 bytes)
    or 2008 coils or inputs, and writes at most 123 registers (123 words, 61
    dwords, 246 bytes) or 1976 coils; no command runs past number 65536.
    The Modbus standard stops at 2000 coils or inputs read and 1968 coils
    written (DO; FN5DO writes one request per coil): past these servoctl
    warns and sends all the same, and a drive that keeps to the standard
    answers exception 03 (illegal data value).
  - Bytes and blocks are written two to a register, so in even counts.
  - The special store starts all zero every run and is followed through the
    chain: the station count takes 0 to 8, the list stations 1 to 247, the
    read-back station 1 to 8 (the driver holds it at 8 or below). A write
    to HR60010 needs every listed station set and writes HR60010 alone (or
    one bit of it); a read of HR60010 with stations listed needs the
    read-back station. Of the store, only HR60010 takes bits. Other types
    there, and word commands running into it from below, would reach the
    drives' registers of those numbers.
  - Station 0 is the broadcast address and no drive answers it: reads of
    the drives are refused, and a write goes out only as one request that
    needs no answer first (HR words, dwords and bytes, one FN6HR register, DO
    bits, one FN5DO bit; not bits inside registers, which are read first).
    The special store is read and written at any station. A broadcast is
    sent once and reported as "broadcast sent"; nothing is awaited.

Scanning: each station of STATIONS (such as 1-10,20; default 1-247) gets
one read of HR1 through the driver, at the line's settings, or with baud,
parity or stop lists (baud 9600,19200 parity none,even stop 1,2) at every
combination. A station is found when it answers at all: with the value,
with an exception, or late (the table says which time-out to give). Garbled
answers (CRC error, short, noise) are listed apart: something is there,
likely at other settings. The probe's time-out is --timeout, else its wire
time plus two silent intervals plus 20 ms (46 ms at 9600 8N2, 25 ms at
115200); retries --retries, else 0. Status 0 when a station was found. A
pseudo-terminal carries no parity: there only baud rates are told apart.

Monitoring: monitor opens -d DEVICE read-only and never writes to it: no
byte, no modem line (the master holds the line; a monitor is another
adapter wired in parallel, its only reader: the master's own device, or one
another monitor reads, is refused). Bytes are split into frames by the
silent interval (--line's), each CRC checked, requests paired with
answers. A line each: time, station, function, address and count, values,
the answer time (end of request to start of answer) and the silence before
the request; in brackets what is wrong: no answer, CRC error, exception,
an answer from a station not asked, a late one, a gap inside a frame or a
silence too short (on a pseudo-terminal, which hands frames over whole: no
gaps, and silences below half the silent interval). Bytes that make no frame
show as noise. See servoctl.md (below).

On the line:
  - The device is taken for servoctl alone; one in use is refused, naming
    the program that holds it.
  - An answer that cannot belong to the request sent (another station,
    function, byte count, echoed address, value or quantity) is a late one
    and dropped; servoctl says which station answered how late. Set
    --timeout above that. An answer that Modbus cannot tell from a late one
    of an earlier request fails the command instead of passing as good.
    One from a station that owed nothing is another drive answering the
    station asked, and counted under that one.
  - An RS-485 adapter without receiver disable hands every request back
    before the answer: with --local-echo servoctl reads it back and checks
    it. Without it such an echo fails the command, saying "try
    --local-echo"; so does --local-echo on a line that does not echo. An
    FN6 or FN5 write, or a read of 17 to 24 DO or DI bits from a number
    769 to 1024, has an answer that can be the request itself: until an
    answer has shown the line silent, such a write is preceded by a read
    of the same item (its answer shows it), and the port judges such an
    answer by its timing and what follows, failing the command as
    uncertain where they cannot tell (servoctl.md).

Options:
  -d, --device PATH        serial device of the line (e.g. /dev/ttyUSB0);
                           tcp://HOST:PORT for RTU frames over TCP through an
                           Ethernet-to-RS-485 converter that passes them
                           unchanged; modbus+tcp://HOST[:PORT] for Modbus TCP
                           (MBAP, port 502 by default) to a gateway or drive
                           (over TCP no scan of settings)
      --sim                the built-in simulated line instead (any --sim-...
                           option below implies it)
      --line TEXT          line settings MODE,BAUD,PARITY,8,STOP (Modbus RTU
                           frames are 8 data bits)
                           (default: the driver's, RS485,9600,NONE,8,2);
                           monitor, scan: "auto" takes them from the traffic
                           heard (servoctl.md)
  -b, --baud N             the line's baud rate, over --line's or the
                           driver's setting
  -P, --parity PARITY      none, even or odd, likewise
  -s, --stop-bits N        1 or 2, likewise
      --station LIST       station number, {station}, or for poll a list
                           such as 1-3,7 (default: the driver's, 1)
      --timeout MS         answer time-out, {timeout}
                           (default: the driver's, 500)
      --retries N          retries after a failed attempt, {retries}
                           (default: the driver's, 3)
      --delay MS           delay before each attempt, {delay}
                           (default: the driver's, 0)
      --inter-char MS      least inter-character time-out, {inter-char}
                           (default 20)
  -f, --format FORMAT      how values print: dec, hex, signed, bits, or for
                           dword reads int32 or float; json: JSON Lines of
                           read, poll, scan and the writes of their run on
                           standard output (keys in servoctl.md)
      --interval MS        poll: time between polls, {interval} (default 1000)
      --polls N            poll: stop after N reads (default 0: never)
      --stats              per station: requests, good answers, time-outs,
                           CRC errors, exceptions by code, other failures,
                           late answers dropped, retries and response times
                           (min, median, 99th percentile, max); live under
                           poll's values, and at the end of the run
      --csv FILE           log every value read or polled, every failed
                           read and every write into a new FILE, a row
                           each: time,station,address,raw,value,kind,error
                           (local time to the millisecond with its offset
                           from UTC, the address and value as printed, raw
                           the item's bits in hex, kind read, write or
                           broadcast, error why a read failed or a write was
                           not acknowledged); - (or /dev/stdout) writes it
                           to standard output, a fifo takes it as it is
      --csv-wide FILE      log one read or poll as a row a cycle, a column a
                           signal, for spreadsheets (- as --csv)
  -0, --zero-based         register numbers count from 0, as in manuals
  -o, --output FILE        the new file backup or plot writes
      --map MAP            backup: the parameters, a line each: ADDRESS
                           TYPE [NAME [UNIT]] [# comment]; HR, FN6HR (word),
                           DO or FN5DO; word, dword (SW allowed), bit
                           (HR20.3), or int16 and int32, saved with their
                           sign; plot: names and units of what a log holds,
                           any address; monitor: names and types of the
                           values shown
      --pcap FILE          monitor: every frame heard into a new capture
                           FILE (pcap, link type USER0 = 147, bare RTU); -
                           writes it to standard output (for a pipe into
                           wireshark -k -i -), a fifo takes it as it is
      --timeline FILE      monitor: the last 2000 transactions against time,
                           a row a station, into a new PNG FILE (needs
                           gnuplot, and --count or --duration)
      --count N            monitor: stop after N requests, {count}
      --duration S         monitor: stop after S seconds, {duration}
      --dry-run            restore: read and show what would be written
      --yes                restore: write without asking (needed when
                           standard input is not a terminal)
      --any-line           restore: a backup taken on the other kind of line
                           (simulated or a device) too
      --all-settings       scan: every setting listed (default: up to the
                           first at which a drive answers)
      --trace              print every frame, with timestamps, on standard error
      --local-echo         the adapter hands every request back before the
                           answer: read back and checked
      --no-lock            a tcp:// line: take no lock, so that another master
                           on this machine may share the converter's line (a
                           modbus+tcp:// server keeps its masters apart)
      --entry ENTRY        plugin (Qt's plug-in loader, default) or create
                           (the plain entry CreateDriver)
      --plugin PATH        the plug-in library (default: the one installed
                           with servoctl, in the panel runtime's driver
                           folder; in a build folder, ../lib/libteco_servo.so)
  The simulated line (--sim; refused with --device):
      --sim-stations LIST  station numbers of its drives (default 1,2,3)
      --sim-faults LIST    inject faults, e.g. drop=0.1,corrupt=0.05,truncate=0.05,
                           station=0.02,exception=0.02,delay=0.1:300,late=0.1:1000,
                           unheard=0.02,twin=0.02,noise=0.02 (servosim --help)
      --sim-seed N         seed of the fault draws and the model's noise (default 1)
      --sim-model NAME     static (default: values change only when written) or
                           servo: HR1 speed set-point (rpm), HR2 ramp time
                           constant (ms), DO1 servo on, DO2 fault reset, IR1
                           speed, IR2 position (dword), IR4 status
      --sim-pace           answer at the line's baud rate
      --sim-line TEXT      the drives' line settings (default: --line's); a
                           request at another baud rate goes unanswered
      --sim-echo           its adapter echoes every request back
  -h, --help               this text
      --version            servoctl's version

Exit status: 0 done, 1 a command failed (the driver's error text is printed,
then a "hint:" line on what usually causes it; or the line is in use, was lost or echoed otherwise than --local-echo says,
or an answer was uncertain, or plot's log or gnuplot failed), 2 the command
line was wrong (also no line given), 3 restore was not confirmed (no "y" on
the terminal, or no terminal and no --yes) and wrote nothing. A poll without
--polls, a monitor without --count or --duration and a gateway run until
stopped: Ctrl-C (SIGINT), SIGTERM, SIGHUP or their reader gone (| head,
SIGPIPE) is their end, with the status of what ran (0 when nothing failed).
Any other command a signal cuts short ends with 128 + the signal (130 for
SIGINT, 143 for SIGTERM), "interrupted by" said; the line is closed and its
settings restored either way. While data goes to standard output (--csv -,
--csv-wide -, --pcap -, -f json) the rest goes to standard error, and
a reader gone (| head) ends any command with the status of what ran.

The reference, servoctl.md, the other documents and the example parameter
map are in {docs}/.

Examples:
  servoctl info
  servoctl --sim read HR100 word 4 hex
  servoctl --sim write HR100 word 4660 -2 then read HR100 word 2 signed
  servoctl --sim read HR10SW dword float
  servoctl --sim station 2 then write HR5 word 1 then station 3 then read HR5
  servoctl --sim --trace write DO1 bit 1 0 1 then read DO1 bit 3
  servoctl -d /dev/ttyUSB0 --station 5 poll HR1 word 2 --interval 200
  servoctl --sim --station 1-3 --stats --csv trend.csv poll HR1 IR1 signed IR2 dword
  servoctl --sim poll HR1 IR1 --csv - | head
  servoctl --sim -0 read HR0x10 word 2 --format json
  servoctl -d /dev/ttyUSB0 --station 2 backup --map {docs}/servo-parameters.map -o drive2.txt
  servoctl -d /dev/ttyUSB0 --station 2 restore drive2.txt --dry-run
  servoctl -d /dev/ttyUSB0 --station 2 restore drive2.txt --yes
  servoctl plot speed.csv -o speed.png
  servoctl -d /dev/ttyUSB0 scan 1-32 baud 9600,19200,38400 parity none,even
  servoctl -d /dev/ttyUSB1 --line RS485,19200,EVEN,8,1 --stats --pcap line.pcap monitor
)";

} // namespace

QString helpText()
{
    QString text = QString::fromUtf8(kHelpTemplate);
    static const QRegularExpression field(QStringLiteral("\\{([a-z-]+)\\}"));
    for (QRegularExpressionMatch match; (match = field.match(text)).hasMatch();) {
        const QString name = match.captured(1);
        const QString value = name == QLatin1String("commands")   ? commandsHelp()
                              : name == QLatin1String("lineless") ? linelessCommands()
                              : name == QLatin1String("docs")     ? QStringLiteral(TECO_SERVO_DOCS)
                                                                  : optionRange(name);
        text.replace(match.capturedStart(), match.capturedLength(), value);
    }
    return text;
}
