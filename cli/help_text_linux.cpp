// --help of the Linux build: POSIX device names, the archive in the user's
// data folder.
#include "cli/options.h"

namespace vestrel::cli {

std::string HelpText() {
  return R"(Usage: vestrel-sms [OPTIONS] COMMAND

Sends and reads SMS through a GSM modem on a serial port, with the same
dialogues as the Vestrel window.

Commands:
  send NUMBER [TEXT]  send TEXT to NUMBER (digits with the country code, no
                      "+"); without TEXT the text is read from standard input
                      (UTF-8, one final line break dropped). Texts longer than
                      70 characters go out as several SMS, about 20 seconds
                      apart.
  read                read every message stored in the phone's memory "ME",
                      deleting each from the phone, and print one line per
                      message: "№ тел: … Дата и время отправки: … Текст: …"
  ports               list the serial devices present: UARTs /dev/ttyS*,
                      /dev/ttyUSB*, /dev/ttyACM*, and /dev/serial/by-id/* with
                      the device each one names
  archive             list what the message archive holds, newest first:
                      the messages read (default), --sent the messages sent
                      with their parts, or --raw the bytes received during
                      readings

Options:
  --port NAME         the modem's port: COMn (/dev/ttyS(n-1)), a path such as
                      /dev/ttyUSB0, or a name under /dev/. Default: the
                      "COM Порт" key of section MODEM in Pelmora.ini beside
                      this program, else COM11
  --json              read: one JSON object per message (number, time, text,
                      and index when known) instead of the text line;
                      archive: one JSON object per record
  --csv               archive: CSV (UTF-8 with BOM) with a header line
  --since DATE        archive: only records from DATE on (UTC), as
                      YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]
  --match TEXT        archive: only records whose number or text holds TEXT,
                      in any letter case
  --no-archive        send, read: keep nothing in the archive
  --timeout SECONDS   read: give up when the modem has sent nothing for this
                      long (default 60)
  --log FILE          append the traffic to FILE with time stamps: commands
                      (">"), bytes received ("<") and the lines of the reading
                      ("=")
  --help              show this help
  --version           show the program's version

Progress goes to standard error when it is a terminal; otherwise standard
error holds only errors. Ctrl-C ends a send after the SMS being written and a
reading before its next command.

Exit codes:
  0    done
  2    wrong command line or unusable text (empty, not UTF-8, characters an
       SMS of this program cannot carry)
  3    the port could not be opened
  4    a write or read error on the port (the modem hung up), or an answer
       that could not be read
  5    the number was refused
  6    time-out waiting for the modem
  7    the archive could not be used (the messages were still read, printed
       and sent as usual)
  130  interrupted (Ctrl-C)

Every message read and sent is kept in the message archive,
$XDG_DATA_HOME/vestrel/archive.sqlite (else ~/.local/share/vestrel/), or the
file that the "Архив" key of section MODEM in Pelmora.ini names.
)";
}

}  // namespace vestrel::cli
