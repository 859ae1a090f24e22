// vestrel-sms with the message archive: what the dialogues pass is kept in
// the SQLite file, and the archive command lists it.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_export.h"
#include "archive/archive_path.h"
#include "cli/archive_access.h"
#include "cli/help_text.h"
#include "cli/port_choice.h"
#include "messaging/staging.h"
#include "platform/cp1251.h"
#include "station/station.h"

namespace vestrel::cli {

namespace {

void PrintError(const std::string& utf8) {
  std::fprintf(stderr, "vestrel-sms: %s\n", utf8.c_str());
}

}  // namespace

std::unique_ptr<MessageRecord> OpenMessageRecord(const Options& options,
                                                 std::function<std::string()> port_name) {
  if (options.no_archive) return nullptr;
  archive::Archive* kept = nullptr;
  return station::OpenArchiveRecord(ArchiveFile(), std::move(port_name), &kept);
}

namespace {

// Standard output line by line. A reader that stopped (a closed pipe, as
// `head` leaves it; SIGPIPE is ignored from the start) ends the listing at
// once, and that is no failure.
class ListingOutput {
 public:
  bool Put(const std::string& text) {
    if (failed_) return false;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) Failed();
    return !failed_;
  }
  bool Line(const std::string& line) { return Put(line + "\n"); }
  int Finish() {
    if (!failed_ && std::fflush(stdout) != 0) Failed();
    return !failed_ || reader_gone_ ? kExitDone : kExitPortIo;
  }

 private:
  void Failed() {
    failed_ = true;
    reader_gone_ = errno == EPIPE;
  }
  bool failed_ = false;
  bool reader_gone_ = false;
};

std::string ReceivedLine(const archive::ReceivedRow& row) {
  return row.shown_at + " " +
         platform::Cp1251ToUtf8(MessageLogLine({platform::Cp1251FromUtf8(row.number),
                                                platform::Cp1251FromUtf8(row.send_time),
                                                {},
                                                platform::Cp1251FromUtf8(row.text)}));
}

// The archive's object with the send time and its zone, as the header kept
// with the message gives them.
std::string ReceivedJsonLine(const archive::ReceivedRow& row) {
  std::string json = archive::ReceivedJson(row);
  const std::vector<std::string> fields = HeaderFields(row.raw_header);
  const std::string sent_at = fields.size() > 3 ? SentAtFromTimestamp(fields[3]) : std::string();
  if (!sent_at.empty() && !json.empty() && json.back() == '}')
    json.insert(json.size() - 1, ",\"sent_at\":\"" + sent_at + "\"");
  return json;
}

std::string PurgeCounted(const archive::PurgeCounts& counts) {
  return std::to_string(counts.received) + " messages read, " + std::to_string(counts.sends) +
         " sends with their parts and answers, " + std::to_string(counts.raw) + " raw readings";
}

// --purge-before: without --yes it only says what would go.
int Purge(archive::Archive& kept, const Options& options) {
  archive::PurgeCounts counts;
  const archive::Status status = kept.Purge(options.purge_before, options.yes, counts);
  if (!status.ok()) {
    PrintError(status.OperatorMessage());
    return kExitArchive;
  }
  if (!options.yes) {
    std::fprintf(stderr, "vestrel-sms: would remove %s older than %s; add --yes to remove them\n",
                 PurgeCounted(counts).c_str(), options.purge_before.c_str());
    return kExitUsage;
  }
  std::printf("removed %s older than %s\n", PurgeCounted(counts).c_str(),
              options.purge_before.c_str());
  return std::fflush(stdout) == 0 ? kExitDone : kExitPortIo;
}

}  // namespace

// What the archive holds, newest first, in the form asked for, each row
// written as the archive yields it.
int ArchiveCommand(const Options& options) {
  archive::Archive kept(ArchiveFile());
  if (!options.purge_before.empty()) return Purge(kept, options);
  archive::Query query;
  query.match = options.match;
  query.since = options.since;
  query.until = options.until;
  query.number = options.number_filter;
  query.limit = options.limit;
  ListingOutput out;
  archive::Status status;
  if (options.count) {
    // Counted as listed, so that every filter counts alike.
    std::int64_t count = 0;
    const auto counted = [&count](auto&) { return ++count > 0; };
    if (options.listing == Listing::Received) {
      status = kept.ListReceived(query, archive::Archive::Each<archive::ReceivedRow>(counted));
    } else if (options.listing == Listing::Sent) {
      status = kept.ListSent(query, archive::Archive::Each<archive::SentRow>(counted));
    } else {
      status = kept.ListRawBytes(query, archive::Archive::Each<archive::RawRow>(counted));
    }
    if (status.ok()) out.Line(std::to_string(count));
  } else if (options.listing == Listing::Received) {
    if (options.csv) out.Put(archive::kUtf8Bom + archive::CsvRecord(archive::ReceivedColumns()));
    status = kept.ListReceived(query, [&](archive::ReceivedRow& row) {
      if (options.csv) return out.Put(archive::CsvRecord(archive::ReceivedFields(row)));
      return out.Line(options.json ? ReceivedJsonLine(row) : ReceivedLine(row));
    });
  } else if (options.listing == Listing::Sent && options.json) {
    status = kept.ListSentWithDetails(query, [&](archive::Archive::SentDetail& sent) {
      return out.Line(archive::SentJson(sent.send, sent.parts, sent.answers));
    });
  } else if (options.listing == Listing::Sent) {
    if (options.csv) out.Put(archive::kUtf8Bom + archive::CsvRecord(archive::SentColumns()));
    status = kept.ListSent(query, [&](archive::SentRow& row) {
      if (options.csv) return out.Put(archive::CsvRecord(archive::SentFields(row)));
      return out.Line(row.started_at + " " + row.number + " (" + std::to_string(row.part_count) +
                      ") " + row.status + " " + row.text);
    });
  } else {
    if (options.csv) out.Put(archive::kUtf8Bom + archive::CsvRecord(archive::RawColumns()));
    status = kept.ListRawBytes(query, [&](archive::RawRow& row) {
      if (options.csv) return out.Put(archive::CsvRecord(archive::RawFields(row)));
      return out.Line(options.json ? archive::RawJson(row)
                                   : row.received_at + " " + row.port + " " +
                                         platform::ShownBytes(row.bytes));
    });
  }
  const int written = out.Finish();
  if (!status.ok()) {
    PrintError(status.OperatorMessage());
    return kExitArchive;
  }
  return written;
}

std::optional<std::string> NormalizeSinceOption(std::string_view text) {
  return archive::NormalizeSince(text);
}

ArchiveHelp ArchiveHelpText() {
  ArchiveHelp help;
  help.command = R"(  archive             list what the message archive holds, newest first:
                      the messages read (default), --sent the messages sent
                      with their status (accepted, refused, unknown) and
                      parts, or --raw the bytes received during readings
)";
  help.json = R"(                      and index when known) instead of the text line;
                      archive: one JSON object per record
)";
  help.options = R"(  --csv               archive: CSV (UTF-8 with BOM) with a header line
  --since DATE        archive: only records from DATE on (UTC), as
                      YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]
  --until DATE        archive: only records before DATE (UTC; a date alone
                      takes in its whole day)
  --match TEXT        archive: only records whose number or text (with --raw:
                      whose bytes) hold TEXT, in any letter case
  --number NUMBER     archive: only messages from or to NUMBER, compared
                      without + ( ) - and blanks
  --limit N           archive: at most the N newest records
  --count             archive: print how many records there are, not them
  --purge-before DATE archive: remove the messages read, the sends and the raw
                      readings older than DATE; without --yes only says what
                      it would remove (exit status 2)
  --yes               archive --purge-before: remove them
)";
  help.no_archive = "  --no-archive        send, read, watch: keep nothing in the archive\n";
  help.exit_code = R"(  7    the archive could not be used (the messages were still read, printed
       and sent as usual)
)";
  help.location =
      "\nEvery message read and sent is kept in the message archive,\n" +
      archive::DefaultArchivePathHelp() +
      ", or the\nfile that the \"{ini:archive}\" key of section {ini:section} names in the "
      "user's\nvestrel-sms.ini, else in {ini:file}.\n";
  return help;
}

}  // namespace vestrel::cli
