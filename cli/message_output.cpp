#include "cli/message_output.h"

#include "archive/archive.h"
#include "archive/archive_path.h"
#include "archiving/archive_record.h"
#include "platform/exe_path.h"
#include "platform/profile.h"

#include "cli/text.h"
#include "messaging/staging.h"
#include "platform/cp1251.h"

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
  std::optional<std::string> TakeFailure() override { return record_.TakeFailure(); }

 private:
  archive::Archive archive_;
  archive::ArchiveRecord record_;
};

}  // namespace

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

std::unique_ptr<MessageRecord> OpenMessageRecord(const Options& options,
                                                 std::function<std::string()> port_name) {
  if (options.no_archive) return nullptr;
  return std::make_unique<KeptInArchive>(ArchiveFile(), std::move(port_name));
}

std::string MessageOutputLine(const FoundMessage& found, bool json) {
  const ListedMessage& m = found.message;
  if (!json) return platform::Cp1251ToUtf8(MessageLogLine(m));
  std::string line = "{\"number\":" + JsonString(platform::Cp1251ToUtf8(m.number)) +
                     ",\"time\":" + JsonString(platform::Cp1251ToUtf8(m.time)) +
                     ",\"text\":" + JsonString(platform::Cp1251ToUtf8(m.text));
  if (found.index) line += ",\"index\":" + std::to_string(*found.index);
  return line + "}";
}

void MessageOutput::ReadingStarted() noexcept {
  if (kept_) kept_->ReadingStarted();
}

std::optional<std::string> MessageOutput::TakeFailure() {
  return kept_ ? kept_->TakeFailure() : std::nullopt;
}

void MessageOutput::ChunkReceived(std::string_view bytes, bool reading) noexcept {
  if (kept_) kept_->ChunkReceived(bytes, reading);
}

void MessageOutput::MessageShown(const FoundMessage& found) noexcept {
  ++shown_;
  try {
    const std::string line = MessageOutputLine(found, json_);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    // A script reading the output sees each message as soon as it is deleted
    // from the phone.
    std::fflush(out_);
  } catch (...) {
    // Out of memory for one line: the others still go out.
  }
  if (kept_) kept_->MessageShown(found);
}

void MessageOutput::SendStarted(const std::string& number, const std::string& text,
                                std::size_t parts) noexcept {
  progress_.SendStarted(parts);
  if (kept_) kept_->SendStarted(number, text, parts);
}

void MessageOutput::PartWritten(std::size_t part, const std::string& pdu) noexcept {
  try {
    progress_.PartWritten(part);
  } catch (...) {
  }
  if (kept_) kept_->PartWritten(part, pdu);
}

void MessageOutput::SendEnded() noexcept {
  if (kept_) kept_->SendEnded();
}

}  // namespace vestrel::cli
