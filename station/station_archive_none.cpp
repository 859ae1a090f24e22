// A build without SQLite (the Windows cross build) keeps no archive.
#include "station/station.h"

namespace vestrel::station {

std::unique_ptr<MessageRecord> OpenArchiveRecord(const std::filesystem::path&,
                                                 std::function<std::string()>,
                                                 archive::Archive** archive) {
  *archive = nullptr;
  return nullptr;
}

}  // namespace vestrel::station
