// vestrel-sms with the message archive: what the dialogues pass is kept in
// the SQLite file, and the archive command lists it.
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_export.h"
#include "archive/archive_path.h"
#include "archiving/archive_record.h"
#include "cli/archive_access.h"
#include "cli/help_text.h"
#include "messaging/staging.h"
#include "platform/cp1251.h"
#include "platform/exe_path.h"
#include "platform/profile.h"

namespace vestrel::cli {

namespace {

// The archive with the record over it, owned together.
class KeptInArchive : public MessageRecord {
 public:
  KeptInArchive(const std::filesystem::path& file, std::function<std::string()> port_name)
      : archive_(file), record_(archive_, std::move(port_name)) {}

  void ReadingStarted() noexcept override { record_.ReadingStarted(); }
  void ChunkReceived(std::string_view bytes, bool reading) noexcept override {
    record_.ChunkReceived(bytes, reading);
  }
  void MessageShown(const FoundMessage& found) noexcept override { record_.MessageShown(found); }
  void SendStarted(const std::string& number, const std::string& text,
                   std::size_t parts) noexcept override {
    record_.SendStarted(number, text, parts);
  }
  void PartWritten(std::size_t part, const std::string& pdu) noexcept override {
    record_.PartWritten(part, pdu);
  }
  void SendEnded() noexcept override { record_.SendEnded(); }
  std::optional<std::uint8_t> NextConcatenationReference() noexcept override {
    return record_.NextConcatenationReference();
  }
  std::optional<std::string> TakeFailure() override { return record_.TakeFailure(); }

 private:
  archive::Archive archive_;
  archive::ArchiveRecord record_;
};

// The archive file: the "Архив" key of Pelmora.ini beside the program, else
// the user's data folder.
std::filesystem::path ArchiveFile() {
  std::string configured;
  try {
    const platform::IniFile ini(platform::ExecutableFolder() / "Pelmora.ini");
    if (ini.Exists()) configured = ini.ReadString("MODEM", platform::Cp1251FromUtf8("Архив"), "");
  } catch (const std::exception&) {
  }
  return archive::ResolveArchivePath(platform::Cp1251ToUtf8(configured),
                                     platform::ExecutableFolder());
}

void PrintError(const std::string& utf8) {
  std::fprintf(stderr, "vestrel-sms: %s\n", utf8.c_str());
}

}  // namespace

std::unique_ptr<MessageRecord> OpenMessageRecord(const Options& options,
                                                 std::function<std::string()> port_name) {
  if (options.no_archive) return nullptr;
  return std::make_unique<KeptInArchive>(ArchiveFile(), std::move(port_name));
}

// What the archive holds, newest first, in the form asked for.
int ArchiveCommand(const Options& options) {
  archive::Archive kept(ArchiveFile());
  archive::Query query;
  query.match = options.match;
  query.since = options.since;
  archive::Status status;
  std::string out;
  if (options.listing == Listing::Received) {
    std::vector<archive::ReceivedRow> rows;
    status = kept.ListReceived(query, rows);
    if (options.csv) {
      out = archive::ReceivedCsv(rows);
    } else {
      for (const auto& row : rows) {
        out += options.json ? archive::ReceivedJson(row)
                            : row.shown_at + " " +
                                  platform::Cp1251ToUtf8(
                                      MessageLogLine({platform::Cp1251FromUtf8(row.number),
                                                      platform::Cp1251FromUtf8(row.send_time),
                                                      platform::Cp1251FromUtf8(row.text)}));
        out += "\n";
      }
    }
  } else if (options.listing == Listing::Sent) {
    std::vector<archive::SentRow> rows;
    status = kept.ListSent(query, rows);
    if (options.csv) {
      out = archive::SentCsv(rows);
    } else {
      for (const auto& row : rows) {
        std::vector<archive::PartRow> parts;
        std::vector<archive::AnswerRow> answers;
        if (status.ok()) status = kept.ListParts(row.id, parts);
        if (status.ok()) status = kept.ListAnswers(row.id, answers);
        out += options.json ? archive::SentJson(row, parts, answers)
                            : row.started_at + " " + row.number + " (" +
                                  std::to_string(row.part_count) + ") " + row.text;
        out += "\n";
      }
    }
  } else {
    std::vector<archive::RawRow> rows;
    status = kept.ListRawBytes(query, rows);
    if (options.csv) {
      out = archive::RawCsv(rows);
    } else {
      for (const auto& row : rows)
        out += (options.json
                    ? archive::RawJson(row)
                    : row.received_at + " " + row.port + " " + archive::ShownBytes(row.bytes)) +
               "\n";
    }
  }
  if (!status.ok()) {
    PrintError(status.OperatorMessage());
    return kExitArchive;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitDone : kExitPortIo;
}

std::optional<std::string> NormalizeSinceOption(std::string_view text) {
  return archive::NormalizeSince(text);
}

ArchiveHelp ArchiveHelpText() {
  ArchiveHelp help;
  help.command = R"(  archive             list what the message archive holds, newest first:
                      the messages read (default), --sent the messages sent
                      with their parts, or --raw the bytes received during
                      readings
)";
  help.json = R"(                      and index when known) instead of the text line;
                      archive: one JSON object per record
)";
  help.options = R"(  --csv               archive: CSV (UTF-8 with BOM) with a header line
  --since DATE        archive: only records from DATE on (UTC), as
                      YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]
  --match TEXT        archive: only records whose number or text holds TEXT,
                      in any letter case
)";
  help.no_archive = "  --no-archive        send, read: keep nothing in the archive\n";
  help.exit_code = R"(  7    the archive could not be used (the messages were still read, printed
       and sent as usual)
)";
  help.location = "\nEvery message read and sent is kept in the message archive,\n" +
                  archive::DefaultArchivePathHelp() +
                  ", or the\nfile that the \"Архив\" key of section MODEM in Pelmora.ini names.\n";
  return help;
}

}  // namespace vestrel::cli
