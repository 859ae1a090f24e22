// A build with SQLite: the dialogues' record kept in the archive file.
#include "record/dialogue_record.h"
#include "station/station.h"

namespace vestrel::station {

std::unique_ptr<MessageRecord> OpenArchiveRecord(const std::filesystem::path& file,
                                                 std::function<std::string()> port_name,
                                                 archive::Archive** archive) {
  auto record = std::make_unique<record::DialogueRecord>(file, std::move(port_name));
  *archive = &record->Archive();
  return record;
}

}  // namespace vestrel::station
