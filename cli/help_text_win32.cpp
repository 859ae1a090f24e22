// --help of the Windows build: COM ports, and no message archive.
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
  ports               list the COM ports present, each with the device it
                      names
  archive             not in this build: it keeps no message archive (exit 7)

Options:
  --port NAME         the modem's port: COMn. Default: the "COM Порт" key of
                      section MODEM in Pelmora.ini beside this program, else
                      COM11
  --json              read: one JSON object per message (number, time, text,
                      and index when known) instead of the text line
  --no-archive        send, read: keep nothing (this build never keeps
                      anything)
  --timeout SECONDS   read: give up when the modem has sent nothing for this
                      long (default 60)
  --log FILE          append the traffic to FILE with time stamps: commands
                      (">"), bytes received ("<") and the lines of the reading
                      ("=")
  --help              show this help
  --version           show the program's version

Arguments and standard input are taken as UTF-8 text; the output is UTF-8.
Progress goes to standard error when it is a console; otherwise standard error
holds only errors. Ctrl-C ends a send after the SMS being written and a
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
  7    the archive command: this build has no message archive
  130  interrupted (Ctrl-C)
)";
}

}  // namespace vestrel::cli
