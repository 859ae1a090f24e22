#include "cli/help_text.h"

#include "cli/command_help.h"
#include "cli/options.h"
#include "station/settings.h"

namespace vestrel::cli {

std::string WithIniNames(std::string text) {
  using station::IniKey;
  const struct {
    std::string_view placeholder;
    std::string_view name;
  } names[] = {
      {"{ini:file}", station::kIniFileName},
      {"{ini:section}", station::kIniSection},
      {"{ini:port}", station::Entry(IniKey::kPort).name_utf8},
      {"{ini:port-default}", station::Entry(IniKey::kPort).fallback},
      {"{ini:archive}", station::Entry(IniKey::kArchive).name_utf8},
  };
  for (const auto& [placeholder, name] : names) {
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + name.size()))
      text.replace(at, placeholder.size(), name);
  }
  return text;
}

std::string HelpText() {
  const ArchiveHelp archive = ArchiveHelpText();
  std::string text = R"(Usage: vestrel-sms [OPTIONS] COMMAND

Sends and reads SMS through a GSM modem on a serial port, with the same
dialogues as the Vestrel window.

Commands:
  send NUMBER [TEXT]  send TEXT to NUMBER (digits with the country code; a
                      leading "+", spaces, hyphens and brackets are dropped);
                      without TEXT, or with TEXT "-", the text is read from
                      standard input (UTF-8 of any script, or UTF-16 with its
                      byte order mark; one final line break dropped). A long
                      text goes out as one concatenated message in the
                      cheapest coding: GSM 7-bit (160 characters, 153 per
                      part) when it holds only characters of that alphabet,
                      else UCS-2 (70, 67 per part; emoji count 2), its parts
                      about 20 seconds apart. The modem's answer to each is
                      read: when it took every one, "sent N parts: references
                      R1 R2 ..." is printed; a part it refused or left
                      unanswered ends the send there (exit 8), named on
                      standard error
  read                read every message stored in the phone's memory "ME",
                      deleting each from the phone, and print one line per
                      message: "№ тел: … Дата и время отправки: … Текст: …"
  watch               hold the port and read as messages arrive, run
                      --exec CMD for each, and send for other vestrel-sms
                      processes (see "help watch")
)";
  text += PortsCommandHelp();
  text += archive.command;
  text += R"(  help COMMAND        show one command's synopsis, options and examples
                      (also: COMMAND --help)
)";
  text += "\nOptions:\n";
  text += PortOptionHelp();
  text += R"(  --json              send: one JSON object, {"status":"accepted","parts":N,
                      "references":[...]} or with "status" "refused" or
                      "unknown", the "part" and the "error";
                      read: one JSON object per message (number, time, text,
)";
  text += archive.json;
  text += archive.options;
  text += archive.no_archive;
  text += R"(  --report            send: ask for a status report of each part (a watch
                      on the port keeps it: "delivery" in archive --sent)
  --separate          send: the window's separate SMS instead, 70 characters
                      each (Windows-1251 text only), about 20 seconds apart
  --timeout SECONDS   read: give up when the modem has sent nothing for this
                      long (default 60)
  --pdu               read: in PDU mode, long messages joined as one
  --memory SM|ME|MT   read: the memory to read (default ME)
  --log FILE          append the traffic to FILE with time stamps: first the
                      version, the port and the command line ("#"), then
                      commands (">"), bytes received ("<") and the lines of
                      the reading ("=")
  --help              show this help
  --version           show the program's version

)";
  text += ConsoleHelp();
  text += SettingsHelp();
  text += R"(
Exit codes:
  0    done
  2    wrong command line or unusable text (empty, not UTF-8, more than 255
       parts, or with --separate characters that Windows-1251 lacks)
  3    the port could not be opened (ports --probe: no modem answered)
  4    a write or read error on the port (the modem hung up), or an answer
       that could not be read
  5    the number was refused
  6    time-out waiting for the modem
)";
  text += archive.exit_code;
  text += "  8    the modem refused a part of the send, or did not answer in time\n";
  text += "  130  interrupted (Ctrl-C)\n";
  text += archive.location;
  return WithIniNames(std::move(text));
}

}  // namespace vestrel::cli
