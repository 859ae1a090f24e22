#include "cli/help_text.h"

#include "cli/options.h"

namespace vestrel::cli {

std::string HelpText() {
  const ArchiveHelp archive = ArchiveHelpText();
  std::string text = R"(Usage: vestrel-sms [OPTIONS] COMMAND

Sends and reads SMS through a GSM modem on a serial port, with the same
dialogues as the Vestrel window.

Commands:
  send NUMBER [TEXT]  send TEXT to NUMBER (digits with the country code, no
                      "+"); without TEXT the text is read from standard input
                      (UTF-8 of any script, one final line break dropped).
                      A long text goes out as one concatenated message in
                      the cheapest coding: GSM 7-bit (160 characters, 153
                      per part) when it holds only characters of that
                      alphabet, else UCS-2 (70, 67 per part; emoji count 2),
                      its parts about 20 seconds apart
  read                read every message stored in the phone's memory "ME",
                      deleting each from the phone, and print one line per
                      message: "№ тел: … Дата и время отправки: … Текст: …"
)";
  text += PortsCommandHelp();
  text += archive.command;
  text += "\nOptions:\n";
  text += PortOptionHelp();
  text += R"(  --json              read: one JSON object per message (number, time, text,
)";
  text += archive.json;
  text += archive.options;
  text += archive.no_archive;
  text += R"(  --separate          send: the window's separate SMS instead, 70 characters
                      each (Windows-1251 text only), about 20 seconds apart
  --timeout SECONDS   read: give up when the modem has sent nothing for this
                      long (default 60)
  --log FILE          append the traffic to FILE with time stamps: commands
                      (">"), bytes received ("<") and the lines of the reading
                      ("=")
  --help              show this help
  --version           show the program's version

)";
  text += ConsoleHelp();
  text += R"(
Exit codes:
  0    done
  2    wrong command line or unusable text (empty, not UTF-8, more than 255
       parts, or with --separate characters that Windows-1251 lacks)
  3    the port could not be opened
  4    a write or read error on the port (the modem hung up), or an answer
       that could not be read
  5    the number was refused
  6    time-out waiting for the modem
)";
  text += archive.exit_code;
  text += "  130  interrupted (Ctrl-C)\n";
  text += archive.location;
  return text;
}

}  // namespace vestrel::cli
